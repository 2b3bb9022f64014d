#include "platform/registry.h"

#include "platform/fsentry.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace ktr::platform {
namespace {

QString settingsKey(const QString& key, const QString& name)
{
    QString k = key;
    k.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (k.endsWith(QLatin1Char('/')))
        k.chop(1);
    return k.isEmpty() ? name : k + QLatin1Char('/') + name;
}

} // namespace

QString registryFilePath(RegistryHive hive)
{
    if (hive == RegistryHive::CurrentUser)
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/Kestrune/registry.ini");
    QString base = QStringLiteral("/etc/xdg");
    const QStringList dirs = qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (!dirs.isEmpty() && QDir::isAbsolutePath(dirs.first()))
        base = dirs.first();
    return QDir::cleanPath(base) + QStringLiteral("/Kestrune/registry.ini");
}

bool writeRegistryString(RegistryHive hive, const QString& key, const QString& name, const QString& value,
                         QString* error)
{
    const QString path = registryFilePath(hive);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = QStringLiteral("cannot create folder of ") + path;
        return false;
    }
    // The user's own store is the user's alone to read.
    if (hive == RegistryHive::CurrentUser)
        restrictToOwner(QFileInfo(path).absolutePath());
    QSettings settings(path, QSettings::IniFormat);
    // Written at every start: a value already there is not written again (each write flushes the store to
    // the disk on the way to the first paint).
    if (settings.status() == QSettings::NoError && QFileInfo(path).isFile() &&
        settings.value(settingsKey(key, name)).toString() == value && settings.contains(settingsKey(key, name)))
        return true;
    settings.setValue(settingsKey(key, name), value);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        if (error)
            *error = QStringLiteral("cannot write ") + path;
        return false;
    }
    return true;
}

QString readRegistryString(RegistryHive hive, const QString& key, const QString& name)
{
    const QString path = registryFilePath(hive);
    if (!QFileInfo::exists(path))
        return {};
    QSettings settings(path, QSettings::IniFormat);
    return settings.value(settingsKey(key, name)).toString();
}

QStringList installPathStoresOf(const QString& programDir)
{
    QStringList out;
    const QString key = settingsKey(QLatin1String(kInstallPathKey), QLatin1String(kInstallPathName));
    for (RegistryHive hive : {RegistryHive::CurrentUser, RegistryHive::LocalMachine}) {
        const QString path = registryFilePath(hive);
        if (!QFileInfo(path).isFile())
            continue;
        QSettings settings(path, QSettings::IniFormat);
        if (settings.status() != QSettings::NoError || settings.allKeys() != QStringList{key})
            continue;
        if (QDir::cleanPath(settings.value(key).toString()) == QDir::cleanPath(programDir))
            out << path;
    }
    return out;
}

} // namespace ktr::platform
