#pragma once

#include "ui/toast.h"

#include <QObject>

#include <functional>

class LockController;
class QWidget;
struct AppSettings;

// The window's side of the interface lock and the obfuscation protection: it makes the lock controller (with
// the lock screen's video source) and turns the controller's signals into what the window shows: the record
// saved, the bar buttons set, the dialogs and the search closed, the market locked, the frame's line moved.
// The window keeps no pointer to it: it calls the controller, and this follows the controller's signals.
class WindowLock : public QObject
{
    Q_OBJECT
public:
    struct Host
    {
        QWidget* window = nullptr;       // what the lock screen covers
        AppSettings* settings = nullptr; // the live record the protection fields live in
        std::function<void()> saveSettings;
        std::function<void(int button, bool active)> setButtonActive; // on both bars, once they exist
        std::function<void(bool locked)> setMarketLocked;
        std::function<void()> followSettingsDialog; // the open settings dialog shows the record again
        std::function<void()> closeSettingsDialog;
        std::function<void()> hideSearch;
        std::function<void(int y)> setDividerY; // the frame's line under the title strip
        std::function<void(const QString& text, Toast::Kind kind)> toast;
    };

    explicit WindowLock(Host host, QObject* parent = nullptr);

    LockController* controller() const { return m_lock; }

private:
    void onEngaged();

    Host m_host;
    LockController* m_lock;
};
