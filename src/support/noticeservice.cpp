#include "support/noticeservice.h"

#include "platform/clock.h"
#include "support/noticedialog.h"
#include "ui/datadir.h"
#include "ui/jsonutil.h"
#include "ui/savefile.h"
#include "ui/servicehost.h"

#include <QDateTime>
#include <QDebug>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QVariant>
#include <QWindow>

namespace {

QString seenPath(const QString& dataDir)
{
    return dataDir + QStringLiteral("/notice_seen.txt");
}

} // namespace

NoticeService::NoticeService(QWidget* dialogParent, QObject* parent) : QObject(parent), m_parent(dialogParent)
{
    // Found by name among their owner's children; members, so they go first.
    m_first.setParent(this);
    m_timer.setParent(this);
    m_first.setObjectName(QStringLiteral("noticeFirstTimer"));
    m_first.setSingleShot(true);
    m_first.setInterval(kFirstFetchDelayMs);
    m_timer.setObjectName(QStringLiteral("noticeTimer"));
    m_timer.setInterval(kIntervalMs);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_first, &QTimer::timeout, this, &NoticeService::fetchLatestNotice);
    connect(&m_timer, &QTimer::timeout, this, &NoticeService::fetchLatestNotice);
    m_modalWait.setParent(this);
    m_modalWait.setObjectName(QStringLiteral("noticeModalWait"));
    m_modalWait.setInterval(kModalWaitMs);
    connect(&m_modalWait, &QTimer::timeout, this, &NoticeService::showWhenFree);
}

NoticeService::~NoticeService()
{
    // A notice still open when the service goes (the window is being torn down) counts as seen; the dialog
    // then dies with its window without calling back here.
    if (m_dialog) {
        m_dialog->disconnect(this);
        markSeenIfNewer(m_shownGen, m_shownNoticeId);
    }
    delete m_ownManager;
}

void NoticeService::setNetworkManager(QNetworkAccessManager* manager)
{
    m_manager = manager;
}

QString NoticeService::dataDir() const
{
    return m_dataDir.isEmpty() ? appDataDir() : m_dataDir;
}

void NoticeService::start()
{
    if (m_started || !ktr::serviceConfigured())
        return; // without a service there is nobody to ask for notices
    m_started = true;
    m_timer.start();
    m_first.start();
}

void NoticeService::stop()
{
    m_timer.stop();
}

void NoticeService::resume()
{
    if (m_started && !m_timer.isActive())
        m_timer.start();
}

