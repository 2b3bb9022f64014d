#include "market/updatechecker.h"

#include "market/selfscripts.h"
#include "market/updatedialog.h"
#include "market/versioncompare.h"
#include "platform/process.h"
#include "platform/version.h"
#include "ui/datadir.h"
#include "ui/jsonutil.h"
#include "ui/lang.h"
#include "ui/namedtimer.h"
#include "ui/servicehost.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

namespace {

constexpr int kToastNormal = 0;
constexpr int kToastError = 1;

QNetworkRequest updateRequest(const QUrl& url, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(timeoutMs);
    return request;
}

int httpStatus(QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool succeeded(QNetworkReply* reply)
{
    const int status = httpStatus(reply);
    return reply->error() == QNetworkReply::NoError && status >= 200 && status <= 299;
}

} // namespace

UpdateChecker::UpdateChecker(QObject* parent) : QObject(parent)
{
    setSeams({});
}

UpdateChecker::~UpdateChecker() = default;

void UpdateChecker::setSeams(Seams seams)
{
    if (!seams.localVersion)
        seams.localVersion = [] { return ktr::platform::compiledVersion(); };
    if (!seams.toast)
        seams.toast = [](const QString&, int) {};
    if (!seams.prepareExit)
        seams.prepareExit = [] {};
    if (!seams.hardExit)
        seams.hardExit = [](int code) { ktr::platform::hardExit(code); };
    m_seams = std::move(seams);
}

QString UpdateChecker::localVersion() const
{
    const QString v = m_seams.localVersion();
    return v.isEmpty() ? QStringLiteral("0.0.0") : v;
}

QString UpdateChecker::installerPath() const
{
    const QString dir = m_seams.dataDir.isEmpty() ? appDataDir() : m_seams.dataDir;
    return dir + QStringLiteral("/panel_update_setup.exe");
}

QString UpdateChecker::scriptPath() const
{
    return m_scriptPath;
}

QNetworkAccessManager* UpdateChecker::network()
{
    if (m_seams.network)
        return m_seams.network;
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    return m_network;
}

void UpdateChecker::scheduleStartupCheck(bool beta)
{
    if (!ktr::serviceConfigured())
        return; // no service: no check, not even one that would fail
    m_startupBeta = beta;
    if (!m_startupTimer) {
        m_startupTimer = ktr::makeNamedTimer(this, "updateCheckTimer", kStartupDelayMs, true);
        connect(m_startupTimer, &QTimer::timeout, this, [this] { check(m_startupBeta, false); });
    }
    m_startupTimer->start();
}

void UpdateChecker::check(bool beta, bool manual)
{
    if (!ktr::serviceConfigured()) {
        // Asked by the user: told why nothing is checked rather than that the network failed.
        if (manual)
            m_seams.toast(ktr::noServiceText(), kToastNormal);
        return;
    }
    const QString path =
        beta ? QStringLiteral("/update/apps/panel-beta.json") : QStringLiteral("/update/apps/panel.json");
    QNetworkReply* reply = network()->get(updateRequest(ktr::serviceUrl(path), kManifestTimeoutMs));
    m_replies.append(reply);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, beta, manual] { onManifestReply(reply, beta, manual); });
}

