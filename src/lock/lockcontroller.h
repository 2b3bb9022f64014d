#pragma once

#include "lock/uilockoverlay.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QRect;
class QWidget;
struct AppSettings;

// The main window's side of the interface lock and the obfuscation protection: the lock button and its gate,
// the lock screen over the window, the obfuscation switch, the protection page's commit, the import's guard
// and the account unlock of the lock synchronisation. It changes the window's settings record and reports
// through signals; the window saves, sets its bar buttons, closes its dialogs and shows the toasts.
// Password cards run through execCard (ui/modalcard.h), so tests answer them with a card runner.
class LockController : public QObject
{
    Q_OBJECT
public:
    // progUnlockEpoch while protection was set before any account-unlock epoch was known: the next reply only
    // tells the epoch of the time of the lock and lifts nothing.
    static constexpr int kEpochUnknown = -1;

    LockController(QWidget* host, AppSettings* settings, QObject* parent = nullptr);

    bool isLocked() const;
    UiLockOverlay* overlay() const { return m_overlay; }
    // Whether the lock screen currently covers the window.
    bool covers() const;

    // A lock saved at the last quit covers the window before its first paint; a lock (or an obfuscation)
    // without a password can't be lifted again, so the panel starts without it.
    void restoreAtStart();
    // While locked: shows the lock screen, asking to unlock, and returns true (the caller stops there).
    bool blocks();
    // The gate of a bar button: true when the button must not act (locked, and not minimise or close).
    bool blocksButton(int buttonId);

    // Bar button 8: asks for a new password when none is set, then engages the lock.
    void toggleUiLock();
    void engageUiLock();
    void unlockUi();
    void showOverlay();
    void hideOverlay();
    // Bar button 10: switching on never asks for an existing password, switching off always does.
    void toggleObfuscation();

    // The settings dialog's protection page and lock background.
    void onProtectCommitted(const QString& hash, const QMap<QString, QString>& rules);
    void onLockBackgroundChosen(const QString& path);

    // An import is about to write `imported`: unless the current protection password is given (asked for
    // here when the protection would change), the local protection fields stay.
    void guardImport(AppSettings& imported);
    // A restore has just read the record back from a snapshot's file: the same guard, against the record as it
    // was before. A snapshot from before the password was set must not lift it, nor one with another password;
    // without a password set the snapshot's protection is taken. True when the record now differs from what
    // was read (the caller saves it).
    bool guardRestore(const AppSettings& before);
    // The record was read again from its file (import, restore): the lock screen follows it.
    void settingsReloaded();
    // Tells the state of bar buttons 8 and 10 through buttonsChanged (after a change, a start, a reload).
    void refreshButtons();

    // Loads the lock picture again (a new device pixel ratio).
    void reloadBackground();
    void fitTo(const QRect& rect);

public Q_SLOTS:
    // The reply to the lock synchronisation: replyOk = no network error and an HTTP 2xx status.
    void applyLockSyncReply(bool replyOk, const QByteArray& body);

Q_SIGNALS:
    // The protection fields changed: save the settings and set bar buttons 8 and 10 from them.
    void changed();
    // Bar buttons 8 (lock) and 10 (obfuscation) show these states.
    void buttonsChanged(bool uiLocked, bool obfuscated);
    // The lock was engaged: an open settings dialog closes, the search panel goes.
    void engaged();
    // The account unlock arrived: an open settings dialog closes.
    void closeSettingsRequested();
    // The lock screen came or went (the frame's line under the title strip follows).
    void coverChanged(bool covered);
    void toastRequested(const QString& text, int kind);

private:
    // Asks for the local password when `incoming` would change the protection; keeps the local fields unless given.
    void guardProtection(const AppSettings& local, AppSettings& incoming, const char* what);
    // Sets a new password through the set card; false when it was not given.
    bool askNewPassword();
    // Protection was just set: only an epoch the server raises from now on may lift it.
    void fixEpochBaseline(AppSettings& settings) const;
    void noteChanged();

    QWidget* m_host;
    AppSettings* m_settings;
    QPointer<UiLockOverlay> m_overlay;
    // The newest epoch any reply of this run carried.
    std::optional<int> m_seenEpoch;
};
