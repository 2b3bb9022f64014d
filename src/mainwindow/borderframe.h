#pragma once

#include <QColor>
#include <QWidget>

// The outline of the frameless window and the line under the title bar, drawn above every other child.
// It never takes the mouse.
class BorderFrame : public QWidget
{
    Q_OBJECT
public:
    explicit BorderFrame(QWidget* parent = nullptr);

    // An invalid colour uses the theme's border colour.
    void setBorderColor(const QColor& color);
    void setCornerRadius(int radius);
    int cornerRadius() const { return m_radius; }
    // The divider's y; a negative value hides it.
    void setDividerY(int y);
    int dividerY() const { return m_dividerY; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color;
    int m_radius = 12;
    int m_dividerY = 28;
};
