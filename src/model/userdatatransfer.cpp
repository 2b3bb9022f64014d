#include "model/userdatatransfer.h"

#include "model/configstore.h"
#include "model/settingsfile.h"
#include "platform/version.h"
#include "ui/jsonutil.h"
#include "ui/lang.h"
#include "ui/savefile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSize>

namespace {

// Current files are read whole or not at all; none of ours grows beyond the layout's cap.
constexpr qint64 kMaxCurrentFileBytes = ConfigStore::kMaxLayoutBytes;

QJsonObject readObjectOrEmpty(const QString& path, qint64 cap)
{
    QByteArray bytes;
    QString error;
    const ktr::ReadStatus status = ktr::readFileCapped(path, cap, &bytes, &error);
    if (status != ktr::ReadStatus::Ok) {
        if (status != ktr::ReadStatus::Missing)
            qWarning().noquote() << "exportUserData: cannot read" << path << ":" << error;
        return {};
    }
    QJsonObject object;
    parseJsonObject(bytes, object);
    return object;
}

QByteArray indented(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

struct Target
{
    QString path;
    QByteArray newBytes;
    QByteArray oldBytes;
    bool existed = false;
    bool oldBytesRead = false;
};

Target target(const QString& path, const QByteArray& newBytes)
{
    Target t;
    t.path = path;
    t.newBytes = newBytes;
    return t;
}

ImportOutcome outcome(ImportOutcome::Status status, const QString& message, int kind)
{
    ImportOutcome result;
    result.status = status;
    result.message = message;
    result.toastKind = kind;
    return result;
}

// Lets the hook look at the settings as the import would load them and writes back the members it changed.
void guardSettingsObject(QJsonObject& object, const AppSettings& current,
                         const std::function<void(AppSettings&)>& guard)
{
    AppSettings imported = current;
    QSize ignoredSize;
    settingsFromJson(object, imported, ignoredSize);
    const QJsonObject before = settingsToJson(imported, QSize());
    guard(imported);
    const QJsonObject after = settingsToJson(imported, QSize());
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (before.value(it.key()) != it.value())
            object.insert(it.key(), it.value());
    }
    // The older name of the password hash is read whenever the current one is empty: an empty hash the hook
    // kept must not come back through it.
    if (object.contains(QStringLiteral("uiPasswordHash"))) {
        object.remove(QStringLiteral("uiPasswordHash"));
        object.insert(QStringLiteral("protectPasswordHash"), imported.protectPasswordHash);
    }
}

// The data folder the files of `paths` live in: the settings file's folder.
QString dataFolderOf(const UserDataPaths& paths)
{
    return QDir::cleanPath(QFileInfo(paths.settings).absolutePath());
}

// The exporting computer's data folder: recorded by the export; for a backup of an earlier version, read
// off the market registry, whose entries name their folder as <data folder>/apps/<id>.
QString exportedDataFolder(const QJsonObject& backup, const QJsonObject& registry)
{
    const QString recorded = backup.value(QStringLiteral("dataDir")).toString();
    if (!recorded.isEmpty())
        return QDir::cleanPath(QDir::fromNativeSeparators(recorded));
    for (const QJsonValue& v : registry.value(QStringLiteral("installed")).toArray()) {
        const QJsonObject o = v.toObject();
        const QString id = o.value(QStringLiteral("id")).toString();
        const QString dir = QDir::cleanPath(QDir::fromNativeSeparators(o.value(QStringLiteral("dir")).toString()));
        const QString tail = QStringLiteral("/apps/") + id;
        if (!id.isEmpty() && !id.contains(u'/') && dir.endsWith(tail) && dir.size() > tail.size())
            return dir.left(dir.size() - tail.size());
    }
    return {};
}

// Every string of `value` naming `from` or a path inside it names the same place inside `to`. Counts them.
QJsonValue movePaths(const QJsonValue& value, const QString& from, const QString& to, int* moved)
{
    if (value.isString()) {
        const QString path = value.toString();
        if (path == from || path.startsWith(from + u'/')) {
            ++*moved;
            return QJsonValue(to + path.mid(from.size()));
        }
        return value;
    }
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            array[i] = movePaths(array.at(i), from, to, moved);
        return array;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            it.value() = movePaths(it.value(), from, to, moved);
        return object;
    }
    return value;
}

} // namespace

QString registryPathFor(const QString& settingsPath)
{
    return QFileInfo(settingsPath).absolutePath() + QStringLiteral("/apps_registry.json");
}

