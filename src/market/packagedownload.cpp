// The package download of MarketCatalogue: cache first, else "/api/download.php" with resume, size caps
// and the SHA-256 check on the thread pool.
#include "market/marketcatalogue.h"

#include "market/marketfiles.h"
#include "market/packagecache.h"
#include "platform/filehash.h"
#include "ui/jsonutil.h"
#include "ui/lang.h"
#include "ui/servicehost.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>
#include <QUrlQuery>
#include <QtConcurrent/QtConcurrentRun>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace {
// The reply holds at most this much unread (the connection waits meanwhile), and one turn of the event
// loop writes at most for the budget: a fast server never holds the GUI thread.
constexpr qint64 kReadBuffer = 4 << 20;
constexpr int kSliceBytes = 256 << 10;
constexpr int kSliceBudgetMs = 4;
} // namespace

// The SHA-256 of a download, computed on a pool thread from the slices as they are written, so the check
// at the end needs no second pass over the file. The pool thread waits on the queue meanwhile; dropping
// the stream only tells it to stop (it shares the queue, nobody waits for it).
class StreamHash
{
public:
    static constexpr qint64 kMaxQueued = 64 << 20; // beyond this the hash falls behind: read the file after

    StreamHash(const QString& path, qint64 prefix) : m_state(std::make_shared<State>())
    {
        m_future = QtConcurrent::run([state = m_state, path, prefix] {
            ktr::platform::Sha256Stream hash;
            if (prefix > 0)
                hash.addFilePrefix(path, prefix);
            for (;;) {
                std::unique_lock lock(state->mutex);
                state->wake.wait(lock, [&] { return !state->queue.empty() || state->closed; });
                if (state->abandoned)
                    return QByteArray();
                if (state->queue.empty())
                    break;
                const QByteArray slice = std::move(state->queue.front());
                state->queue.pop_front();
                state->queued -= slice.size();
                lock.unlock();
                hash.addData(slice.constData(), slice.size());
            }
            return hash.result();
        });
    }
    ~StreamHash() { finish(true); }
    // False when the queue is too long: the caller drops the stream.
    bool push(const QByteArray& slice)
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->queued + slice.size() > kMaxQueued)
            return false;
        m_state->queue.push_back(slice);
        m_state->queued += slice.size();
        m_state->wake.notify_one();
        return true;
    }
    void finish(bool abandon)
    {
        std::lock_guard lock(m_state->mutex);
        m_state->closed = true;
        m_state->abandoned = m_state->abandoned || abandon;
        m_state->wake.notify_one();
    }
    QFuture<QByteArray> future() const { return m_future; }

private:
    struct State
    {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<QByteArray> queue;
        qint64 queued = 0;
        bool closed = false;
        bool abandoned = false;
    };
    std::shared_ptr<State> m_state;
    QFuture<QByteArray> m_future;
};

struct MarketCatalogue::Transfer
{
    QPointer<QFile> file;
    qint64 offset = 0;
    bool firstChunkSeen = false;
    QString finalPath;
    QString partPath;
    qint64 generation = 0;
    bool drainQueued = false;
    qint64 hashPrefix = 0; // bytes of the partial file before this transfer's data
    std::unique_ptr<StreamHash> hash;
    bool hashDropped = false;
};

