#pragma once

#include <QByteArray>
#include <QString>

struct AppSettings;

// The rules of the interface lock and the obfuscation protection that need no window: what a bar button may
// do while locked, where a launch really goes, what an account unlock or an import may change. The lock
// controller and the main window call them and then save, repaint and toast as the result says.
namespace protectionrules {

// While locked only minimise (3) and close (4) act; every other bar button shows the lock screen instead.
bool barButtonBlocked(bool uiLocked, int buttonId);

// The path a launch of an entry really opens: the rule's target while obfuscation is on and the entry's path is
// a rule key (exact, case-sensitive) with a non-empty target; otherwise the entry's own path.
QString launchTarget(const AppSettings& settings, const QString& entryPath);

// Removing the one protection password ends every protection it guards: no hash, obfuscation off, unlocked.
void clearProtection(AppSettings& settings);

// The protection page committed: the hash and the whole rule map are taken; an empty hash clears the protection.
void commitProtection(AppSettings& settings, const QString& hash, const QMap<QString, QString>& rules);

// After a correct password: replaces an older two-part hash by a current one. True when the hash changed (save).
bool upgradeLegacyHash(AppSettings& settings, const QString& password);

// The toast after obfuscation was switched on.
QString obfuscationOnToast(const AppSettings& settings);

struct LockSyncResult
{
    bool applied = false;   // the settings changed: save, set buttons 8 and 10 inactive, drop the lock screen,
                            // close an open settings dialog
    bool showToast = false; // something had been protected: toast "已通过账户解除程序锁定"
};
// Reads the account-unlock epoch of a lock-synchronisation reply: false unless replyOk (no transport error, an
// HTTP success status) and the body is a JSON object with "ok" 1; a missing "epoch" reads as 0.
bool parseLockSyncReply(bool replyOk, const QByteArray& body, int* epoch);

// The account-unlock reply of the lock synchronisation. replyOk is false for a transport error or an HTTP error
// status; the body must be a JSON object with "ok" 1 and an "epoch" above progUnlockEpoch, else nothing
// changes. Each epoch acts once.
LockSyncResult applyLockSyncReply(AppSettings& settings, bool replyOk, const QByteArray& body);

// An import brings another file's settings: its protection fields come into force only when the current
// protection password is given. Otherwise the local hash, lock state, obfuscation switch and rules stay as
// they are. The unlock epoch never goes back.
void keepLocalProtection(const AppSettings& local, AppSettings& imported, const QString& currentPassword);

} // namespace protectionrules
