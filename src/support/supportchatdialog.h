#pragma once

#include <QColor>
#include <QHash>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <thread>

class ChatEdit;
class QNetworkAccessManager;
class QNetworkReply;

// The small frameless window in which the user chats with support: a painted header, a scrolling column of
// message bubbles with pictures, and an input area with a picture button, the input box and a send button.
// It talks to "/api/support.php" (poll, read, send, welcome) and fetches message pictures from "/uploads/".
// Everything runs on the GUI thread except the short encoding thread of an attached picture.
class SupportChatDialog : public QWidget
{
    Q_OBJECT
public:
    struct ChatMessage
    {
        bool mine = false; // sent by this user; false for support messages and local hints
        QString text;
        QString created; // the server's time text, kept, not drawn
        QString img;     // picture key; "local:N" exists only in this window's cache
        // A hint of this window (not a message of the service): gives `text` again in the language of the
        // moment, so a language switch re-labels hints already on screen.
        std::function<QString()> label;
    };

    // The fill of support bubbles and of the picture button in the current theme.
    static QColor supportBubbleColour();

    static constexpr int kMaxMessages = 500;
    static constexpr int kMaxPictures = 120;
    static constexpr qint64 kMaxPictureBytes = 4194304;
    // What a bubble shows of one message; the rest is cut with an ellipsis, so a message of megabytes costs
    // no more to lay out and paint than a long one.
    static constexpr int kMaxShownChars = 3000;
    static constexpr int kMaxShownLines = 80;
    // A reply of the support service larger than this is stopped unread.
    static constexpr qint64 kMaxApiReplyBytes = 64 * 1024 * 1024;
    static constexpr int kPollIntervalMs = 3000;
    static constexpr int kApiTimeoutMs = 15000;
    static constexpr int kPictureTimeoutMs = 20000;

    explicit SupportChatDialog(QWidget* parent = nullptr);
    ~SupportChatDialog() override;

    void setSession(const QString& token, const QString& userName);
    void openAt(const QPoint& globalPos);
    void reloadAfterLogin();
    // After a sign-out: no token, the conversation, the typed text and an attached picture are dropped and
    // the window closes, so the next user sees nothing of it.
    void clearSession();

    // Uses the given manager instead of making its own (not owned; tests record requests through it).
    void setNetworkManager(QNetworkAccessManager* manager);

    // The requests of the conversation.
    void postApi(const QString& action, QJsonObject body, std::function<void(const QJsonObject&)> callback);
    void pollOnce();
    void markRead();
    void send();
    void downloadImage(const QString& key);
    // Stores a picture as the most recently shown; beyond kMaxPictures the one shown least recently and
    // not on screen now is dropped.
    void cachePicture(const QString& key, const QPixmap& picture);
    // A picture painted in view: marked as shown now, or fetched when it is not in the cache.
    void notePictureShown(const QString& key);
    // True when a listed message with this picture key lies in the visible band.
    bool isPictureShown(const QString& key) const;
    void trimMessages();

    // Picture attachment.
    void attachImage(const QImage& image);
    void pickImageFile();
    void removePendingPicture();

    // Laying out and hit testing (1 send, 2 close, 3 picture button, 4 pending thumbnail, 0 none).
    void layoutControls();
    void layoutMessages();
    void adjustInputHeight();
    int hitTest(const QPoint& pos) const;

    // A key the service may have a picture for: letters, digits, "_", "-" and single dots only. Both the
    // download and the click that opens a picture in the browser ask this.
    static bool isPictureKey(const QString& key);
    // A message's text as a bubble shows it: at most kMaxShownChars characters and kMaxShownLines lines.
    static QString shownText(const QString& text);
    // A message id from a number or a numeric string; 0 for anything else.
    static qint64 readId(const QJsonValue& value);
    // A downloaded picture fitted into 190 x 140 logical pixels at the device pixel ratio (at most 2).
    static QImage fitPicture(const QImage& image, qreal devicePixelRatio);

