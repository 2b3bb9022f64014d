// Window-manager hints on a real X server. Xvfb runs no window manager, so the hints land in the
// window's _NET_WM_STATE property, where a window manager finds them when it takes the window on.
#include "platform/windowhints.h"
#include "testenv.h"
#include "x11tools.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

using ktr::platform::setKeepAbove;
using ktr::platform::setSkipTaskbar;
using ktr::platform::windowStateHints;

class TestWindowHints : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (const char* why = ktr::test::missingX11())
            QSKIP(why);
    }

    void hintsAreAddedAndRemovedIndependently_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::newRow("not yet shown") << false;
        QTest::newRow("shown") << true;
    }
    void hintsAreAddedAndRemovedIndependently()
    {
        QFETCH(bool, shown);
        QWidget w;
        w.resize(200, 100);
        w.winId();
        if (shown) {
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
        }
        const QString above = QStringLiteral("_NET_WM_STATE_ABOVE");
        const QString skip = QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR");
        QVERIFY(setKeepAbove(w.windowHandle(), true));
        QVERIFY(setSkipTaskbar(w.windowHandle(), true));
        QVERIFY(setKeepAbove(w.windowHandle(), true)); // twice is still once
        QStringList hints = windowStateHints(w.windowHandle());
        QCOMPARE(hints.count(above), 1);
        QCOMPARE(hints.count(skip), 1);

        QVERIFY(setKeepAbove(w.windowHandle(), false));
        hints = windowStateHints(w.windowHandle());
        QVERIFY(!hints.contains(above));
        QVERIFY(hints.contains(skip));
        QVERIFY(setSkipTaskbar(w.windowHandle(), false));
        QVERIFY(!windowStateHints(w.windowHandle()).contains(skip));
    }

    void noWindowChangesNothing()
    {
        QVERIFY(!setKeepAbove(nullptr, true));
        QVERIFY(windowStateHints(nullptr).isEmpty());
    }
};

KTR_TEST_MAIN(TestWindowHints)
#include "tst_windowhints.moc"
