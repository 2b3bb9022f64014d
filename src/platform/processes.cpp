#include "platform/processes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace ktr::platform {
namespace {

QByteArray readProcFile(const QString& path, qint64 cap)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    return file.read(cap);
}

QString canonical(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? path : c;
}

// Whether a process whose program is exe and whose first argument is argv0 is the interpreter that a "#!"
// line (split into words) names. The kernel starts a script as "interpreter [its one argument] script", so
// argv0 is the interpreter as written there; "#!/usr/bin/env NAME" then runs NAME found on PATH with argv0
// NAME. NAME is often a link to a versioned program (python3 -> python3.11), so the resolved program only
// has to agree with the link's target, its own name, or the name the process was started under.
bool interpreterMatches(const QList<QByteArray>& words, const QString& argv0, const QString& exe)
{
    QString name = QFile::decodeName(words[0]);
    bool viaEnv = false;
    if (QFileInfo(name).fileName() == QLatin1String("env")) {
        name.clear();
        for (qsizetype i = 1; i < words.size(); ++i) {
            if (!words[i].startsWith('-')) {
                name = QFile::decodeName(words[i]);
                break;
            }
        }
        if (name.isEmpty())
            return false;
        viaEnv = true;
    }
    if (argv0 == name || QFileInfo(exe).fileName() == QFileInfo(name).fileName())
        return true;
    const QString program = viaEnv && !name.contains(u'/') ? QStandardPaths::findExecutable(name) : name;
    return !program.isEmpty() && canonical(program) == exe;
}

// The script a process runs when its executable is the interpreter named on the script's "#!" line: the
// first argument that is not an option names it (relative to the process's working folder when not
// absolute, as for an app started in its own folder). An argument that is not such a script, or a
// program that is not the script's interpreter (an editor or a viewer of it), gives nothing.
QString scriptOf(const QString& procDir, const QString& exe)
{
    const QList<QByteArray> args = readProcFile(procDir + QStringLiteral("/cmdline"), 64 * 1024).split('\0');
    if (args.size() < 2 || args[0].isEmpty())
        return {};
    // interpreter, its one "#!" argument, env's options for NAME: the script comes within the first few.
    const qsizetype last = std::min<qsizetype>(args.size(), 6);
    for (qsizetype i = 1; i < last; ++i) {
        if (args[i].isEmpty())
            return {};
        if (args[i].startsWith('-'))
            continue;
        QString script = QFile::decodeName(args[i]);
        if (!QDir::isAbsolutePath(script)) {
            const QString cwd = QFileInfo(procDir + QStringLiteral("/cwd")).symLinkTarget();
            if (cwd.isEmpty())
                return {};
            script = cwd + u'/' + script;
        }
        QFile file(script);
        if (!QFileInfo(script).isFile() || !file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray first = file.readLine(512);
        if (!first.startsWith("#!"))
            return {};
        const QList<QByteArray> words = first.mid(2).simplified().split(' ');
        if (words.isEmpty() || words[0].isEmpty())
            return {};
        return interpreterMatches(words, QFile::decodeName(args[0]), exe) ? QDir::cleanPath(script) : QString();
    }
    return {};
}

} // namespace

bool readProcessEntry(qint64 pid, ProcessEntry* out)
{
    const QString procDir = QStringLiteral("/proc/%1").arg(pid);
    const QByteArray stat = readProcFile(procDir + QStringLiteral("/stat"), 4096);
    // "pid (comm) state ppid ..." where comm may hold spaces and parentheses: fields follow the last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // fields[0] is field 3 (state); the parent id is field 4, the start time field 22.
    if (fields.size() < 20)
        return false;
    bool okParent = false;
    bool okStart = false;
    ProcessEntry e;
    e.pid = pid;
    e.parentPid = fields[1].toLongLong(&okParent);
    e.startTicks = fields[19].toULongLong(&okStart);
    if (!okParent || !okStart)
        return false;
    struct stat owner
    {
    };
    if (::stat(QFile::encodeName(procDir).constData(), &owner) == 0)
        e.owner = uint(owner.st_uid);
    const QByteArray cmdline = readProcFile(procDir + QStringLiteral("/cmdline"), 64 * 1024);
    if (!cmdline.isEmpty()) {
        QList<QByteArray> args = cmdline.split('\0');
        if (args.size() > 1 && args.last().isEmpty())
            args.removeLast(); // the text ends with a NUL
        for (const QByteArray& a : args)
            e.arguments.append(QFile::decodeName(a));
    }
    e.workingDir = QFileInfo(procDir + QStringLiteral("/cwd")).symLinkTarget();
    QString exe = QFileInfo(procDir + QStringLiteral("/exe")).symLinkTarget();
    if (exe.endsWith(QLatin1String(" (deleted)")))
        exe.chop(10);
    if (!exe.isEmpty()) {
        const QString script = scriptOf(procDir, exe);
        e.imagePath = script.isEmpty() ? exe : script;
    }
    *out = e;
    return true;
}

bool snapshotProcesses(QList<ProcessEntry>* out)
{
    out->clear();
    QDir proc(QStringLiteral("/proc"));
    if (!proc.exists())
        return false;
    QList<qint64> pids;
    const QStringList names = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (ok && pid > 0)
            pids.append(pid);
    }
    if (pids.isEmpty())
        return false;
    std::sort(pids.begin(), pids.end());
    for (const qint64 pid : pids) {
        ProcessEntry e;
        if (readProcessEntry(pid, &e))
            out->append(e);
    }
    return true;
}

bool killProcess(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(pid_t(pid), SIGKILL) == 0;
}

qint64 currentProcessId()
{
    return qint64(::getpid());
}

bool isProcessAlive(qint64 pid)
{
    if (pid <= 0 || pid > 0x7FFFFFFF)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace ktr::platform
