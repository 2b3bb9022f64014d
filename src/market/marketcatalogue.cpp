#include "market/marketcatalogue.h"

#include "market/marketfiles.h"
#include "ui/jsonutil.h"
#include "ui/lang.h"
#include "ui/servicehost.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

namespace {

qint64 clampSize(qint64 v)
{
    return qBound<qint64>(0, v, MarketCatalogue::kMaxPackage);
}

// A number, or a numeric string, as a 64-bit integer; 0 otherwise.
qint64 readInt64(const QJsonValue& v)
{
    if (v.isDouble())
        return v.toInteger(qint64(qBound(-9.0e18, v.toDouble(), 9.0e18)));
    if (v.isString()) {
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        if (ok)
            return n;
        const double d = v.toString().trimmed().toDouble(&ok);
        return ok ? qint64(qBound(-9.0e18, d, 9.0e18)) : 0;
    }
    return 0;
}

} // namespace

MarketCatalogue::MarketCatalogue(QObject* parent) : QObject(parent)
{
    m_repaintTimer = new QTimer(this);
    m_repaintTimer->setSingleShot(true);
    m_repaintTimer->setInterval(50);
    connect(m_repaintTimer, &QTimer::timeout, this, &MarketCatalogue::changed);
}

MarketCatalogue::~MarketCatalogue()
{
    if (m_ownsManager)
        delete m_manager;
}

void MarketCatalogue::setNetworkManager(QNetworkAccessManager* manager)
{
    if (m_ownsManager)
        delete m_manager;
    m_manager = manager;
    m_ownsManager = false;
}

QNetworkAccessManager* MarketCatalogue::networkManager()
{
    if (!m_manager) {
        m_manager = new QNetworkAccessManager;
        m_ownsManager = true;
    }
    return m_manager;
}

void MarketCatalogue::scheduleRepaint()
{
    m_repaintTimer->start();
}

