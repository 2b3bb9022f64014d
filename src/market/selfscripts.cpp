#include "market/selfscripts.h"

#include "platform/autostart.h"
#include "platform/fsentry.h"
#include "platform/launcher.h"
#include "platform/videobackend.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace selfscripts {

namespace {

QString clean(const QString& path)
{
    return QDir::cleanPath(path);
}

QString header(const char* what, int delaySeconds)
{
    QString s = QStringLiteral("#!/bin/sh\n# KestrunePanel %1\n").arg(QLatin1String(what));
    if (delaySeconds > 0)
        s += QStringLiteral("sleep %1\n").arg(delaySeconds);
    return s;
}

// Ends the panel when it is still running under that pid (a pid reused by another program is left alone).
QString endProcess(const Target& t)
{
    if (t.pid <= 0)
        return {};
    return QStringLiteral("if [ \"$(readlink /proc/%1/exe 2>/dev/null)\" = %2 ]; then kill -9 %1 2>/dev/null; fi\n")
        .arg(t.pid)
        .arg(shQuote(t.exe));
}

QString removeFiles(const QStringList& files)
{
    if (files.isEmpty())
        return {};
    QString s = QStringLiteral("rm -f --");
    for (const QString& f : files)
        s += QLatin1Char(' ') + shQuote(f);
    return s + QLatin1Char('\n');
}

// The last lines of a script: it deletes itself, then its folder when nothing else is left in it.
QString removeSelf(const QString& scriptPath)
{
    if (scriptPath.isEmpty())
        return {};
    return QStringLiteral("rm -f -- %1\nrmdir -- %2 2>/dev/null\n")
        .arg(shQuote(scriptPath), shQuote(QFileInfo(scriptPath).absolutePath()));
}

} // namespace

QString shQuote(const QString& path)
{
    QString s = path;
    s.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

QByteArray updateScript(const QString& installer, const Target& target, int delaySeconds, const QString& scriptPath)
{
    QString s = header("update", delaySeconds);
    s += endProcess(target);
    s += QStringLiteral("chmod u+x -- %1\n").arg(shQuote(installer));
    s += QStringLiteral("%1 /SILENT /SUPPRESSMSGBOXES /NORESTART /CLOSEAPPLICATIONS /FORCECLOSEAPPLICATIONS\n")
             .arg(shQuote(installer));
    s += removeSelf(scriptPath);
    return s.toUtf8();
}

QByteArray uninstallScript(const UninstallPlan& plan)
{
    QString s = header("uninstall", plan.delaySeconds);
    s += endProcess(plan.target);
    s += removeFiles(plan.programFiles);
    // rmdir removes a folder only when it is empty.
    if (!plan.programFolder.isEmpty() && !isProtectedFolder(plan.programFolder))
        s += QStringLiteral("rmdir -- %1 2>/dev/null\n").arg(shQuote(plan.programFolder));
    for (const QString& folder : plan.madeFolders) {
        if (folder != plan.programFolder && !isProtectedFolder(folder))
            s += QStringLiteral("rmdir -- %1 2>/dev/null\n").arg(shQuote(folder));
    }
    for (const QString& store : plan.installPathStores) {
        s += removeFiles({store});
        s += QStringLiteral("rmdir -- %1 2>/dev/null\n").arg(shQuote(QFileInfo(store).absolutePath()));
    }
    s += removeFiles(plan.shortcuts);
    if (!plan.dataFolder.isEmpty() && !isProtectedFolder(plan.dataFolder))
        s += QStringLiteral("rm -rf -- %1\n").arg(shQuote(plan.dataFolder));
    if (!plan.autostartEntry.isEmpty())
        s += removeFiles({plan.autostartEntry});
    s += removeFiles(plan.leftoverFiles);
    s += removeSelf(plan.scriptPath);
    // After the script's own folder, which may lie in one of them (the runtime folder of our own).
    for (const QString& folder : plan.userFolders) {
        if (!isProtectedFolder(folder))
            s += QStringLiteral("rmdir -- %1 2>/dev/null\n").arg(shQuote(folder));
    }
    return s.toUtf8();
}

QByteArray factoryResetScript(const ResetPlan& plan)
{
    QString s = header("factory reset", plan.delaySeconds);
    s += endProcess(plan.target);
    if (!isProtectedFolder(plan.dataFolder)) {
        const QString data = shQuote(plan.dataFolder);
        s += QStringLiteral("rm -rf -- %1\n").arg(data);
        s += QStringLiteral("mkdir -p -- %1\n").arg(data);
    }
    if (!plan.autostartEntry.isEmpty())
        s += removeFiles({plan.autostartEntry});
    if (!plan.restartProgram.isEmpty())
        s += QStringLiteral("setsid %1 </dev/null >/dev/null 2>&1 &\n").arg(shQuote(plan.restartProgram));
    s += removeSelf(plan.scriptPath);
    return s.toUtf8();
}

bool isProtectedFolder(const QString& path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return true;
    const QString p = clean(path);
    if (p == QLatin1String("/"))
        return true;
    const QString home = clean(QDir::homePath());
    if (home == p || home.startsWith(p + QLatin1Char('/')))
        return true;
    static const QStandardPaths::StandardLocation userFolders[] = {
        QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation, QStandardPaths::DownloadLocation,
        QStandardPaths::MusicLocation,   QStandardPaths::PicturesLocation,  QStandardPaths::MoviesLocation,
    };
    for (auto location : userFolders) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (!folder.isEmpty() && clean(folder) == p)
            return true;
    }
    return false;
}

