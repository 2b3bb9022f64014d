#include "market/marketfiles.h"

#include "ui/datadir.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

QString appsRootDir()
{
    // The data folder is fixed for the life of the process.
    static const QString data = appDataDir();
    return data + QStringLiteral("/apps");
}

QString packageFilePath(const QString& appId)
{
    return appsRootDir() + u'/' + appId + QStringLiteral(".package.zip");
}

QString partialFilePath(const QString& appId)
{
    return packageFilePath(appId) + QStringLiteral(".part");
}

bool removePackageFile(const QString& path, const QString& reason)
{
    if (path.isEmpty())
        return true;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (QFile::remove(path))
        return true;
    qWarning().noquote() << "remove failed:" << reason << path;
    return false;
}

bool isValidAppId(const QString& id)
{
    if (id.isEmpty() || id.size() > 48)
        return false;
    for (const QChar c : id) {
        const char16_t u = c.unicode();
        const bool ok =
            (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_' || u == u'-';
        if (!ok)
            return false;
    }
    return true;
}

bool isValidVersionString(const QString& version)
{
    if (version.isEmpty() || version.size() > 64 || version.contains(QStringLiteral("..")))
        return false;
    for (const QChar c : version) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'.' ||
                        u == u'_' || u == u'+' || u == u'-';
        if (!ok)
            return false;
    }
    return true;
}

bool isSafeLaunchName(const QString& name)
{
    return !name.isEmpty() && name.size() <= 128 && !name.contains(QStringLiteral("..")) && !name.contains(u'/') &&
           !name.contains(u'\\') && !name.contains(u':');
}

bool isHttpUrl(const QString& text)
{
    const QUrl url(text);
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    return (scheme == QStringLiteral("http") || scheme == QStringLiteral("https")) &&
           !url.host(QUrl::FullyDecoded).isEmpty();
}
