// The support chat's side of the service: requests to "/api/support.php", how each reply changes the
// conversation, and the message pictures with their cache.

#include "support/supportchatdialog.h"

#include "account/deviceid.h"
#include "support/chatedit.h"
#include "ui/lang.h"
#include "ui/servicehost.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <cmath>

namespace {

bool isOk(const QJsonObject& o)
{
    // A JSON true reads as 0 here: only the number 1 counts.
    return o.value(QStringLiteral("ok")).toInt() == 1;
}

QString str(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString();
}

} // namespace

bool SupportChatDialog::isPictureKey(const QString& key)
{
    if (key.isEmpty() || key.contains(QLatin1String("..")))
        return false;
    for (const QChar c : key) {
        const char16_t u = c.unicode();
        const bool allowed = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '_' ||
                             u == '-' || u == '.';
        if (!allowed)
            return false;
    }
    return true;
}

qint64 SupportChatDialog::readId(const QJsonValue& value)
{
    bool ok = false;
    const qint64 id = value.toVariant().toLongLong(&ok);
    return ok ? id : 0;
}

QImage SupportChatDialog::fitPicture(const QImage& image, qreal devicePixelRatio)
{
    qreal r = devicePixelRatio;
    QSize box(190, 140);
    if (r > 2) {
        box = QSize(380, 280);
        r = 2;
    } else if (r > 1) {
        box = QSize(std::max(1, int(std::lround(190 * r))), std::max(1, int(std::lround(140 * r))));
    } else {
        r = 1;
    }
    if (image.width() <= box.width() && image.height() <= box.height())
        return image;
    QImage fitted = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    fitted.setDevicePixelRatio(r);
    return fitted;
}

QNetworkAccessManager* SupportChatDialog::manager()
{
    if (!m_manager) {
        m_manager = new QNetworkAccessManager(this);
        m_ownsManager = true;
    }
    return m_manager;
}

void SupportChatDialog::setNetworkManager(QNetworkAccessManager* manager)
{
    m_manager = manager;
    m_ownsManager = false;
}

void SupportChatDialog::postApi(const QString& action, QJsonObject body,
                                std::function<void(const QJsonObject&)> callback)
{
    if (!ktr::serviceConfigured())
        return; // the chat is not offered without a service; nothing goes out if it is reached anyway
    body.insert(QStringLiteral("device"), deviceId());
    body.insert(QStringLiteral("as_user"), 1);
    QNetworkRequest req(ktr::serviceUrl(QStringLiteral("/api/support.php"), QStringLiteral("action=") + action));
    req.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json; charset=utf-8"));
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    req.setTransferTimeout(kApiTimeoutMs);
    QNetworkReply* reply = manager()->post(req, QJsonDocument(body).toJson(QJsonDocument::Compact));
    // Stopped at the cap, as every read is: a reply of hundreds of megabytes is not buffered first.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, action](qint64 received, qint64 total) {
        if (received <= kMaxApiReplyBytes && total <= kMaxApiReplyBytes)
            return;
        if (!reply->property("ktrTooLarge").toBool())
            qWarning().noquote() << "support postApi reply too large, dropped: action =" << action
                                 << "bytes =" << std::max(received, total);
        reply->setProperty("ktrTooLarge", true);
        reply->abort();
    });
    const quint64 generation = m_generation;
    connect(reply, &QNetworkReply::finished, reply,
            [reply, self = QPointer<SupportChatDialog>(this), generation, callback = std::move(callback)] {
                reply->deleteLater();
                // A reply of an older conversation (another account, a reload) must not reach this one.
                if (!self || self->m_generation != generation)
                    return;
                const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                const bool transportError = reply->error() != QNetworkReply::NoError;
                QJsonObject out;
                if (reply->property("ktrTooLarge").toBool()) {
                    // Logged when it was stopped.
                } else if (!transportError && status >= 200 && status <= 299) {
                    QJsonParseError error;
                    const QJsonDocument doc = QJsonDocument::fromJson(reply->read(kMaxApiReplyBytes + 1), &error);
                    if (error.error == QJsonParseError::NoError && doc.isObject())
                        out = doc.object();
                    else
                        qWarning().noquote()
                            << "support postApi parse failed:"
                            << (error.error != QJsonParseError::NoError ? error.errorString()
                                                                        : QStringLiteral("not an object"));
                } else {
                    qWarning().noquote() << "support postApi rejected: http =" << status
                                         << "transportError =" << (transportError ? "true" : "false")
                                         << reply->errorString();
                }
                if (callback)
                    callback(out);
            });
}

