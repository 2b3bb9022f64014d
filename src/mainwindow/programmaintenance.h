#pragma once

#include "ui/toast.h"

#include <QObject>

#include <functional>

class QNetworkAccessManager;
class QWidget;
class UpdateChecker;

// The program's care of its own installation: the self-update (through UpdateChecker), the uninstall and the
// factory reset. The last two ask first; the update and the factory reset end the process hard once their
// script runs, after the window stopped its network, timers and the recorder.
class ProgramMaintenance : public QObject
{
    Q_OBJECT
public:
    struct Host
    {
        QWidget* window = nullptr;                // the parent of the questions and of the update card
        QNetworkAccessManager* network = nullptr; // the window's shared manager
        std::function<void(const QString& text, Toast::Kind kind)> toast;
        std::function<void()> stopAll;      // every component stops its timers and requests
        std::function<void()> closeForQuit; // the normal close, which saves the settings and the layout
        // Where the factory reset's question shows: the settings dialog while it is open, else the window.
        std::function<QWidget*()> questionParent;
    };

    explicit ProgramMaintenance(Host host, QObject* parent = nullptr);

    UpdateChecker* updates() const { return m_updates; }
    // How the process ends after the update's or the factory reset's script started (tests).
    void setHardExit(std::function<void(int)> hardExit) { m_hardExit = std::move(hardExit); }

    void checkForUpdates(bool beta, bool manual);
    // Asks, then starts the uninstall script and quits the normal way; removeAll takes the user's data too.
    void uninstallProgram(bool removeAll);
    // Asks, then starts the reset script and ends the process at once: nothing is saved.
    void factoryReset();

private:
    // Before the hard exits of the update and the factory reset: network, timers and the recorder stop.
    void prepareHardExit();

    Host m_host;
    UpdateChecker* m_updates;
    std::function<void(int)> m_hardExit;
};
