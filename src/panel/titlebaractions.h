#pragma once

#include "panel/uibtnbar.h"

#include <QWidget>

// The small menu under the settings button: log in (or the account name), settings, website,
// check for updates, log out.
class GearMenuPopup : public QWidget
{
    Q_OBJECT
public:
    // The entries from the top; actionRequested carries one of them.
    enum Entry { SignIn = 0, OpenSettings = 1, Website = 2, CheckUpdate = 3, SignOut = 4 };
    static constexpr int kEntryCount = 5;

    explicit GearMenuPopup(QWidget* parent = nullptr);

    void setAccountText(const QString& text);
    QString accountText() const { return m_account; }
    // Moves the popup's top left corner to a global point (moved in to stay whole inside the work area of
    // its screen), shows and raises it.
    void popupAt(const QPoint& globalPos);
    int entryAt(const QPoint& pos) const;
    QRect entryRect(int entry) const;
    int hoveredEntry() const { return m_hovered; }
    // The label of an entry as shown (translated; entry 0 is the account text when set).
    QString entryLabel(int entry) const;

Q_SIGNALS:
    void actionRequested(int action);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void relayout();
    QFont menuFont() const;

    std::array<QRect, kEntryCount> m_entries;
    int m_hovered = -1;
    QString m_account;
};

// The function buttons at the right of the title bar. Hovering the settings button opens the gear
// menu; holding a button drags it out; a button dropped here lands at the drop index.
class TitleBarActions : public UiBtnBar
{
    Q_OBJECT
public:
    static constexpr int kGearCloseMs = 320;

    explicit TitleBarActions(QWidget* parent = nullptr);

    void setButtonLayout(const QList<int>& ids, const Flags& visible, const Paths& icons);
    void setButtonIcons(const Paths& hover, const Paths& active, const Paths& night);
    void setButtonActive(int id, bool on);
    void showGearMenu();
    GearMenuPopup* gearMenu() const { return m_popup; }
    QSize sizeHint() const override { return QSize(117, 36); }

    static int buttonWidth(int id) { return id == UiBtn::Minimize ? 13 : id == UiBtn::Close ? 12 : 16; }

public Q_SLOTS:
    void maybeCloseGearMenu();

Q_SIGNALS:
    void actionTriggered(int ub);
    void gearMenuAction(int action);
    void gearMenuAboutToShow();

protected:
    void relayout() override;
    double emptyMarkerX() const override { return 12; }
    void buttonClicked(int id) override;
    void hoverChanged(int previous, int current) override;

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void startCloseTimerIfIdle();

    GearMenuPopup* m_popup = nullptr;
    QTimer* m_gearCloseTimer = nullptr;
    bool m_inRelayout = false;
};