QString SupportChatDialog::shownText(const QString& text)
{
    qsizetype end = std::min<qsizetype>(text.size(), kMaxShownChars);
    int lines = 1;
    for (qsizetype i = 0; i < end; ++i) {
        if (text.at(i) == QLatin1Char('\n') && ++lines > kMaxShownLines) {
            end = i;
            break;
        }
    }
    if (end == text.size())
        return text;
    if (end > 0 && text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end) + QChar(0x2026);
}

void SupportChatDialog::pollOnce()
{
    if (m_polling)
        return;
    m_polling = true;
    postApi(QStringLiteral("poll"), QJsonObject{{"token", m_token}, {"after", m_lastId}}, [this](const QJsonObject& o) {
        m_polling = false;
        if (!isOk(o) || !isVisible())
            return; // a hidden window drops the batch and keeps lastId, so the next poll asks again
        bool appended = false;
        for (const QJsonValue& v : o.value(QStringLiteral("messages")).toArray()) {
            const QJsonObject e = v.toObject();
            ChatMessage m;
            m.mine = e.value(QStringLiteral("from_cs")).toInt() == 0;
            m.text = str(e, "text");
            m.created = str(e, "created");
            m.img = str(e, "img");
            const qint64 id = readId(e.value(QStringLiteral("id")));
            if (m.mine && m_echoIds.remove(id)) {
                // The copy of a message whose send already succeeded: its echo is in the list.
            } else if (m.mine && m_pendingEcho && m.text == m_pendingText &&
                       m.img.isEmpty() == m_pendingImageKey.isEmpty()) {
                m_pendingEcho = false;
                m_pendingIndex = -1;
            } else {
                // Its picture is fetched when it comes into view (painting asks for it).
                m.text = shownText(m.text);
                m_messages.append(m);
                appended = true;
            }
            m_lastId = std::max(m_lastId, id);
        }
        m_echoIds.removeIf([this](qint64 id) { return id <= m_lastId; });
        if (appended) {
            trimMessages();
            showNewest();
            markRead();
            emit unreadChanged(0);
        }
    });
}

void SupportChatDialog::markRead()
{
    postApi(QStringLiteral("read"), QJsonObject{{"token", m_token}}, nullptr);
}

void SupportChatDialog::appendHint(const std::function<QString()>& label)
{
    ChatMessage hint;
    hint.label = label;
    hint.text = label();
    m_messages.append(hint);
    trimMessages();
    showNewest();
}

