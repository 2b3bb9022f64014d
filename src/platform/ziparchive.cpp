#include "platform/ziparchive.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringList>
#include <QTimeZone>

#include <archive.h>
#include <archive_entry.h>

#include "platform/lazyarchive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ktr::platform {
namespace {

constexpr qint64 kChunk = 256 * 1024;
// Files up to this size are read whole, checked for a change, and only then written as an entry.
constexpr qint64 kWholeReadLimit = 8 * 1024 * 1024;

QString archiveError(struct archive* a, const char* what)
{
    const char* text = a ? archive_error_string(a) : nullptr;
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        text ? QString::fromUtf8(text) : QStringLiteral("unknown"));
}

QString errnoText(const char* what, const QString& path)
{
    return QStringLiteral("%1 %2: %3").arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(errno)));
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

// ---- writer

struct ZipWriter::Impl
{
    struct archive* a = nullptr;
    int fd = -1;
    QString path;
    bool failed = false;
    // addOpenFile's whole-file buffer, reused from file to file and given back with the archive. Its pages
    // come straight from the kernel: a freed heap block of a few MB stays in the thread's malloc arena for
    // the rest of the process once an earlier large free has raised glibc's mmap threshold, and the start's
    // automatic snapshot so kept a 20,000-item layout's 7 MB for good.
    char* whole = nullptr;
    size_t wholeSize = 0;

    char* wholeBuffer(size_t n)
    {
        if (n <= wholeSize)
            return whole;
        // Growing by doubling (from 64 KiB, up to the largest file read whole) maps again only a few times.
        const size_t page = size_t(::sysconf(_SC_PAGESIZE));
        size_t want = std::max<size_t>({n, 64 * 1024, std::min<size_t>(wholeSize * 2, size_t(kWholeReadLimit) + 1)});
        want = (want + page - 1) / page * page;
        dropWhole();
        void* p = ::mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return nullptr;
        whole = static_cast<char*>(p);
        wholeSize = want;
        return whole;
    }

    void dropWhole()
    {
        if (whole)
            ::munmap(whole, wholeSize);
        whole = nullptr;
        wholeSize = 0;
    }

    void release()
    {
        if (a) {
            archive_write_free(a); // also closes the archive; the fd stays ours
            a = nullptr;
        }
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        dropWhole();
    }

    bool writeHeader(const QString& name, int type, int perm, qint64 size, qint64 secs, long nsecs, QString* error)
    {
        struct archive_entry* e = archive_entry_new();
        const QByteArray utf8 = name.toUtf8();
        archive_entry_set_pathname_utf8(e, utf8.constData());
        archive_entry_set_filetype(e, type);
        archive_entry_set_perm(e, perm);
        archive_entry_set_size(e, size);
        archive_entry_set_mtime(e, secs, nsecs);
        const int r = archive_write_header(a, e);
        archive_entry_free(e);
        if (r < ARCHIVE_OK) {
            failed = true;
            setError(error, archiveError(a, "zip header"));
            return false;
        }
        return true;
    }
};

ZipWriter::ZipWriter() : d(std::make_unique<Impl>())
{
}

ZipWriter::~ZipWriter()
{
    d->release();
}

bool ZipWriter::open(const QString& path, QString* error)
{
    d->release();
    d->failed = false;
    d->path = path;
    if (!archiveLibrary().available()) {
        setError(error, archiveLibrary().errorString());
        return false;
    }
    // Archives hold copies of private files (tokens, ids): only the owner may read them, wherever they land.
    d->fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (d->fd < 0) {
        setError(error, errnoText("cannot create", path));
        return false;
    }
    d->a = archive_write_new();
    if (!d->a || archive_write_set_format_zip(d->a) != ARCHIVE_OK ||
        archive_write_set_options(d->a, "zip:compression=deflate,zip:compression-level=6,zip:hdrcharset=UTF-8") !=
            ARCHIVE_OK ||
        archive_write_set_bytes_per_block(d->a, int(kChunk)) != ARCHIVE_OK ||
        archive_write_set_bytes_in_last_block(d->a, 1) != ARCHIVE_OK ||
        archive_write_open_fd(d->a, d->fd) != ARCHIVE_OK) {
        setError(error, archiveError(d->a, "zip open"));
        d->release();
        return false;
    }
    return true;
}

