#pragma once

#include "account/accountcard.h"
#include "account/authmanager.h"

#include <QFont>
#include <QList>
#include <QRect>
#include <QString>

// Asked when a login or registration would sign other computers out of the account (the reply's
// needConfirm): lists at most three of them with the account's device quota and a warning. Accepted =
// continue and sign them out; Rejected = cancel. "增加授权设备数" opens the devices page and keeps the
// dialog open. Made on the stack by the login dialog and run with exec().
class KickConfirmDialog : public AccountCardDialog
{
    Q_OBJECT
public:
    KickConfirmDialog(const QList<AuthManager::KickDevice>& devices, int maxDevices, QWidget* parent = nullptr);

    static constexpr int kMaxRows = 3;
    static constexpr int kWidth = 560;

    // The rows as shown (names in the current language): an empty list gives one row "另一台电脑", a
    // longer list its first three and a row "…另有 %1 台".
    QList<AuthManager::KickDevice> devices() const;
    int maxDevices() const { return m_maxDevices; }
    // "不限设备数" for a quota of 0 or less, else "授权 %1 台设备" (translated).
    QString quotaText() const;

    QRect confirmRect() const { return m_confirmRect; }
    QRect devicesRect() const { return m_devicesRect; }
    QRect closeRect() const { return m_closeRect; }
    QRect quotaRect() const { return m_quotaRect; }
    QRect listRect() const { return m_listRect; }
    QRect warningRect() const { return m_warningRect; }
    QRect titleRect() const { return m_titleRect; }
    // Where and how the title is drawn: the title box at 17 px, or smaller (down to 13 px) for a longer
    // translation, or word-wrapped into the room above the list when even that is too wide.
    struct TitleLayout
    {
        QFont font;
        QRect box;
        int flags;
    };
    TitleLayout titleLayout() const;
    QRect logoRect() const { return m_logoRect; }
    QList<QRect> rowRects() const { return m_rowRects; }
    // The name and ip boxes of a row as painted (the ip box is empty for a row without an ip).
    QRect nameBox(int row) const;
    QRect ipBox(int row) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    // 1 confirm, 2 devices, 3 close.
    QList<QRect> buttonRects() const override;
    void activate(int id) override;
    void relayout() override { layoutRows(); }

private:
    // A row keeps what it is, so its name follows a change of language.
    struct Row
    {
        AuthManager::KickDevice device;
        int more = 0;         // > 0: the summary row of this many devices left out
        bool generic = false; // the stand-in for an empty list
    };
    QString rowName(const Row& row) const;
    void layoutRows();

    QList<Row> m_rows;
    int m_maxDevices = 1;
    QRect m_confirmRect;
    QRect m_devicesRect;
    QRect m_closeRect;
    QRect m_quotaRect;
    QList<QRect> m_rowRects;
    QRect m_listRect;
    QRect m_warningRect;
    QRect m_titleRect;
    QRect m_logoRect;
};
