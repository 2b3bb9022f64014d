#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace ktr::test {

// Collects every message logged while it lives (from any thread) and restores the previous
// message handler when it goes.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList messages() const;
    // True when some message contains the text.
    bool contains(const QString& text) const;
    int count(const QString& text) const;
    void clear();

private:
    static void handler(QtMsgType, const QMessageLogContext&, const QString&);
    mutable QMutex m_mutex;
    QStringList m_messages;
    QtMessageHandler m_previous = nullptr;
};

} // namespace ktr::test