bool ZipWriter::addFile(const QString& entryName, const QString& sourcePath, const std::function<bool(qint64)>& onChunk,
                        QString* error, bool stored)
{
    if (!d->a || d->failed) {
        setError(error, QStringLiteral("zip writer not open"));
        return false;
    }
    const int in = ::open(QFile::encodeName(sourcePath).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        setError(error, errnoText("cannot read", sourcePath));
        return false;
    }
    const bool ok = addOpenFile(entryName, in, sourcePath, onChunk, error, stored, nullptr);
    ::close(in);
    return ok;
}

namespace {

bool sameVersion(const struct stat& a, const struct stat& b)
{
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ino == b.st_ino;
}

// Reads the whole file from its start: the byte count, or -1 with errno set.
qint64 readWhole(int fd, char* out, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out + done, size_t(size - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

} // namespace

bool ZipWriter::addOpenFile(const QString& entryName, int fd, const QString& sourcePath,
                            const std::function<bool(qint64)>& onChunk, QString* error, bool stored, bool* changed)
{
    if (changed)
        *changed = false;
    if (!d->a || d->failed) {
        setError(error, QStringLiteral("zip writer not open"));
        return false;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        setError(error, QStringLiteral("not a regular file: %1").arg(sourcePath));
        return false;
    }
    const auto header = [&](const struct stat& s, qint64 size) {
        if (stored)
            archive_write_zip_set_compression_store(d->a);
        const bool headed = d->writeHeader(entryName, AE_IFREG, int(s.st_mode & 0777), size, qint64(s.st_mtim.tv_sec),
                                           long(s.st_mtim.tv_nsec), error);
        if (stored)
            archive_write_zip_set_compression_deflate(d->a);
        return headed;
    };
    const auto writeData = [&](const char* data, qint64 n) {
        if (archive_write_data(d->a, data, size_t(n)) != n) {
            d->failed = true;
            setError(error, archiveError(d->a, "zip write"));
            return false;
        }
        return true;
    };
    const auto finishEntry = [&]() {
        if (archive_write_finish_entry(d->a) != ARCHIVE_OK) {
            d->failed = true;
            setError(error, archiveError(d->a, "zip write"));
            return false;
        }
        return true;
    };

    // One chunk into the entry, then the caller's progress; a caller that says stop fails the archive quietly.
    const auto writeChunk = [&](const char* bytes, qint64 n, qint64& done) {
        if (!writeData(bytes, n))
            return false;
        done += n;
        if (onChunk && !onChunk(done)) {
            d->failed = true;
            setError(error, QString());
            return false;
        }
        return true;
    };

    if (qint64(st.st_size) <= kWholeReadLimit) {
        // Small files are read whole before their entry starts: a version that changed while it was read
        // (same size and time before and after, or it is read again) never reaches the archive half-way.
        const char* data = nullptr;
        qint64 size = 0;
        struct stat before = st;
        bool settled = false;
        for (int attempt = 0; attempt < 3 && !settled; ++attempt) {
            if (attempt > 0 && ::fstat(fd, &before) != 0)
                break;
            // One byte more than stated shows a file that grew meanwhile.
            const qint64 want = qint64(before.st_size) + 1;
            char* buffer = d->wholeBuffer(size_t(want));
            if (!buffer) {
                setError(error, errnoText("cannot read", sourcePath));
                return false;
            }
            size = readWhole(fd, buffer, want);
            if (size < 0) {
                setError(error, errnoText("cannot read", sourcePath));
                return false;
            }
            data = buffer;
            struct stat after
            {
            };
            settled = ::fstat(fd, &after) == 0 && sameVersion(before, after) && size == qint64(before.st_size);
            st = before;
        }
        if (!settled && changed)
            *changed = true;
        if (!header(st, size))
            return false;
        for (qint64 done = 0; done < size;) {
            const qint64 n = std::min<qint64>(kChunk, size - done);
            if (!writeChunk(data + done, n, done))
                return false;
        }
        return finishEntry();
    }

    if (!header(st, qint64(st.st_size)))
        return false;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    QByteArray buffer(int(kChunk), Qt::Uninitialized);
    qint64 done = 0;
    const qint64 size = qint64(st.st_size);
    while (done < size) {
        const ssize_t n = ::pread(fd, buffer.data(), size_t(std::min<qint64>(kChunk, size - done)), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            d->failed = true;
            setError(error, n < 0 ? errnoText("cannot read", sourcePath)
                                  : QStringLiteral("file shrank while being read: %1").arg(sourcePath));
            return false;
        }
        if (!writeChunk(buffer.constData(), n, done))
            return false;
    }
    struct stat after
    {
    };
    if (changed && (::fstat(fd, &after) != 0 || !sameVersion(st, after)))
        *changed = true;
    return finishEntry();
}

bool ZipWriter::addData(const QString& entryName, const QByteArray& data, const QDateTime& modified, QString* error)
{
    if (!d->a || d->failed) {
        setError(error, QStringLiteral("zip writer not open"));
        return false;
    }
    const qint64 ms = modified.isValid() ? modified.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
    if (!d->writeHeader(entryName, AE_IFREG, 0644, data.size(), ms / 1000, long(ms % 1000) * 1000000L, error))
        return false;
    if (!data.isEmpty() && archive_write_data(d->a, data.constData(), size_t(data.size())) != data.size()) {
        d->failed = true;
        setError(error, archiveError(d->a, "zip write"));
        return false;
    }
    return archive_write_finish_entry(d->a) == ARCHIVE_OK;
}

bool ZipWriter::addDirectory(const QString& entryName, const QDateTime& modified, QString* error)
{
    if (!d->a || d->failed) {
        setError(error, QStringLiteral("zip writer not open"));
        return false;
    }
    QString name = entryName;
    if (!name.endsWith(QLatin1Char('/')))
        name += QLatin1Char('/');
    const qint64 ms = modified.isValid() ? modified.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
    return d->writeHeader(name, AE_IFDIR, 0755, 0, ms / 1000, long(ms % 1000) * 1000000L, error);
}

bool ZipWriter::finish(QString* error)
{
    if (!d->a || d->failed) {
        setError(error, QStringLiteral("zip writer not open"));
        d->release();
        return false;
    }
    if (archive_write_close(d->a) != ARCHIVE_OK) {
        setError(error, archiveError(d->a, "zip close"));
        d->release();
        return false;
    }
    archive_write_free(d->a);
    d->a = nullptr;
    d->dropWhole();
    const bool synced = ::fsync(d->fd) == 0;
    if (!synced)
        setError(error, errnoText("cannot flush", d->path));
    const bool closed = ::close(d->fd) == 0;
    d->fd = -1;
    if (synced && !closed)
        setError(error, errnoText("cannot close", d->path));
    return synced && closed;
}

// ---- reader

namespace {

quint16 u16(const uchar* p)
{
    return quint16(p[0] | (p[1] << 8));
}

quint32 u32(const uchar* p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

quint64 u64(const uchar* p)
{
    return quint64(u32(p)) | (quint64(u32(p + 4)) << 32);
}

struct CentralEntry
{
    ZipEntryInfo info;
    quint64 localOffset = 0;
};

QDateTime dosTime(quint16 time, quint16 date)
{
    const QDate d(1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F);
    const QTime t(time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2);
    if (!d.isValid() || !t.isValid())
        return {};
    return QDateTime(d, t);
}

// Reads the central directory: every entry's name bytes, sizes, type and time, straight from the file, so
// what a caller checks does not depend on how the data reader maps names or types.
bool readCentralDirectory(QFile& f, QList<CentralEntry>& out, QString* error)
{
    const qint64 fileSize = f.size();
    if (fileSize < 22) {
        setError(error, QStringLiteral("not a zip file"));
        return false;
    }
    const qint64 tailSize = std::min<qint64>(fileSize, 22 + 65535);
    if (!f.seek(fileSize - tailSize)) {
        setError(error, QStringLiteral("cannot read the zip file"));
        return false;
    }
    const QByteArray tail = f.read(tailSize);
    const auto* t = reinterpret_cast<const uchar*>(tail.constData());
    qint64 eocd = -1;
    for (qint64 i = tail.size() - 22; i >= 0; --i) {
        if (u32(t + i) == 0x06054b50u) {
            eocd = i;
            break;
        }
    }
    if (eocd < 0) {
        setError(error, QStringLiteral("not a zip file"));
        return false;
    }
    quint64 count = u16(t + eocd + 10);
    quint64 cdSize = u32(t + eocd + 12);
    quint64 cdOffset = u32(t + eocd + 16);
    if (count == 0xFFFF || cdSize == 0xFFFFFFFFu || cdOffset == 0xFFFFFFFFu) {
        const qint64 locator = fileSize - tailSize + eocd - 20;
        uchar loc[20];
        if (locator < 0 || !f.seek(locator) || f.read(reinterpret_cast<char*>(loc), 20) != 20 ||
            u32(loc) != 0x07064b50u) {
            setError(error, QStringLiteral("damaged zip64 directory"));
            return false;
        }
        uchar rec[56];
        if (!f.seek(qint64(u64(loc + 8))) || f.read(reinterpret_cast<char*>(rec), 56) != 56 ||
            u32(rec) != 0x06064b50u) {
            setError(error, QStringLiteral("damaged zip64 directory"));
            return false;
        }
        count = u64(rec + 32);
        cdSize = u64(rec + 40);
        cdOffset = u64(rec + 48);
    }
    if (cdOffset > quint64(fileSize) || cdSize > quint64(fileSize) - cdOffset || cdSize > (quint64(1) << 31)) {
        setError(error, QStringLiteral("damaged zip directory"));
        return false;
    }
    if (!f.seek(qint64(cdOffset))) {
        setError(error, QStringLiteral("damaged zip directory"));
        return false;
    }
    const QByteArray cd = f.read(qint64(cdSize));
    const auto* p = reinterpret_cast<const uchar*>(cd.constData());
    qint64 pos = 0;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    for (quint64 n = 0; n < count; ++n) {
        if (pos + 46 > cd.size() || u32(p + pos) != 0x02014b50u) {
            setError(error, QStringLiteral("damaged zip directory"));
            return false;
        }
        const uchar* h = p + pos;
        const quint16 madeBy = u16(h + 4);
        const quint16 flags = u16(h + 8);
        const quint16 nameLen = u16(h + 28);
        const quint16 extraLen = u16(h + 30);
        const quint16 commentLen = u16(h + 32);
        const quint32 external = u32(h + 38);
        if (pos + 46 + nameLen + extraLen + commentLen > cd.size()) {
            setError(error, QStringLiteral("damaged zip directory"));
            return false;
        }
        CentralEntry ce;
        ZipEntryInfo& info = ce.info;
        quint64 csize = u32(h + 20);
        quint64 usize = u32(h + 24);
        quint64 offset = u32(h + 42);
        info.rawName = QByteArray(reinterpret_cast<const char*>(h + 46), nameLen);
        info.name = utf8.decode(info.rawName);
        info.nameIsUtf8 = !utf8.hasError();
        utf8.resetState();
        info.encrypted = (flags & 1) != 0;
        info.modified = dosTime(u16(h + 12), u16(h + 14));
        const uchar* x = h + 46 + nameLen;
        const uchar* xEnd = x + extraLen;
        while (x + 4 <= xEnd) {
            const quint16 id = u16(x);
            const quint16 len = u16(x + 2);
            const uchar* v = x + 4;
            if (v + len > xEnd)
                break;
            if (id == 0x0001) {
                const uchar* q = v;
                if (usize == 0xFFFFFFFFu && q + 8 <= v + len) {
                    usize = u64(q);
                    q += 8;
                }
                if (csize == 0xFFFFFFFFu && q + 8 <= v + len) {
                    csize = u64(q);
                    q += 8;
                }
                if (offset == 0xFFFFFFFFu && q + 8 <= v + len)
                    offset = u64(q);
            } else if (id == 0x5455 && len >= 5 && (v[0] & 1)) {
                info.modified = QDateTime::fromSecsSinceEpoch(qint64(qint32(u32(v + 1))));
            }
            x = v + len;
        }
        info.size = qint64(std::min<quint64>(usize, quint64(1) << 62));
        info.compressedSize = qint64(std::min<quint64>(csize, quint64(1) << 62));
        ce.localOffset = offset;
        const bool slash = info.rawName.endsWith('/');
        info.type = slash || (external & 0x10) ? ZipEntryInfo::Type::Directory : ZipEntryInfo::Type::File;
        if ((madeBy >> 8) == 3) {
            const quint32 mode = external >> 16;
            if (mode != 0)
                info.permissions = int(mode & 0777);
            switch (mode & S_IFMT) {
            case S_IFLNK:
                info.type = ZipEntryInfo::Type::SymLink;
                break;
            case S_IFCHR:
            case S_IFBLK:
                info.type = ZipEntryInfo::Type::Device;
                break;
            case S_IFIFO:
            case S_IFSOCK:
                info.type = ZipEntryInfo::Type::Other;
                break;
            case S_IFDIR:
                info.type = ZipEntryInfo::Type::Directory;
                break;
            default:
                break;
            }
        }
        out.append(ce);
        pos += 46 + nameLen + extraLen + commentLen;
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const CentralEntry& a, const CentralEntry& b) { return a.localOffset < b.localOffset; });
    return true;
}

} // namespace

struct ZipReader::Impl
{
    struct archive* a = nullptr;
    QList<ZipEntryInfo> entries;
    qsizetype index = -1;
    qint64 readSoFar = 0;
    bool atEnd = false;

    void release()
    {
        if (a) {
            archive_read_free(a);
            a = nullptr;
        }
    }
};

ZipReader::ZipReader() : d(std::make_unique<Impl>())
{
}

ZipReader::~ZipReader()
{
    d->release();
}

bool ZipReader::open(const QString& path, QString* error)
{
    d->release();
    d->entries.clear();
    d->index = -1;
    d->atEnd = false;
    if (!archiveLibrary().available()) {
        setError(error, archiveLibrary().errorString());
        return false;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("cannot open %1").arg(path));
        return false;
    }
    QList<CentralEntry> central;
    if (!readCentralDirectory(f, central, error))
        return false;
    f.close();
    for (const CentralEntry& c : central)
        d->entries.append(c.info);
    if (d->entries.isEmpty()) {
        // Nothing to stream (and the data reader does not recognise an archive without entries).
        d->atEnd = true;
        return true;
    }
    d->a = archive_read_new();
    archive_read_support_format_zip_seekable(d->a);
    if (archive_read_open_filename(d->a, QFile::encodeName(path).constData(), size_t(kChunk)) != ARCHIVE_OK) {
        setError(error, archiveError(d->a, "zip open"));
        d->release();
        return false;
    }
    return true;
}

const QList<ZipEntryInfo>& ZipReader::entries() const
{
    return d->entries;
}

bool ZipReader::next(ZipEntryInfo* entry, QString* error)
{
    setError(error, QString());
    if (!d->a || d->atEnd)
        return false;
    struct archive_entry* e = nullptr;
    const int r = archive_read_next_header(d->a, &e);
    ++d->index;
    d->readSoFar = 0;
    if (r == ARCHIVE_EOF) {
        d->atEnd = true;
        if (d->index != d->entries.size())
            setError(error, QStringLiteral("zip entries do not match its directory"));
        return false;
    }
    if (r < ARCHIVE_WARN) {
        d->atEnd = true;
        setError(error, archiveError(d->a, "zip read"));
        return false;
    }
    if (d->index >= d->entries.size()) {
        d->atEnd = true;
        setError(error, QStringLiteral("zip entries do not match its directory"));
        return false;
    }
    ZipEntryInfo& info = d->entries[d->index];
    // The data reader must be at the entry the directory names; anything else is a damaged or crafted file.
    const char* pathUtf8 = archive_entry_pathname_utf8(e);
    const bool sameName = !info.nameIsUtf8 || (pathUtf8 && QString::fromUtf8(pathUtf8) == info.name);
    const bool sameSize =
        !archive_entry_size_is_set(e) || archive_entry_size(e) == info.size || info.type != ZipEntryInfo::Type::File;
    if (!sameName || !sameSize) {
        d->atEnd = true;
        setError(error, QStringLiteral("zip entries do not match its directory"));
        return false;
    }
    if (archive_entry_hardlink(e))
        info.type = ZipEntryInfo::Type::HardLink;
    if (archive_entry_is_encrypted(e))
        info.encrypted = true;
    if (entry)
        *entry = info;
    return true;
}

qint64 ZipReader::read(char* buffer, qint64 maxSize, QString* error)
{
    if (!d->a || d->index < 0 || d->index >= d->entries.size()) {
        setError(error, QStringLiteral("no zip entry"));
        return -1;
    }
    const la_ssize_t n = archive_read_data(d->a, buffer, size_t(maxSize));
    if (n < 0) {
        setError(error, archiveError(d->a, "zip read"));
        return -1;
    }
    d->readSoFar += n;
    if (d->readSoFar > d->entries.at(d->index).size) {
        setError(error, QStringLiteral("zip entry larger than stated"));
        return -1;
    }
    return n;
}

bool zipEntryRelativePath(const ZipEntryInfo& entry, QString* relative)
{
    if (relative)
        relative->clear();
    if (!entry.nameIsUtf8)
        return false;
    QString raw = entry.name;
    raw.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (raw.startsWith(QLatin1Char('/')) || raw.contains(QLatin1Char(':')) || raw.contains(QChar(0)))
        return false;
    QStringList parts;
    for (const QString& seg : raw.split(QLatin1Char('/'))) {
        if (seg == QLatin1String(".."))
            return false;
        if (!seg.isEmpty() && seg != QLatin1String("."))
            parts << seg;
    }
    if (relative)
        *relative = parts.join(QLatin1Char('/'));
    return true;
}

} // namespace ktr::platform
