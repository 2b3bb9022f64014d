// The package download of MarketCatalogue: cache first, else "/api/download.php" with resume, size caps
// and the SHA-256 check (streamed by the transfer's thread, or on the thread pool for a cached file).
#include "market/marketcatalogue.h"

#include "market/marketfiles.h"
#include "market/packagecache.h"
#include "platform/filehash.h"
#include "ui/background.h"
#include "ui/jsonutil.h"
#include "ui/lang.h"
#include "ui/servicehost.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>
#include <QUrlQuery>

struct MarketCatalogue::Transfer
{
    qint64 offset = 0; // bytes of the partial file the request resumes after
    QString finalPath;
    QString partPath;
    qint64 generation = 0;
    QString shownUrl; // the request's URL without the token, for the log
};

namespace {

constexpr char kZipSignature[] = {'P', 'K', '\x03', '\x04'};

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

// A package is proven only by a digest that was computed and equals a hash the manifest gave: with no
// expected hash, or a file that could not be read, two empty texts must not count as a match.
bool digestMatches(const QByteArray& digest, const QString& expected)
{
    return !digest.isEmpty() && !expected.isEmpty() && QString::fromLatin1(digest.toHex()) == expected.toLower();
}

// A refused package names both digests, so a damaged download and a wrong manifest can be told apart.
void logDigestMismatch(const char* what, const QString& id, const QString& expected, const QByteArray& digest)
{
    qWarning().noquote() << "package sha256 mismatch (" + QLatin1String(what) + "):" << id << "expected"
                         << expected.toLower() << "computed" << QString::fromLatin1(digest.toHex());
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
                                 << (r->sha256.isEmpty() ? "no sha256 in the manifest"
                                                         : "the file could not be hashed");
            if (digest.isEmpty())
                removePackageFile(cached, QStringLiteral("corrupt-cache"));
            setRowError(*r, Lang::later("校验失败（文件损坏）"));
        } else {
            logDigestMismatch("cache", id, r->sha256, digest);
            r->downloading = false;
            removePackageFile(cached, QStringLiteral("corrupt-cache"));
            beginNetworkDownload(*r);
        }
    });
}

void MarketCatalogue::beginNetworkDownload(AppRow& row)
{
    row.received = row.total = 0;
    if (!ktr::serviceConfigured()) {
        row.downloading = row.paused = false;
        setRowError(row, Lang::later(ktr::noServiceSource()));
        return;
    }
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
    // The transfer runs on its own thread: the socket, the hash and the writes never touch this one.
    auto* download = new HttpDownload(this);
    row.reply = download;
    row.received = t->offset;
    const QString id = row.id;
    connect(download, &HttpDownload::progress, this, [this, download, id](qint64 size, qint64 total) {
        AppRow* r = findRow(id);
        if (!r || r->reply != download)
            return;
        r->received = size;
        if (total > 0)
            r->total = total;
        scheduleRepaint();
    });
    connect(download, &HttpDownload::finished, this, [this, download, id, t](const HttpDownload::Result& result) {
        download->deleteLater();
        onFinished(download, id, t, result);
    });
    HttpDownload::Request request;
    request.url = url;
    request.filePath = t->partPath;
    request.resumeFrom = t->offset;
    request.maxBytes = kMaxPackage;
    request.expectedSize = row.size;
    request.idleTimeoutMs = kDownloadTimeoutMs;
    request.maxErrorBody = kMaxErrorBody;
    t->shownUrl = withoutToken(url.toString(), token);
    download->start(request);
}