void NoticeService::fetchLatestNotice()
{
    if (m_shownNoticeId >= 1 || !ktr::serviceConfigured())
        return;
    QNetworkAccessManager* manager = m_manager;
    if (!manager) {
        if (!m_ownManager)
            m_ownManager = new QNetworkAccessManager;
        manager = m_ownManager;
    }
    QNetworkRequest request(ktr::serviceUrl(QStringLiteral("/api/notice.php"), QStringLiteral("action=latest")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json; charset=utf-8"));
    request.setTransferTimeout(kTimeoutMs);
    QJsonObject body;
    if (!m_token.isEmpty())
        body.insert(QStringLiteral("token"), m_token);
    QNetworkReply* reply = manager->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    const auto stopBeyondCap = [reply](qint64 received, qint64 total) {
        if ((received <= kMaxReplyBytes && total <= kMaxReplyBytes) || reply->property("ktrTooLarge").toBool())
            return;
        reply->setProperty("ktrTooLarge", true);
        qWarning().noquote() << "notice reply beyond its cap, stopped: bytes =" << std::max(received, total);
        reply->abort();
    };
    connect(reply, &QNetworkReply::downloadProgress, reply, stopBeyondCap);
    connect(reply, &QNetworkReply::readyRead, reply,
            [reply, stopBeyondCap] { stopBeyondCap(reply->bytesAvailable(), -1); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onNoticeReply(reply); });
}

void NoticeService::onNoticeReply(QNetworkReply* reply)
{
    QJsonObject root;
    const bool parsed = parseReplyObject(reply, root);
    reply->disconnect(this);
    reply->deleteLater();
    const QJsonObject notice = root.value(QStringLiteral("notice")).toObject();
    if (!parsed || root.value(QStringLiteral("ok")).toInt() != 1 || notice.isEmpty())
        return;
    const int gen = root.value(QStringLiteral("gen")).toInt();
    const Seen seen = loadNoticeSeen(dataDir());
    const qint64 id = notice.value(QStringLiteral("id")).toVariant().toLongLong();
    if (!isNewNotice(seen, gen, id) || m_shownNoticeId >= 1)
        return;
    const QDateTime created = QDateTime::fromString(notice.value(QStringLiteral("created")).toString(),
                                                    QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QDateTime now = (m_clock ? m_clock : ktr::platform::Clock::system())->now();
    if (!QFileInfo::exists(seenPath(dataDir())) && created.isValid() && created.daysTo(now) > 3) {
        saveNoticeSeen(dataDir(), gen, id);
        return;
    }
    m_shownNoticeId = id;
    m_shownGen = gen;
    auto* dialog = new NoticeDialog(id, notice.value(QStringLiteral("title")).toString(),
                                    notice.value(QStringLiteral("body")).toString(),
                                    notice.value(QStringLiteral("url")).toString(),
                                    notice.value(QStringLiteral("title_color")).toString(), m_parent);
    // Minutes are enough for a notice; a record without a readable time shows no date.
    if (created.isValid())
        dialog->setDate(created.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    m_dialog = dialog;
    connect(dialog, &NoticeDialog::dismissed, this, [this, gen, id] {
        saveNoticeSeen(dataDir(), gen, id);
        m_shownNoticeId = 0;
    });
    connect(dialog, &QObject::destroyed, this, [this, gen, id] {
        markSeenIfNewer(gen, id);
        if (m_shownNoticeId == id)
            m_shownNoticeId = 0;
    });
    dialog->installEventFilter(this);
    m_everShown = false;
    showWhenFree();
}

namespace {

// A modal window other than the notice's own: a card the notice must not cover.
bool modalCardOpen(const QWidget* notice)
{
    const QWindow* modal = QGuiApplication::modalWindow();
    return modal && modal->isVisible() && (!notice || modal != notice->windowHandle());
}

} // namespace

void NoticeService::showWhenFree()
{
    NoticeDialog* dialog = m_dialog;
    if (!dialog) {
        m_modalWait.stop();
        return;
    }
    if (modalCardOpen(dialog)) {
        if (!m_modalWait.isActive())
            m_modalWait.start();
        return;
    }
    m_modalWait.stop();
    if (!m_everShown) {
        m_everShown = true;
        dialog->showCentered();
        Q_EMIT noticeShown(m_shownNoticeId);
        return;
    }
    // Back after a card: where the user left it.
    dialog->show();
    dialog->raise();
}

bool NoticeService::eventFilter(QObject* watched, QEvent* event)
{
    // A modal card opened over a notice already shown would block it (its buttons would do nothing) and be
    // covered by it: the notice steps aside until the card is gone.
    // The event type first: during the dialog's own destruction the pointer must not be read as a dialog.
    if (event->type() == QEvent::WindowBlocked && watched == m_dialog && m_dialog->isVisible() &&
        modalCardOpen(m_dialog)) {
        m_dialog->hide();
        m_modalWait.start();
    }
    return QObject::eventFilter(watched, event);
}

void NoticeService::markSeenIfNewer(int gen, qint64 id)
{
    // The same rule as the fetch: (generation, id) together, so a notice of a new generation is recorded
    // even when its id is below the old generation's.
    if (id > 0 && isNewNotice(loadNoticeSeen(dataDir()), gen, id))
        saveNoticeSeen(dataDir(), gen, id);
}

bool NoticeService::isNewNotice(const Seen& seen, int gen, qint64 id)
{
    qint64 threshold = (seen.gen == gen || seen.gen < 1) ? seen.id : 0;
    if (threshold < 0)
        threshold = 0;
    return id > threshold;
}

NoticeService::Seen NoticeService::parseNoticeSeen(const QByteArray& bytes)
{
    Seen seen;
    if (bytes.size() > 4096)
        return seen;
    const QList<QByteArray> lines = bytes.trimmed().split('\n');
    bool ok = false;
    if (lines.size() == 1) {
        const qint64 id = lines.at(0).trimmed().toLongLong(&ok);
        if (ok)
            seen.id = id;
    } else if (lines.size() >= 2) {
        bool okId = false;
        const int gen = lines.at(0).trimmed().toInt(&ok);
        const qint64 id = lines.at(1).trimmed().toLongLong(&okId);
        if (ok && okId) {
            seen.gen = gen;
            seen.id = id;
        }
    }
    return seen;
}

NoticeService::Seen NoticeService::loadNoticeSeen(const QString& dataDir)
{
    QByteArray bytes;
    if (ktr::readFileCapped(seenPath(dataDir), 4096, &bytes) != ktr::ReadStatus::Ok)
        return {};
    return parseNoticeSeen(bytes);
}

bool NoticeService::saveNoticeSeen(const QString& dataDir, int gen, qint64 id)
{
    QString error;
    if (!ktr::saveFileAtomic(seenPath(dataDir), QByteArray::number(gen) + '\n' + QByteArray::number(id), &error)) {
        qWarning().noquote() << "saveNoticeSeen: commit failed" << error;
        return false;
    }
    return true;
}
