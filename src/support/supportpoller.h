#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class NoticeService;
class QNetworkAccessManager;
class QWidget;
class SupportChatDialog;
class UnreadPoller;

// The main window's side of the support service: the unread count of the support chat for the bottom bar's
// badge and the server notices. It owns both pollers and hands them the window's network manager and token.
class SupportPoller : public QObject
{
    Q_OBJECT
public:
    // window: the parent of the notice dialogs.
    explicit SupportPoller(QWidget* window, QObject* parent = nullptr);
    ~SupportPoller() override;

    // Not owned: the window's shared manager.
    void setNetworkManager(QNetworkAccessManager* manager);
    void setToken(const QString& token);
    // The chat window: its visibility suspends the unread poll, its own count replaces the polled one, a
    // hidden chat polls at once and its login request is passed on.
    void setChat(SupportChatDialog* chat);

    // From the settings being applied: starts the unread timer when it is not running, with one poll at once.
    void startUnreadPolling();
    void pollUnread();
    void setUnreadCount(int count);

    // Arms the notice fetch (once): 3 s from now, then every 60 s.
    void startNotices();
    void fetchLatestNotice();
    // The notice fetch pauses while an installer download runs.
    void stop();
    void resume();
    // Shutdown: both pollers stop and drop their requests.
    void shutdown();

    UnreadPoller* unread() const { return m_unread; }
    NoticeService* notices() const { return m_notices; }

Q_SIGNALS:
    // The count for the badge changed.
    void unreadCountChanged(int count);
    // The chat asks for a login.
    void loginRequested();

private:
    UnreadPoller* m_unread;
    NoticeService* m_notices;
    QPointer<SupportChatDialog> m_chat;
};