void SupportChatDialog::send()
{
    if (m_sending)
        return;
    const QString text = m_input->toPlainText().trimmed();
    const bool havePicture = !m_pendingPicture.isNull();
    if (text.isEmpty() && !havePicture)
        return;
    if (havePicture && !m_base64Ready) {
        appendHint([] { return Lang::tr("图片正在处理中，请稍候再发送。"); });
        return;
    }
    if (m_token.isEmpty()) {
        appendHint([] { return Lang::tr("请先登录账户后再发送消息。"); });
        emit loginRequested();
        return;
    }
    const QPixmap thumbnail = m_pendingPicture;
    const QString base64 = m_pendingBase64;
    m_input->clear();
    m_pendingPicture = QPixmap();
    m_pendingBase64.clear();
    m_base64Ready = false;
    m_sending = true;

    QJsonObject body{{"token", m_token}};
    if (!text.isEmpty())
        body.insert(QStringLiteral("text"), text);
    if (havePicture)
        body.insert(QStringLiteral("img_b64"), base64);

    ChatMessage echo;
    echo.mine = true;
    echo.text = text;
    echo.created = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (havePicture) {
        ++m_localSeq;
        echo.img = QStringLiteral("local:%1").arg(m_localSeq);
        cachePicture(echo.img, thumbnail);
    }
    m_pendingEcho = true;
    m_pendingText = text;
    m_pendingImageKey = echo.img;
    m_pendingIndex = int(m_messages.size());
    m_messages.append(echo);
    trimMessages();
    layoutControls();
    showNewest();

    postApi(QStringLiteral("send"), body, [this, thumbnail, base64, havePicture](const QJsonObject& o) {
        m_sending = false;
        if (isOk(o)) {
            // Only polls move lastId: raising it to this id would skip support messages that arrived
            // between the last poll and this send. The poll skips our own copy by its id instead.
            const qint64 id = readId(o.value(QStringLiteral("id")));
            if (id > m_lastId)
                m_echoIds.insert(id);
            if (id > 0) {
                m_pendingEcho = false;
                m_pendingIndex = -1;
                m_pendingImageKey.clear();
            } // without an id the text rule of the poll finds the copy
            layoutControls();
            pollOnce();
            return;
        }
        if (m_pendingIndex >= 0 && m_pendingIndex < m_messages.size() &&
            m_messages[m_pendingIndex].text == m_pendingText && m_messages[m_pendingIndex].img == m_pendingImageKey)
            m_messages.removeAt(m_pendingIndex);
        if (!m_pendingImageKey.isEmpty()) {
            m_pictures.remove(m_pendingImageKey);
            m_pictureOrder.removeAll(m_pendingImageKey);
        }
        m_pendingEcho = false;
        m_pendingIndex = -1;
        m_pendingImageKey.clear();
        if (havePicture && m_pendingPicture.isNull()) {
            m_pendingPicture = thumbnail;
            m_pendingBase64 = base64;
            m_base64Ready = !base64.isEmpty();
            layoutControls();
        }
        const QString msg = str(o, "msg");
        ChatMessage failure;
        failure.label = [msg] {
            return Lang::tr("⚠ 发送失败：") + (msg.isEmpty() ? Lang::tr("网络异常，请稍后重试") : msg);
        };
        failure.text = failure.label();
        m_messages.append(failure);
        trimMessages();
        showNewest();
    });
}

void SupportChatDialog::applyWelcome(const QJsonObject& o)
{
    if (!isOk(o) || m_welcomeShown)
        return;
    m_welcomeShown = true;
    const QString title = str(o, "title");
    if (!title.isEmpty())
        m_title = title.left(200);
    const QString text = str(o, "text");
    const bool anySupport =
        std::any_of(m_messages.cbegin(), m_messages.cend(), [](const ChatMessage& m) { return !m.mine; });
    if (!text.isEmpty() && !anySupport) {
        ChatMessage welcome;
        welcome.text = shownText(text);
        m_messages.insert(0, welcome);
        if (m_pendingIndex >= 0)
            ++m_pendingIndex;
        m_layoutDirty = true;
    }
    update();
}

void SupportChatDialog::trimMessages()
{
    if (m_messages.size() <= kMaxMessages)
        return;
    const int drop = int(m_messages.size()) - kMaxMessages;
    for (int i = 0; i < drop; ++i) {
        const QString& img = m_messages[i].img;
        if (img.startsWith(QLatin1String("local:"))) {
            m_pictures.remove(img);
            m_pictureOrder.removeAll(img);
        }
    }
    m_messages.erase(m_messages.begin(), m_messages.begin() + drop);
    if (m_pendingIndex >= 0) {
        m_pendingIndex -= drop;
        if (m_pendingIndex < 0) {
            m_pendingIndex = -1;
            m_pendingEcho = false;
        }
    }
    m_layoutDirty = true;
}

