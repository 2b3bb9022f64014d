#pragma once

#include "manualclock.h"
#include "model/configstore.h"
#include "testenv.h"

#include <QDir>

#include <functional>
#include <memory>

namespace ktr::test {

// A ConfigStore on a fresh data folder with a hand-driven clock, the toasts it shows recorded and
// its deferred notices held until the test runs them.
struct StoreHarness
{
    struct Deferred
    {
        int delayMs;
        std::function<void()> task;
    };
    struct Toast
    {
        QString text;
        int kind;
    };

    explicit StoreHarness(const QString& name) : dir(freshDir(name)), store(std::make_unique<ConfigStore>(dir))
    {
        wire();
    }

    // A new store on the same folder, as after a restart of the program.
    void restart()
    {
        store = std::make_unique<ConfigStore>(dir);
        deferred.clear();
        toasts.clear();
        wire();
    }

    void runDeferred()
    {
        const auto tasks = std::move(deferred);
        deferred.clear();
        for (const Deferred& d : tasks)
            d.task();
    }

    QStringList entries() const
    {
        return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    }

    QString dir;
    ManualClock clock;
    std::unique_ptr<ConfigStore> store;
    QList<Deferred> deferred;
    QList<Toast> toasts;

private:
    void wire()
    {
        store->setClock(&clock);
        store->setDeferHandler([this](int ms, std::function<void()> task) { deferred.append({ms, std::move(task)}); });
        store->setToastHandler([this](const QString& text, int kind) { toasts.append({text, kind}); });
    }
};

} // namespace ktr::test
