#pragma once

#include <QString>
#include <QtGlobal>

namespace ktr::platform {

// What the file system says about one entry itself: a symbolic link is described as the link, never as
// its target.
struct EntryStat
{
    bool exists = false;
    bool isLink = false;
    bool isDir = false;
    bool isRegular = false; // a plain file, not a FIFO, device, socket or link
    uint owner = 0;
    uint mode = 0;           // the permission bits (07777)
    qint64 modifiedSecs = 0; // seconds since the epoch (UTC)
};

EntryStat entryStat(const QString& path);

// True when the path (links followed) names a regular file: the only kind of entry that may be opened on
// the GUI thread, since opening a FIFO waits for a writer and a device may never answer.
bool isRegularFile(const QString& path);

// Pushes what was written to the file behind `fd` down to the disk. False (with the reason in English) when
// the system reports a failure, e.g. no space left for data it had only buffered.
bool syncFileToDisk(int fd, QString* error = nullptr);

// A folder only its owner may enter: created with mode 0700 when missing; an existing one must be a real
// folder (not a link) owned by the current user, and is narrowed to 0700. False with the reason otherwise.
bool ensurePrivateDir(const QString& path, QString* error = nullptr);

// Narrows an existing folder or file of ours to owner-only access (0700 or 0600); links are left alone.
void restrictToOwner(const QString& path);

// The folder for the per-user lock and sockets: $XDG_RUNTIME_DIR (or the private runtime folder Qt makes
// when the session has none). When neither is usable, a private folder of ours below the user's cache
// folder; never a name in a shared folder. Empty when no private folder can be had.
QString privateRuntimeDir();

// A folder made new by this call (mkdtemp) below parent, named prefix + six random characters, that only we
// may enter (mode 0700); it is checked after creation to be a real folder of ours with that mode. Empty with
// the reason when it can't be made.
QString makeFreshPrivateDir(const QString& parent, const QString& prefix, QString* error = nullptr);

// Creates path as a new file with the permission bits `mode` and writes bytes to it, flushed to the disk.
// An existing entry of that name (a file, a link, anything) is never opened or followed: the creation
// fails. NotCreated when the file could not be created; Incomplete when the write or the flush failed (the
// new file is then removed).
enum class NewFileResult { Ok, NotCreated, Incomplete };
NewFileResult writeNewFile(const QString& path, const QByteArray& bytes, uint mode, QString* error = nullptr);

} // namespace ktr::platform
