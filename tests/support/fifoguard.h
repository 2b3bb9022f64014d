#pragma once

#include <QFile>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ktr::test {

// A named pipe for checking that code never opens a path that is not a regular file: opening a pipe for
// reading waits until a writer comes. While the guard lives, a watchdog thread waits `limitMs`; if the code
// under test is still stuck by then, the watchdog opens the write end, so the reader gets end-of-file and the
// test goes on to fail instead of hanging. Call done() right after the code under test returned.
class FifoGuard
{
public:
    FifoGuard(const QString& path, int limitMs = 3000) : m_path(QFile::encodeName(path))
    {
        m_made = ::mkfifo(m_path.constData(), 0600) == 0;
        m_watchdog = std::thread([this, limitMs] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_cv.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return m_done; }))
                return;
            m_fired = true;
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
        });
    }
    ~FifoGuard()
    {
        done();
        ::unlink(m_path.constData());
    }
    FifoGuard(const FifoGuard&) = delete;
    FifoGuard& operator=(const FifoGuard&) = delete;

    bool made() const { return m_made; }

    // Stops the watchdog; true when the code under test returned on its own (the watchdog never fired).
    bool done()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
        if (m_watchdog.joinable())
            m_watchdog.join();
        return !m_fired;
    }

private:
    QByteArray m_path;
    bool m_made = false;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    bool m_fired = false;
    std::thread m_watchdog;
};

} // namespace ktr::test