QNetworkReply* MarketCatalogue::sendGet(const QUrl& url, ReplyHandler handler, qint64 maxBytes)
{
    if (url.isEmpty())
        return nullptr; // no service configured: nothing to ask
    QNetworkRequest request(url);
    request.setTransferTimeout(kGetTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = networkManager()->get(request);
    // Every arrival is checked (downloadProgress alone is throttled): the transfer ends as soon as more than the
    // cap is in, or announced, so what is held never outgrows the cap by more than one read.
    const auto stopBeyondCap = [reply, maxBytes](qint64 received, qint64 total) {
        if ((received <= maxBytes && total <= maxBytes) || reply->property("ktrTooLarge").toBool())
            return;
        reply->setProperty("ktrTooLarge", true);
        qWarning().noquote() << "[market] reply beyond its cap, stopped:" << reply->url().toString()
                             << "cap =" << maxBytes << "bytes =" << std::max(received, total);
        reply->abort();
    };
    connect(reply, &QNetworkReply::downloadProgress, reply, stopBeyondCap);
    connect(reply, &QNetworkReply::readyRead, reply,
            [reply, stopBeyondCap] { stopBeyondCap(reply->bytesAvailable(), -1); });
    QPointer<MarketCatalogue> self(this);
    connect(reply, &QNetworkReply::finished, reply, [self, reply, handler = std::move(handler)] {
        if (self) {
            reply->disconnect();
            handler(reply);
        }
        reply->deleteLater();
    });
    return reply;
}

void MarketCatalogue::fetchIndex(int page)
{
    indexFailed = !ktr::serviceConfigured(); // shown as the not-configured line
    if (indexFailed) {
        Q_EMIT changed();
        return;
    }
    const int seq = ++indexSeq;
    sendGet(ktr::serviceUrl(QStringLiteral("/update/index/page-%1.json").arg(page)),
            [this, seq](QNetworkReply* reply) { applyIndexPage(reply, seq); });
}

void MarketCatalogue::applyIndexPage(QNetworkReply* reply, int seq)
{
    if (seq != indexSeq)
        return;
    QJsonObject page;
    if (!parseReplyObject(reply, page) || !page.contains(QStringLiteral("apps"))) {
        indexFailed = true;
        Q_EMIT changed();
        return;
    }
    QHash<QString, AppRow> old;
    for (const AppRow& r : std::as_const(rows))
        old.insert(r.id, r);
    rows.clear();
    Q_EMIT listReplaced();
    const QJsonArray apps = page.value(QStringLiteral("apps")).toArray();
    for (const QJsonValue& value : apps) {
        const QJsonObject o = value.toObject();
        AppRow row;
        row.id = o.value(QStringLiteral("id")).toString();
        if (!isValidAppId(row.id))
            continue;
        row.name = o.value(QStringLiteral("name")).toString();
        row.desc = o.value(QStringLiteral("desc")).toString();
        row.category = o.value(QStringLiteral("category")).toString();
        row.iconUrl = o.value(QStringLiteral("icon")).toString();
        row.version = o.value(QStringLiteral("version")).toString();
        if (!isValidVersionString(row.version))
            row.version.clear();
        row.size = clampSize(readInt64(o.value(QStringLiteral("size"))));
        row.exeSize = clampSize(readInt64(o.value(QStringLiteral("exeSize"))));
        row.demo = o.value(QStringLiteral("demo")).toString();
        row.isWeb = o.value(QStringLiteral("type")).toString() == QStringLiteral("web");
        row.url = o.value(QStringLiteral("url")).toString();
        if (row.isWeb && !isHttpUrl(row.url))
            continue;
        row.searchKey = (row.name + u' ' + row.desc + u' ' + row.category).toLower();
        const auto prev = old.constFind(row.id);
        if (prev != old.constEnd()) {
            const AppRow& p = prev.value();
            row.icon = p.icon;
            row.installedSize = p.installedSize;
            row.downloading = p.downloading;
            row.paused = p.paused;
            row.cancelRequested = p.cancelRequested;
            row.installing = p.installing;
            row.received = p.received;
            row.total = p.total;
            row.errorText = p.errorText;
            row.errorBody = p.errorBody;
            row.resumeRetried = p.resumeRetried;
            row.rangeMismatch = p.rangeMismatch;
            row.generation = p.generation;
            row.extracting = p.extracting;
            row.reply = p.reply;
            row.packageUrl = p.packageUrl;
            row.sha256 = p.sha256;
            row.launch = p.launch;
            row.manifestVersion = p.manifestVersion;
            row.sdkVersion = p.sdkVersion;
            row.localAbort = p.localAbort;
        }
        const MarketInstalledApp installed = m_installed.value(row.id);
        row.installedVersion = installed.version;
        if (!row.installedVersion.isEmpty() && row.installedSize < 1 && !installed.launch.isEmpty()) {
            const QFileInfo launchFile(appsRootDir() + u'/' + row.id + u'/' + installed.launch);
            if (launchFile.isFile())
                row.installedSize = launchFile.size();
        }
        rows.append(row);
    }
    indexLoaded = true;
    for (AppRow& row : rows) {
        if (!row.iconUrl.isEmpty() && row.icon.isNull())
            fetchIcon(row);
    }
    Q_EMIT changed();
}

void MarketCatalogue::fetchIcon(AppRow& row)
{
    if (!isHttpUrl(row.iconUrl))
        return;
    const QString id = row.id;
    sendGet(
        QUrl(row.iconUrl),
        [this, id](QNetworkReply* reply) {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299)
                return;
            if (reply->bytesAvailable() > kMaxIconBytes)
                return; // refused before it is read
            const QByteArray bytes = reply->read(kMaxIconBytes + 1);
            if (bytes.isEmpty() || bytes.size() > kMaxIconBytes)
                return;
            QBuffer buffer;
            buffer.setData(bytes);
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer);
            const QSize announced = reader.size();
            if (!announced.isValid() || announced.width() > kMaxIconSide || announced.height() > kMaxIconSide)
                return;
            const QImage image = reader.read();
            if (image.isNull() || image.width() > kMaxIconSide || image.height() > kMaxIconSide)
                return;
            const QPixmap pixmap = QPixmap::fromImage(image);
            if (pixmap.isNull())
                return;
            AppRow* r = findRow(id);
            if (!r)
                return;
            const int side = qMax(1, qRound(48 * m_pixelRatio));
            r->icon = pixmap.scaled(side, side, Qt::KeepAspectRatio,
                                    pixmap.width() >= side ? Qt::SmoothTransformation : Qt::FastTransformation);
            r->icon.setDevicePixelRatio(m_pixelRatio);
            Q_EMIT changed();
        },
        kMaxIconBytes);
}

