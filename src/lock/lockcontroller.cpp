#include "lock/lockcontroller.h"

#include "lock/lockdialog.h"
#include "lock/passwordhash.h"
#include "lock/protectionrules.h"
#include "lock/uilockoverlay.h"
#include "ui/appsettings.h"
#include "ui/lang.h"
#include "ui/modalcard.h"

#include <QDebug>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace {

bool sameProtection(const AppSettings& a, const AppSettings& b)
{
    return a.protectPasswordHash == b.protectPasswordHash && a.uiLocked == b.uiLocked &&
           a.obfuscateEnabled == b.obfuscateEnabled && a.obfuscateMap == b.obfuscateMap;
}

} // namespace

LockController::LockController(QWidget* host, AppSettings* settings, QObject* parent)
    : QObject(parent), m_host(host), m_settings(settings)
{
}

bool LockController::isLocked() const
{
    return m_settings->uiLocked;
}

bool LockController::covers() const
{
    return m_overlay && m_overlay->isVisibleTo(m_host);
}

void LockController::noteChanged()
{
    emit changed();
}

void LockController::refreshButtons()
{
    emit buttonsChanged(m_settings->uiLocked, m_settings->obfuscateEnabled);
}

void LockController::restoreAtStart()
{
    if (m_settings->protectPasswordHash.isEmpty()) {
        // Neither could ever be switched off again: both need the password that is not there.
        m_settings->uiLocked = false;
        m_settings->obfuscateEnabled = false;
        return;
    }
    if (!m_settings->uiLocked)
        return;
    // Created now, as a child of the window that is not shown yet: the first frame the window paints is
    // already the lock screen, never the icons below it. The event loop gives it the focus once it runs.
    showOverlay();
    QTimer::singleShot(0, this, [this] {
        if (m_settings->uiLocked)
            showOverlay();
    });
}

bool LockController::blocks()
{
    if (!m_settings->uiLocked)
        return false;
    showOverlay();
    m_overlay->setMode(UiLockOverlay::Mode::Unlock);
    return true;
}

bool LockController::blocksButton(int buttonId)
{
    if (!protectionrules::barButtonBlocked(m_settings->uiLocked, buttonId))
        return false;
    return blocks();
}

bool LockController::askNewPassword()
{
    LockDialog dialog(LockDialog::Set, m_host);
    if (execCard(dialog) != 1)
        return false;
    const QString password = dialog.password();
    if (password.isEmpty())
        return false;
    m_settings->protectPasswordHash = makePasswordHash(password);
    fixEpochBaseline(*m_settings);
    noteChanged();
    return true;
}

void LockController::toggleUiLock()
{
    if (m_settings->uiLocked) {
        blocks();
        return;
    }
    if (m_settings->protectPasswordHash.isEmpty()) {
        if (!askNewPassword())
            return;
        emit toastRequested(Lang::tr("程序保护密码已设置"), 0);
    }
    engageUiLock();
}

void LockController::engageUiLock()
{
    m_settings->uiLocked = true;
    fixEpochBaseline(*m_settings);
    noteChanged();
    emit engaged();
    showOverlay();
}

void LockController::unlockUi()
{
    m_settings->uiLocked = false;
    noteChanged();
    if (!m_overlay) {
        m_host->update();
        return;
    }
    if (!m_overlay->isUnlocking())
        m_overlay->beginUnlock();
}

void LockController::showOverlay()
{
    if (!m_overlay) {
        m_overlay = new UiLockOverlay(m_host);
        m_overlay->checkPassword = [this](const QString& password) {
            const bool ok = verifyPasswordHash(m_settings->protectPasswordHash, password);
            if (ok && protectionrules::upgradeLegacyHash(*m_settings, password))
                noteChanged();
            return ok;
        };
        m_overlay->onPasswordVerified = [this](const QString& password) {
            if (protectionrules::upgradeLegacyHash(*m_settings, password))
                noteChanged();
        };
        m_overlay->onUnlocked = [this] { unlockUi(); };
        m_overlay->onRemovePassword = [this] {
            protectionrules::clearProtection(*m_settings);
            noteChanged();
            unlockUi();
            emit toastRequested(Lang::tr("程序保护密码已移除"), 0);
        };
        m_overlay->onUnlockFinished = [this] { hideOverlay(); };
        m_overlay->setBackgroundPath(m_settings->lockBgPath);
    }
    m_overlay->setVerifier(m_settings->protectPasswordHash);
    m_overlay->setGeometry(m_host->rect());
    emit coverChanged(true);
    m_overlay->show();
    m_overlay->raise();
    m_overlay->setFocus();
    m_host->update();
}

void LockController::hideOverlay()
{
    if (m_overlay) {
        UiLockOverlay* overlay = m_overlay;
        m_overlay = nullptr;
        overlay->hide();
        overlay->deleteLater();
    }
    emit coverChanged(false);
    m_host->update();
}

void LockController::toggleObfuscation()
{
    if (m_settings->obfuscateEnabled) {
        if (m_settings->protectPasswordHash.isEmpty()) {
            emit toastRequested(Lang::tr("未设置程序保护密码，无法解除混淆保护"), 1);
            return;
        }
        LockDialog dialog(LockDialog::Verify, m_host);
        dialog.setVerifier(m_settings->protectPasswordHash);
        dialog.onVerified = [this](const QString& password) {
            if (protectionrules::upgradeLegacyHash(*m_settings, password))
                noteChanged();
        };
        dialog.onRemoveConfirmed = [this] {
            protectionrules::clearProtection(*m_settings);
            noteChanged();
        };
        if (execCard(dialog) != 1)
            return;
        m_settings->obfuscateEnabled = false;
        noteChanged();
        emit toastRequested(Lang::tr("混淆保护已关闭"), 0);
        return;
    }
    if (m_settings->protectPasswordHash.isEmpty() && !askNewPassword())
        return;
    m_settings->obfuscateEnabled = true;
    fixEpochBaseline(*m_settings);
    noteChanged();
    emit toastRequested(protectionrules::obfuscationOnToast(*m_settings), 0);
}