namespace {

constexpr char kZipSignature[] = {'P', 'K', '\x03', '\x04'};

int httpStatus(QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool okStatus(int status)
{
    return status >= 200 && status <= 299;
}

// The connection failed or was cut (closed, reset, timed out) with no error reply from the server: the bytes
// that arrived before are as good as any, so the partial file stays for the resume. An error status is the
// server's answer and a failed handshake its certificate; neither is a cut.
bool cutByNetwork(QNetworkReply* reply, int status)
{
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::NoError || error == QNetworkReply::SslHandshakeFailedError ||
        error == QNetworkReply::TooManyRedirectsError || error == QNetworkReply::InsecureRedirectError)
        return false;
    if (status >= 1 && !okStatus(status))
        return false;
    return error < QNetworkReply::ProxyConnectionRefusedError; // the connection-level errors
}

qint64 contentLength(QNetworkReply* reply)
{
    const QVariant v = reply->header(QNetworkRequest::ContentLengthHeader);
    return v.isValid() ? v.toLongLong() : -1;
}

// The download URL carries the token in its query (the protocol wants it there); what we log never does,
// whichever way the URL was spelled.
QString withoutToken(QString text, const QString& token)
{
    static const QRegularExpression query(QStringLiteral("([?&]token=)[^&\\s]*"));
    text.replace(query, QStringLiteral("\\1***"));
    if (!token.isEmpty())
        text.replace(token, QStringLiteral("***"));
    return text;
}

// First byte of a "bytes first-last/total" Content-Range, or -1 when the header is malformed.
qint64 contentRangeStart(const QByteArray& header)
{
    const qsizetype space = header.indexOf(' ');
    if (space < 0 || header.left(space).toLower() != "bytes")
        return -1;
    const QByteArray rest = header.mid(space + 1);
    const qsizetype dash = rest.indexOf('-');
    const qsizetype slash = rest.indexOf('/');
    if (dash < 1 || slash < 0 || dash > slash)
        return -1;
    bool okFirst = false, okLast = false;
    const qint64 first = rest.left(dash).toLongLong(&okFirst);
    const qint64 last = rest.mid(dash + 1, slash - dash - 1).toLongLong(&okLast);
    if (!okFirst || !okLast || first < 0 || last < first)
        return -1;
    return first;
}

// A package is proven only by a digest that was computed and equals a hash the manifest gave: with no
// expected hash, or a file that could not be read, two empty texts must not count as a match.
bool digestMatches(const QByteArray& digest, const QString& expected)
{
    return !digest.isEmpty() && !expected.isEmpty() && QString::fromLatin1(digest.toHex()) == expected.toLower();
}

} // namespace

void MarketCatalogue::startDownload(AppRow& row)
{
    row.errorText.clear();
    if (row.reply || row.downloading)
        return;
    const QString cached = lookupCachedPackage(row.id, row.version);
    if (cached.isEmpty()) {
        beginNetworkDownload(row);
        return;
    }
    row.cancelRequested = false;
    row.downloading = true;
    const qint64 generation = ++row.generation;
    const QString id = row.id;
    Q_EMIT changed();
    computeSha256Async(cached, [this, id, generation, cached](const QByteArray& digest) {
        AppRow* r = findRow(id);
        if (!r || r->cancelRequested || r->generation != generation)
            return;
        if (digestMatches(digest, r->sha256)) {
            r->downloading = r->paused = false;
            r->received = r->total = r->size;
            qInfo().noquote() << "package cache hit:" << id << cached;
            Q_EMIT changed();
            Q_EMIT packageVerified(id, cached);
        } else if (r->sha256.isEmpty() || digest.isEmpty()) {
            // Nothing to prove the package with, or no digest of it: it is not installed. A cached file that
            // can't be read is of no further use.
            qWarning().noquote() << "package cache unverifiable:" << id
                                 << (r->sha256.isEmpty() ? "no sha256 in the manifest" : "the file could not be hashed");
            if (digest.isEmpty())
                removePackageFile(cached, QStringLiteral("corrupt-cache"));
            setRowError(*r, Lang::later("校验失败（文件损坏）"));
        } else {
            r->downloading = false;
            removePackageFile(cached, QStringLiteral("corrupt-cache"));
            beginNetworkDownload(*r);
        }
    });
}

