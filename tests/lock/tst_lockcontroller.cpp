#include "lock/lockcontroller.h"
#include "lock/lockdialog.h"
#include "lock/passwordhash.h"
#include "lock/uilockoverlay.h"
#include "protectedsettings.h"
#include "testenv.h"
#include "ui/appsettings.h"
#include "ui/lang.h"
#include "ui/modalcard.h"

#include <QCryptographicHash>
#include <QLineEdit>
#include <QSignalSpy>
#include <QWidget>

#include <memory>

namespace {

const QString kPassword = QStringLiteral("abcd");

QString legacyHash(const QString& password)
{
    const QString salt = QStringLiteral("s4lt");
    return salt + QLatin1Char('$') +
           QString::fromLatin1(
               QCryptographicHash::hash((salt + password).toUtf8(), QCryptographicHash::Sha256).toHex());
}

// What the person at a password card does: types `first` (and `second`), then closes it with `result`.
// A checking card (verify) reports a correct entry through onVerified and closes with 1, a wrong one is
// given up on (0), as a person does after the shake.
struct CardAnswer
{
    QString first;
    QString second;
    int result = 1;
    bool removePassword = false; // uses the card's remove link instead
};

class CardScript
{
public:
    CardScript()
        : m_runner([this](QDialog& card) {
              auto* dialog = qobject_cast<LockDialog*>(&card);
              if (!dialog)
                  return 0;
              modes.append(dialog->mode());
              const CardAnswer a = answers.isEmpty() ? CardAnswer{QString(), QString(), 0} : answers.takeFirst();
              if (a.removePassword) {
                  if (dialog->onRemoveConfirmed)
                      dialog->onRemoveConfirmed();
                  return 1;
              }
              if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("lockPassword")))
                  edit->setText(a.first);
              if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("lockSecond")))
                  edit->setText(a.second);
              if (dialog->mode() == LockDialog::Verify) {
                  if (!verifyPasswordHash(verifier(dialog), a.first))
                      return 0;
                  if (dialog->onVerified)
                      dialog->onVerified(a.first);
              }
              return a.result;
          })
    {
    }

    QList<CardAnswer> answers;
    QList<int> modes;
    // The hash the card checks against, as the owner gave it.
    std::function<QString(LockDialog*)> verifier;

private:
    ScopedCardRunner m_runner;
};

struct Rig
{
    QWidget host;
    AppSettings settings;
    std::unique_ptr<LockController> lock;
    std::unique_ptr<QSignalSpy> changed;
    QStringList toasts;

    Rig()
    {
        host.resize(500, 360);
        lock = std::make_unique<LockController>(&host, &settings);
        changed = std::make_unique<QSignalSpy>(lock.get(), &LockController::changed);
        QObject::connect(lock.get(), &LockController::toastRequested, lock.get(),
                         [this](const QString& text, int kind) { toasts.append(QString::number(kind) + text); });
    }
};

} // namespace

using ktr::test::protectedSettings;

class TestLockController : public QObject
{
    Q_OBJECT

    // The Verify card of this controller checks against the stored hash; the script reads it from there.
    static void checkAgainst(CardScript& script, const AppSettings* settings)
    {
        script.verifier = [settings](LockDialog*) { return settings->protectPasswordHash; };
    }

private Q_SLOTS:
    void init() { Lang::setLanguage(0); }

