// The signed-out dialog: the reason from the service's message, its texts and layout, its buttons, its
// placement by showKicked, and the setters called from a worker thread.

#include "account/accountpaint.h"
#include "account/sessionkickeddialog.h"
#include "accountshots.h"
#include "logcapture.h"
#include "ui/dialogseams.h"

#include <QApplication>
#include <QPointer>

#include <thread>

using namespace ktr::test;
using Reason = SessionKickedDialog::Reason;

namespace {

const char* const kElsewhere =
    "账号已在其他设备登录（当前授权 1 台设备），本机已下线，如需多台电脑同时登录，可增加授权设备数";

int wrapped(int px, bool bold, int width, const QString& text)
{
    return QFontMetrics(uiFont(px, bold)).boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, text).height();
}

void click(QWidget* w, const QPoint& at)
{
    QTest::mouseMove(w, at == QPoint(1, 1) ? QPoint(2, 2) : QPoint(1, 1)); // a move in place would not arrive
    QTest::mouseMove(w, at);
    QTest::mouseClick(w, Qt::LeftButton, {}, at);
}

} // namespace

Q_DECLARE_METATYPE(SessionKickedDialog::Reason)

class TestSessionKickedDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void reasonFromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Reason>("reason");
        QTest::newRow("administrator") << QStringLiteral("账号已被管理员强制下线，请重新登录") << Reason::Admin;
        QTest::newRow("other device") << QString::fromUtf8(kElsewhere) << Reason::Elsewhere;
        QTest::newRow("other computer") << QStringLiteral("您的账户已在其他电脑登录，本机已退出") << Reason::Elsewhere;
        QTest::newRow("elsewhere") << QStringLiteral("已在别处登录") << Reason::Elsewhere;
        QTest::newRow("both: administrator wins") << QStringLiteral("管理员在其他设备上结束了会话") << Reason::Admin;
        QTest::newRow("expired") << QStringLiteral("登录已失效，请重新登录") << Reason::Expired;
        QTest::newRow("empty") << QString() << Reason::Expired;
        QTest::newRow("english text") << QStringLiteral("signed in elsewhere") << Reason::Expired;
    }
    void reasonFromText()
    {
        QFETCH(QString, text);
        QFETCH(Reason, reason);
        QCOMPARE(SessionKickedDialog::reasonFor(text), reason);
        SessionKickedDialog d(text, {});
        QCOMPARE(d.reason(), reason);
        QCOMPARE(d.hintRect().isEmpty(), reason == Reason::Expired);
        QCOMPARE(d.primaryLabel(),
                 reason == Reason::Elsewhere ? QStringLiteral("去官网改密码") : QStringLiteral("我知道了"));
    }

    void statusAndLayout_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("apps");
        QTest::addColumn<bool>("pending");
        QTest::addColumn<QString>("status");
        const QString elsewhere = QString::fromUtf8(kElsewhere);
        QTest::newRow("elsewhere with apps")
            << elsewhere << QStringList{"Notes.exe", "DemoApp.exe"} << false
            << QStringLiteral("已结束正在运行的应用市场程序：Notes.exe、DemoApp.exe\n服务端提示：") + elsewhere;
        QTest::newRow("pending, no apps yet")
            << elsewhere << QStringList() << true
            << QStringLiteral("正在结束正在运行的应用市场程序…\n服务端提示：") + elsewhere;
        QTest::newRow("pending hides the apps")
            << QString() << QStringList{"A.exe"} << true << QStringLiteral("正在结束正在运行的应用市场程序…");
        QTest::newRow("admin, no apps") << QStringLiteral("账号已被管理员强制下线，请重新登录") << QStringList()
                                        << false << QStringLiteral("服务端提示：账号已被管理员强制下线，请重新登录");
        QTest::newRow("expired, empty") << QString() << QStringList() << false << QString();
    }
    void statusAndLayout()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, apps);
        QFETCH(bool, pending);
        QFETCH(QString, status);
        SessionKickedDialog d(text, apps);
        d.setPending(pending);
        QCOMPARE(d.statusText(), status);

        QCOMPARE(d.closeRect(), QRect(512, 18, 28, 28));
        QCOMPARE(d.titleRect(), QRect(28, 83, 504, 30));
        QCOMPARE(d.logoRect(), QRect(258, 26, 44, 44));
        const int b = std::max(wrapped(14, false, 504, d.bodyText()) + 4, 22);
        QCOMPARE(d.bodyRect(), QRect(28, 122, 504, b));
        int y = 122 + b + 15;
        if (!d.hintText().isEmpty()) {
            const int h = wrapped(14, true, 464, d.hintText());
            QCOMPARE(d.hintRect(), QRect(28, y, 504, h + 26));
            y += h + 39;
        }
        if (status.isEmpty()) {
            QVERIFY(d.statusRect().isEmpty());
        } else {
            const int h = wrapped(12, false, 464, status);
            QCOMPARE(d.statusRect(), QRect(48, y, 464, h + 2));
            y += h + 17;
        }
        const QFontMetrics fm(uiFont(13));
        const int f = std::max(fm.horizontalAdvance(QStringLiteral("增加授权设备数")) + 60, 150);
        const int p = std::max(fm.horizontalAdvance(d.primaryLabel()) + 56, 130);
        QCOMPARE(d.devicesRect(), QRect((560 - (f + p + 12)) / 2, y + 4, f, 40));
        QCOMPARE(d.primaryRect(), QRect(d.devicesRect().right() + 13, y + 4, p, 40));
        QCOMPARE(d.size(), QSize(560, y + 68));
    }

    void buttons_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QString>("url");
        const QString elsewhere = QString::fromUtf8(kElsewhere);
        QTest::newRow("elsewhere primary: security page, closes") << elsewhere << 1 << true << "/uc.html#security";
        QTest::newRow("admin primary: closes only") << QStringLiteral("管理员") << 1 << true << "";
        QTest::newRow("expired primary: closes only") << QString() << 1 << true << "";
        QTest::newRow("devices page stays open") << elsewhere << 2 << false << "/#devices";
        QTest::newRow("close") << elsewhere << 3 << true << "";
    }
    void buttons()
    {
        QFETCH(QString, text);
        QFETCH(int, button);
        QFETCH(bool, closes);
        QFETCH(QString, url);
        qputenv("KTR_SERVICE_HOST", "http://127.0.0.1:9");
        UrlCatcher caught;
        QList<QUrl>& opened = caught.urls;
        QPointer<SessionKickedDialog> d = SessionKickedDialog::showKicked(text, {});
        QVERIFY(QTest::qWaitForWindowExposed(d));
        const QRect target = button == 1 ? d->primaryRect() : button == 2 ? d->devicesRect() : d->closeRect();
        // A press and a release elsewhere does nothing.
        QTest::mousePress(d, Qt::LeftButton, {}, target.center());
        QCOMPARE(d->pressedId(), button);
        QTest::mouseRelease(d, Qt::LeftButton, {}, d->bodyRect().center());
        QVERIFY(d->isVisible());
        QVERIFY(opened.isEmpty());
        click(d, target.center());
        if (closes)
            QTRY_VERIFY(d.isNull()); // deleted on close
        else
            QVERIFY(d->isVisible());
        if (url.isEmpty()) {
            QVERIFY(opened.isEmpty());
        } else {
            QCOMPARE(opened.size(), 1);
            QCOMPARE(opened[0].toString(), QStringLiteral("http://127.0.0.1:9") + url);
        }
        delete d;
    }

    void showKickedPlacesOverTheParent_data()
    {
        QTest::addColumn<QSize>("parentSize");
        QTest::addColumn<bool>("small");
        QTest::newRow("large window: centred") << QSize(900, 800) << false;
        QTest::newRow("small window: 60 px below its top") << QSize(600, 300) << true;
    }
    void showKickedPlacesOverTheParent()
    {
        QFETCH(QSize, parentSize);
        QFETCH(bool, small);
        QWidget parent;
        parent.setGeometry(100, 80, parentSize.width(), parentSize.height());
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        LogCapture log;
        QPointer<SessionKickedDialog> d =
            SessionKickedDialog::showKicked(QString::fromUtf8(kElsewhere), {"A.exe", "B.exe"}, &parent);
        QVERIFY(d->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(d->windowModality(), Qt::NonModal);
        const QRect ref = parent.frameGeometry();
        const int free = ref.height() - d->height();
        QCOMPARE(small, free < 122);
        QCOMPARE(d->pos(), QPoint(ref.x() + (ref.width() - d->width()) / 2, ref.top() + (small ? 60 : free / 2)));
        QVERIFY(log.contains(QStringLiteral("session kicked dialog: reason = ") + QString::fromUtf8(kElsewhere) +
                             " killedApps = A.exe,B.exe"));
        QVERIFY(log.contains("session kicked dialog timing: ctor"));
        delete d;
    }

    void modalWhileAnotherModalIsUp()
    {
        QDialog modal;
        modal.setModal(true);
        modal.show();
        QVERIFY(QTest::qWaitForWindowExposed(&modal));
        QTRY_VERIFY(QApplication::activeModalWidget() == &modal);
        QPointer<SessionKickedDialog> d = SessionKickedDialog::showKicked(QString(), {});
        QCOMPARE(d->windowModality(), Qt::ApplicationModal);
        delete d;
    }

    // From a worker the setters only queue: nothing changes until the GUI thread runs its events.
    void settersFromAnotherThread()
    {
        SessionKickedDialog d(QString::fromUtf8(kElsewhere), {});
        const int before = d.height();
        std::thread worker([&] {
            d.setPending(true);
            d.setPending(false);
            d.setKilledApps({"Notes.exe", "DemoApp.exe"});
        });
        worker.join();
        QVERIFY(!d.isPending());
        QVERIFY(d.killedApps().isEmpty());
        QCOMPARE(d.height(), before);
        QTRY_COMPARE(d.killedApps(), (QStringList{"Notes.exe", "DemoApp.exe"}));
        QVERIFY(!d.isPending());
        QVERIFY(d.statusText().startsWith(QStringLiteral("已结束正在运行的应用市场程序：Notes.exe、DemoApp.exe")));
        QVERIFY(d.height() >= before); // re-laid out for the longer status
        // On its own thread a setter acts at once.
        d.setPending(true);
        QVERIFY(d.isPending());
    }

    void renders_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("apps");
        QTest::addColumn<bool>("pending");
        const QString elsewhere = QString::fromUtf8(kElsewhere);
        for (bool dark : {false, true})
            for (bool english : {false, true}) {
                const QString look = lookName(dark, english);
                QTest::addRow("%s elsewhere", qPrintable(look))
                    << dark << english << elsewhere << QStringList{"Notes.exe", "DemoApp.exe"} << false;
                QTest::addRow("%s admin", qPrintable(look))
                    << dark << english << QStringLiteral("账号已被管理员强制下线，请重新登录") << QStringList()
                    << false;
                QTest::addRow("%s expired", qPrintable(look)) << dark << english << QString() << QStringList() << false;
                QTest::addRow("%s pending", qPrintable(look)) << dark << english << elsewhere << QStringList() << true;
            }
    }
    void renders()
    {
        QFETCH(bool, dark);
        QFETCH(bool, english);
        QFETCH(QString, text);
        QFETCH(QStringList, apps);
        QFETCH(bool, pending);
        LookScope look(dark, english);
        SessionKickedDialog d(text, apps);
        d.setPending(pending);
        const QImage img = renderWidget(d);
        const Theme& t = currentTheme();
        const QColor card = dark ? QColor(0x2A, 0x2E, 0x38) : QColor(Qt::white);
        QVERIFY(near(pixelAt(img, 14, d.height() / 2), card, 2));
        QVERIFY(near(pixelAt(img, d.primaryRect().left() + 5, d.primaryRect().center().y()), t.accent, 2));
        QVERIFY(countNear(img, d.titleRect(), t.strongText, 40) > 10);
        if (!d.hintRect().isEmpty()) {
            QVERIFY(near(pixelAt(img, d.hintRect().left() + 6, d.hintRect().center().y()),
                         dark ? QColor(0x3B, 0x2C, 0x31) : QColor(0xFD, 0xED, 0xED), 2));
            QVERIFY(countNear(img, d.hintRect().adjusted(20, 0, -20, 0), QColor(0xE5, 0x48, 0x4D), 40) > 10);
        }
        if (!d.statusRect().isEmpty())
            QVERIFY(countNear(img, d.statusRect(), t.hintText, 30) > 10);
        saveShot(img, QStringLiteral("kicked-%1").arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-')));
    }

    void followsLanguage()
    {
        SessionKickedDialog d(QStringLiteral("管理员"), {});
        Lang::setLanguage(1);
        Lang::notifyChanged();
        QCOMPARE(d.titleText(), QStringLiteral("Account forcibly signed out"));
        const QFontMetrics fm(uiFont(13));
        QCOMPARE(d.primaryRect().width(), std::max(fm.horizontalAdvance(QStringLiteral("Got it")) + 56, 130));
        QCOMPARE(d.devicesRect().width(),
                 std::max(fm.horizontalAdvance(QStringLiteral("Add Authorized Devices")) + 60, 150));
        Lang::setLanguage(0);
        Lang::notifyChanged();
    }
};

KTR_TEST_MAIN(TestSessionKickedDialog)
#include "tst_sessionkickeddialog.moc"
