// Loads and saves a layout of 2,000 items in 20 groups through the same code the panel uses.
#include "model/configstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    QList<Group> groups;
    for (int g = 0; g < 20; ++g) {
        Group group{QStringLiteral("分组 %1").arg(g), {}};
        for (int i = 0; i < 100; ++i) {
            Item it;
            it.path =
                QStringLiteral("/home/user/Documents/projects/group-%1/some folder/file-%2.desktop").arg(g).arg(i);
            it.name = QStringLiteral("应用程序 %1-%2").arg(g).arg(i);
            it.args = (i % 3 == 0) ? QStringLiteral("--profile default") : QString();
            it.workDir = (i % 5 == 0) ? QStringLiteral("/home/user") : QString();
            group.items.append(it);
        }
        groups.append(group);
    }

    ConfigStore store(dir.path());
    constexpr int kRuns = 20;
    qint64 bestSave = std::numeric_limits<qint64>::max();
    qint64 bestLoad = std::numeric_limits<qint64>::max();
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        if (!store.saveLayout(groups))
            return 2;
        bestSave = std::min(bestSave, t.nsecsElapsed());
        QList<Group> loaded;
        t.restart();
        if (!store.loadLayout(loaded) || loaded.size() != 20)
            return 3;
        bestLoad = std::min(bestLoad, t.nsecsElapsed());
    }
    std::printf("layout save (2000 items, 20 groups): %.2f ms\n", double(bestSave) / 1e6);
    std::printf("layout load (2000 items, 20 groups): %.2f ms\n", double(bestLoad) / 1e6);
    return 0;
}
