#include "ui/datadir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cstdio>

QString appDataDir()
{
    static const QString dir = [] {
        const QString exeDir = QCoreApplication::applicationDirPath();
        QString result;
        if (QFile::exists(exeDir + QStringLiteral("/portable.ini")))
            result = exeDir + QStringLiteral("/data");
        else
            result = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        while (result.size() > 1 && result.endsWith(QLatin1Char('/')))
            result.chop(1);
        if (!QDir().mkpath(result))
            std::fprintf(stderr, "appDataDir: mkpath failed: %s\n", result.toUtf8().constData());
        return result;
    }();
    return dir;
}
