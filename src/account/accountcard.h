#pragma once

#include <QDialog>
#include <QList>
#include <QRect>

// What the device confirmation and the signed-out cards share: a frameless, translucent dialog whose
// painted buttons (ids above 0) follow the pointer, and which lays itself out again when the language
// changes. A button acts on a left release over the button the press began on.
class AccountCardDialog : public QDialog
{
    Q_OBJECT
public:
    int hoverId() const { return m_hoverId; }
    int pressedId() const { return m_pressedId; }

protected:
    explicit AccountCardDialog(QWidget* parent);

    // The buttons in hit order; button i has the id i + 1.
    virtual QList<QRect> buttonRects() const = 0;
    // The id of the first button under a point, 0 for none.
    int buttonAt(const QPoint& pos) const;
    // A click on a button.
    virtual void activate(int id) = 0;
    // The texts changed language: rebuild what depends on their widths.
    virtual void relayout() = 0;

    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setHover(int id);
    void clearPressed();

    int m_hoverId = 0;
    int m_pressedId = 0;
};