void MarketCatalogue::beginNetworkDownload(AppRow& row)
{
    row.received = row.total = 0;
    if (token.isEmpty()) {
        row.downloading = row.paused = false;
        pendingLoginIds.insert(row.id);
        setRowError(row, Lang::later("请先登录青岚舟账号后再下载"));
        Q_EMIT loginRequested();
        return;
    }
    row.downloading = true;
    row.paused = row.cancelRequested = row.installing = false;
    auto t = std::make_shared<Transfer>();
    t->generation = ++row.generation;
    row.errorBody.clear();
    row.rangeMismatch = false;
    row.localAbort = AppRow::LocalAbort::None;
    row.total = row.size;
    Q_EMIT changed();

    QDir().mkpath(appsRootDir());
    t->finalPath = packageFilePath(row.id);
    t->partPath = t->finalPath + QStringLiteral(".part");
    QFile part(t->partPath);
    const qint64 partSize = part.size();
    if (part.exists() && partSize > 0) {
        if (part.open(QIODevice::ReadOnly)) {
            const QByteArray head = part.read(4);
            part.close();
            if (head == QByteArray(kZipSignature, 4)) {
                t->offset = partSize;
            } else {
                qWarning().noquote() << "discard corrupt .part (" << partSize << "bytes ):" << t->partPath;
                if (!removePackageFile(t->partPath, QStringLiteral("corrupt-part"))) {
                    row.received = row.total = 0;
                    setRowError(row, Lang::later("续传文件损坏且无法清理，请稍后重试"));
                    return;
                }
                row.resumeRetried = false;
            }
        } else {
            t->offset = partSize; // unreadable: resumed unchecked
        }
    } else {
        row.resumeRetried = false;
    }

    QUrl url = ktr::serviceUrl(QStringLiteral("/api/download.php"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("app"), row.id);
    if (!row.version.isEmpty())
        query.addQueryItem(QStringLiteral("ver"), row.version);
    const QString file = QUrl(row.packageUrl).fileName(QUrl::FullyDecoded);
    if (!file.isEmpty())
        query.addQueryItem(QStringLiteral("file"), file);
    query.addQueryItem(QStringLiteral("token"), token);
    url.setQuery(query);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(kDownloadTimeoutMs);
    if (t->offset > 0)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(t->offset) + '-');
    QNetworkReply* reply = networkManager()->get(request);
    reply->setReadBufferSize(kReadBuffer);
    row.reply = reply;
    row.received = t->offset;
    t->hashPrefix = t->offset;

    // Unbuffered: every chunk goes to the disk as it comes, and a short write shows at once.
    t->file = new QFile(t->partPath, this);
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | QIODevice::Unbuffered | (t->offset < 1 ? QIODevice::Truncate : QIODevice::Append);
    if (!t->file->open(mode)) {
        t->file->deleteLater();
        row.reply = nullptr;
        reply->abort();
        reply->deleteLater();
        setRowError(row, Lang::later("无法写入临时文件"));
        return;
    }
    const QString id = row.id;
    QPointer<MarketCatalogue> self(this);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply, id] { onMetaData(reply, id); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, id, t] { onReadyRead(reply, id, t); });
    connect(reply, &QNetworkReply::finished, reply, [self, reply, id, t] {
        if (self)
            self->onFinished(reply, id, t);
        else
            reply->deleteLater();
    });
}

void MarketCatalogue::onMetaData(QNetworkReply* reply, const QString& id)
{
    AppRow* row = findRow(id);
    if (!row || reply->error() != QNetworkReply::NoError || !okStatus(httpStatus(reply)))
        return;
    const qint64 length = contentLength(reply);
    if (length <= 0)
        return;
    if (length <= kMaxPackage && kMaxPackage - length >= row->received) {
        row->total = length + row->received;
    } else {
        qWarning().noquote() << "download Content-Length exceeds cap, abort:" << id << length;
        if (row->reply == reply)
            row->localAbort = AppRow::LocalAbort::SizeCap;
        reply->abort();
    }
}

void MarketCatalogue::onReadyRead(QNetworkReply* reply, const QString& id, const std::shared_ptr<Transfer>& t)
{
    AppRow* row = findRow(id);
    const int status = httpStatus(reply);
    if (reply->error() != QNetworkReply::NoError || !okStatus(status)) {
        const QByteArray bytes = reply->readAll();
        if (row && row->errorBody.size() < kMaxErrorBody)
            row->errorBody.append(bytes.left(kMaxErrorBody - row->errorBody.size()));
        return;
    }
    if (!t->file)
        return;
    if (t->offset > 0 && !t->firstChunkSeen) {
        t->firstChunkSeen = true;
        if (status == 200) {
            // The server sent the whole file: start the partial file again.
            t->file->resize(0);
            t->file->seek(0);
            t->hashPrefix = 0;
            if (row) {
                const qint64 length = contentLength(reply);
                if (length > kMaxPackage) {
                    qWarning().noquote() << "download(200) Content-Length exceeds cap, abort:" << id << length;
                    row->localAbort = AppRow::LocalAbort::SizeCap;
                    reply->abort();
                    return;
                }
                if (length > 0)
                    row->total = length;
                row->received = 0;
            }
        } else if (status == 206) {
            const qint64 first = contentRangeStart(reply->rawHeader("Content-Range"));
            if (first != t->offset) {
                qWarning().noquote() << "resume Content-Range mismatch, discard reply:" << id << "expected"
                                     << t->offset << "got" << first;
                if (row) {
                    row->rangeMismatch = true;
                    row->received = row->total = 0;
                }
                reply->abort();
                return;
            }
        }
    }
    if (row)
        drainReply(reply, *row, t, kSliceBudgetMs);
}

