#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class NoticeDialog;
class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

namespace ktr::platform {
class Clock;
}

// The server notices of the main window: the latest notice is fetched 3 s after start and then every 60 s
// (not while a notice is open), and each new notice is shown once in a NoticeDialog. "notice_seen.txt" in
// the data folder keeps the generation of the numbering and the last id shown, so a notice is not shown again
// after a restart; a fresh installation marks notices older than three days seen without showing them.
class NoticeService : public QObject
{
    Q_OBJECT
public:
    static constexpr int kFirstFetchDelayMs = 3000;
    static constexpr int kIntervalMs = 60000;
    static constexpr int kTimeoutMs = 10000;
    // A notice reply larger than this is stopped unread (the card shows a screenful of it at most).
    static constexpr qint64 kMaxReplyBytes = 4 * 1024 * 1024;
    // A notice never stands over a modal card of ours (the login card, a question): the card would block
    // it, so it could not be closed, and it would hide the card's fields. It waits, looking again this often.
    static constexpr int kModalWaitMs = 300;

    struct Seen
    {
        int gen = 0;
        qint64 id = 0;
        bool operator==(const Seen&) const = default;
    };

    // dialogParent: the window the notices belong to (may be destroyed first; then notices have no parent).
    explicit NoticeService(QWidget* dialogParent, QObject* parent = nullptr);
    ~NoticeService() override;

    // Not owned; without one the service makes its own on first use.
    void setNetworkManager(QNetworkAccessManager* manager);
    void setToken(const QString& token) { m_token = token; }
    void setDataDir(const QString& dataDir) { m_dataDir = dataDir; } // empty: the program's data folder
    void setClock(ktr::platform::Clock* clock) { m_clock = clock; }  // nullptr: the system clock

    // Arms the first fetch and the repeating timer (once; later calls do nothing).
    void start();
    // Stops the repeating timer (while an installer download runs); resume() starts it again.
    void stop();
    void resume();

    void fetchLatestNotice();
    qint64 shownNoticeId() const { return m_shownNoticeId; }
    NoticeDialog* openDialog() const { return m_dialog; }
    QTimer* firstTimer() { return &m_first; }
    QTimer* timer() { return &m_timer; }
    // Whether the notice to show waits for a modal card to close.
    bool waitingForModal() const { return m_modalWait.isActive(); }

    // "notice_seen.txt": two decimal lines (generation, id), or one line (the id, generation 0); anything
    // else, a missing file or one above 4096 bytes reads as (0, 0).
    static Seen loadNoticeSeen(const QString& dataDir);
    static Seen parseNoticeSeen(const QByteArray& bytes);
    static bool saveNoticeSeen(const QString& dataDir, int gen, qint64 id);
    // The show rule: a notice (gen, id) is new against the stored state when its id exceeds the stored id of
    // the same generation (a stored generation below 1 matches every generation); a new generation starts
    // its numbering again.
    static bool isNewNotice(const Seen& seen, int gen, qint64 id);

Q_SIGNALS:
    void noticeShown(qint64 id);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onNoticeReply(QNetworkReply* reply);
    // Shows the notice's dialog unless a modal card is open; then it waits and looks again.
    void showWhenFree();
    QString dataDir() const;
    void markSeenIfNewer(int gen, qint64 id);

    QPointer<QWidget> m_parent;
    QPointer<QNetworkAccessManager> m_manager;
    QNetworkAccessManager* m_ownManager = nullptr;
    QPointer<NoticeDialog> m_dialog;
    ktr::platform::Clock* m_clock = nullptr;
    QString m_token;
    QString m_dataDir;
    QTimer m_first;
    QTimer m_timer;
    QTimer m_modalWait;
    bool m_started = false;
    bool m_everShown = false;
    qint64 m_shownNoticeId = 0;
    int m_shownGen = 0;
};