void MarketCatalogue::onFinished(HttpDownload* download, const QString& id, const std::shared_ptr<Transfer>& t,
                                 const HttpDownload::Result& result)
{
    using Outcome = HttpDownload::Outcome;
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
    if (row->reply != download)
        return; // a newer transfer owns the row
    row->reply = nullptr;
    row->localAbort = AppRow::LocalAbort::None;
    row->rangeMismatch = false;
    row->errorBody.clear();
    if (row->paused || result.outcome == Outcome::Aborted) {
        row->downloading = false;
        Q_EMIT changed();
        return;
    }
    switch (result.outcome) {
    case Outcome::Done:
        finishDownload(*row, id, t, result);
        return;
    case Outcome::RangeMismatch:
    case Outcome::WriteFailed:
    case Outcome::OpenFailed:
    case Outcome::TooLarge:
    case Outcome::SizeCap:
    case Outcome::Cut:
    case Outcome::Timeout:
        failBrokenDownload(*row, id, t, result);
        return;
    case Outcome::HttpError:
    case Outcome::TlsFailed:
    case Outcome::BadRedirect:
    case Outcome::BadResponse:
    case Outcome::Aborted:
        failRefusedDownload(*row, id, t, result);
        return;
    }
}

// The transfer broke (the connection, our disk, a size limit, a resume that does not fit): what can be resumed
// stays, the rest goes, and the row says which.
void MarketCatalogue::failBrokenDownload(AppRow& row, const QString& id, const std::shared_ptr<Transfer>& t,
                                         const HttpDownload::Result& result)
{
    using Outcome = HttpDownload::Outcome;
    const int status = result.status;
    const QString detail = withoutToken(result.detail, token);
    switch (result.outcome) {
    case Outcome::RangeMismatch:
        qWarning().noquote() << "resume Content-Range mismatch, discard reply:" << id << "expected" << t->offset
                             << "got" << result.rangeStart;
        row.downloading = row.paused = false;
        row.received = row.total = 0;
        removePackageFile(t->partPath, QStringLiteral("resume-range-mismatch"));
        setRowError(row, Lang::later("续传数据错位，已重置，请重新下载"));
        return;
    case Outcome::WriteFailed:
        // Our disk failed, not the transfer: what arrived stays for a later resume.
        qWarning().noquote() << "download write failed:" << id << detail;
        row.downloading = row.paused = false;
        setRowError(row, Lang::later("无法写入下载文件，请检查磁盘空间后重试"));
        return;
    case Outcome::OpenFailed:
        qWarning().noquote() << "download: cannot open" << t->partPath << detail;
        row.downloading = row.paused = false;
        row.received = row.total = 0;
        setRowError(row, Lang::later("无法写入临时文件"));
        return;
    case Outcome::TooLarge:
    case Outcome::SizeCap:
        qWarning().noquote() << (result.outcome == Outcome::SizeCap ? "download on-disk bytes exceed cap, abort:"
                                 : result.restarted                 ? "download(200) Content-Length exceeds cap, abort:"
                                                                    : "download Content-Length exceeds cap, abort:")
                             << id << detail;
        row.downloading = row.paused = false;
        removePackageFile(t->partPath, QStringLiteral("size-limit"));
        setRowError(row, Lang::later("下载超出大小上限，已中止"));
        return;
    case Outcome::Cut:
    case Outcome::Timeout:
        // Not the server's answer: what arrived stays, and "retry" resumes after it.
        qWarning().noquote() << "download cut:" << id << "http =" << status << "kept" << result.fileSize
                             << "bytes, err =" << detail;
        row.downloading = row.paused = false;
        row.received = row.total = 0;
        setRowError(row, Lang::later("下载失败（网络中断，请重试）"));
        return;
    default:
        return;
    }
}

