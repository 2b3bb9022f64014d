#include "support/supportchatdialog.h"

#include "support/chatedit.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/screenfit.h"
#include "ui/servicehost.h"
#include "ui/theme.h"
#include "ui/uisignals.h"
#include "ui/windowcorners.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTextDocument>
#include <QWheelEvent>
#include <QWindow>

namespace {

constexpr int kEncodeMaxSide = 1280;
constexpr int kThumbnailSide = 320;

} // namespace

SupportChatDialog::SupportChatDialog(QWidget* parent) : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    keepOnScreen(this);
    followCompositing(this, [] { return currentTheme().windowBackground; });
    setFixedSize(420, 420);
    setMouseTracking(true);
    setWindowTitle(Lang::tr("反馈中心"));

    m_input = new ChatEdit(this);
    m_input->setPlaceholderText(Lang::tr("输入你的问题…（可直接 Ctrl+V 粘贴截图）"));
    applyInputStyle();
    m_input->setAcceptRichText(false);
    m_input->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_input->setWordWrapMode(QTextOption::WrapAnywhere);
    m_input->installEventFilter(this);

    connect(m_input, &QTextEdit::textChanged, this, &SupportChatDialog::adjustInputHeight);
    connect(m_input, &ChatEdit::imagePicked, this, &SupportChatDialog::attachImage);
    m_pollTimer.setInterval(kPollIntervalMs);
    m_pollTimer.setObjectName(QStringLiteral("supportChatPollTimer"));
    connect(&m_pollTimer, &QTimer::timeout, this, &SupportChatDialog::pollOnce);

    connect(&UiSignals::instance(), &UiSignals::languageChanged, this, [this] {
        setWindowTitle(Lang::tr("反馈中心"));
        m_input->setPlaceholderText(Lang::tr("输入你的问题…（可直接 Ctrl+V 粘贴截图）"));
        for (ChatMessage& m : m_messages)
            if (m.label)
                m.text = m.label();
        update();
    });
    connect(&UiSignals::instance(), &UiSignals::themeChanged, this, [this] {
        applyInputStyle();
        update();
    });
    layoutControls();
}

QColor SupportChatDialog::supportBubbleColour()
{
    return currentTheme().isDark ? QColor(0x2C323C) : QColor(0xF0F2F7);
}

// The input box follows the theme as the window does.
void SupportChatDialog::applyInputStyle()
{
    const bool dark = currentTheme().isDark;
    m_input->setStyleSheet(
        QStringLiteral("QTextEdit{border:1px solid %2;border-radius:9px;padding:4px 12px;background:%3;"
                       "color:%4;font-size:13px;font-family:'%1';selection-background-color:#2F6FED;}"
                       "QTextEdit:focus{border:1px solid #2F6FED;}")
            .arg(uiFontFamily(), dark ? QStringLiteral("#3A4150") : QStringLiteral("#D8DCE6"),
                 dark ? QStringLiteral("#1C2027") : QStringLiteral("#F5F6F9"),
                 dark ? QStringLiteral("#E6E9EF") : QStringLiteral("#39404C")));
}

SupportChatDialog::~SupportChatDialog()
{
    for (QNetworkReply* reply : std::as_const(m_pictureReplies)) {
        reply->disconnect(this);
        reply->disconnect(reply);
        reply->abort();
        reply->deleteLater();
    }
    m_pictureReplies.clear();
    if (m_encodeThread.joinable())
        m_encodeThread.join();
}

void SupportChatDialog::setSession(const QString& token, const QString& userName)
{
    m_token = token;
    m_userName = userName;
}

QString SupportChatDialog::title() const
{
    return m_title.isEmpty() ? Lang::tr("青岚舟 · 反馈中心") : m_title;
}

int SupportChatDialog::maxScroll() const
{
    return std::max(0, m_contentHeight + m_inputHeight - 364);
}

void SupportChatDialog::setMessages(const QList<ChatMessage>& messages)
{
    m_messages = messages;
    trimMessages();
    showNewest();
}

void SupportChatDialog::showNewest()
{
    m_layoutDirty = true;
    m_scrollOffset = 0;
    update();
}