void UpdateChecker::stop()
{
    if (m_startupTimer)
        m_startupTimer->stop();
    // Only the updater's own replies: a shared manager carries the other controllers' requests too.
    for (QNetworkReply* reply : std::as_const(m_replies)) {
        if (!reply)
            continue;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    m_replies.clear();
    if (m_download) {
        m_download->disconnect(this);
        m_download->abort();
        m_download->deleteLater();
        m_download = nullptr;
        if (!m_partPath.isEmpty())
            QFile::remove(m_partPath);
        m_partPath.clear();
    }
}

void UpdateChecker::onManifestReply(QNetworkReply* reply, bool beta, bool manual)
{
    const QByteArray body = reply->readAll();
    const int status = httpStatus(reply);
    const bool transportError = reply->error() != QNetworkReply::NoError && status == 0;
    const bool ok = succeeded(reply);
    reply->deleteLater();
    if (ok) {
        onManifest(body, true, manual, beta);
        return;
    }
    if (beta) {
        qInfo().noquote() << "beta manifest unavailable, fallback to stable; http =" << status
                          << "transportError =" << (transportError ? "true" : "false");
        check(false, manual);
        return;
    }
    onManifest(body, false, manual, false);
}

void UpdateChecker::onManifest(const QByteArray& body, bool ok, bool manual, bool beta)
{
    if (m_busy) {
        // The installer is downloading: the user asking again gets the card that shows it.
        if (manual && m_dialog)
            m_dialog->bringBack();
        return;
    }
    if (!ok) {
        if (manual)
            m_seams.toast(Lang::tr("检查更新失败，请检查网络后重试"), kToastError);
        return;
    }
    QJsonObject manifest;
    if (!parseJsonObject(body, manifest)) {
        qWarning().noquote() << "update manifest parse failed, treat as unsigned";
        manifest = QJsonObject();
    }
    if (!verifyUpdateManifest(manifest, m_seams.key)) {
        qWarning().noquote() << "update manifest signature invalid, rejected";
        if (manual)
            m_seams.toast(Lang::tr("更新清单签名无效，为安全起见已拒绝本次更新"), kToastError);
        return;
    }
    const QString remote = manifest.value(QLatin1String("version")).toString();
    const QString local = localVersion();
    qInfo().noquote() << "update check: local" << local << "remote" << remote << "manual"
                      << (manual ? "true" : "false");
    if (!compareValidVersions(remote, local)) {
        if (manual)
            m_seams.toast(Lang::tr("当前已是最新版本 v%1").arg(local), kToastNormal);
        return;
    }
    m_fromBeta = beta;
    m_url = manifest.value(QLatin1String("url")).toString();
    m_sha256 = manifest.value(QLatin1String("sha256")).toString();
    fetchUpdateHistory(remote, manifest.value(QLatin1String("notes")).toString(),
                       manifest.value(QLatin1String("title")).toString());
}

void UpdateChecker::fetchUpdateHistory(const QString& version, const QString& notes, const QString& title)
{
    QNetworkReply* reply =
        network()->get(updateRequest(ktr::serviceUrl(QStringLiteral("/update/apps/history.json")), kHistoryTimeoutMs));
    m_replies.append(reply);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, version, notes, title] { onHistoryReply(reply, version, notes, title); });
}

void UpdateChecker::onHistoryReply(QNetworkReply* reply, const QString& version, const QString& notes,
                                   const QString& title)
{
    reply->disconnect(this);
    reply->deleteLater();
    QString text = notes;
    bool fromHistory = false;
    if (succeeded(reply))
        text = historyNotes(reply->readAll(), version, notes, &fromHistory);
    qInfo().noquote() << "update notes:" << (fromHistory ? "history.json" : "panel.json") << "version" << version
                      << "len" << text.size();
    showUpdatePrompt(version, text, title);
}

void UpdateChecker::onCardMinimized()
{
    // A minimised card is easy to lose: say where the offer comes back from.
    if (m_seams.toast)
        m_seams.toast(Lang::tr("更新提示已最小化，可在齿轮菜单「检查更新」重新打开"), 1);
}

void UpdateChecker::showUpdatePrompt(const QString& version, const QString& notes, const QString& title)
{
    if (m_busy) {
        if (m_dialog)
            m_dialog->bringBack();
        return;
    }
    if (!m_dialog) {
        m_dialog = new UpdateDialog(m_seams.cardParent);
        connect(m_dialog, &UpdateDialog::updateClicked, this, &UpdateChecker::onUpdateClicked);
        connect(m_dialog, &UpdateDialog::minimized, this, &UpdateChecker::onCardMinimized);
        connect(m_dialog, &UpdateDialog::dismissed, this, &UpdateChecker::onUpdateDismissed);
    }
    QString heading = title;
    if (m_fromBeta && heading.trimmed().isEmpty())
        heading = Lang::tr("发现测试版 v%1").arg(version);
    m_dialog->setUpdateInfo(version, notes, heading);

    QScreen* screen = m_seams.cardParent ? m_seams.cardParent->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect avail = screen->availableGeometry();
        const int g = avail.height() - m_dialog->height();
        const int x = avail.left() + (avail.width() - m_dialog->width()) / 2;
        m_dialog->move(x, avail.top() + (g > 122 ? g / 3 : 40));
    }
    m_dialog->raise();
    m_dialog->activateWindow();
}

void UpdateChecker::onUpdateClicked()
{
    if (m_busy || m_url.isEmpty())
        return;
    if (m_dialog) {
        m_dialog->setStatusText(Lang::tr("正在连接服务器…"));
        m_dialog->repaint();
    }
    QTimer::singleShot(0, this, [this] { downloadUpdate(m_url); });
}

void UpdateChecker::onUpdateDismissed()
{
    if (m_dialog)
        m_dialog->hide();
}