bool MarketCatalogue::drainReply(QNetworkReply* reply, AppRow& row, const std::shared_ptr<Transfer>& t, int budgetMs)
{
    QElapsedTimer spent;
    spent.start();
    if (reply->bytesAvailable() <= 0) {
        row.received = t->file->size();
        scheduleRepaint();
        return true;
    }
    while (reply->bytesAvailable() > 0) {
        if (budgetMs >= 0 && spent.elapsed() >= budgetMs) {
            // The rest waits for the next turn of the event loop, so painting and input go on.
            if (!t->drainQueued) {
                t->drainQueued = true;
                QPointer<QNetworkReply> guarded(reply);
                const QString id = row.id;
                QTimer::singleShot(0, this, [this, guarded, id, t] {
                    t->drainQueued = false;
                    AppRow* r = findRow(id);
                    if (guarded && r && r->reply == guarded && t->file && t->file->isOpen())
                        drainReply(guarded, *r, t, kSliceBudgetMs);
                });
            }
            return true;
        }
        // A fresh slice each time: the hash queue shares it instead of copying.
        const QByteArray slice = reply->read(kSliceBytes);
        const qint64 n = slice.size();
        if (n <= 0)
            break;
        if (t->file->write(slice.constData(), n) != n) {
            qWarning().noquote() << "download write failed:" << row.id << t->file->errorString();
            row.localAbort = AppRow::LocalAbort::WriteFailed;
            reply->abort();
            return false;
        }
        if (!t->hashDropped) {
            if (!t->hash)
                t->hash = std::make_unique<StreamHash>(t->partPath, t->hashPrefix);
            if (!t->hash->push(slice)) {
                t->hashDropped = true;
                t->hash.reset();
            }
        }
        const qint64 expected = row.total > 0 ? row.total : row.size;
        if (expected > kMaxPackage) {
            qWarning().noquote() << "download declared size exceeds cap, abort:" << row.id << expected;
            row.localAbort = AppRow::LocalAbort::SizeCap;
            reply->abort();
            return false;
        }
        const qint64 cap = expected <= 0 ? kMaxPackage
                                         : (3 * expected > 4294967297LL ? kMaxPackage : (3 * expected) / 2);
        const qint64 onDisk = t->file->size();
        if (onDisk > cap) {
            qWarning().noquote() << "download on-disk bytes exceed cap, abort:" << row.id << onDisk << cap;
            row.localAbort = AppRow::LocalAbort::SizeCap;
            reply->abort();
            return false;
        }
        row.received = onDisk;
    }
    scheduleRepaint();
    return true;
}

