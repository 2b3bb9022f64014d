#pragma once

#include <QObject>

class QTimer;

// The main window's side of the support service: the unread-message poll and the notice poll. It owns both
// timers; the requests come with the support chat.
class SupportPoller : public QObject
{
    Q_OBJECT
public:
    static constexpr int kUnreadIntervalMs = 12000;
    static constexpr int kNoticeIntervalMs = 60000;
    static constexpr int kFirstNoticeDelayMs = 3000;

    explicit SupportPoller(QObject* parent = nullptr);

    // Starts the unread poll when it is not running, with one poll at once.
    void startUnreadPolling();
    // Starts the notice poll (once), with a first fetch shortly after.
    void startNotices();
    void pollUnread();
    void fetchLatestNotice();
    void stop();

private:
    QTimer* m_unreadTimer;
    QTimer* m_noticeTimer = nullptr;
};