    // The account unlock: once per epoch above the stored one, a toast only when something was protected,
    // everything else ignored.
    void lockSyncReply_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<bool>("protectedBefore");
        QTest::addColumn<bool>("replyOk");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("epochAfter");
        QTest::addColumn<bool>("lifted");
        QTest::addColumn<bool>("toast");
        const QByteArray five = R"({"ok": 1, "epoch": 5})";
        QTest::newRow("raised epoch lifts all") << 3 << true << true << five << 5 << true << true;
        QTest::newRow("nothing protected: no toast") << 3 << false << true << five << 5 << false << false;
        QTest::newRow("same epoch") << 5 << true << true << five << 5 << false << false;
        QTest::newRow("older epoch") << 7 << true << true << five << 7 << false << false;
        QTest::newRow("HTTP or network error") << 3 << true << false << five << 3 << false << false;
        QTest::newRow("bad JSON") << 3 << true << true << QByteArray(R"({"ok": 1, "epoch": 5)") << 3 << false << false;
        QTest::newRow("not an object") << 3 << true << true << QByteArray("[1, 5]") << 3 << false << false;
        QTest::newRow("ok 0") << 3 << true << true << QByteArray(R"({"ok": 0, "epoch": 5})") << 3 << false << false;
        QTest::newRow("ok as text") << 3 << true << true << QByteArray(R"({"ok": "1", "epoch": 5})") << 3 << false
                                    << false;
        QTest::newRow("no epoch") << 0 << true << true << QByteArray(R"({"ok": 1})") << 0 << false << false;
        QTest::newRow("lock set before any epoch was known: the reply only tells it")
            << int(LockController::kEpochUnknown) << true << true << five << 5 << false << false;
    }
    void lockSyncReply()
    {
        QFETCH(int, stored);
        QFETCH(bool, protectedBefore);
        QFETCH(bool, replyOk);
        QFETCH(QByteArray, body);
        QFETCH(int, epochAfter);
        QFETCH(bool, lifted);
        QFETCH(bool, toast);
        Rig rig;
        rig.settings = protectedBefore ? protectedSettings(stored) : AppSettings();
        rig.settings.progUnlockEpoch = stored;
        if (protectedBefore)
            rig.lock->showOverlay();
        QSignalSpy closeSettings(rig.lock.get(), &LockController::closeSettingsRequested);

        rig.lock->applyLockSyncReply(replyOk, body);
        QCOMPARE(rig.settings.progUnlockEpoch, epochAfter);
        QCOMPARE(rig.settings.protectPasswordHash.isEmpty(), !protectedBefore || lifted);
        QCOMPARE(rig.settings.uiLocked, protectedBefore && !lifted);
        QCOMPARE(rig.settings.obfuscateEnabled, protectedBefore && !lifted);
        QCOMPARE(rig.lock->overlay() != nullptr, protectedBefore && !lifted);
        QCOMPARE(rig.toasts, toast ? QStringList{QStringLiteral("0已通过账户解除程序锁定")} : QStringList());
        // Whenever the record changed, the window is told to save it.
        QCOMPARE(rig.changed->isEmpty(), epochAfter == stored);
        QCOMPARE(closeSettings.count(), epochAfter > stored && stored >= 0 ? 1 : 0);

        // The same reply again changes nothing.
        rig.changed->clear();
        rig.lock->applyLockSyncReply(replyOk, body);
        QVERIFY(rig.changed->isEmpty());
    }

    // A lock the user has just set is lifted only by an epoch the server raised after it, whether or not a
    // reply had told the epoch before, and also after a restart on the saved record.
    void epochOfTheLockTime_data()
    {
        QTest::addColumn<bool>("replyBeforeLock");
        QTest::addColumn<bool>("restart");
        QTest::newRow("epoch known before the lock") << true << false;
        QTest::newRow("fresh install, no reply before the lock") << false << false;
        QTest::newRow("fresh install, restarted before the first reply") << false << true;
    }
    void epochOfTheLockTime()
    {
        QFETCH(bool, replyBeforeLock);
        QFETCH(bool, restart);
        const QByteArray old = R"({"ok": 1, "epoch": 5})";
        const QByteArray raised = R"({"ok": 1, "epoch": 6})";
        Rig rig;
        QCOMPARE(rig.settings.progUnlockEpoch, 0);
        if (replyBeforeLock)
            rig.lock->applyLockSyncReply(true, old); // nothing protected: only the epoch is taken
        rig.settings.protectPasswordHash = makePasswordHash(kPassword, 1);
        rig.lock->engageUiLock();
        QVERIFY(rig.settings.uiLocked);
        if (restart) {
            const AppSettings saved = rig.settings;
            rig.lock.reset();
            rig.settings = saved;
            rig.lock = std::make_unique<LockController>(&rig.host, &rig.settings);
            rig.lock->restoreAtStart();
        }

        rig.lock->applyLockSyncReply(true, old);
        QVERIFY(rig.settings.uiLocked);
        QVERIFY(!rig.settings.protectPasswordHash.isEmpty());
        QCOMPARE(rig.settings.progUnlockEpoch, 5);

        rig.lock->applyLockSyncReply(true, raised);
        QVERIFY(!rig.settings.uiLocked);
        QVERIFY(rig.settings.protectPasswordHash.isEmpty());
        QCOMPARE(rig.settings.progUnlockEpoch, 6);
    }

    // Bar button 8: a new password first when none is stored; cancelling changes nothing.
    void toggleUiLock_data()
    {
        QTest::addColumn<bool>("hasPassword");
        QTest::addColumn<bool>("lockedBefore");
        QTest::addColumn<int>("cardResult"); // -1: no card may be shown
        QTest::addColumn<bool>("lockedAfter");
        QTest::addColumn<QStringList>("toasts");
        QTest::newRow("no password, card cancelled") << false << false << 0 << false << QStringList();
        QTest::newRow("no password, new one set")
            << false << false << 1 << true << QStringList{QStringLiteral("0程序保护密码已设置")};
        QTest::newRow("password stored") << true << false << -1 << true << QStringList();
        QTest::newRow("already locked: asks to unlock") << true << true << -1 << true << QStringList();
    }
    void toggleUiLock()
    {
        QFETCH(bool, hasPassword);
        QFETCH(bool, lockedBefore);
        QFETCH(int, cardResult);
        QFETCH(bool, lockedAfter);
        QFETCH(QStringList, toasts);
        Rig rig;
        if (hasPassword)
            rig.settings.protectPasswordHash = makePasswordHash(kPassword, 1);
        rig.settings.uiLocked = lockedBefore;
        CardScript script;
        if (cardResult >= 0)
            script.answers.append({kPassword, kPassword, cardResult});
        QSignalSpy engaged(rig.lock.get(), &LockController::engaged);

        rig.lock->toggleUiLock();
        QCOMPARE(script.modes, cardResult >= 0 ? QList<int>{LockDialog::Set} : QList<int>());
        QCOMPARE(rig.settings.uiLocked, lockedAfter);
        QCOMPARE(rig.toasts, toasts);
        QCOMPARE(verifyPasswordHash(rig.settings.protectPasswordHash, kPassword), lockedAfter);
        QCOMPARE(engaged.count(), lockedAfter && !lockedBefore ? 1 : 0);
        QCOMPARE(rig.lock->overlay() != nullptr, lockedAfter);
        if (lockedAfter) {
            QCOMPARE(rig.lock->overlay()->geometry(), rig.host.rect());
            QCOMPARE(rig.lock->overlay()->isInputMode(), lockedBefore);
        }
        QCOMPARE(rig.changed->isEmpty(), !lockedAfter || lockedBefore);
    }

    // The lock screen's callbacks: the check against the stored hash (an older hash is upgraded), the unlock
    // and its end, and the removal of the password, which ends every protection.
    void overlayCallbacks()
    {
        Rig rig;
        rig.settings.protectPasswordHash = legacyHash(kPassword);
        rig.settings.obfuscateEnabled = true;
        rig.lock->engageUiLock();
        UiLockOverlay* overlay = rig.lock->overlay();
        QVERIFY(overlay);
        QVERIFY(!overlay->checkPassword(QStringLiteral("abce")));
        QVERIFY(isLegacyPasswordHash(rig.settings.protectPasswordHash));
        QVERIFY(overlay->checkPassword(kPassword));
        QVERIFY(!isLegacyPasswordHash(rig.settings.protectPasswordHash));
        QVERIFY(verifyPasswordHash(rig.settings.protectPasswordHash, kPassword));

        QSignalSpy cover(rig.lock.get(), &LockController::coverChanged);
        overlay->onUnlocked();
        QVERIFY(!rig.settings.uiLocked);
        QVERIFY(overlay->isUnlocking());
        QVERIFY(rig.settings.obfuscateEnabled); // unlocking is not removing
        overlay->onUnlockFinished();
        QVERIFY(!rig.lock->overlay());
        QCOMPARE(cover.count(), 1);
        QCOMPARE(cover.at(0).at(0).toBool(), false);

        rig.lock->engageUiLock();
        rig.lock->overlay()->onRemovePassword();
        QVERIFY(rig.settings.protectPasswordHash.isEmpty());
        QVERIFY(!rig.settings.uiLocked);
        QVERIFY(!rig.settings.obfuscateEnabled);
        QCOMPARE(rig.toasts.last(), QStringLiteral("0程序保护密码已移除"));
    }

    void toggleObfuscation_data()
    {
        QTest::addColumn<QString>("hash");
        QTest::addColumn<bool>("onBefore");
        QTest::addColumn<bool>("withRules");
        QTest::addColumn<QString>("typed"); // empty: the card is cancelled
        QTest::addColumn<bool>("removeLink");
        QTest::addColumn<QList<int>>("cards");
        QTest::addColumn<bool>("onAfter");
        QTest::addColumn<QString>("toast");
        const QString current = makePasswordHash(kPassword, 1);
        const QList<int> set{LockDialog::Set};
        const QList<int> verify{LockDialog::Verify};
        QTest::newRow("on with rules") << current << false << true << QString() << false << QList<int>() << true
                                       << "0混淆保护已启用";
        QTest::newRow("on without rules: points to the page")
            << current << false << false << QString() << false << QList<int>() << true
            << "0混淆保护已启用，请先在 设置→保护 配置规则";
        QTest::newRow("on, no password, card cancelled")
            << QString() << false << true << QString() << false << set << false << QString();
        QTest::newRow("on, no password, new one set")
            << QString() << false << true << kPassword << false << set << true << "0混淆保护已启用";
        QTest::newRow("off without password") << QString() << true << true << QString() << false << QList<int>() << true
                                              << "1未设置程序保护密码，无法解除混淆保护";
        QTest::newRow("off, wrong password")
            << current << true << true << QStringLiteral("abce") << false << verify << true << QString();
        QTest::newRow("off, right password")
            << current << true << true << kPassword << false << verify << false << "0混淆保护已关闭";
        QTest::newRow("off, older hash upgraded")
            << legacyHash(kPassword) << true << true << kPassword << false << verify << false << "0混淆保护已关闭";
        QTest::newRow("off, password removed on the card")
            << current << true << true << QString() << true << verify << false << "0混淆保护已关闭";
    }
    void toggleObfuscation()
    {
        QFETCH(QString, hash);
        QFETCH(bool, onBefore);
        QFETCH(bool, withRules);
        QFETCH(QString, typed);
        QFETCH(bool, removeLink);
        QFETCH(QList<int>, cards);
        QFETCH(bool, onAfter);
        QFETCH(QString, toast);
        Rig rig;
        rig.settings.protectPasswordHash = hash;
        rig.settings.obfuscateEnabled = onBefore;
        if (withRules)
            rig.settings.obfuscateMap.insert(QStringLiteral("/opt/a"), QStringLiteral("/opt/b"));
        CardScript script;
        checkAgainst(script, &rig.settings);
        script.answers.append({typed, typed, typed.isEmpty() ? 0 : 1, removeLink});

        rig.lock->toggleObfuscation();
        QCOMPARE(script.modes, cards);
        QCOMPARE(rig.settings.obfuscateEnabled, onAfter);
        QCOMPARE(rig.toasts, toast.isEmpty() ? QStringList() : QStringList{toast});
        if (removeLink) {
            QVERIFY(rig.settings.protectPasswordHash.isEmpty());
        } else if (!typed.isEmpty() && onBefore != onAfter) {
            QVERIFY(verifyPasswordHash(rig.settings.protectPasswordHash, typed));
            QVERIFY(!isLegacyPasswordHash(rig.settings.protectPasswordHash));
        } else {
            QCOMPARE(rig.settings.protectPasswordHash, hash);
        }
        QCOMPARE(rig.changed->isEmpty(), onBefore == onAfter);
    }

    // The protection page's commit: the hash and the whole map are taken; an empty hash ends the lock and the
    // obfuscation too (otherwise switching it off would ask for a password that no longer exists).
    void protectCommitted_data()
    {
        QTest::addColumn<QString>("hash");
        QTest::addColumn<bool>("protectedAfter");
        QTest::newRow("new password") << makePasswordHash(QStringLiteral("wxyz"), 1) << true;
        QTest::newRow("password cleared") << QString() << false;
    }
    void protectCommitted()
    {
        QFETCH(QString, hash);
        QFETCH(bool, protectedAfter);
        Rig rig;
        rig.settings = protectedSettings(2);
        rig.lock->showOverlay();
        const QMap<QString, QString> rules{{QStringLiteral("/opt/x"), QStringLiteral("/opt/y")}};
        rig.lock->onProtectCommitted(hash, rules);
        QCOMPARE(rig.settings.protectPasswordHash, hash);
        QCOMPARE(rig.settings.obfuscateMap, rules);
        QCOMPARE(rig.settings.uiLocked, protectedAfter);
        QCOMPARE(rig.settings.obfuscateEnabled, protectedAfter);
        QCOMPARE(rig.lock->overlay() != nullptr, protectedAfter);
        QCOMPARE(rig.changed->count(), 1);

        rig.lock->onLockBackgroundChosen(QStringLiteral("/pics/lock.png"));
        QCOMPARE(rig.settings.lockBgPath, QStringLiteral("/pics/lock.png"));
        if (rig.lock->overlay())
            QCOMPARE(rig.lock->overlay()->backgroundPath(), QStringLiteral("/pics/lock.png"));
        QCOMPARE(rig.changed->count(), 2);
    }

    // An import brings another file's protection only with the current protection password; so does a restore,
    // which has already read the snapshot's settings into the record. Without a local password an import still
    // keeps none, while a restore brings the snapshot's protection back with the rest of the snapshot.
    void guardImport_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<bool>("localPassword");
        QTest::addColumn<bool>("sameProtection");
        QTest::addColumn<bool>("importedHash");
        QTest::addColumn<QString>("typed"); // empty: the card is cancelled
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("taken");
        for (const bool restore : {false, true}) {
            const char* const way = restore ? "restore: " : "import: ";
            QTest::addRow("%s%s", way, "card cancelled")
                << restore << true << false << true << QString() << true << false;
            QTest::addRow("%s%s", way, "wrong password")
                << restore << true << false << true << QStringLiteral("abce") << true << false;
            QTest::addRow("%s%s", way, "right password")
                << restore << true << false << true << kPassword << true << true;
            QTest::addRow("%s%s", way, "no local password")
                << restore << false << false << true << QString() << false << restore;
            QTest::addRow("%s%s", way, "same protection: nothing asked")
                << restore << true << true << true << QString() << false << true;
            QTest::addRow("%s%s", way, "right password, file without hash: no obfuscation left")
                << restore << true << false << false << kPassword << true << true;
            QTest::addRow("%s%s", way, "cancelled, file without hash: the local password stays")
                << restore << true << false << false << QString() << true << false;
        }
    }
    void guardImport()
    {
        QFETCH(bool, restore);
        QFETCH(bool, localPassword);
        QFETCH(bool, sameProtection);
        QFETCH(bool, importedHash);
        QFETCH(QString, typed);
        QFETCH(bool, asked);
        QFETCH(bool, taken);
        Rig rig;
        if (localPassword)
            rig.settings.protectPasswordHash = makePasswordHash(kPassword, 1);
        rig.settings.progUnlockEpoch = 4;
        AppSettings imported = sameProtection ? rig.settings : protectedSettings(1);
        if (!importedHash)
            imported.protectPasswordHash.clear();
        const AppSettings local = rig.settings;
        CardScript script;
        // While the card asks, the record still holds the local protection.
        checkAgainst(script, &rig.settings);
        script.answers.append({typed, QString(), typed.isEmpty() ? 0 : 1});
        const AppSettings fromFile = imported;

        bool saveAgain = false;
        if (restore) {
            rig.settings = imported;
            saveAgain = rig.lock->guardRestore(local);
            imported = rig.settings;
        } else {
            rig.lock->guardImport(imported);
        }
        QCOMPARE(script.modes, asked ? QList<int>{LockDialog::Verify} : QList<int>());
        const AppSettings& expected = taken ? fromFile : local;
        QCOMPARE(imported.protectPasswordHash, expected.protectPasswordHash);
        QCOMPARE(imported.obfuscateMap, expected.obfuscateMap);
        QCOMPARE(imported.uiLocked, expected.uiLocked && !imported.protectPasswordHash.isEmpty());
        QCOMPARE(imported.obfuscateEnabled, expected.obfuscateEnabled && !imported.protectPasswordHash.isEmpty());
        QVERIFY(imported.progUnlockEpoch >= 4 || imported.progUnlockEpoch == LockController::kEpochUnknown);
        QVERIFY(rig.changed->isEmpty()); // the import and the restore's caller write the file themselves
        // What was read from the snapshot's file is written again when the guard changed it.
        if (restore)
            QCOMPARE(saveAgain, imported.protectPasswordHash != fromFile.protectPasswordHash ||
                                    imported.obfuscateMap != fromFile.obfuscateMap ||
                                    imported.uiLocked != fromFile.uiLocked ||
                                    imported.obfuscateEnabled != fromFile.obfuscateEnabled ||
                                    imported.progUnlockEpoch != fromFile.progUnlockEpoch);
    }

    // At start: a saved lock covers the window before it first paints; a lock or an obfuscation without a
    // password could never be switched off, so the panel starts without them.
    void restoreAtStart_data()
    {
        QTest::addColumn<bool>("password");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<bool>("overlay");
        QTest::newRow("locked with password") << true << true << true;
        QTest::newRow("locked without password") << false << false << false;
        QTest::newRow("unlocked") << true << false << false;
    }
    void restoreAtStart()
    {
        QFETCH(bool, password);
        QFETCH(bool, locked);
        QFETCH(bool, overlay);
        Rig rig;
        rig.settings.protectPasswordHash = password ? makePasswordHash(kPassword, 1) : QString();
        rig.settings.uiLocked = true;
        rig.settings.obfuscateEnabled = true;
        if (!locked && password)
            rig.settings.uiLocked = false;
        rig.lock->restoreAtStart();
        QCOMPARE(rig.settings.uiLocked, locked);
        QCOMPARE(rig.settings.obfuscateEnabled, password);
        // Before the host is ever shown, and before the event loop ran.
        QCOMPARE(rig.lock->covers(), overlay);
        if (overlay)
            QCOMPARE(rig.lock->overlay()->geometry(), rig.host.rect());
    }
};

KTR_TEST_MAIN(TestLockController)
#include "tst_lockcontroller.moc"
