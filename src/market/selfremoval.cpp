#include "market/selfremoval.h"

#include "market/marketinstall.h"
#include "model/shortcutfile.h"
#include "platform/autostart.h"
#include "platform/fsentry.h"
#include "platform/registry.h"
#include "ui/datadir.h"
#include "ui/savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <functional>

namespace selfremoval {

namespace {

constexpr qint64 kMarkerCap = 64 * 1024;

// The names of the panel's own desktop entries on the desktop and in the menu.
const QString& shortcutName()
{
    static const QString name = QStringLiteral("青岚舟面板.desktop");
    return name;
}

// Writes a script made by build (given its own path) into a fresh private folder and starts it there; on
// failure the message of the failed step.
bool writeAndStart(const QString& base, const QString& name, const std::function<QByteArray(const QString&)>& build,
                   const char* openFailed, const char* incomplete, const char* notStarted, QString* message,
                   QString* scriptPath)
{
    const QString folder = selfscripts::makeScriptFolder(base);
    if (folder.isEmpty()) {
        *message = QString::fromUtf8(openFailed);
        return false;
    }
    const QString script = folder + QLatin1Char('/') + name;
    if (scriptPath)
        *scriptPath = script;
    switch (selfscripts::writeScript(script, build(script))) {
    case selfscripts::WriteResult::OpenFailed:
        *message = QString::fromUtf8(openFailed);
        QDir().rmdir(folder);
        return false;
    case selfscripts::WriteResult::Incomplete:
        *message = QString::fromUtf8(incomplete);
        QDir().rmdir(folder);
        return false;
    case selfscripts::WriteResult::Ok:
        break;
    }
    if (!selfscripts::startScript(script, folder)) {
        *message = QString::fromUtf8(notStarted);
        QFile::remove(script);
        QDir().rmdir(folder);
        return false;
    }
    return true;
}

// The launchers the market wrote on the desktop for the apps in the data folder: they go with the apps. A
// user's own entry, a link, or one of ours that now starts a program elsewhere stays.
QStringList marketLaunchersOf(const Env& env)
{
    QStringList launchers;
    if (env.desktopDir.isEmpty() || env.dataDir.isEmpty())
        return launchers;
    const QString apps = QDir::cleanPath(env.dataDir) + QStringLiteral("/apps/");
    const QFileInfoList entries = QDir(env.desktopDir).entryInfoList({QStringLiteral("*.desktop")}, QDir::Files);
    for (const QFileInfo& entry : entries) {
        const QString path = entry.absoluteFilePath();
        ShortcutInfo info;
        if (!entry.isSymLink() && isOwnDesktopEntry(path) && readShortcut(path, &info) &&
            QDir::cleanPath(info.target).startsWith(apps))
            launchers << QDir::cleanPath(path);
    }
    return launchers;
}

} // namespace

Env Env::system()
{
    Env env;
    env.exe = QCoreApplication::applicationFilePath();
    env.dataDir = appDataDir();
    env.tempDir.clear(); // the session's private runtime folder
    env.desktopDir = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    env.applicationsDir = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    env.autostartEntry = ktr::platform::autostartFilePath();
    env.installPathStores = ktr::platform::installPathStoresOf(QFileInfo(env.exe).absolutePath());
    env.target = selfscripts::currentProcess();
    // The panel's sockets and locks (the wake and agent sockets, the single-instance and backup locks) carry
    // these names in the runtime folder only this user may enter; once the panel is gone they are stale.
    const QString runtime = ktr::platform::privateRuntimeDir();
    if (!runtime.isEmpty()) {
        const QStringList names =
            QDir(runtime).entryList({QStringLiteral("KestrunePanel_*"), QStringLiteral("ktr-backup-*.lock")},
                                    QDir::Files | QDir::System | QDir::Hidden);
        for (const QString& name : names)
            env.leftoverFiles << runtime + QLatin1Char('/') + name;
        // Without a session runtime folder the panel made one of its own in the cache folder.
        if (QFileInfo(runtime).fileName() == QLatin1String("KestrunePanel-runtime"))
            env.madeFolders << runtime;
    }
    // The organisation's folder above the data folder, made with it and holding nothing else of ours.
    const QFileInfo data(env.dataDir);
    if (data.dir().dirName() == QCoreApplication::organizationName() && !QCoreApplication::organizationName().isEmpty())
        env.madeFolders << data.absolutePath();
    const QString record = ktr::platform::madeFoldersRecordPath();
    if (QFileInfo(record).isFile()) {
        env.madeFolders << ktr::platform::madeFolders() << QFileInfo(record).absolutePath();
        env.leftoverFiles << record;
    }
    return env;
}

selfscripts::ProgramFiles programFilesOf(const Env& env)
{
    const QString marker =
        QFileInfo(env.exe).absolutePath() + QLatin1Char('/') + QLatin1String(ktr::platform::kInstallMarkerName);
    QByteArray text;
    if (ktr::readFileCapped(marker, kMarkerCap, &text) != ktr::ReadStatus::Ok)
        return selfscripts::programFiles(env.exe, nullptr);
    return selfscripts::programFiles(env.exe, &text);
}

selfscripts::UninstallPlan uninstallPlan(bool full, const Env& env)
{
    const selfscripts::ProgramFiles files = programFilesOf(env);
    selfscripts::UninstallPlan plan;
    plan.target = env.target;
    plan.programFiles = files.files;
    plan.programFolder = files.folder;
    plan.madeFolders = files.madeFolders;
    plan.installPathStores = env.installPathStores;
    if (!env.desktopDir.isEmpty())
        plan.shortcuts << QDir::cleanPath(env.desktopDir + QLatin1Char('/') + shortcutName());
    if (!env.applicationsDir.isEmpty())
        plan.shortcuts << QDir::cleanPath(env.applicationsDir + QLatin1Char('/') + shortcutName());
    if (full) {
        plan.dataFolder = QDir::cleanPath(env.dataDir);
        plan.shortcuts << marketLaunchersOf(env);
    }
    plan.autostartEntry = env.autostartEntry;
    plan.leftoverFiles = env.leftoverFiles;
    for (const QString& folder : env.madeFolders) {
        const QString clean = QDir::cleanPath(folder);
        if (!plan.userFolders.contains(clean))
            plan.userFolders << clean;
    }
    // Deepest first, so a made folder inside another made one goes before it.
    std::stable_sort(plan.userFolders.begin(), plan.userFolders.end(), [](const QString& a, const QString& b) {
        return a.count(QLatin1Char('/')) > b.count(QLatin1Char('/'));
    });
    return plan;
}

bool startUninstall(bool full, const Env& env, QString* message, QString* scriptPath)
{
    selfscripts::UninstallPlan plan = uninstallPlan(full, env);
    return writeAndStart(
        env.tempDir, QStringLiteral("Kestrune_uninstall.sh"),
        [&plan](const QString& script) {
            plan.scriptPath = script;
            return selfscripts::uninstallScript(plan);
        },
        "卸载失败：无法写临时脚本", "卸载失败：临时脚本写入不完整，请检查磁盘空间",
        "卸载失败：无法启动卸载脚本，请手动卸载", message, scriptPath);
}

bool startFactoryReset(const Env& env, QString* message, QString* scriptPath)
{
    const QString data = QDir::cleanPath(env.dataDir);
    if (data.size() <= 9 || !QFileInfo(data).isDir() || selfscripts::isProtectedFolder(data)) {
        *message = QStringLiteral("初始化失败：数据目录无效，已中止");
        return false;
    }
    selfscripts::ResetPlan plan;
    plan.target = env.target;
    plan.dataFolder = data;
    plan.autostartEntry = env.autostartEntry;
    plan.restartProgram = env.exe;
    return writeAndStart(
        env.tempDir, QStringLiteral("Kestrune_factory_reset.sh"),
        [&plan](const QString& script) {
            plan.scriptPath = script;
            return selfscripts::factoryResetScript(plan);
        },
        "初始化失败：无法写临时脚本", "初始化失败：临时脚本写入不完整，请检查磁盘空间",
        "初始化失败：无法启动重置脚本，请手动清理数据目录", message, scriptPath);
}

} // namespace selfremoval