void UpdateChecker::notifyUpdateStatus(const QString& text)
{
    m_busy = false;
    Q_EMIT downloadFailed();
    if (m_dialog) {
        m_dialog->setStatusText(text);
        // A card put away while the installer downloaded would keep the failure to itself.
        if (m_dialog->isPutAway())
            m_dialog->bringBack();
    }
}

void UpdateChecker::failDownload(const QString& text)
{
    if (!m_partPath.isEmpty())
        QFile::remove(m_partPath); // no partial installer stays behind
    m_partPath.clear();
    notifyUpdateStatus(text);
}

void UpdateChecker::downloadUpdate(const QString& url)
{
    if (m_busy)
        return;
    m_busy = true;
    Q_EMIT downloadStarted();
    if (!isDownloadableInstallerUrl(url)) {
        failDownload(Lang::tr("更新地址无效，已取消"));
        return;
    }
    const QString target = installerPath();
    QDir().mkpath(QFileInfo(target).absolutePath());
    // Written beside the installer and renamed over it only once its hash is proven.
    m_partPath = target + QStringLiteral(".download");
    auto* download = new HttpDownload(this);
    m_download = download;
    connect(download, &HttpDownload::progress, this, [this](qint64 received, qint64 total) {
        if (total > 0 && m_dialog)
            m_dialog->setProgress(int(received * 100 / total));
    });
    connect(download, &HttpDownload::finished, this, [this, download](const HttpDownload::Result& result) {
        download->deleteLater();
        if (m_download == download)
            installUpdate(result);
    });
    HttpDownload::Request request;
    request.url = QUrl(url);
    request.filePath = m_partPath;
    request.maxBytes = m_seams.maxInstallerBytes;
    request.idleTimeoutMs = kDownloadTimeoutMs;
    request.httpsOnly = true;
    download->start(request);
}

void UpdateChecker::installUpdate(const HttpDownload::Result& result)
{
    using Outcome = HttpDownload::Outcome;
    m_download = nullptr;
    if (result.outcome != Outcome::Done || result.status < 200 || result.status > 299) {
        qWarning().noquote() << "update download rejected: http =" << result.status
                             << "outcome =" << QVariant::fromValue(result.outcome).toString() << result.detail;
        switch (result.outcome) {
        case Outcome::OpenFailed:
            failDownload(Lang::tr("无法写入临时文件"));
            break;
        case Outcome::WriteFailed:
            failDownload(Lang::tr("下载失败，磁盘空间不足或临时文件被占用"));
            break;
        case Outcome::TlsFailed:
            failDownload(Lang::tr("下载失败（服务器证书校验未通过）"));
            break;
        default:
            failDownload(Lang::tr("下载失败，请检查网络后重试"));
            break;
        }
        return;
    }
    const QString got = QString::fromLatin1(result.sha256.toHex());
    const QString installer = installerPath();
    if (m_sha256.isEmpty() || got.isEmpty() || m_sha256.toLower() != got) {
        QFile::remove(installer);
        failDownload(Lang::tr("安装包校验失败，已取消更新"));
        return;
    }
    QFile::remove(installer);
    if (!QFile::rename(m_partPath, installer)) {
        qWarning().noquote() << "update download: cannot move the installer into place:" << installer;
        failDownload(Lang::tr("下载失败，磁盘空间不足或临时文件被占用"));
        return;
    }
    m_partPath.clear();
    if (m_dialog)
        m_dialog->setStatusText(Lang::tr("准备安装…"));

    const QString folder = selfscripts::makeScriptFolder(m_seams.tempDir);
    if (folder.isEmpty()) {
        failDownload(Lang::tr("无法写入更新脚本，请到官网手动下载新版"));
        return;
    }
    const QString script = folder + QStringLiteral("/Kestrune_update.sh");
    m_scriptPath = script;
    switch (selfscripts::writeScript(script,
                                     selfscripts::updateScript(installer, selfscripts::currentProcess(), 1, script))) {
    case selfscripts::WriteResult::OpenFailed:
        failDownload(Lang::tr("无法写入更新脚本，请到官网手动下载新版"));
        return;
    case selfscripts::WriteResult::Incomplete:
        failDownload(Lang::tr("更新脚本写入不完整，请检查磁盘空间后重试"));
        return;
    case selfscripts::WriteResult::Ok:
        break;
    }
    if (!selfscripts::startScript(script, folder)) {
        failDownload(Lang::tr("无法启动安装程序，请到官网手动下载新版"));
        return;
    }
    m_seams.prepareExit();
    stop();
    if (m_dialog)
        m_dialog->disconnect();
    qInfo().noquote() << "update: installer launched, hard-exiting process";
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_seams.hardExit(0);
}
