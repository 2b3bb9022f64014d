#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace ktr::platform {

// One running process as a snapshot of /proc sees it.
struct ProcessEntry
{
    qint64 pid = 0;
    qint64 parentPid = 0;
    // Clock ticks after boot at which the process started (field 22 of /proc/PID/stat): a parent id is
    // only that process's parent when the parent started no later than the child, since ids are reused.
    quint64 startTicks = 0;
    // The program file: the executable (/proc/PID/exe), or the script the kernel started through its
    // "#!" line (an interpreter whose first argument is a script naming that interpreter). Empty when it
    // can't be read (another user's process, a kernel thread).
    QString imagePath;
    // The user the process runs as (the owner of /proc/PID); kUnknownOwner when it can't be read.
    static constexpr uint kUnknownOwner = ~0u;
    uint owner = kUnknownOwner;
    // Its arguments as it was started (argv, the program's own name first) and its working folder (empty when
    // they can't be read: another user's process, a kernel thread).
    QStringList arguments;
    QString workingDir;
};

// The processes running now, in ascending id order. False when /proc can't be listed.
bool snapshotProcesses(QList<ProcessEntry>* out);

// The entry of one process; false when it is gone or /proc/PID/stat can't be parsed.
bool readProcessEntry(qint64 pid, ProcessEntry* out);

// Ends the process at once (SIGKILL). False when it could not be signalled.
bool killProcess(qint64 pid);

qint64 currentProcessId();

// True when a process with the id exists (kill(pid, 0) succeeds, or is refused only for permission).
bool isProcessAlive(qint64 pid);

} // namespace ktr::platform
