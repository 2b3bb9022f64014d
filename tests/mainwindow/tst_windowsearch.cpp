// The window's side of the search: the panel exists only once Ctrl+F asked for it, sits where the window's
// width says, and its results reach the owner.
#include "mainwindow/searchpanel.h"
#include "mainwindow/windowsearch.h"
#include "testenv.h"

#include <QKeyEvent>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest/QtTest>

class TestWindowSearch : public QObject
{
    Q_OBJECT

private slots:
    void onlyCtrlFBuildsThePanel_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("builds");
        QTest::newRow("Ctrl+F") << int(Qt::Key_F) << int(Qt::ControlModifier) << true;
        QTest::newRow("F alone") << int(Qt::Key_F) << int(Qt::NoModifier) << false;
        QTest::newRow("Ctrl+G") << int(Qt::Key_G) << int(Qt::ControlModifier) << false;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << false;
    }

    void onlyCtrlFBuildsThePanel()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, builds);
        const QList<Group> groups{Group{QStringLiteral("A"), {}}};
        QWidget host;
        host.resize(680, 496);
        WindowSearch search(&groups, &host);
        QVERIFY(!search.panel());
        search.placeIn(600); // nothing to place yet
        search.hide();
        search.stop();
        QVERIFY(!search.panel());
        QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(search.handleKey(&press), builds);
        QCOMPARE(search.panel() != nullptr, builds);
        if (builds) {
            QCOMPARE(search.panel()->parentWidget(), &host);
            QVERIFY(search.panel()->isVisibleTo(&host));
        }
    }

    void thePanelIsBuiltOncePlacedAndForwardsResults()
    {
        const QList<Group> groups{Group{QStringLiteral("A"), {}}};
        QWidget host;
        host.resize(680, 496);
        WindowSearch search(&groups, &host);
        SearchPanel* panel = search.ensurePanel();
        QCOMPARE(search.ensurePanel(), panel);
        QCOMPARE(panel->geometry(), QRect((680 - 460) / 2, 64, 460, 320));
        search.placeIn(1000);
        QCOMPARE(panel->geometry().topLeft(), QPoint((1000 - 460) / 2, 64));
        QSignalSpy launches(&search, &WindowSearch::launchRequested);
        emit panel->launchRequested(3, 7);
        QCOMPARE(launches.size(), 1);
        QCOMPARE(launches[0][0].toInt(), 3);
        QCOMPARE(launches[0][1].toInt(), 7);
        panel->show();
        search.hide();
        QVERIFY(!panel->isVisibleTo(&host));
    }
};

KTR_TEST_MAIN(TestWindowSearch)
#include "tst_windowsearch.moc"
