#include "ui/datadir.h"

#include "platform/fsentry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

QString appDataDir()
{
    static const QString dir = [] {
        const QString exeDir = QCoreApplication::applicationDirPath();
        QString result;
        const bool portable = QFile::exists(exeDir + QStringLiteral("/portable.ini"));
        if (portable)
            result = exeDir + QStringLiteral("/data");
        else
            result = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        while (result.size() > 1 && result.endsWith(QLatin1Char('/')))
            result.chop(1);
        if (!QDir().mkpath(result))
            std::fprintf(stderr, "appDataDir: mkpath failed: %s\n", result.toUtf8().constData());
        // It holds the password hash and the layout: no other user may look in, nor into our
        // organisation's folder above it.
        ktr::platform::restrictToOwner(result);
        if (!portable)
            ktr::platform::restrictToOwner(QFileInfo(result).absolutePath());
        return result;
    }();
    return dir;
}
