#include "market/marketinstall.h"

#include "market/marketfiles.h"
#include "model/shortcutfile.h"
#include "platform/ziparchive.h"
#include "ui/datadir.h"
#include "ui/lang.h"
#include "ui/savefile.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <algorithm>

using ktr::platform::ZipEntryInfo;

namespace {

constexpr qint64 kRegistryCap = 16 << 20;
constexpr qint64 kChunk = 256 << 10;
// Marks a desktop entry as written by this program, so a user's own launcher of the same name survives.
const char kOwnMarker[] = "X-Kestrune-Market=true";

void setWhy(QString* why, const QString& text)
{
    if (why)
        *why = text;
}

// The entry name as a relative path with "/" separators, or empty when it is unsafe or names nothing.
QString safeRelativeName(const ZipEntryInfo& e)
{
    QString rel;
    return ktr::platform::zipEntryRelativePath(e, &rel) ? rel : QString();
}

} // namespace

bool checkPackageEntries(const QList<ZipEntryInfo>& entries, QString* why)
{
    if (entries.size() > kMaxPackageEntries) {
        setWhy(why, QStringLiteral("too many entries: %1").arg(entries.size()));
        return false;
    }
    qint64 total = 0;
    for (const ZipEntryInfo& e : entries) {
        if (!e.nameIsUtf8 || e.encrypted) {
            setWhy(why, QStringLiteral("unreadable or encrypted entry: %1").arg(e.name));
            return false;
        }
        if (e.type != ZipEntryInfo::Type::File && e.type != ZipEntryInfo::Type::Directory) {
            setWhy(why, QStringLiteral("link or special entry: %1").arg(e.name));
            return false;
        }
        // A folder entry of nothing ("./") is harmless; anything else must name a place inside.
        QString rel;
        if (!ktr::platform::zipEntryRelativePath(e, &rel) ||
            (rel.isEmpty() && e.type != ZipEntryInfo::Type::Directory)) {
            setWhy(why, QStringLiteral("unsafe zip entry: %1").arg(e.name));
            return false;
        }
        if (e.size < 0 || e.size > kMaxUnpackedBytes - total) {
            setWhy(why, QStringLiteral("unpacked size over the limit"));
            return false;
        }
        total += e.size;
        // size > ratio × compressed, without overflow
        if (e.size > 0 && (e.size - 1) / kMaxInflateRatio >= qMax<qint64>(e.compressedSize, 1)) {
            setWhy(why, QStringLiteral("entry inflates past the ratio limit: %1").arg(e.name));
            return false;
        }
    }
    return true;
}

