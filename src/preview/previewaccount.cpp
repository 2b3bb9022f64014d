#include "preview/previewgenerators.h"

#include "account/kickconfirmdialog.h"
#include "account/sessionkickeddialog.h"
#include "ui/lang.h"

#include <QDebug>
#include <QDir>
#include <QPixmap>

#include <memory>

void previewKickDialogs(const QString& folder)
{
    QDir().mkpath(folder);

    const AuthManager::KickDevice deviceA{QStringLiteral("studio-mac"), QStringLiteral("203.0.113.45"),
                                          QStringLiteral("2026-10-31 15:42:07")};
    const AuthManager::KickDevice deviceB{QStringLiteral("DESKTOP-7Q2M4KD"), QStringLiteral("192.168.1.23"),
                                          QStringLiteral("2026-10-30 09:12:44")};
    struct Confirm
    {
        const char* file;
        QList<AuthManager::KickDevice> devices;
        int maxDevices;
    };
    const Confirm confirms[] = {
        {"/kick-confirm-1.png", {deviceA}, 1},
        {"/kick-confirm-2.png", {deviceA, deviceB}, 1},
        {"/kick-confirm-unlimited.png", {deviceA, deviceB}, 0},
    };
    for (const Confirm& c : confirms) {
        KickConfirmDialog dialog(c.devices, c.maxDevices);
        savePreviewShot(&dialog, folder + QLatin1String(c.file));
    }

    const QString elsewhere = QStringLiteral("账号已在其他设备登录（当前授权 1 台设备），本机已下线，"
                                             "如需多台电脑同时登录，可增加授权设备数");
    struct Kicked
    {
        const char* file;
        QString reason;
        QStringList apps;
        bool pending;
    };
    const Kicked kicked[] = {
        {"/kicked-elsewhere.png", elsewhere, {QStringLiteral("NoteFlow"), QStringLiteral("DemoApp")}, false},
        {"/kicked-admin.png", Lang::tr("账号已被管理员强制下线，请重新登录"), {}, false},
        {"/kicked-expired.png", QString(), {}, false},
        {"/kicked-pending.png", elsewhere, {}, true},
    };
    for (const Kicked& k : kicked) {
        // Never shown, so it never closes itself: it is destroyed here.
        auto dialog = std::make_unique<SessionKickedDialog>(k.reason, k.apps);
        if (k.pending)
            dialog->setPending(true);
        savePreviewShot(dialog.get(), folder + QLatin1String(k.file));
    }

    qInfo().noquote() << "ui preview written to" << folder;
}
