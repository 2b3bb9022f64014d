#include "logcapture.h"

#include <atomic>

namespace ktr::test {
namespace {
std::atomic<LogCapture*> g_active{nullptr};
}

LogCapture::LogCapture()
{
    g_active.store(this);
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    g_active.store(nullptr);
}

void LogCapture::handler(QtMsgType, const QMessageLogContext&, const QString& msg)
{
    LogCapture* self = g_active.load();
    if (!self)
        return;
    QMutexLocker lock(&self->m_mutex);
    self->m_messages.append(msg);
}

QStringList LogCapture::messages() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages;
}

bool LogCapture::contains(const QString& text) const
{
    return count(text) > 0;
}

int LogCapture::count(const QString& text) const
{
    QMutexLocker lock(&m_mutex);
    int n = 0;
    for (const QString& m : m_messages)
        if (m.contains(text))
            ++n;
    return n;
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_messages.clear();
}

} // namespace ktr::test