ExtractResult extractPackage(const QString& packagePath, const QString& destDir, const std::atomic<bool>* abandon,
                             int deadlineMs, QString* why)
{
    const QDeadlineTimer deadline(deadlineMs);
    ktr::platform::ZipReader zip;
    QString error;
    if (!zip.open(packagePath, &error)) {
        setWhy(why, error);
        return ExtractResult::Failed;
    }
    if (!checkPackageEntries(zip.entries(), why))
        return ExtractResult::Failed;
    const QString root = QDir::cleanPath(QFileInfo(destDir).absoluteFilePath());
    const QString rootSlash = root + u'/';
    QByteArray buffer(int(kChunk), Qt::Uninitialized);
    ZipEntryInfo e;
    while (zip.next(&e, &error)) {
        if (abandon && abandon->load())
            return ExtractResult::TimedOut;
        if (deadline.hasExpired()) {
            setWhy(why, QStringLiteral("deadline passed"));
            return ExtractResult::TimedOut;
        }
        // The directory said what the entry is; the data reader must not disagree.
        if (e.type != ZipEntryInfo::Type::File && e.type != ZipEntryInfo::Type::Directory) {
            setWhy(why, QStringLiteral("link or special entry: %1").arg(e.name));
            return ExtractResult::Failed;
        }
        if (e.type == ZipEntryInfo::Type::Directory)
            continue;
        const QString rel = safeRelativeName(e);
        if (rel.isEmpty()) {
            setWhy(why, QStringLiteral("unsafe zip entry: %1").arg(e.name));
            return ExtractResult::Failed;
        }
        const QString full = QDir::cleanPath(root + u'/' + rel);
        if (!full.startsWith(rootSlash)) {
            setWhy(why, QStringLiteral("unsafe zip entry: %1").arg(e.name));
            return ExtractResult::Failed;
        }
        const QString dir = QFileInfo(full).path();
        if (!QDir().mkpath(dir)) {
            setWhy(why, QStringLiteral("cannot create %1").arg(dir));
            return ExtractResult::Failed;
        }
        // Only folders this run made lie below the root; a link in the way would be a crafted package.
        const QFileInfo existing(full);
        if (existing.isSymLink() || (existing.exists() && !existing.isFile())) {
            setWhy(why, QStringLiteral("unsafe zip entry: %1").arg(e.name));
            return ExtractResult::Failed;
        }
        QFile out(full);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            setWhy(why, QStringLiteral("cannot write %1").arg(full));
            return ExtractResult::Failed;
        }
        for (;;) {
            const qint64 n = zip.read(buffer.data(), buffer.size(), &error);
            if (n < 0) {
                setWhy(why, error);
                return ExtractResult::Failed;
            }
            if (n == 0)
                break;
            if (out.write(buffer.constData(), n) != n) {
                setWhy(why, QStringLiteral("write failed: %1").arg(full));
                return ExtractResult::Failed;
            }
            if (abandon && abandon->load())
                return ExtractResult::TimedOut;
            if (deadline.hasExpired()) {
                setWhy(why, QStringLiteral("deadline passed"));
                return ExtractResult::TimedOut;
            }
        }
        if (!out.flush()) {
            setWhy(why, QStringLiteral("write failed: %1").arg(full));
            return ExtractResult::Failed;
        }
        out.close();
        // Owner read/write always; execute bits as stored; nothing set-id, nothing writable by others.
        const int stored = e.permissions >= 0 ? e.permissions : 0644;
        QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
        if (stored & 0100)
            perms |= QFile::ExeOwner | QFile::ExeUser;
        if (stored & 0040)
            perms |= QFile::ReadGroup;
        if (stored & 0010)
            perms |= QFile::ExeGroup;
        if (stored & 0004)
            perms |= QFile::ReadOther;
        if (stored & 0001)
            perms |= QFile::ExeOther;
        QFile::setPermissions(full, perms);
    }
    if (!error.isEmpty()) {
        setWhy(why, error);
        return ExtractResult::Failed;
    }
    return ExtractResult::Ok;
}

QString appsRegistryPath()
{
    static const QString data = appDataDir();
    return data + QStringLiteral("/apps_registry.json");
}

QHash<QString, MarketInstalledApp> readAppsRegistry(const QString& path)
{
    QHash<QString, MarketInstalledApp> apps;
    QByteArray bytes;
    if (ktr::readFileCapped(path, kRegistryCap, &bytes) != ktr::ReadStatus::Ok)
        return apps;
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning().noquote() << "loadRegistry: bad JSON, ignored";
        return apps;
    }
    const QJsonArray installed = doc.object().value(QStringLiteral("installed")).toArray();
    for (const QJsonValue& v : installed) {
        const QJsonObject o = v.toObject();
        const QString id = o.value(QStringLiteral("id")).toString();
        apps.insert(id, {o.value(QStringLiteral("version")).toString(), o.value(QStringLiteral("launch")).toString()});
    }
    return apps;
}

bool writeAppsRegistry(const QString& path, const QString& appsRoot, const QHash<QString, MarketInstalledApp>& apps,
                       QString* why)
{
    QJsonArray installed;
    for (auto it = apps.cbegin(); it != apps.cend(); ++it) {
        installed.append(QJsonObject{{QStringLiteral("id"), it.key()},
                                     {QStringLiteral("version"), it.value().version},
                                     {QStringLiteral("launch"), it.value().launch},
                                     {QStringLiteral("dir"), QDir::toNativeSeparators(appsRoot + u'/' + it.key())}});
    }
    const QByteArray doc = QJsonDocument(QJsonObject{{QStringLiteral("installed"), installed}}).toJson();
    return ktr::saveFileAtomic(path, doc, why);
}

QString resolveLaunchFile(const QString& appDir, const QString& launch)
{
    if (!isSafeLaunchName(launch))
        return {};
    const QFileInfo candidate(QDir(appDir).absoluteFilePath(launch));
    if (!candidate.exists() || !candidate.isFile())
        return {};
    const QString realDir = QFileInfo(appDir).canonicalFilePath();
    const QString real = candidate.canonicalFilePath();
    // Paths here are case-sensitive: a folder differing in case is another folder.
    if (realDir.isEmpty() || real.isEmpty() || !real.startsWith(realDir + u'/'))
        return {};
    return candidate.absoluteFilePath();
}

