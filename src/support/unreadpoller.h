#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

// The count of unread support messages while the chat window is closed: every 12 s (from the first
// application of the settings), at once when the chat is hidden and after a login asked for by the chat.
// The count belongs to an account's conversation, so nothing is asked while signed out: the timer runs only
// while there is a token (a login starts it and polls at once, a sign-out stops it), and an idle signed-out
// panel is not woken every 12 s for a question without an answer.
// One request at a time: a new poll replaces the pending one, a tick while one is pending or while the chat
// is visible does nothing, and a count arriving while the chat is visible is ignored (the chat shows the
// messages itself). countChanged carries the number for the bottom bar's badge.
class UnreadPoller : public QObject
{
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 12000;
    static constexpr int kTimeoutMs = 15000;

    explicit UnreadPoller(QObject* parent = nullptr);

    // Not owned; without one the poller makes its own on first use.
    void setNetworkManager(QNetworkAccessManager* manager);
    void setToken(const QString& token);
    // The chat window whose visibility suspends the poll (may be destroyed; then there is none).
    void setChat(QWidget* chat) { m_chat = chat; }

    // From the settings being applied: starts the timer when it is not running and then polls once. A later
    // application with the timer running does nothing. True when it started the timer. Without a token the
    // start waits for the token.
    bool startIfStopped();
    // Sends one request, replacing (aborting) a pending one. Does nothing while the chat is visible or
    // without a token.
    void poll();
    // The count as the badge shows it; set to 0 when the chat opens or shows new messages.
    int count() const { return m_count; }
    void setCount(int count);
    void stop();

    QTimer* timer() { return &m_timer; }
    bool isPending() const { return !m_pending.isNull(); }

Q_SIGNALS:
    void countChanged(int count);

private:
    void onTick();
    bool chatVisible() const;
    void stopTimerAndReply();

    QTimer m_timer;
    QPointer<QNetworkReply> m_pending;
    QPointer<QWidget> m_chat;
    QNetworkAccessManager* m_manager = nullptr;
    QString m_token;
    int m_count = 0;
    bool m_wanted = false; // the settings asked for the poll; it runs while there is a token
};
