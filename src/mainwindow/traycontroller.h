#pragma once

#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QString>

#include <functional>

class FirstPaintSteps;
class QMenu;
class QSystemTrayIcon;
class QWidget;
struct AppSettings;

// The panel's tray icon and the window's ways into the tray: closing and minimising hide the window there
// when the settings ask for it and a tray host shows the icon; the icon's menu brings the window back,
// opens the settings or quits for good. The icon is made on first need; the one the start's settings ask
// for waits for the window's first paint.
class TrayController : public QObject
{
    Q_OBJECT
public:
    struct Host
    {
        QWidget* window = nullptr;             // hidden, minimised and closed; the parent of the menu
        const AppSettings* settings = nullptr; // closeToTray, minimizeToTray
        FirstPaintSteps* firstPaint = nullptr; // where the start's tray icon waits
        std::function<QPixmap()> picture;      // the program icon the appearance applied, else the logo
        std::function<QString()> title;        // the tooltip of an icon made after the start
    };
    explicit TrayController(Host host, QObject* parent = nullptr);

    QSystemTrayIcon* icon() const { return m_tray; }
    QMenu* menu() const { return m_menu; }
    // The program icon in the usual sizes, from the applied picture (a live preview included), else the
    // style's desktop icon.
    QIcon appIcon() const;

    // Makes the icon and its menu (hidden) when there is none yet.
    void create();
    // Shows the icon while the settings send the window to the tray, hides it otherwise.
    void updateVisibility();
    // The settings were applied: at start the icon waits for the first paint (a second at most), later
    // it follows at once.
    void applySettings();
    void updateIcon();
    // Does nothing while there is no icon.
    void setToolTip(const QString& text);
    // Whether hiding the window leaves the user a way back: the icon is shown and a tray host shows it.
    bool usable() const;

    // The blank double click with a tray: the window goes there (or is minimised when no tray shows it).
    void showTrayAndHide();
    // The menu's quit: the one close that never goes to the tray.
    void quitFromTray();
    // The next close of the window is a real one (quit, uninstall).
    void requestQuit() { m_quitRequested = true; }
    // The window's close event: true when the window went to the tray instead (the close is refused).
    bool closeToTray();
    // The window was minimised: with minimising to the tray it is hidden there.
    void windowMinimized();

Q_SIGNALS:
    void restoreRequested();
    void settingsRequested();

private:
    void takeDeferred();

    Host m_host;
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_menu = nullptr;
    bool m_deferred = false;
    bool m_quitRequested = false;
};