void SupportChatDialog::resetConversation()
{
    ++m_generation;
    m_messages.clear();
    m_welcomeShown = false;
    m_lastId = 0;
    // The older conversation's poll and send are dropped when they answer, so they don't block this one.
    m_polling = false;
    m_sending = false;
    m_pendingEcho = false;
    m_pendingText.clear();
    m_pendingImageKey.clear();
    m_pendingIndex = -1;
    m_echoIds.clear();
    showNewest();
}

void SupportChatDialog::openAt(const QPoint& globalPos)
{
    // Whole on the screen of that point: the panel may stand at an edge.
    move(keptWithin(QRect(globalPos, size()), availableGeometryAt(globalPos)).topLeft());
    show();
    raise();
    activateWindow();
    m_input->setFocus();
    if (m_token.isEmpty()) {
        resetConversation();
        ChatMessage hint;
        hint.label = [] { return Lang::tr("请先登录账户后再使用反馈中心。登录后即可与客服实时对话。"); };
        hint.text = hint.label();
        m_messages.append(hint);
        m_pollTimer.stop();
        update();
        QTimer::singleShot(150, this, [this] { emit loginRequested(); });
        return;
    }
    resetConversation();
    pollOnce();
    markRead();
    emit unreadChanged(0);
    postApi(QStringLiteral("welcome"), QJsonObject(), [this](const QJsonObject& o) { applyWelcome(o); });
    if (!m_pollTimer.isActive())
        m_pollTimer.start(kPollIntervalMs);
}

void SupportChatDialog::reloadAfterLogin()
{
    resetConversation();
    pollOnce();
    markRead();
    emit unreadChanged(0);
    postApi(QStringLiteral("welcome"), QJsonObject(), [this](const QJsonObject& o) { applyWelcome(o); });
    if (isVisible() && !m_pollTimer.isActive())
        m_pollTimer.start(kPollIntervalMs);
}

void SupportChatDialog::clearSession()
{
    setSession(QString(), QString());
    m_pollTimer.stop();
    removePendingPicture();
    m_input->clear();
    resetConversation();
    hide();
}

void SupportChatDialog::hideEvent(QHideEvent* event)
{
    m_pollTimer.stop();
    emit chatHidden();
    QWidget::hideEvent(event);
}

void SupportChatDialog::layoutControls()
{
    const int h = m_inputHeight;
    m_pictureButtonRect = QRect(16, 426 - h, 36, 32);
    m_input->setGeometry(60, 426 - h, 286, h - 20);
    m_sendRect = QRect(350, 426 - h, 66, 32);
    m_closeRect = QRect(386, 10, 24, 24);
    m_pendingRect = m_pendingPicture.isNull() ? QRect() : QRect(16, 354 - h, 56, 56);
}

void SupportChatDialog::adjustInputHeight()
{
    const QString text = m_input->toPlainText();
    const QStringList lines = text.split(QLatin1Char('\n'));
    int height = -1;
    if (lines.size() < 2) {
        QFont f = m_input->font();
        f.setPixelSize(13);
        if (QFontMetrics(f).horizontalAdvance(lines.value(0)) <= m_input->viewport()->width() - 26)
            height = 52;
    }
    if (height < 0) {
        const int doc = int(std::ceil(m_input->document()->size().height()));
        height = std::clamp(doc + 14, 32, 118) + 20;
    }
    if (height != m_inputHeight) {
        m_inputHeight = height;
        layoutControls();
        update();
    }
}