QString firstExeIn(const QString& folder)
{
    QDir dir(folder);
    QFileInfoList files = dir.entryInfoList({QStringLiteral("*.exe")}, QDir::Files | QDir::Hidden, QDir::NoSort);
    files.erase(
        std::remove_if(files.begin(), files.end(), [](const QFileInfo& f) { return f.isSymLink() || !f.isFile(); }),
        files.end());
    std::sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return a.fileName().compare(b.fileName(), Qt::CaseInsensitive) < 0;
    });
    return files.isEmpty() ? QString() : files.first().fileName();
}

QString desktopFolder()
{
    const QString location = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return location.isEmpty() ? QDir::homePath() + QStringLiteral("/Desktop") : location;
}

QString desktopEntryFileName(const QString& name)
{
    QString file = name;
    for (QChar& c : file) {
        if (QStringLiteral("\\/:*?\"<>|").contains(c) || c.unicode() < 0x20)
            c = u'_';
    }
    file = file.trimmed();
    if (file.isEmpty())
        file = Lang::tr("应用");
    return file + QStringLiteral(".desktop");
}

namespace {

// The string-level escape of a desktop entry value.
QString escapeValue(const QString& value)
{
    QString out;
    for (const QChar c : value) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n' || c == u'\r')
            continue;
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else
            out += c;
    }
    return out;
}

} // namespace

bool isOwnDesktopEntry(const QString& path)
{
    QByteArray bytes;
    if (ktr::readFileCapped(path, 1 << 20, &bytes) != ktr::ReadStatus::Ok)
        return false;
    const QList<QByteArray> lines = bytes.split('\n');
    return std::any_of(lines.cbegin(), lines.cend(), [](const QByteArray& l) { return l.trimmed() == kOwnMarker; });
}

bool createDesktopShortcut(const QString& program, const QString& workDir, const QString& name, const QString& iconPath)
{
    if (program.isEmpty() || !QFileInfo::exists(program))
        return false;
    const QString desktop = desktopFolder();
    if (!QDir().mkpath(desktop))
        return false;
    const QString path = desktop + u'/' + desktopEntryFileName(name);
    const QFileInfo existing(path);
    if ((existing.exists() || existing.isSymLink()) && (existing.isSymLink() || !isOwnDesktopEntry(path))) {
        qWarning().noquote() << "desktop shortcut: keeping a file this program did not write:" << path;
        return false;
    }
    QString plainName = name;
    plainName.remove(u'\r').remove(u'\n');
    // The launch file of a market app is no picture; a picture given as icon is used, else a generic one.
    const QString icon = iconPath.isEmpty() || iconPath == program ||
                                 !QStringList{"png", "svg", "xpm"}.contains(QFileInfo(iconPath).suffix().toLower())
                             ? QStringLiteral("application-x-executable")
                             : iconPath;
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\nVersion=1.0\n");
    text += QStringLiteral("Name=") + escapeValue(plainName.trimmed().isEmpty() ? Lang::tr("应用") : plainName) + u'\n';
    text += QStringLiteral("Exec=") + escapeValue(desktopExecString({QDir::fromNativeSeparators(program)})) + u'\n';
    if (!workDir.isEmpty())
        text += QStringLiteral("Path=") + escapeValue(QDir::fromNativeSeparators(workDir)) + u'\n';
    text += QStringLiteral("Icon=") + escapeValue(icon) + u'\n';
    text += QStringLiteral("Terminal=false\n");
    text += QLatin1String(kOwnMarker) + u'\n';
    if (!ktr::saveFileAtomic(path, text.toUtf8()))
        return false;
    // Desktops start only launchers that are executable.
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                                           QFile::WriteUser | QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup |
                                           QFile::ReadOther | QFile::ExeOther);
}

bool removeDesktopShortcut(const QString& name, const QString& appDir)
{
    const QString path = desktopFolder() + u'/' + desktopEntryFileName(name);
    const QFileInfo file(path);
    if (file.isSymLink() || !file.isFile() || !isOwnDesktopEntry(path))
        return false;
    // Another install of the same name may have taken the entry over: it must start this app.
    ShortcutInfo info;
    const QString prefix = QDir::fromNativeSeparators(appDir) + u'/';
    if (!readShortcut(path, &info) || !QDir::fromNativeSeparators(info.target).startsWith(prefix))
        return false;
    return QFile::remove(path);
}
