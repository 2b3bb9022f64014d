#include "model/itemlaunch.h"

#include "model/shortcutfile.h"
#include "platform/launcher.h"
#include "platform/shellfolders.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

LaunchCommand program(const QString& path, QStringList arguments, const QString& workDir, bool runAsAdmin)
{
    LaunchCommand c;
    c.kind = LaunchCommand::Kind::Program;
    c.workDir = workDir;
    if (runAsAdmin) {
        c.program = QStringLiteral("pkexec");
        arguments.prepend(path);
    } else {
        c.program = path;
    }
    c.arguments = arguments;
    return c;
}

LaunchCommand open(const QUrl& url)
{
    LaunchCommand c;
    c.kind = LaunchCommand::Kind::Open;
    c.url = url;
    return c;
}

} // namespace

LaunchCommand launchCommandFor(const QString& target, const QString& workDir, const QString& args, bool runAsAdmin)
{
    if (target.startsWith(QLatin1String("::"))) {
        const ktr::platform::ShellFolder* folder = ktr::platform::findShellFolder(target);
        if (!folder)
            return {};
        const ktr::platform::ShellTarget t = ktr::platform::shellFolderTarget(*folder);
        switch (t.kind) {
        case ktr::platform::ShellTarget::Kind::Url:
            return open(QUrl(t.value));
        case ktr::platform::ShellTarget::Kind::Folder:
            return open(QUrl::fromLocalFile(t.value));
        case ktr::platform::ShellTarget::Kind::Program:
            return program(t.value, t.arguments, QString(), false);
        case ktr::platform::ShellTarget::Kind::None:
            break;
        }
        return {};
    }

    const QFileInfo info(target);
    const QStringList extra = QProcess::splitCommand(args);
    if (info.isFile() && info.suffix().compare(QLatin1String("desktop"), Qt::CaseInsensitive) == 0) {
        // %c names the entry as the panel shows it, in the panel's language.
        DesktopEntryLaunch entry;
        if (desktopEntryLaunch(target, desktopEntryLocale(), &entry)) {
            return program(entry.program, entry.arguments + extra, workDir.isEmpty() ? entry.workingDir : workDir,
                           runAsAdmin || entry.runAsAdmin);
        }
        return open(QUrl::fromLocalFile(target));
    }
    if (ktr::platform::isNativeExecutable(target))
        return program(target, extra, workDir, runAsAdmin);
    return open(QUrl::fromLocalFile(target));
}

bool elevationToolMissing(const LaunchCommand& command)
{
    return command.kind == LaunchCommand::Kind::Program && command.program == QLatin1String("pkexec") &&
           QStandardPaths::findExecutable(command.program).isEmpty();
}

bool runLaunchCommand(const LaunchCommand& command, ktr::platform::Launcher& launcher)
{
    switch (command.kind) {
    case LaunchCommand::Kind::Program:
        return launcher.startDetached(command.program, command.arguments, command.workDir);
    case LaunchCommand::Kind::Open:
        return launcher.openUrl(command.url);
    case LaunchCommand::Kind::None:
        break;
    }
    return false;
}