bool SupportChatDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_input && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            hide();
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !(key->modifiers() & Qt::ShiftModifier)) {
            send();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SupportChatDialog::pickImageFile()
{
    const QString path = ktr::dialogs::openFile(this, Lang::tr("选择图片发送"),
                                                QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
                                                Lang::tr("图片 (*.png *.jpg *.jpeg *.bmp)"));
    if (path.isEmpty())
        return;
    const QImage image(path);
    if (!image.isNull())
        attachImage(image);
}

void SupportChatDialog::attachImage(const QImage& image)
{
    if (image.isNull())
        return;
    m_base64Ready = false;
    m_pendingBase64.clear();
    m_pendingPicture =
        QPixmap::fromImage(image.scaled(kThumbnailSide, kThumbnailSide, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    layoutControls();
    update();
    if (m_encodeThread.joinable()) {
        m_queuedImage = image;
        m_encodeQueued = true;
    } else {
        startEncode(image);
    }
}

void SupportChatDialog::startEncode(const QImage& image)
{
    m_encodeToken = std::make_shared<int>(0);
    // The destructor joins this thread before the window's QObject goes, so the queued call below is either
    // delivered to a live window or discarded with its posted events.
    m_encodeThread = std::thread([self = this, token = std::weak_ptr<int>(m_encodeToken), image] {
        QImage scaled = image;
        if (scaled.width() > kEncodeMaxSide || scaled.height() > kEncodeMaxSide)
            scaled = scaled.scaled(kEncodeMaxSide, kEncodeMaxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        scaled.save(&buffer, "PNG");
        const QString base64 = QString::fromLatin1(png.toBase64());
        QMetaObject::invokeMethod(
            self,
            [self, token, base64] {
                const std::shared_ptr<int> current = token.lock();
                if (current && current == self->m_encodeToken)
                    self->onEncodeFinished(base64);
            },
            Qt::QueuedConnection);
    });
}

void SupportChatDialog::onEncodeFinished(const QString& base64)
{
    if (m_encodeThread.joinable())
        m_encodeThread.join();
    if (m_pendingPicture.isNull()) {
        m_pendingBase64.clear();
        m_base64Ready = false;
        m_encodeQueued = false;
        m_queuedImage = QImage();
        m_encodeToken.reset();
        update();
        return;
    }
    m_pendingBase64 = base64;
    m_base64Ready = true;
    if (m_encodeQueued) {
        m_encodeQueued = false;
        const QImage next = m_queuedImage;
        m_queuedImage = QImage();
        if (!next.isNull()) {
            m_pendingBase64.clear();
            m_base64Ready = false;
            startEncode(next);
        }
    }
    update();
}

void SupportChatDialog::removePendingPicture()
{
    m_pendingPicture = QPixmap();
    m_pendingBase64.clear();
    m_base64Ready = false;
    m_encodeQueued = false;
    m_queuedImage = QImage();
    layoutControls();
    update();
}

int SupportChatDialog::hitTest(const QPoint& pos) const
{
    if (m_sendRect.contains(pos))
        return 1;
    if (m_closeRect.contains(pos))
        return 2;
    if (m_pictureButtonRect.contains(pos))
        return 3;
    if (!m_pendingRect.isNull() && m_pendingRect.contains(pos))
        return 4;
    return 0;
}

void SupportChatDialog::mouseMoveEvent(QMouseEvent* event)
{
    const int hit = hitTest(event->position().toPoint());
    if (hit != m_hover) {
        m_hover = hit;
        update();
    }
    setCursor(hit ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void SupportChatDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    const int hit = hitTest(pos);
    if (hit == 0 && pos.y() <= 44) {
        if (QWindow* w = windowHandle())
            w->startSystemMove();
        return;
    }
    m_pressed = hit;
}

void SupportChatDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    const int hit = hitTest(pos);
    const int pressed = m_pressed;
    m_pressed = 0;
    if (hit == 0) {
        const QPoint content(pos.x(), pos.y() + maxScroll() - m_scrollOffset);
        const int n = int(std::min(m_messages.size(), m_pictureRects.size()));
        for (int i = 0; i < n; ++i) {
            if (m_pictureRects[i].isNull() || !m_pictureRects[i].contains(content))
                continue;
            // The same rule as the download: a local picture, a path or anything unusual opens nothing.
            const QString& key = m_messages[i].img;
            if (isPictureKey(key))
                ktr::dialogs::openUrl(ktr::serviceUrl(QStringLiteral("/uploads/") + key));
            break;
        }
        return;
    }
    if (hit != pressed)
        return;
    switch (hit) {
    case 1:
        send();
        break;
    case 2:
        hide();
        break;
    case 3:
        pickImageFile();
        break;
    case 4:
        removePendingPicture();
        break;
    }
}

void SupportChatDialog::wheelEvent(QWheelEvent* event)
{
    if (event->angleDelta().y() > 0)
        m_scrollOffset += 48;
    else
        m_scrollOffset = std::max(0, m_scrollOffset - 48);
    update();
}
