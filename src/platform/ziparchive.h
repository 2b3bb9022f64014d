#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace ktr::platform {

// The program's one zip layer. Writing: entries with UTF-8 names (the zip's UTF-8 flag set) and the files'
// modification times, deflated. Reading: the entries with what the archive says about them, checked
// against its central directory, and their data as a stream. Nothing here writes to the disk on its own
// behalf except the archive a writer is given: extraction is the caller's, so every caller decides itself
// which names, types and sizes it accepts.

struct ZipEntryInfo
{
    enum class Type { File, Directory, SymLink, HardLink, Device, Other };

    QString name;           // the stored name decoded as UTF-8 ("/" separators, as stored)
    QByteArray rawName;     // the stored bytes of the name
    bool nameIsUtf8 = true; // rawName is valid UTF-8
    Type type = Type::File;
    qint64 size = 0;           // uncompressed size as the central directory states it
    qint64 compressedSize = 0; // compressed size as the central directory states it
    QDateTime modified;        // local time; invalid when the archive holds none
    int permissions = -1;      // Unix permission bits (0777) when a Unix zip stored them, else -1
    bool encrypted = false;
};

// The stored name of an entry as a relative path: "\\" counts as "/", empty and "." parts are dropped.
// False when the name is not UTF-8, is rooted, holds a colon (drive or stream) or a NUL, or has a ".."
// part; the relative path may be empty (a name of nothing) when true is returned. The one check of entry
// names: the market installer and the snapshot restore both go through it, each deciding on its own what a
// name of nothing may be (a folder entry "./" in a package; never anything in a snapshot).
bool zipEntryRelativePath(const ZipEntryInfo& entry, QString* relative);

// Writes a new zip file. open() refuses an existing path; the caller removes the file after a failure.
class ZipWriter
{
public:
    ZipWriter();
    ~ZipWriter(); // abandons an unfinished archive (the file stays for the caller to remove)
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // The archive is created readable by its owner only (0600).
    bool open(const QString& path, QString* error);
    // Adds the regular file at sourcePath as entryName, with its size and modification time. onChunk is
    // called after each chunk with the bytes of this file written so far; returning false abandons the
    // archive (the call returns false with an empty error). A link or anything but a regular file at
    // sourcePath is refused.
    // stored: written without compression (for data whose deflated form would look like a zip bomb).
    bool addFile(const QString& entryName, const QString& sourcePath, const std::function<bool(qint64)>& onChunk,
                 QString* error, bool stored = false);
    // Adds the regular file open at fd (read from its start; the caller keeps and closes fd). A file up to
    // 8 MiB is read whole and read again when its size or time changed meanwhile; *changed (when given) is
    // set when it still changed after three reads, or when a larger file changed while it was streamed:
    // the entry then holds what was read.
    bool addOpenFile(const QString& entryName, int fd, const QString& sourcePath,
                     const std::function<bool(qint64)>& onChunk, QString* error, bool stored, bool* changed);
    bool addData(const QString& entryName, const QByteArray& data, const QDateTime& modified, QString* error);
    bool addDirectory(const QString& entryName, const QDateTime& modified, QString* error);
    // Writes the central directory, flushes the file to the disk (fsync) and closes it.
    bool finish(QString* error);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Reads a zip file entry by entry, in the order of the entries' data in the file.
class ZipReader
{
public:
    ZipReader();
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Opens the archive and reads its central directory; false when it is not a readable zip.
    bool open(const QString& path, QString* error);
    // Every entry of the central directory, in the order next() gives them.
    const QList<ZipEntryInfo>& entries() const;
    // Moves to the next entry; false at the end (error empty) or on a damaged archive (error set).
    bool next(ZipEntryInfo* entry, QString* error);
    // Reads data of the current entry: the byte count, 0 at its end, -1 on error (error set). More data
    // than the entry's stated size is an error.
    qint64 read(char* buffer, qint64 maxSize, QString* error);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace ktr::platform
