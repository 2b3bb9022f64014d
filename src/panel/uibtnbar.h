#pragma once

#include "ui/uibtn.h"

#include <QList>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class QDrag;
class QTimer;

// What the title bar strip and the bottom bar share: the buttons a bar shows, their states and images,
// hover and press, the press-and-hold that drags a button out, and dropping a button onto the bar.
class UiBtnBar : public QWidget
{
    Q_OBJECT
public:
    using Flags = std::array<bool, UiBtn::kCount>;
    using Paths = std::array<QString, UiBtn::kCount>;
    // Runs a prepared drag; the default executes it as a move (blocking until the drop).
    using DragRunner = std::function<void(QDrag*)>;

    static constexpr int kHoldMs = 450;

    int buttonAt(const QPointF& pos) const;
    int dropIndexAt(const QPoint& pos) const;
    QRect buttonRect(int id) const;
    QList<int> buttonLayout() const { return m_layout; }
    bool buttonState(int id) const { return UiBtn::isValid(id) && m_state[id]; }
    int hoveredId() const { return m_hovered; }
    int pressedId() const { return m_pressed; }
    int currentDropIndex() const { return m_dropIndex; }
    bool isDragOver() const { return m_dragOver; }
    int zone() const { return m_zone; }

    void setDragRunner(DragRunner runner) { m_dragRunner = std::move(runner); }
    // Drags button id out of the bar: payload with this bar's zone, the glyph as drag image.
    void startButtonDrag(int id);

Q_SIGNALS:
    // A button payload was dropped on the bar: toArea is the bar's zone (0 title, 1 bottom).
    void uibtnDropped(int ub, int toArea, int insertIndex);

protected:
    UiBtnBar(int zone, QList<int> defaultLayout, int hitMarginX, int hitMarginY, QWidget* parent);

    virtual void relayout() = 0;
    // Where the drop marker goes on a bar without buttons.
    virtual double emptyMarkerX() const = 0;
    virtual void buttonClicked(int id) = 0;
    // Repaint after the hovered button changed.
    virtual void hoverChanged(int previous, int current) = 0;

    bool storeLayout(const QList<int>& ids, const Flags& visible, const Paths& icons);
    bool storeIcons(const Paths& hover, const Paths& active, const Paths& night);
    bool storeState(int id, bool on);
    void updateTimers();
    // The user's image for a button in its present state, or "" for the glyph.
    QString imagePathFor(int id, bool activeOnPress) const;
    // True while the hover animation of id (gear, sun/moon) runs.
    bool hoverAnimating(int id) const;
    bool shieldAnimating() const;
    void paintDropMarker(QPainter& p) const;
    void setHovered(int id);

    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

    const int m_zone;
    const int m_hitMarginX;
    const int m_hitMarginY;
    QList<int> m_layout;
    Flags m_visible;
    Paths m_icons, m_iconsHover, m_iconsActive, m_iconsNight;
    Flags m_state{};
    std::array<QRect, UiBtn::kCount> m_rects;
    int m_hovered = -1;
    int m_pressed = -1;
    bool m_dragOver = false;
    int m_dropIndex = -1;
    QTimer* m_holdTimer = nullptr;
    QTimer* m_blinkTimer = nullptr;
    QTimer* m_shieldTimer = nullptr;
    QTimer* m_hoverTimer = nullptr;

private:
    void onHoldTimeout();
    DragRunner m_dragRunner;
};
