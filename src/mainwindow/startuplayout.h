#pragma once

#include "model/configstore.h"

#include <QFuture>
#include <QObject>
#include <QString>

#include <functional>

// The start's read of "layout.json": the file is read and parsed on a worker beside the rest of the start. A
// small file is taken where the window needs it; a large one (kAsyncBytes and more) lets the window paint
// before its groups are there, and is taken when the worker is done, or at the first press, key, wheel or
// drop anywhere in the program, or when the owner asks (every save takes it first), whichever comes first.
class StartupLayout : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kAsyncBytes = 1024 * 1024;
    using Apply = std::function<void(ConfigStore::LayoutRead read)>;

    // Starts reading path; apply gets the read when it is taken, once.
    StartupLayout(const QString& path, Apply apply, QObject* parent = nullptr);

    // Takes the read now when the file is small or the worker is done; else it stays pending.
    void take();
    // Waits for a read still pending and takes it; true when one was pending.
    bool finishNow();
    bool pending() const { return m_pending; }
    bool readFinished() const { return m_read.isFinished(); }

    // Runs on the worker before it reads the file (a test holds the read back to see the pending state).
    static void setReadHook(std::function<void()> hook);

signals:
    // A pending read was taken because the worker finished (not in any caller's stack).
    void arrived();

private:
    void apply();

    Apply m_apply;
    QFuture<ConfigStore::LayoutRead> m_read;
    QObject* m_gate = nullptr;
    bool m_async = false;
    bool m_pending = false;
    bool m_taken = false;
};