void SupportChatDialog::downloadImage(const QString& key)
{
    // Asked for by painting, for the pictures in view only: one evicted from the cache is fetched again when
    // it comes back into view, and one never scrolled to is never fetched. A picture that failed is not
    // asked for again in this conversation.
    if (!isPictureKey(key) || m_pictures.contains(key) || m_downloading.contains(key) ||
        m_failedPictures.contains(key) || !ktr::serviceConfigured())
        return;
    m_downloading.insert(key);
    QNetworkRequest req(ktr::serviceUrl(QStringLiteral("/uploads/") + key));
    req.setTransferTimeout(kPictureTimeoutMs);
    QNetworkReply* reply = manager()->get(req);
    m_pictureReplies.insert(reply);
    // The cap holds while the body streams in, not only once it is all in memory. Qt throttles
    // downloadProgress (a burst followed by a stall reports nothing), so the announced length and every
    // arrival are checked too.
    const auto capCheck = [this, reply, key](qint64 received, qint64 total) {
        if (reply->property("ktrRejected").toBool() || (received <= kMaxPictureBytes && total <= kMaxPictureBytes))
            return;
        qWarning().noquote() << "support image too large, rejected:" << key << std::max(received, total);
        m_failedPictures.insert(key);
        reply->setProperty("ktrRejected", true);
        reply->abort();
    };
    connect(reply, &QNetworkReply::downloadProgress, reply, capCheck);
    connect(reply, &QNetworkReply::metaDataChanged, reply,
            [reply, capCheck] { capCheck(0, reply->header(QNetworkRequest::ContentLengthHeader).toLongLong()); });
    connect(reply, &QNetworkReply::readyRead, reply, [reply, capCheck] { capCheck(reply->bytesAvailable(), 0); });
    connect(reply, &QNetworkReply::finished, reply, [reply, key, self = QPointer<SupportChatDialog>(this)] {
        reply->deleteLater();
        if (self)
            self->onPictureFinished(reply, key);
    });
}

void SupportChatDialog::onPictureFinished(QNetworkReply* reply, const QString& key)
{
    m_pictureReplies.remove(reply);
    m_downloading.remove(key);
    if (reply->property("ktrRejected").toBool())
        return;
    bool lengthOk = false;
    const qint64 length = reply->rawHeader("Content-Length").trimmed().toLongLong(&lengthOk);
    if (lengthOk && length > kMaxPictureBytes) {
        qWarning().noquote() << "support image too large, rejected:" << key << length;
        m_failedPictures.insert(key);
        return;
    }
    const QByteArray body = reply->read(kMaxPictureBytes + 1);
    if (body.size() > kMaxPictureBytes) {
        qWarning().noquote() << "support image too large, rejected:" << key << body.size();
        m_failedPictures.insert(key);
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) {
        qWarning().noquote() << "support image rejected: http =" << status << key;
        m_failedPictures.insert(key);
        return;
    }
    const QImage image = QImage::fromData(body);
    if (image.isNull()) {
        m_failedPictures.insert(key);
        return;
    }
    cachePicture(key, QPixmap::fromImage(fitPicture(image, devicePixelRatioF())));
    if (isVisible() && window()->isVisible()) {
        m_layoutDirty = true;
        update();
    }
}

bool SupportChatDialog::isPictureShown(const QString& key) const
{
    const int top = maxScroll() - m_scrollOffset + 48;
    const int bottom = maxScroll() - m_scrollOffset + 420 - m_inputHeight;
    const int n = int(std::min(m_messages.size(), m_pictureRects.size()));
    for (int i = 0; i < n; ++i) {
        const QRect& r = m_pictureRects[i];
        if (m_messages[i].img == key && !r.isNull() && r.bottom() >= top && r.top() <= bottom)
            return true;
    }
    return false;
}

void SupportChatDialog::cachePicture(const QString& key, const QPixmap& picture)
{
    while (m_pictures.size() >= kMaxPictures && !m_pictures.contains(key)) {
        if (m_pictureOrder.isEmpty()) {
            m_pictures.clear();
            break;
        }
        // The picture shown least recently that is not on screen now goes; one on screen would vanish under
        // the user's eyes.
        qsizetype victim = 0;
        while (victim < m_pictureOrder.size() && isPictureShown(m_pictureOrder[victim]))
            ++victim;
        if (victim == m_pictureOrder.size())
            victim = 0;
        m_pictures.remove(m_pictureOrder.takeAt(victim));
    }
    m_pictureOrder.removeOne(key);
    m_pictureOrder.append(key);
    m_pictures.insert(key, picture);
}

void SupportChatDialog::notePictureShown(const QString& key)
{
    if (!m_pictures.contains(key)) {
        downloadImage(key);
        return;
    }
    if (!m_pictureOrder.isEmpty() && m_pictureOrder.constLast() == key)
        return;
    m_pictureOrder.removeOne(key);
    m_pictureOrder.append(key);
}
