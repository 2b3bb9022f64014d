#pragma once

#include <QByteArray>
#include <QString>

namespace ktr {

// The one way a data file is written: whole, through QSaveFile (a temporary file beside the target,
// renamed over it on commit). The parent folder is created when missing. Every write, the flush and
// the sync to disk are checked before the commit; a new file is readable by its owner only. When the
// file can't be opened, any write, the flush, the sync or the commit fails, the write is abandoned,
// the previous file stays untouched, false is returned and `error` (when given) holds the reason
// in English for the log; callers show their own message.
bool saveFileAtomic(const QString& path, const QByteArray& data, QString* error = nullptr);

// Outcome of reading a data file.
enum class ReadStatus {
    Ok,       // the whole file is in `data`
    Missing,  // nothing exists at the path
    NotAFile, // something other than a regular file (a folder, a device) lies there
    TooLarge, // larger than the cap; refused before reading
    Failed,   // exists but could not be opened or read
};

// Reads a whole file of at most `maxSize` bytes. Anything larger is refused without being read.
// `data` is emptied unless the result is Ok; `error` (when given) holds the reason in English.
ReadStatus readFileCapped(const QString& path, qint64 maxSize, QByteArray* data, QString* error = nullptr);

} // namespace ktr