ProgramFiles programFiles(const QString& exe, const QByteArray* markerText)
{
    ProgramFiles out;
    const QString program = clean(exe);
    const QString folder = QFileInfo(program).absolutePath();
    if (!markerText) {
        out.files << program;
        return out;
    }
    out.installed = true;
    const QString marker = folder + QLatin1Char('/') + QLatin1String(ktr::platform::kInstallMarkerName);
    QString prefix;
    const QStringList lines = QString::fromUtf8(*markerText).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("prefix=")))
            prefix = clean(line.mid(7));
    }
    // The names the install step gives its files; anything else a marker might list is not ours to delete.
    static const QStringList ourNames = {QStringLiteral("kestrune-panel"),
                                         QStringLiteral("kestrune-panel.desktop"),
                                         QStringLiteral("kestrune-panel.png"),
                                         QLatin1String(ktr::platform::kVideoModuleFileName),
                                         QLatin1String(ktr::platform::kVideoEncoderFileName),
                                         QLatin1String(ktr::platform::kInstallMarkerName)};
    out.files << program;
    for (const QString& line : lines) {
        if (!line.startsWith(QLatin1Char('/')))
            continue;
        const QString f = clean(line);
        if (prefix.isEmpty() || !f.startsWith(prefix + QLatin1Char('/')) || f.contains(QLatin1String("/../")))
            continue;
        if (!ourNames.contains(QFileInfo(f).fileName()) || out.files.contains(f))
            continue;
        out.files << f;
    }
    if (!out.files.contains(marker))
        out.files << marker;
    // The folders the install made: only ancestors of our files below the prefix, deepest first.
    for (const QString& line : lines) {
        if (!line.startsWith(QLatin1String("dir=")))
            continue;
        const QString d = clean(line.mid(4));
        if (prefix.isEmpty() || !d.startsWith(prefix + QLatin1Char('/')) || d.contains(QLatin1String("/../")) ||
            out.madeFolders.contains(d) || isProtectedFolder(d))
            continue;
        const bool holdsOurs = std::any_of(out.files.cbegin(), out.files.cend(),
                                           [&d](const QString& f) { return f.startsWith(d + QLatin1Char('/')); });
        if (holdsOurs)
            out.madeFolders << d;
    }
    std::stable_sort(out.madeFolders.begin(), out.madeFolders.end(), [](const QString& a, const QString& b) {
        return a.count(QLatin1Char('/')) > b.count(QLatin1Char('/'));
    });
    // An installed program's folder (bin/ of the prefix) is ours to remove only when the install made it: an
    // empty bin/ the user had before stays.
    if (!isProtectedFolder(folder) && out.madeFolders.contains(folder))
        out.folder = folder;
    return out;
}

QString makeScriptFolder(const QString& base)
{
    const QString parent = base.isEmpty() ? ktr::platform::privateRuntimeDir() : base;
    QString error;
    const QString folder = ktr::platform::makeFreshPrivateDir(parent, QStringLiteral("kestrune-script-"), &error);
    if (folder.isEmpty())
        qWarning().noquote() << "[selfscripts] no private folder for the script:" << error;
    return folder;
}

WriteResult writeScript(const QString& path, const QByteArray& bytes)
{
    QString error;
    switch (ktr::platform::writeNewFile(path, bytes, 0700, &error)) {
    case ktr::platform::NewFileResult::Ok:
        return WriteResult::Ok;
    case ktr::platform::NewFileResult::NotCreated:
        qWarning().noquote() << "[selfscripts] script not written:" << error;
        return WriteResult::OpenFailed;
    case ktr::platform::NewFileResult::Incomplete:
        qWarning().noquote() << "[selfscripts] script incomplete:" << error;
        return WriteResult::Incomplete;
    }
    return WriteResult::Incomplete;
}

bool startScript(const QString& path, const QString& workDir)
{
    return ktr::platform::launcher().startDetached(QStringLiteral("setsid"), {QStringLiteral("/bin/sh"), path},
                                                   workDir);
}

Target currentProcess()
{
    Target t;
    t.pid = QCoreApplication::applicationPid();
    const QString exe = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    t.exe = exe.isEmpty() ? QCoreApplication::applicationFilePath() : exe;
    return t;
}

} // namespace selfscripts
