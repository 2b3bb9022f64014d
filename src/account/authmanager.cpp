#include "account/authmanager.h"

#include "ui/datadir.h"

#include <QDir>

void AuthManager::fetchMe(const QString& token, const Callback& callback)
{
    Q_UNUSED(token);
    if (callback)
        callback(Result{false, QStringLiteral("NETWORK")});
}

void AuthManager::reportHost(const QString& token)
{
    Q_UNUSED(token);
}

QString appIdForPath(const QString& path, const QString& dataDir)
{
    const QString folder = QDir::fromNativeSeparators(dataDir.isEmpty() ? appDataDir() : dataDir);
    const QString prefix = folder + QStringLiteral("/apps/");
    const QString p = QDir::fromNativeSeparators(path);
    if (!p.startsWith(prefix, Qt::CaseInsensitive))
        return QString();
    const QString rest = p.mid(prefix.size());
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QString();
    return rest.left(slash);
}

void reportAppStat(const QString& appId, const QString& event, const QString& token)
{
    Q_UNUSED(appId);
    Q_UNUSED(event);
    Q_UNUSED(token);
}
