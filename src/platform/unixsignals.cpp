#include "platform/unixsignals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ktr::platform {
namespace {

int g_writeFd = -1;
QuitSignalWatcher* g_watcher = nullptr;

void onQuitSignal(int sig)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    if (g_writeFd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(g_writeFd, &byte, 1);
    }
    errno = savedErrno;
}

const char* signalName(int sig)
{
    switch (sig) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    case SIGQUIT:
        return "SIGQUIT";
    case SIGUSR1:
        return "SIGUSR1";
    default:
        return "signal";
    }
}

} // namespace

QuitSignalWatcher::QuitSignalWatcher(int readFd, QObject* parent)
    : QObject(parent), m_readFd(readFd), m_notifier(new QSocketNotifier(readFd, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignalWatcher::onReadable);
}

QuitSignalWatcher* QuitSignalWatcher::install()
{
    if (g_watcher)
        return g_watcher;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        qWarning() << "[signals] socketpair failed; quit signals end the process without saving";
        return nullptr;
    }
    // A full pipe must never block the signal handler.
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    g_writeFd = fds[1];
    g_watcher = new QuitSignalWatcher(fds[0], QCoreApplication::instance());
    // exit(), not quit(): quit() first asks every window to close, and a panel that closes to the tray
    // refuses, so the signal would only hide it and nothing would be saved. aboutToQuit still runs.
    QObject::connect(
        g_watcher, &QuitSignalWatcher::quitRequested, QCoreApplication::instance(), [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);

    // A closed pipe on standard error (a terminal gone, a log reader ended) must not kill the program:
    // the failed write is reported as EPIPE instead.
    ::signal(SIGPIPE, SIG_IGN);

    struct sigaction sa
    {
    };
    sa.sa_handler = onQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1}) {
        if (::sigaction(sig, &sa, nullptr) != 0)
            qWarning() << "[signals] sigaction failed for" << signalName(sig);
    }
    return g_watcher;
}

void QuitSignalWatcher::onReadable()
{
    unsigned char buf[64];
    const ssize_t n = ::read(m_readFd, buf, sizeof buf);
    if (n <= 0)
        return;
    const int sig = buf[n - 1];
    qInfo().noquote() << "[signals] received" << signalName(sig) << "-> quitting event loop";
    Q_EMIT quitRequested(sig);
}

} // namespace ktr::platform