UserDataPaths userDataPaths(ConfigStore& store)
{
    const QString settings = store.settingsPath();
    return {store.layoutPath(), settings, registryPathFor(settings)};
}

QString suggestedBackupPath(const QString& desktopDir, const QDate& today)
{
    return desktopDir + Lang::tr("/青岚舟面板备份_%1.json").arg(today.toString(QStringLiteral("yyyyMMdd")));
}

QString exportDialogCaption()
{
    return Lang::tr("导出数据（备份）");
}

QString importDialogCaption()
{
    return Lang::tr("导入数据（恢复）");
}

QString backupFileFilter()
{
    return Lang::tr("备份文件 (*.json)");
}

QString importQuestionTitle()
{
    return Lang::tr("导入数据");
}

QString importQuestionText()
{
    return Lang::tr("导入将覆盖当前的分组图标、设置与已装应用清单；登录态不导入，需重新登录。是否继续？");
}

QString backupVersionString()
{
    const QString version = ktr::platform::compiledVersion();
    return version.isEmpty() ? QStringLiteral("0.0.0") : version;
}

QJsonObject buildBackup(const UserDataPaths& paths, const QString& version, const QDateTime& exportedAt)
{
    QJsonObject backup;
    backup.insert(QStringLiteral("app"), QString::fromLatin1(kBackupAppName));
    backup.insert(QStringLiteral("version"), version);
    backup.insert(QStringLiteral("exportedAt"), exportedAt.toString(Qt::ISODate));
    // Where the items of market apps and other files of the data folder were: an import on another
    // computer takes them over into its own data folder.
    backup.insert(QStringLiteral("dataDir"), dataFolderOf(paths));
    backup.insert(QStringLiteral("layout"), readObjectOrEmpty(paths.layout, ConfigStore::kMaxLayoutBytes));
    backup.insert(QStringLiteral("settings"), readObjectOrEmpty(paths.settings, ConfigStore::kMaxSettingsBytes));
    backup.insert(QStringLiteral("registry"), readObjectOrEmpty(paths.registry, kMaxCurrentFileBytes));
    return backup;
}

ExportOutcome exportUserData(const QString& target, const UserDataPaths& paths, const QDateTime& now)
{
    ExportOutcome result;
    const QByteArray bytes = indented(buildBackup(paths, backupVersionString(), now));
    QString error;
    if (!ktr::saveFileAtomic(target, bytes, &error)) {
        qWarning().noquote() << "exportUserData: write failed:" << target << ":" << error;
        // saveFileAtomic names the stage it failed at: a file that could not even be opened is told
        // apart from a write or commit that was stopped.
        const bool notOpened =
            error.startsWith(QLatin1String("open failed")) || error.startsWith(QLatin1String("empty path"));
        result.message = notOpened ? Lang::tr("导出失败：无法写入文件") : Lang::tr("导出失败：写入被拦截");
        return result;
    }
    qInfo().noquote() << "user data exported ->" << target;
    result.ok = true;
    result.toastKind = 0;
    result.message = Lang::tr("已导出到 %1").arg(QDir::toNativeSeparators(target));
    return result;
}

