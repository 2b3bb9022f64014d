// The invalid-path check on its own: what it reports for a model, that a request while it runs is not lost
// and runs once after it, and that the folders' watch asks for checks until it is stopped.
#include "mainwindow/invalidpathcheck.h"
#include "mainwindow/itemmenu.h"
#include "mainwindow/targetwatch.h"
#include "testenv.h"

#include <QDir>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest/QtTest>

#include <atomic>

namespace {

Item itemAt(const QString& path, const QString& customIcon = QString())
{
    Item i;
    i.path = path;
    i.name = QFileInfo(path).completeBaseName();
    i.customIcon = customIcon;
    return i;
}

} // namespace

class TestInvalidPathCheck : public QObject
{
    Q_OBJECT

    QString m_dir;
    QString file(const QString& name) const { return m_dir + QLatin1Char('/') + name; }

private slots:
    void initTestCase()
    {
        m_dir = ktr::test::freshDir(QStringLiteral("targets"));
        QVERIFY(!m_dir.isEmpty());
        QVERIFY(ktr::test::writeFile(file("here.txt"), "x"));
        QVERIFY(ktr::test::writeFile(file("icon.png"), "x"));
    }

    void reportsMissingTargets_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("customIcon");
        QTest::addColumn<bool>("invalid");
        QTest::newRow("existing file") << file("here.txt") << QString() << false;
        QTest::newRow("missing file") << file("gone.txt") << QString() << true;
        QTest::newRow("one letter off an existing file") << file("here.tx") << QString() << true;
        QTest::newRow("one letter past an existing file") << file("here.txt2") << QString() << true;
        QTest::newRow("shell place") << QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}") << QString()
                                     << false;
        QTest::newRow("empty path") << QString() << QString() << false;
        QTest::newRow("missing file with an icon that exists") << file("gone.txt") << file("icon.png") << false;
        QTest::newRow("missing file with a missing icon") << file("gone.txt") << file("noicon.png") << true;
    }

    void reportsMissingTargets()
    {
        QFETCH(QString, path);
        QFETCH(QString, customIcon);
        QFETCH(bool, invalid);
        PanelModel model;
        model.replaceGroups({Group{QStringLiteral("A"), {itemAt(file("here.txt")), itemAt(path, customIcon)}}});
        InvalidPathCheck check(model);
        QSignalSpy reported(&check, &InvalidPathCheck::pathsChanged);
        check.refresh();
        QVERIFY(check.running());
        QTRY_COMPARE(reported.size(), 1);
        QVERIFY(!check.running());
        const QSet<QString> expected = invalid ? QSet<QString>{path} : QSet<QString>{};
        QCOMPARE(check.paths(), expected);
        QCOMPARE(reported[0][0].value<QSet<QString>>(), expected);
    }

    // Requests while a slow check runs (an unreachable mount) start nothing beside it; they run once after
    // it, over the model as it is then, so the last change is never lost.
    void requestsWhileRunningRunOnceAfterIt()
    {
        QSemaphore gate;
        std::atomic<int> runs{0};
        const auto unblock = qScopeGuard([&gate] { gate.release(10); });
        PanelModel model;
        model.replaceGroups({Group{QStringLiteral("A"), {itemAt(file("first-gone.txt"))}}});
        InvalidPathCheck check(model);
        check.setCheck([&](const QList<Group>& groups) {
            ++runs;
            gate.acquire();
            return invalidItemPaths(groups);
        });
        QSignalSpy reported(&check, &InvalidPathCheck::pathsChanged);
        check.refresh();
        QTRY_COMPARE(runs.load(), 1);
        model.replaceGroups({Group{QStringLiteral("A"), {itemAt(file("second-gone.txt"))}}});
        for (int i = 0; i < 3; ++i)
            check.refresh();
        QVERIFY(check.running());
        QCOMPARE(runs.load(), 1);
        gate.release();
        QTRY_COMPARE(runs.load(), 2);
        QCOMPARE(reported.size(), 1);
        QCOMPARE(check.paths(), QSet<QString>{file("first-gone.txt")});
        gate.release();
        QTRY_COMPARE(reported.size(), 2);
        QVERIFY(!check.running());
        QCOMPARE(check.paths(), QSet<QString>{file("second-gone.txt")});
        QCOMPARE(runs.load(), 2);
    }

    // A change of the model moves the watch to the new targets' folders; a settled folder change asks for a
    // check, and after stop it no longer does.
    void watchFollowsTheModelUntilStopped()
    {
        const QString sub = file("watched");
        QVERIFY(QDir().mkpath(sub));
        PanelModel model;
        InvalidPathCheck check(model);
        model.replaceGroups({Group{QStringLiteral("A"), {}}});
        model.editGroups([&](QList<Group>& groups) {
            groups[0].items.append(itemAt(sub + QStringLiteral("/t.txt")));
            return true;
        });
        QVERIFY(check.targetWatch()->watchedFolders().contains(sub));
        QSignalSpy reported(&check, &InvalidPathCheck::pathsChanged);
        QMetaObject::invokeMethod(check.targetWatch()->settleTimer(), "timeout");
        QTRY_COMPARE(reported.size(), 1);
        QCOMPARE(check.paths(), QSet<QString>{sub + QStringLiteral("/t.txt")});
        check.stop();
        QMetaObject::invokeMethod(check.targetWatch()->settleTimer(), "timeout");
        QCoreApplication::processEvents();
        QVERIFY(!check.running());
        QCOMPARE(reported.size(), 1);
    }
};

KTR_TEST_MAIN(TestInvalidPathCheck)
#include "tst_invalidpathcheck.moc"