void LockController::onProtectCommitted(const QString& hash, const QMap<QString, QString>& rules)
{
    const bool newPassword = !hash.isEmpty() && hash != m_settings->protectPasswordHash;
    // An empty hash ends the lock and the obfuscation with it (commitProtection).
    protectionrules::commitProtection(*m_settings, hash, rules);
    if (newPassword)
        fixEpochBaseline(*m_settings);
    noteChanged();
    if (!m_settings->uiLocked && m_overlay)
        hideOverlay();
}

void LockController::onLockBackgroundChosen(const QString& path)
{
    m_settings->lockBgPath = path;
    noteChanged();
    if (m_overlay)
        m_overlay->setBackgroundPath(path);
}

void LockController::guardImport(AppSettings& imported)
{
    guardProtection(*m_settings, imported, "import");
}

bool LockController::guardRestore(const AppSettings& before)
{
    // Without a password there is nothing to guard: the snapshot's protection comes back with the rest, but an
    // account unlock already seen is not seen again.
    if (before.protectPasswordHash.isEmpty()) {
        const int epoch = std::max(before.progUnlockEpoch, m_settings->progUnlockEpoch);
        const bool raised = epoch != m_settings->progUnlockEpoch;
        m_settings->progUnlockEpoch = epoch;
        return raised;
    }
    const AppSettings read = *m_settings;
    AppSettings restored = read;
    // While the card asks, the record keeps the protection it had: nothing the snapshot would lift is lifted
    // behind the card.
    protectionrules::keepLocalProtection(before, *m_settings, QString());
    guardProtection(before, restored, "restore");
    *m_settings = restored;
    return !sameProtection(read, restored) || read.progUnlockEpoch != restored.progUnlockEpoch;
}

void LockController::guardProtection(const AppSettings& local, AppSettings& incoming, const char* what)
{
    QString password;
    if (!sameProtection(local, incoming) && !local.protectPasswordHash.isEmpty()) {
        LockDialog dialog(LockDialog::Verify, m_host);
        dialog.setVerifier(local.protectPasswordHash);
        dialog.onVerified = [&password](const QString& given) { password = given; };
        if (execCard(dialog) != 1)
            password.clear();
    }
    const bool given = !password.isEmpty();
    protectionrules::keepLocalProtection(local, incoming, password);
    if (incoming.protectPasswordHash.isEmpty())
        protectionrules::clearProtection(incoming);
    if (given && !sameProtection(local, incoming) && !incoming.protectPasswordHash.isEmpty())
        fixEpochBaseline(incoming);
    qInfo().noquote() << "[lock]" << what << "protection:" << (given ? "taken from the file" : "kept local");
}

void LockController::settingsReloaded()
{
    if (m_settings->protectPasswordHash.isEmpty())
        protectionrules::clearProtection(*m_settings);
    if (m_settings->uiLocked) {
        const bool newlyLocked = !covers();
        showOverlay();
        // Nothing may stay open above a lock that came in with the file (the settings dialog could clear it).
        if (newlyLocked)
            emit engaged();
    } else if (m_overlay && !m_overlay->isUnlocking()) {
        hideOverlay();
    }
}

void LockController::fixEpochBaseline(AppSettings& settings) const
{
    if (m_seenEpoch)
        settings.progUnlockEpoch = std::max(settings.progUnlockEpoch, *m_seenEpoch);
    else
        settings.progUnlockEpoch = kEpochUnknown;
}

void LockController::applyLockSyncReply(bool replyOk, const QByteArray& body)
{
    int epoch = 0;
    if (!protectionrules::parseLockSyncReply(replyOk, body, &epoch))
        return;
    m_seenEpoch = std::max(m_seenEpoch.value_or(epoch), epoch);
    if (m_settings->progUnlockEpoch < 0) {
        // The protection was set before this epoch was known: it is the one of the time of the lock.
        m_settings->progUnlockEpoch = std::max(epoch, 0);
        qInfo().noquote() << "[lock] account unlock epoch at lock time:" << m_settings->progUnlockEpoch;
        noteChanged();
        return;
    }
    if (epoch <= m_settings->progUnlockEpoch)
        return;
    const bool hadProtection =
        !m_settings->protectPasswordHash.isEmpty() || m_settings->uiLocked || m_settings->obfuscateEnabled;
    m_settings->progUnlockEpoch = epoch;
    protectionrules::clearProtection(*m_settings);
    qInfo().noquote() << "[lock] account unlock epoch" << epoch << "applied";
    noteChanged();
    if (m_overlay)
        hideOverlay();
    emit closeSettingsRequested();
    if (hadProtection)
        emit toastRequested(Lang::tr("已通过账户解除程序锁定"), 0);
}

void LockController::reloadBackground()
{
    if (!m_overlay)
        return;
    m_overlay->setBackgroundPath(QString());
    m_overlay->setBackgroundPath(m_settings->lockBgPath);
}

void LockController::fitTo(const QRect& rect)
{
    if (m_overlay)
        m_overlay->setGeometry(rect);
}