    // State, for the window's tests and the benchmark.
    const QList<ChatMessage>& messages() const { return m_messages; }
    void setMessages(const QList<ChatMessage>& messages); // a conversation as if polled (previews, benchmark)
    QString token() const { return m_token; }
    QString userName() const { return m_userName; }
    qint64 lastId() const { return m_lastId; }
    bool isPolling() const { return m_polling; }
    bool isSending() const { return m_sending; }
    bool pendingEcho() const { return m_pendingEcho; }
    int pendingIndex() const { return m_pendingIndex; }
    QString title() const;
    const QHash<QString, QPixmap>& pictures() const { return m_pictures; }
    const QStringList& pictureOrder() const { return m_pictureOrder; }
    const QSet<QString>& failedPictures() const { return m_failedPictures; }
    const QSet<QString>& downloading() const { return m_downloading; }
    QPixmap pendingPicture() const { return m_pendingPicture; }
    QString pendingBase64() const { return m_pendingBase64; }
    bool base64Ready() const { return m_base64Ready; }
    bool isEncoding() const { return m_encodeThread.joinable(); }
    const QList<QRect>& bubbleRects() const { return m_bubbleRects; }
    const QList<QRect>& pictureRects() const { return m_pictureRects; }
    int contentHeight() const { return m_contentHeight; }
    int scrollOffset() const { return m_scrollOffset; }
    int maxScroll() const;
    int inputHeight() const { return m_inputHeight; }
    ChatEdit* inputBox() const { return m_input; }
    QTimer* pollTimer() { return &m_pollTimer; }

Q_SIGNALS:
    void unreadChanged(int count);
    void chatHidden();
    void loginRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QNetworkAccessManager* manager();
    // Starts a new conversation: the list, the poll and echo state; replies of the older one are dropped.
    void resetConversation();
    void applyWelcome(const QJsonObject& reply);
    void appendHint(const std::function<QString()>& label);
    void applyInputStyle();
    void showNewest(); // layout dirty, newest at the bottom, repaint
    void startEncode(const QImage& image);
    void onEncodeFinished(const QString& base64);
    void onPictureFinished(QNetworkReply* reply, const QString& key);
    void paintMessages(class QPainter& p);

    // The conversation.
    QList<ChatMessage> m_messages;
    QString m_token;
    qint64 m_lastId = 0;
    bool m_polling = false;
    bool m_sending = false;
    bool m_welcomeShown = false;
    bool m_pendingEcho = false;
    QString m_pendingText;
    QString m_pendingImageKey;
    int m_pendingIndex = -1;
    int m_localSeq = 0;
    // Ids the service gave our own sent messages whose copies the poll has not brought yet: the poll skips
    // them (our local echo is already in the list) instead of the send raising lastId past other messages.
    QSet<qint64> m_echoIds;
    // Counts conversations; a reply of an older one is dropped.
    quint64 m_generation = 0;
    QHash<QString, QPixmap> m_pictures;
    QStringList m_pictureOrder;
    QSet<QString> m_downloading;
    QSet<QString> m_failedPictures;
    QSet<QNetworkReply*> m_pictureReplies;
    QNetworkAccessManager* m_manager = nullptr;
    bool m_ownsManager = false;

    // The window.
    ChatEdit* m_input = nullptr;
    int m_inputHeight = 52;
    QRect m_sendRect, m_closeRect, m_pictureButtonRect, m_pendingRect;
    int m_hover = 0;
    int m_pressed = 0;
    QPixmap m_pendingPicture;
    QString m_pendingBase64;
    bool m_base64Ready = false;
    QImage m_queuedImage;
    bool m_encodeQueued = false;
    std::thread m_encodeThread;
    std::shared_ptr<int> m_encodeToken;
    QList<QRect> m_bubbleRects;
    QList<QRect> m_pictureRects;
    int m_contentHeight = 0;
    int m_scrollOffset = 0;
    bool m_layoutDirty = true;
    QString m_title; // a welcome reply's title; empty = the default title
    QString m_userName;
    QTimer m_pollTimer;
};
