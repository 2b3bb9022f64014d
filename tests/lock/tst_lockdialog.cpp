#include "lock/lockdialog.h"
#include "lock/passwordhash.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/servicehost.h"
#include "ui/theme.h"

#include <QFutureWatcher>
#include <QLineEdit>

namespace {

QLineEdit* edit(LockDialog& d, const char* name)
{
    return d.findChild<QLineEdit*>(QLatin1String(name));
}

int watchers(LockDialog& d)
{
    return int(d.findChildren<QFutureWatcher<bool>*>().size());
}

void click(QWidget& w, QPoint at)
{
    QTest::mouseMove(&w, at);
    QTest::mousePress(&w, Qt::LeftButton, {}, at);
    QTest::mouseRelease(&w, Qt::LeftButton, {}, at);
}

// Runs the five ticks of the fade-out close.
void tickClose(LockDialog& d)
{
    for (int i = 0; i < 5; ++i)
        d.animationTick();
}

} // namespace

class TestLockDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        Lang::setLanguage(0);
        setDarkTheme(false);
    }

    void input_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("stored"); // the password the verifier was made from; null = no verifier
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("error"); // empty = accepted
        QTest::addColumn<QString>("focus");
        const QString a3 = QStringLiteral("abc"), a4 = QStringLiteral("abcd");
        const QString a32(32, QLatin1Char('x')), a33(33, QLatin1Char('x'));
        const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
        const QString len = QString::fromUtf8("密码长度需在 4~32 位之间");
        const QString pw = QStringLiteral("lockPassword"), second = QStringLiteral("lockSecond");
        QTest::newRow("set, 3") << 0 << QString() << a3 << a3 << len << pw;
        QTest::newRow("set, 4") << 0 << QString() << a4 << a4 << QString() << QString();
        QTest::newRow("set, 32") << 0 << QString() << a32 << a32 << QString() << QString();
        QTest::newRow("set, 33") << 0 << QString() << a33 << a33 << len << pw;
        QTest::newRow("set, 2 + emoji = 4") << 0 << QString() << "ab" + emoji << "ab" + emoji << QString() << QString();
        QTest::newRow("set, 1 + emoji = 3") << 0 << QString() << "a" + emoji << "a" + emoji << len << pw;
        QTest::newRow("set, empty") << 0 << QString() << QString() << QString() << QString::fromUtf8("密码不能为空")
                                    << pw;
        QTest::newRow("set, mismatch") << 0 << QString() << a4 << QStringLiteral("abce")
                                       << QString::fromUtf8("两次输入的密码不一致") << second;
        const QString noVerifier = QString::fromUtf8("校验器未初始化，操作被拒绝");
        QTest::newRow("verify, no verifier") << 1 << QString() << a4 << QString() << noVerifier << pw;
        QTest::newRow("change, no verifier") << 2 << QString() << a4 << QString() << noVerifier << pw;
        QTest::newRow("remove, no verifier") << 3 << QString() << a4 << QString() << noVerifier << pw;
        QTest::newRow("verify, wrong") << 1 << a4 << QStringLiteral("abce") << QString()
                                       << QString::fromUtf8("密码错误，请重试") << pw;
        QTest::newRow("change, wrong") << 2 << a4 << QStringLiteral("abce") << QString()
                                       << QString::fromUtf8("旧密码错误，请重试") << pw;
        QTest::newRow("remove, wrong") << 3 << a4 << QStringLiteral("abce") << QString()
                                       << QString::fromUtf8("密码错误，无法移除") << pw;
        QTest::newRow("verify, right") << 1 << a4 << a4 << QString() << QString() << QString();
        QTest::newRow("remove, right") << 3 << a4 << a4 << QString() << QString() << QString();
        QTest::newRow("change, right, new empty") << 2 << a4 << a4 << QString() << QString() << QString();
        QTest::newRow("change, right, new 3") << 2 << a4 << a4 << a3 << len << second;
        QTest::newRow("change, right, new 33") << 2 << a4 << a4 << a33 << len << second;
    }
    void input()
    {
        QFETCH(int, mode);
        QFETCH(QString, stored);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, error);
        QFETCH(QString, focus);
        LockDialog d(mode);
        if (!stored.isNull())
            d.setVerifier(makePasswordHash(stored, 1));
        QStringList verified;
        d.onVerified = [&](const QString& p) { verified << p; };
        edit(d, "lockPassword")->setText(first);
        if (auto* s = edit(d, "lockSecond"))
            s->setText(second);
        d.tryAccept(false);
        QTRY_VERIFY(!d.isBusy());
        QCOMPARE(d.errorText(), error);
        QCOMPARE(d.isClosing(), error.isEmpty());
        if (!error.isEmpty()) {
            QVERIFY(d.focusWidget());
            QCOMPARE(d.focusWidget()->objectName(), focus);
        } else {
            tickClose(d);
            QCOMPARE(d.result(), 1);
            QCOMPARE(d.newPassword(), mode == 0 ? first : mode == 2 ? second : QString());
        }
        // Only a successful check tells the owner the password.
        QCOMPARE(verified, (mode != 0 && !stored.isNull() && first == stored) ? QStringList{first} : QStringList{});
    }

    void doubleReturnChecksOnce()
    {
        LockDialog d(LockDialog::Verify);
        d.setVerifier(makePasswordHash(QStringLiteral("abcd"), 1));
        int verified = 0;
        d.onVerified = [&](const QString&) { ++verified; };
        QLineEdit* e = edit(d, "lockPassword");
        e->setText(QStringLiteral("abcd"));
        QTest::keyClick(e, Qt::Key_Return);
        QTest::keyClick(e, Qt::Key_Return);
        QCOMPARE(watchers(d), 1);
        QVERIFY(d.isBusy());
        QVERIFY(!e->isEnabled());
        QTRY_VERIFY(d.isClosing());
        QCOMPARE(verified, 1);
    }

    void fadeInShakeAndClose()
    {
        LockDialog d(LockDialog::Set);
        d.move(200, 200);
        d.show();
        const QPoint base(200, 200);
        QCOMPARE(d.pos(), base + QPoint(0, 14));
        d.animationTick();
        // 1 - (1 - 11/60)^3 = 0.455: the card is 8 px below its place and half visible.
        QCOMPARE(d.pos(), base + QPoint(0, 8));
        QVERIFY(qAbs(d.windowOpacity() - 0.455) < 0.01);
        for (int i = 0; i < 5; ++i)
            d.animationTick();
        QCOMPARE(d.pos(), base);
        QCOMPARE(d.windowOpacity(), 1.0);

        edit(d, "lockPassword")->setText(QStringLiteral("abc"));
        edit(d, "lockSecond")->setText(QStringLiteral("abc"));
        QVERIFY(!d.tryAccept(false));
        // Two swings each way of at most 6 px, over within 11 ticks.
        QList<int> offsets;
        for (int i = 0; i < 13; ++i) {
            d.animationTick();
            offsets << d.pos().x() - base.x();
            QCOMPARE(d.pos().y(), base.y());
        }
        QVERIFY(*std::max_element(offsets.begin(), offsets.end()) >= 3);
        QVERIFY(*std::min_element(offsets.begin(), offsets.end()) <= -3);
        for (int o : offsets)
            QVERIFY(qAbs(o) <= 6);
        QCOMPARE(offsets.mid(10), (QList<int>{0, 0, 0}));

        d.reject();
        for (int i = 0; i < 4; ++i)
            d.animationTick();
        QVERIFY(d.isVisible());
        d.animationTick();
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), 0);
    }

    void closeDuringFadeInIsImmediate()
    {
        LockDialog d(LockDialog::Verify);
        d.show();
        d.animationTick();
        QTest::keyClick(edit(d, "lockPassword"), Qt::Key_Escape);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), 0);
        QCOMPARE(d.windowOpacity(), 1.0);
    }

    void pressOkReleaseElsewhere()
    {
        LockDialog d(LockDialog::Set);
        d.show();
        QTest::mousePress(&d, Qt::LeftButton, {}, d.okRect().center());
        QTest::mouseMove(&d, QPoint(10, 10));
        QTest::mouseRelease(&d, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(d.errorText().isEmpty()); // an empty password would have been refused had it acted
        click(d, d.okRect().center());
        QCOMPARE(d.errorText(), QString::fromUtf8("密码不能为空"));
    }

    void removeLinkRunsNestedRemoveDialog()
    {
        LockDialog d(LockDialog::Verify);
        d.setVerifier(makePasswordHash(QStringLiteral("abcd"), 1));
        int removed = 0, verified = 0;
        d.onRemoveConfirmed = [&] { ++removed; };
        d.onVerified = [&](const QString&) { ++verified; };
        d.show();
        for (int i = 0; i < 6; ++i)
            d.animationTick();
        int nestedMode = -1;
        ScopedCardRunner runner([&](QDialog& card) {
            auto* nested = qobject_cast<LockDialog*>(&card);
            nestedMode = nested ? nested->mode() : -1;
            return 1;
        });
        click(d, d.removeLinkRect().center());
        QCOMPARE(nestedMode, int(LockDialog::Remove));
        QCOMPARE(removed, 1);
        QVERIFY(d.isClosing());
        tickClose(d);
        QCOMPARE(d.result(), 1);
        QCOMPARE(verified, 0);
        QCOMPARE(watchers(d), 0);
    }

    // The forgot link opens the service's page over https; a build without a service says so instead.
    void forgotLinkOpensPage_data()
    {
        QTest::addColumn<QString>("builtIn"); // the build's address; empty = none
        QTest::newRow("built-in service") << "https://service.example";
        QTest::newRow("no service") << "";
    }
    void forgotLinkOpensPage()
    {
        QFETCH(QString, builtIn);
        QList<QUrl> opened;
        QStringList notices;
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl& url) {
            opened << url;
            return true;
        };
        seams.information = [&](QWidget*, const QString&, const QString& text, int) { notices << text; };
        ktr::dialogs::ScopedSeams scoped(seams);
        const QByteArray host = qgetenv("KTR_SERVICE_HOST");
        qunsetenv("KTR_SERVICE_HOST"); // the built-in page; only opened through the seam
        ktr::setDefaultServiceHostForTesting(builtIn.isEmpty() ? QUrl() : QUrl(builtIn));
        LockDialog d(LockDialog::Verify);
        d.show();
        click(d, d.forgotLinkRect().center());
        ktr::resetDefaultServiceHostForTesting();
        qputenv("KTR_SERVICE_HOST", host);
        if (builtIn.isEmpty()) {
            QCOMPARE(opened.size(), 0);
            QCOMPARE(notices, QStringList{ktr::noServiceText()});
            return;
        }
        QCOMPARE(notices.size(), 0);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0], QUrl(QStringLiteral("https://service.example/forgot-lock.html")));
    }

    // The line under the button speaks of a new password only on a card that has a field for one.
    void hintMatchesTheFields_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("language");
        for (int language : {0, 1})
            for (int mode : {0, 2, 3})
                QTest::addRow("mode %d %s", mode, language ? "en" : "zh") << mode << language;
    }
    void hintMatchesTheFields()
    {
        QFETCH(int, mode);
        QFETCH(int, language);
        Lang::setLanguage(language);
        LockDialog d(mode);
        // The change card's second field is the new password; the set card's repeats the first.
        const bool hasNewField = mode == LockDialog::Change && d.findChild<QLineEdit*>(QStringLiteral("lockSecond"));
        const QString hint = d.bottomHint();
        QVERIFY(!hint.isEmpty());
        const bool speaksOfNew =
            hint.contains(QStringLiteral("新密码")) || hint.contains(QStringLiteral("new password"));
        QCOMPARE(speaksOfNew, hasNewField);
    }

    void render_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("language");
        QTest::newRow("light zh") << false << 0;
        QTest::newRow("dark en") << true << 1;
    }
    void render()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        for (int mode : {0, 1}) {
            LockDialog d(mode);
            d.show();
            for (int i = 0; i < 6; ++i)
                d.animationTick();
            if (mode == 0)
                d.setError(Lang::tr("两次输入的密码不一致"));
            for (int i = 0; i < 5; ++i)
                d.animationTick();
            QImage img(d.size(), QImage::Format_ARGB32_Premultiplied);
            img.fill(Qt::transparent);
            d.render(&img);
            // The card fill and the OK button's accent, each at a point of its own.
            QCOMPARE(img.pixelColor(170, 110).rgb(), (dark ? QColor(0x2A, 0x2E, 0x38) : QColor(Qt::white)).rgb());
            QCOMPARE(img.pixelColor(d.okRect().left() + 6, d.okRect().center().y()).rgb(), currentTheme().accent.rgb());
            ktr::test::saveShot(img, QStringLiteral("lockdialog_mode%1_%2_%3")
                                         .arg(mode)
                                         .arg(dark ? "dark" : "light")
                                         .arg(language ? "en" : "zh"));
        }
    }
};

KTR_TEST_MAIN(TestLockDialog)
#include "tst_lockdialog.moc"