ImportOutcome importUserData(const QString& backupPath, const UserDataPaths& paths, const AppSettings& current,
                             const ImportHooks& hooks)
{
    using Status = ImportOutcome::Status;

    QByteArray bytes;
    QString error;
    switch (ktr::readFileCapped(backupPath, kMaxBackupBytes, &bytes, &error)) {
    case ktr::ReadStatus::Ok:
        break;
    case ktr::ReadStatus::TooLarge:
        qWarning().noquote() << "importUserData: backup refused:" << backupPath << ":" << error;
        return outcome(Status::Refused, Lang::tr("导入失败：备份文件过大"), 1);
    case ktr::ReadStatus::Missing:
    case ktr::ReadStatus::NotAFile:
    case ktr::ReadStatus::Failed:
        qWarning().noquote() << "importUserData: backup not readable:" << backupPath << ":" << error;
        return outcome(Status::Refused, Lang::tr("导入失败：无法读取文件"), 1);
    }

    QJsonObject backup;
    const bool parsed = parseJsonObject(bytes, backup);
    bytes.clear();
    const QJsonValue app = backup.value(QStringLiteral("app"));
    const QJsonValue layout = backup.value(QStringLiteral("layout"));
    if (!parsed || !app.isString() || app.toString() != QLatin1String(kBackupAppName) || !layout.isObject()) {
        qWarning().noquote() << "importUserData: not a valid backup:" << backupPath;
        return outcome(Status::Refused, Lang::tr("导入失败：不是有效的备份文件"), 1);
    }
    // Only the layout is required; a missing or mistyped part counts as an empty object.
    QJsonObject layoutObject = layout.toObject();
    QJsonObject settingsObject = backup.value(QStringLiteral("settings")).toObject();
    QJsonObject registryObject = backup.value(QStringLiteral("registry")).toObject();
    // Paths into the exporting computer's data folder point into this one's, at the same place.
    const QString from = exportedDataFolder(backup, registryObject);
    const QString to = dataFolderOf(paths);
    if (!from.isEmpty() && from != to) {
        int moved = 0;
        layoutObject = movePaths(layoutObject, from, to, &moved).toObject();
        settingsObject = movePaths(settingsObject, from, to, &moved).toObject();
        registryObject = movePaths(registryObject, from, to, &moved).toObject();
        if (moved > 0)
            qInfo().noquote() << "importUserData:" << moved << "path(s) moved from" << from << "to" << to;
    }

    if (hooks.confirm && !hooks.confirm())
        return outcome(Status::Cancelled, QString(), 0);

    if (hooks.guardSettings)
        guardSettingsObject(settingsObject, current, hooks.guardSettings);

    QList<Target> targets;
    targets.append(target(paths.layout, indented(layoutObject)));
    targets.append(target(paths.settings, indented(settingsObject)));
    // An empty registry would wipe the market's list of installed apps: the current one stays.
    if (!registryObject.isEmpty())
        targets.append(target(paths.registry, indented(registryObject)));

    // Snapshot first, so every file written below can be put back.
    for (Target& t : targets) {
        switch (ktr::readFileCapped(t.path, kMaxCurrentFileBytes, &t.oldBytes, &error)) {
        case ktr::ReadStatus::Missing:
            t.existed = false;
            break;
        case ktr::ReadStatus::Ok:
            t.existed = true;
            t.oldBytesRead = true;
            break;
        case ktr::ReadStatus::TooLarge:
            qWarning().noquote() << "importUserData: short read of original, abort:" << t.path << error;
            return outcome(Status::Aborted, Lang::tr("导入失败：原配置文件读取不完整，已中止导入"), 1);
        case ktr::ReadStatus::NotAFile:
        case ktr::ReadStatus::Failed:
            qWarning().noquote() << "importUserData: original not readable, abort:" << t.path << error;
            return outcome(Status::Aborted, Lang::tr("导入失败：原配置文件无法读取，已中止导入"), 1);
        }
    }

    qsizetype written = 0;
    for (; written < targets.size(); ++written) {
        const Target& t = targets.at(written);
        if (!ktr::saveFileAtomic(t.path, t.newBytes, &error)) {
            qWarning().noquote() << "importUserData: write failed:" << t.path << ":" << error;
            break;
        }
    }

    if (written < targets.size()) {
        // The failed target itself is untouched (an uncommitted save leaves the old file).
        bool allRestored = true;
        for (qsizetype i = written - 1; i >= 0; --i) {
            const Target& t = targets.at(i);
            if (t.existed) {
                if (!t.oldBytesRead || !ktr::saveFileAtomic(t.path, t.oldBytes, &error)) {
                    qWarning().noquote() << "importUserData: rollback restore failed:" << t.path << error;
                    allRestored = false;
                }
            } else if (!QFile::remove(t.path)) {
                qWarning().noquote() << "importUserData: rollback remove failed:" << t.path;
                allRestored = false;
            }
        }
        qWarning().noquote() << "importUserData: write failed at" << targets.at(written).path
                             << "-> rolled back; allRestored =" << (allRestored ? "true" : "false");
        if (allRestored)
            return outcome(Status::RolledBack, Lang::tr("导入失败：无法写入配置文件，已回滚"), 1);
        return outcome(Status::PartlyRestored, Lang::tr("导入失败：部分文件未能恢复，请人工检查日志"), 1);
    }

    ImportOutcome result = outcome(Status::Imported, QString(), 0);
    result.settings = current;
    QSize ignoredSize;
    settingsFromJson(settingsObject, result.settings, ignoredSize);
    if (hooks.reload)
        hooks.reload();
    // The reload may have switched the language with the imported settings: the message is read in the
    // one shown from now on.
    result.message = Lang::tr("数据已导入并生效");
    qInfo().noquote() << "user data imported from" << backupPath;
    return result;
}
