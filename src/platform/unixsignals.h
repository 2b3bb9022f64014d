#pragma once

#include <QObject>

class QSocketNotifier;

namespace ktr::platform {

// Turns SIGTERM, SIGINT, SIGHUP, SIGQUIT and SIGUSR1 (session end, kill, Ctrl+C, Ctrl+\) into a normal end
// of the event loop, so the quit handler runs and saves state whatever the windows' close settings say.
// The signal handler only writes the signal number into a socket pair; the notifier reads it on the GUI
// thread and emits quitRequested, which is connected to QCoreApplication::exit(0). SIGPIPE is ignored.
class QuitSignalWatcher : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers once per process and returns the watcher (parented to the application);
    // nullptr when the socket pair or a handler can't be set up.
    static QuitSignalWatcher* install();

Q_SIGNALS:
    void quitRequested(int signalNumber);

private:
    explicit QuitSignalWatcher(int readFd, QObject* parent);
    void onReadable();

    int m_readFd;
    QSocketNotifier* m_notifier;
};

} // namespace ktr::platform