void MarketCatalogue::onFinished(QNetworkReply* reply, const QString& id, const std::shared_ptr<Transfer>& t)
{
    // What is still unread (at most the read buffer) belongs to the file before it is closed.
    // So does what a cut connection delivered before it broke: the resume continues after it.
    if (AppRow* r = findRow(id);
        r && r->reply == reply && !r->cancelRequested && !r->paused && !r->rangeMismatch &&
        r->localAbort == AppRow::LocalAbort::None && t->file && t->file->isOpen() && okStatus(httpStatus(reply)) &&
        (reply->error() == QNetworkReply::NoError || cutByNetwork(reply, httpStatus(reply))) &&
        (t->offset == 0 || t->firstChunkSeen))
        drainReply(reply, *r, t, -1);
    reply->disconnect();
    reply->deleteLater();
    if (t->file) {
        t->file->close();
        t->file->deleteLater();
    }
    AppRow* row = findRow(id);
    if (!row)
        return;
    if (row->cancelRequested) {
        row->cancelRequested = false;
        row->downloading = row->paused = false;
        row->reply = nullptr;
        removePackageFile(t->partPath, QStringLiteral("download-aborted"));
        Q_EMIT changed();
        return;
    }
    if (row->reply != reply)
        return; // a newer transfer owns the row
    row->reply = nullptr;
    const AppRow::LocalAbort localAbort = row->localAbort;
    row->localAbort = AppRow::LocalAbort::None;
    if (row->rangeMismatch) {
        row->rangeMismatch = false;
        row->downloading = row->paused = false;
        row->received = row->total = 0;
        row->errorBody.clear();
        removePackageFile(t->partPath, QStringLiteral("resume-range-mismatch"));
        setRowError(*row, Lang::later("续传数据错位，已重置，请重新下载"));
        return;
    }
    if (row->paused) {
        row->downloading = false;
        Q_EMIT changed();
        return;
    }
    const int status = httpStatus(reply);
    if (reply->error() != QNetworkReply::NoError || !okStatus(status)) {
        row->downloading = row->paused = false;
        if (localAbort == AppRow::LocalAbort::WriteFailed) {
            // Our disk failed, not the transfer: what arrived stays for a later resume.
            setRowError(*row, Lang::later("无法写入下载文件，请检查磁盘空间后重试"));
            return;
        }
        if (localAbort == AppRow::LocalAbort::SizeCap) {
            removePackageFile(t->partPath, QStringLiteral("size-limit"));
            setRowError(*row, Lang::later("下载超出大小上限，已中止"));
            return;
        }
        if (cutByNetwork(reply, status)) {
            // Not the server's answer: what arrived stays, and "retry" resumes after it.
            qWarning().noquote() << "download cut:" << id << "http =" << status << "kept"
                                 << QFileInfo(t->partPath).size() << "bytes, err ="
                                 << withoutToken(reply->errorString(), token);
            row->received = row->total = 0;
            row->errorBody.clear();
            setRowError(*row, Lang::later("下载失败（网络中断，请重试）"));
            return;
        }
        if (status == 416 && t->offset > 0) {
            // The partial file is longer than this package (an older version's): start again from 0.
            qInfo().noquote() << "resume not satisfiable, restart from scratch:" << id;
            row->errorBody.clear();
            if (!removePackageFile(t->partPath, QStringLiteral("resume-unsatisfiable"))) {
                setRowError(*row, Lang::later("续传文件损坏且无法清理，请稍后重试"));
                return;
            }
            beginNetworkDownload(*row);
            return;
        }
        QByteArray body = row->errorBody.isEmpty() ? reply->readAll().left(kMaxErrorBody) : row->errorBody;
        QJsonObject o;
        if (!body.trimmed().isEmpty())
            parseJsonObject(body, o);
        const QString code = o.value(QStringLiteral("code")).toString();
        const QString msg = o.value(QStringLiteral("msg")).toString();
        qWarning().noquote() << "download failed:" << id << "http =" << status
                             << "err =" << withoutToken(reply->errorString(), token);
        row->received = row->total = 0;
        row->errorBody.clear();
        removePackageFile(t->partPath, QStringLiteral("dirty-part"));
        if (status == 401 || code == QStringLiteral("NOT_LOGIN")) {
            pendingLoginIds.insert(id);
            setRowError(*row, Lang::later("登录已失效，请重新登录（登录后自动继续下载）"));
            Q_EMIT loginRequested();
        } else if (!msg.isEmpty()) {
            setRowError(*row, Lang::later(msg));
        } else if (reply->error() == QNetworkReply::SslHandshakeFailedError) {
            setRowError(*row, Lang::later("下载失败（服务器证书校验未通过）"));
        } else if (status < 1) {
            setRowError(*row, Lang::later("下载失败（网络中断，请重试）"));
        } else {
            setRowError(*row, Lang::later("下载失败（服务器 HTTP %1）", {QString::number(status)}));
        }
        return;
    }
    row->errorBody.clear();
    qint64 n = QFileInfo(t->partPath).size();
    if (n < 0)
        n = 0;
    if (n > kMaxPackage || row->total > kMaxPackage) {
        removePackageFile(t->partPath, QStringLiteral("size-limit"));
        row->downloading = row->paused = false;
        row->received = row->total = 0;
        setRowError(*row, Lang::later("下载超出大小上限，已中止"));
    } else if (n < row->total) {
        row->downloading = false;
        setRowError(*row, Lang::later("下载不完整，可重试续传"));
    } else if (!row->sha256.isEmpty()) {
        row->received = n;
        Q_EMIT changed();
        if (t->hash && !t->hashDropped) {
            // The digest of what was written is (almost) ready; the file is read again only if it failed.
            t->hash->finish(false);
            auto* watcher = new QFutureWatcher<QByteArray>(this);
            connect(watcher, &QFutureWatcher<QByteArray>::finished, this, [this, watcher, id, t] {
                const QByteArray digest = watcher->result();
                watcher->deleteLater();
                if (!digest.isEmpty())
                    verifyDownload(id, t, digest);
                else
                    computeSha256Async(t->partPath, [this, id, t](const QByteArray& d) { verifyDownload(id, t, d); });
            });
            watcher->setFuture(t->hash->future());
        } else {
            computeSha256Async(t->partPath, [this, id, t](const QByteArray& d) { verifyDownload(id, t, d); });
        }
    } else {
        removePackageFile(t->partPath, QStringLiteral("no-checksum"));
        setRowError(*row, Lang::later("清单缺少校验值，已中止"));
    }
}

