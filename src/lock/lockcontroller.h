#pragma once

#include "lock/uilockoverlay.h"

#include <QObject>
#include <QPointer>

class QRect;
class QWidget;
struct AppSettings;

// The main window's side of the interface lock: whether the panel is locked (the settings record's
// uiLocked), the lock screen over the window, and the lock button. It reports an engaged lock through a
// signal; the window saves the settings and updates its buttons.
class LockController : public QObject
{
    Q_OBJECT
public:
    LockController(QWidget* host, AppSettings* settings, QObject* parent = nullptr);

    bool isLocked() const;
    UiLockOverlay* overlay() const { return m_overlay; }
    // Whether the lock screen currently covers the window.
    bool covers() const;

    // A lock saved at the last quit comes back from the event loop; a lock without a password can't be
    // opened again, so the panel starts unlocked instead.
    void restoreAtStart();
    // While locked: shows the lock screen, asking to unlock, and returns true (the caller stops there).
    bool blocks();
    void showOverlay();
    // The lock button: with a stored password it engages the lock and shows the lock screen.
    void lockAction();
    void setBackgroundPath(const QString& path);
    // Loads the lock picture again (a new device pixel ratio).
    void reloadBackground();
    void fitTo(const QRect& rect);

signals:
    void engaged();

private:
    QWidget* m_host;
    AppSettings* m_settings;
    QPointer<UiLockOverlay> m_overlay;
};