void MarketCatalogue::fetchSdkMin()
{
    minSdkVersion = QStringLiteral("1.1.0");
    sendGet(ktr::serviceUrl(QStringLiteral("/update/sdk_min.json")), [this](QNetworkReply* reply) {
        QJsonObject o;
        if (!parseReplyObject(reply, o))
            return;
        const QString v = o.value(QStringLiteral("minSdkVersion")).toString();
        if (!v.isEmpty()) {
            minSdkVersion = v;
            Q_EMIT changed();
        }
    });
}

void MarketCatalogue::fetchManifest(AppRow& row)
{
    ++row.generation;
    row.downloading = row.paused = row.cancelRequested = row.installing = false;
    row.received = row.total = 0;
    row.errorBody.clear();
    row.resumeRetried = row.rangeMismatch = false;
    row.errorText.clear();
    row.installing = true;
    Q_EMIT changed();
    if (!ktr::serviceConfigured()) {
        setRowError(row, Lang::later(ktr::noServiceSource()));
        return;
    }
    const QString id = row.id;
    const qint64 generation = row.generation;
    sendGet(ktr::serviceUrl(QStringLiteral("/update/apps/%1.json").arg(id)),
            [this, id, generation](QNetworkReply* reply) { parseManifest(reply, id, generation); });
}

void MarketCatalogue::parseManifest(QNetworkReply* reply, const QString& id, qint64 generation)
{
    AppRow* row = findRow(id);
    if (!row || row->generation != generation || row->cancelRequested)
        return;
    QJsonObject m;
    if (!parseReplyObject(reply, m)) {
        setRowError(*row, Lang::later("清单获取失败"));
        return;
    }
    const QString url = m.value(QStringLiteral("url")).toString();
    row->packageUrl = isHttpUrl(url) ? url : QString();
    row->sha256 = m.value(QStringLiteral("sha256")).toString();
    const QString launch = m.value(QStringLiteral("launch")).toString();
    row->launch = isSafeLaunchName(launch) ? launch : QString();
    row->manifestVersion = m.value(QStringLiteral("version")).toString();
    row->sdkVersion = m.value(QStringLiteral("sdkVersion")).toString();
    const qint64 exe = readInt64(m.value(QStringLiteral("exeSize")));
    if (exe > 0)
        row->exeSize = exe;
    if (!row->packageUrl.isEmpty() && !row->launch.isEmpty())
        startDownload(*row);
    else
        setRowError(*row, Lang::later("清单数据不完整"));
}

MarketCatalogue::AppRow* MarketCatalogue::findRow(const QString& id)
{
    for (AppRow& row : rows) {
        if (row.id == id)
            return &row;
    }
    return nullptr;
}

void MarketCatalogue::setSearchText(const QString& text)
{
    searchText = text.trimmed().toLower();
    Q_EMIT listReplaced();
    Q_EMIT changed();
}

bool MarketCatalogue::matchesSearch(const AppRow& row) const
{
    return searchText.isEmpty() || row.searchKey.contains(searchText);
}

void MarketCatalogue::setRowError(AppRow& row, const LangText& text)
{
    row.received = row.total = 0;
    row.downloading = row.paused = row.cancelRequested = row.installing = false;
    row.errorBody.clear();
    row.resumeRetried = row.rangeMismatch = false;
    row.errorText = text;
    Q_EMIT changed();
}
