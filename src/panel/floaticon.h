#pragma once

#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QWidget>

class QMenu;

// One panel item pinned to the desktop as its own small always-on-top tile: drag it anywhere, click it to
// launch, remove it through its menu. The owner creates it hidden, shows it and handles its signals.
class FloatIcon : public QWidget
{
    Q_OBJECT
public:
    FloatIcon(const QPixmap& pixmap, const QString& name, const QPoint& position = QPoint(), QWidget* parent = nullptr);

    // Remakes the painted pixmap for a device pixel ratio (0 or below counts as 1).
    void updateScaledPixmap(qreal ratio);

    qreal scaledRatio() const { return m_ratio; }
    const QPixmap& scaledPixmap() const { return m_scaled; }
    bool isDragging() const { return m_dragged; }
    bool isHovered() const { return m_hovered; }
    // As the grid: a single click opens, or a double click does (then a single click does nothing).
    void setSingleClickOpen(bool on) { m_singleClickOpen = on; }
    bool singleClickOpen() const { return m_singleClickOpen; }

    // The context menu with its actions wired to the signals; the caller runs and deletes it.
    QMenu* buildMenu(QWidget* parent);

    static constexpr int kSide = 74;
    static constexpr int kIconSide = 48;
    static constexpr int kDragThreshold = 4;

Q_SIGNALS:
    void openRequested();
    void removeRequested();
    void removeAllRequested();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Rescales when the window's screen has another pixel ratio than the painted pixmap.
    void followScreenRatio();

    QPixmap m_source;
    QPixmap m_scaled;
    qreal m_ratio = 1.0;
    QPoint m_pressOffset;
    bool m_pressed = false;
    bool m_dragged = false;
    bool m_hovered = false;
    bool m_singleClickOpen = true;
    bool m_secondPress = false; // the press of a double click: its release opens nothing
};
