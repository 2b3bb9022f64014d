#pragma once

#include "panel/uibtnbar.h"

// The 28 px strip along the bottom of the panel: its buttons right-aligned, a hover plate, the unread
// badge on the feedback button, and rounded bottom corners that follow the window's.
class BottomBar : public UiBtnBar
{
    Q_OBJECT
public:
    explicit BottomBar(QWidget* parent = nullptr);

    void setButtonLayout(const QList<int>& ids, const Flags& visible, const Paths& icons);
    void setButtonIcons(const Paths& hover, const Paths& active, const Paths& night);
    void setButtonActive(int id, bool on);
    void setBadgeCount(int n);
    int badgeCount() const { return m_badge; }
    void setCornerRadius(int r);
    int cornerRadius() const { return m_cornerRadius; }
    // The text of the unread badge ("" when none is shown).
    QString badgeText() const;
    // Where the badge is drawn (null when none is shown).
    QRectF badgeRect() const;
    // The bar's background outline: square top corners, bottom corners rounded to the corner radius.
    QPainterPath backgroundPath() const;

Q_SIGNALS:
    void buttonActivated(int ub);

protected:
    void relayout() override;
    double emptyMarkerX() const override { return width() - 12; }
    void buttonClicked(int id) override { Q_EMIT buttonActivated(id); }
    void hoverChanged(int, int) override { update(); }

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    static QFont badgeFont();

    int m_cornerRadius = 12;
    int m_badge = 0;
};
