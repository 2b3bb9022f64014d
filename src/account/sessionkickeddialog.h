#pragma once

#include "account/accountcard.h"

#include <QRect>
#include <QString>
#include <QStringList>

// The card that tells the user this computer was signed out: why (chosen from the service's message),
// which market apps were ended and what the service said, with a button to the security page (or a
// plain acknowledgement) and one to the devices page. Not modal unless another modal window is up;
// deletes itself when closed. setKilledApps and setPending may be called from any thread.
class SessionKickedDialog : public AccountCardDialog
{
    Q_OBJECT
public:
    enum class Reason { Elsewhere = 0, Admin = 1, Expired = 2 };
    static constexpr int kWidth = 560;

    SessionKickedDialog(const QString& reasonText, const QStringList& killedApps, QWidget* parent = nullptr);

    // Logs, creates, places and shows the dialog (delete on close) and returns it.
    static SessionKickedDialog* showKicked(const QString& reasonText, const QStringList& killedApps,
                                           QWidget* parent = nullptr);

    // The reason a service message names: "管理员" → Admin; "其他设备", "其他电脑" or "别处" → Elsewhere;
    // anything else, also an empty text, → Expired.
    static Reason reasonFor(const QString& reasonText);

    // From any thread: on the dialog's thread at once, from another one queued to it.
    void setKilledApps(const QStringList& apps);
    void setPending(bool pending);

    Q_INVOKABLE void applyApps(const QStringList& apps);
    Q_INVOKABLE void applyPending(bool pending);

    Reason reason() const { return m_reason; }
    QString reasonText() const { return m_reasonText; }
    QStringList killedApps() const { return m_killedApps; }
    bool isPending() const { return m_pending; }
    // The texts of the reason (translated); the hint is empty for Expired.
    QString titleText() const;
    QString bodyText() const;
    QString hintText() const;
    QString primaryLabel() const;
    // The lines of the status box joined by a line feed; empty hides the box.
    QString statusText() const;

    QRect primaryRect() const { return m_primaryRect; }
    QRect devicesRect() const { return m_devicesRect; }
    QRect closeRect() const { return m_closeRect; }
    QRect bodyRect() const { return m_bodyRect; }
    QRect hintRect() const { return m_hintRect; }
    QRect statusRect() const { return m_statusRect; }
    QRect titleRect() const { return m_titleRect; }
    QRect logoRect() const { return m_logoRect; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // 1 primary, 2 devices, 3 close.
    QList<QRect> buttonRects() const override;
    void activate(int id) override;
    void relayout() override;

private:
    Reason m_reason = Reason::Expired;
    QString m_reasonText;
    QStringList m_killedApps;
    bool m_pending = false;
    QRect m_primaryRect;
    QRect m_devicesRect;
    QRect m_closeRect;
    QRect m_bodyRect;
    QRect m_hintRect;
    QRect m_statusRect;
    QRect m_titleRect;
    QRect m_logoRect;
};