void MarketCatalogue::verifyDownload(const QString& id, const std::shared_ptr<Transfer>& t, const QByteArray& digest)
{
    AppRow* row = findRow(id);
    if (!row || row->cancelRequested || row->generation != t->generation)
        return;
    if (digestMatches(digest, row->sha256)) {
        row->resumeRetried = false;
        removePackageFile(t->finalPath, QStringLiteral("assembled-zip-replace"));
        if (QFile::rename(t->partPath, t->finalPath)) {
            row->downloading = false;
            Q_EMIT changed();
            Q_EMIT packageVerified(id, t->finalPath);
        } else {
            setRowError(*row, Lang::later("写入失败"));
        }
    } else if (t->offset > 0 && !row->resumeRetried) {
        row->resumeRetried = true;
        removePackageFile(t->partPath, QStringLiteral("resume-retry"));
        qWarning().noquote() << "resume hash mismatch, restart from scratch:" << id;
        beginNetworkDownload(*row);
    } else {
        removePackageFile(t->partPath, QStringLiteral("hash-mismatch"));
        setRowError(*row, Lang::later("校验失败（文件损坏）"));
    }
}

void MarketCatalogue::computeSha256Async(const QString& path, std::function<void(const QByteArray&)> callback)
{
    auto* watcher = new QFutureWatcher<QByteArray>(this);
    connect(watcher, &QFutureWatcher<QByteArray>::finished, this, [watcher, callback = std::move(callback)] {
        const QByteArray digest = watcher->result();
        watcher->deleteLater();
        callback(digest);
    });
    watcher->setFuture(QtConcurrent::run([path] { return ktr::platform::sha256OfFile(path); }));
}

void MarketCatalogue::setToken(const QString& newToken)
{
    token = newToken;
    if (token.isEmpty())
        return;
    const QSet<QString> waiting = std::exchange(pendingLoginIds, {});
    for (const QString& id : waiting) {
        AppRow* row = findRow(id);
        if (row && !row->errorText.isEmpty()) {
            row->errorText.clear();
            if (!row->downloading)
                startDownload(*row);
        }
    }
}

void MarketCatalogue::pauseDownload(AppRow& row)
{
    if (row.paused) {
        startDownload(row);
        return;
    }
    if (!row.downloading || !row.reply)
        return;
    ++row.generation;
    row.downloading = false;
    row.paused = true;
    row.errorBody.clear();
    row.reply->abort();
    Q_EMIT changed();
}

void MarketCatalogue::cancelDownload(AppRow& row)
{
    ++row.generation;
    if (row.reply) {
        row.cancelRequested = true;
        row.installing = row.downloading = row.paused = false;
        row.reply->abort();
    } else {
        removePackageFile(partialFilePath(row.id), QStringLiteral("cancel-part"));
        row.downloading = row.paused = row.cancelRequested = row.installing = false;
    }
    row.received = row.total = 0;
    row.errorBody.clear();
    row.resumeRetried = row.rangeMismatch = false;
    if (row.extracting)
        row.installing = true;
    row.errorText.clear();
    Q_EMIT changed();
}
