#pragma once

// The layout the start-up benchmarks load: count files of a few common kinds (so icons come from several
// MIME types) in groups of 100, written below folder.
#include "model/panelmodel.h"

#include <QFile>
#include <QString>

inline QList<Group> makeBenchLayout(const QString& folder, int count)
{
    static const char* const kSuffixes[] = {"txt", "png", "pdf", "html", "zip", "mp3", "sh", "json"};
    QList<Group> groups;
    for (int g = 0; g * 100 < count; ++g) {
        Group group;
        group.name = QStringLiteral("Group %1").arg(g);
        for (int i = 0; i < 100 && g * 100 + i < count; ++i) {
            const int n = g * 100 + i;
            const QString path = QStringLiteral("%1/file%2.%3").arg(folder).arg(n).arg(QLatin1String(kSuffixes[n % 8]));
            QFile f(path);
            if (f.open(QIODevice::WriteOnly))
                f.write("x");
            Item item;
            item.path = path;
            item.name = QStringLiteral("file%1").arg(n);
            group.items.append(item);
        }
        groups.append(group);
    }
    return groups;
}