// The server (or what stands between) answered but not with the package: a 416 on a resume starts again from
// 0, everything else drops the partial file and says why, asking for a login when the token was refused.
void MarketCatalogue::failRefusedDownload(AppRow& row, const QString& id, const std::shared_ptr<Transfer>& t,
                                          const HttpDownload::Result& result)
{
    using Outcome = HttpDownload::Outcome;
    const int status = result.status;
    const QString detail = withoutToken(result.detail, token);
    row.downloading = row.paused = false;
    if (status == 416 && t->offset > 0 && result.outcome == Outcome::HttpError) {
        // The partial file is longer than this package (an older version's): start again from 0.
        qInfo().noquote() << "resume not satisfiable, restart from scratch:" << id;
        if (!removePackageFile(t->partPath, QStringLiteral("resume-unsatisfiable"))) {
            setRowError(row, Lang::later("续传文件损坏且无法清理，请稍后重试"));
            return;
        }
        beginNetworkDownload(row);
        return;
    }
    QJsonObject o;
    if (!result.errorBody.trimmed().isEmpty())
        parseJsonObject(result.errorBody, o);
    const QString code = o.value(QStringLiteral("code")).toString();
    const QString msg = o.value(QStringLiteral("msg")).toString();
    qWarning().noquote() << "download failed:" << id << "http =" << status << "url =" << t->shownUrl
                         << "err =" << (detail.isEmpty() ? QVariant::fromValue(result.outcome).toString() : detail);
    row.received = row.total = 0;
    removePackageFile(t->partPath, QStringLiteral("dirty-part"));
    if (status == 401 || code == QStringLiteral("NOT_LOGIN")) {
        pendingLoginIds.insert(id);
        setRowError(row, Lang::later("登录已失效，请重新登录（登录后自动继续下载）"));
        Q_EMIT loginRequested();
    } else if (!msg.isEmpty()) {
        setRowError(row, Lang::later(msg));
    } else if (result.outcome == Outcome::TlsFailed) {
        setRowError(row, Lang::later("下载失败（服务器证书校验未通过）"));
    } else if (status < 1 || result.outcome == Outcome::BadResponse) {
        setRowError(row, Lang::later("下载失败（网络中断，请重试）"));
    } else {
        setRowError(row, Lang::later("下载失败（服务器 HTTP %1）", {QString::number(status)}));
    }
}

// The whole body arrived: within the size limit and complete, it is checked against the manifest's digest.
void MarketCatalogue::finishDownload(AppRow& row, const QString& id, const std::shared_ptr<Transfer>& t,
                                     const HttpDownload::Result& result)
{
    qint64 n = QFileInfo(t->partPath).size();
    if (n < 0)
        n = 0;
    if (result.total > 0)
        row.total = result.total;
    if (n > kMaxPackage || row.total > kMaxPackage) {
        removePackageFile(t->partPath, QStringLiteral("size-limit"));
        row.downloading = row.paused = false;
        row.received = row.total = 0;
        setRowError(row, Lang::later("下载超出大小上限，已中止"));
    } else if (n < row.total) {
        row.downloading = false;
        setRowError(row, Lang::later("下载不完整，可重试续传"));
    } else if (!row.sha256.isEmpty()) {
        row.received = n;
        Q_EMIT changed();
        if (!result.sha256.isEmpty())
            verifyDownload(id, t, result.sha256); // hashed from the same buffer as it was written
        else
            computeSha256Async(t->partPath, [this, id, t](const QByteArray& d) { verifyDownload(id, t, d); });
    } else {
        removePackageFile(t->partPath, QStringLiteral("no-checksum"));
        setRowError(row, Lang::later("清单缺少校验值，已中止"));
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
        logDigestMismatch("resumed download", id, row->sha256, digest);
        row->resumeRetried = true;
        removePackageFile(t->partPath, QStringLiteral("resume-retry"));
        qWarning().noquote() << "resume hash mismatch, restart from scratch:" << id;
        beginNetworkDownload(*row);
    } else {
        logDigestMismatch("download", id, row->sha256, digest);
        removePackageFile(t->partPath, QStringLiteral("hash-mismatch"));
        setRowError(*row, Lang::later("校验失败（文件损坏）"));
    }
}

void MarketCatalogue::computeSha256Async(const QString& path, std::function<void(const QByteArray&)> callback)
{
    runInBackground(
        this, [path] { return ktr::platform::sha256OfFile(path); }, std::move(callback));
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
