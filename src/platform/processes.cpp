#include "platform/processes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
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

// The script a process runs when its executable is the interpreter named on the script's "#!" line.
// argv[1] names the script (relative to the process's working folder when not absolute).
QString scriptOf(const QString& procDir, const QString& exe)
{
    const QList<QByteArray> args = readProcFile(procDir + QStringLiteral("/cmdline"), 64 * 1024).split('\0');
    if (args.size() < 2 || args[1].isEmpty() || args[1].startsWith('-'))
        return {};
    QString script = QFile::decodeName(args[1]);
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
    const QString interpreter = QFile::decodeName(words[0]);
    bool matches = canonical(interpreter) == exe;
    if (!matches && QFileInfo(interpreter).fileName() == QLatin1String("env")) {
        // "#!/usr/bin/env NAME": the first word that is not an option names the interpreter.
        for (qsizetype i = 1; i < words.size() && !matches; ++i) {
            if (words[i].startsWith('-'))
                continue;
            matches = QFileInfo(exe).fileName() == QFile::decodeName(words[i]);
            break;
        }
    }
    return matches ? QDir::cleanPath(script) : QString();
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
