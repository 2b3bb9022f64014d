// Items launched for real on an X display: documents go through the desktop's opener (a stand-in xdg-open
// first on PATH records what it was given), programs start directly with their arguments and folder.
#include "mainwindow/mainwindow.h"
#include "model/configstore.h"
#include "panel/icongrid.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "x11tools.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QtTest/QtTest>

class TestLaunchX11 : public QObject
{
    Q_OBJECT

    QString m_dir;

    QString writeScript(const QString& path, const QByteArray& body)
    {
        if (!ktr::test::writeFile(path, "#!/bin/sh\n" + body))
            return QString();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    void activate(const Item& item)
    {
        ConfigStore store(appDataDir());
        QVERIFY(store.saveLayout({Group{QStringLiteral("A"), {item}}}));
        MainWindow window;
        window.onItemActivated(0);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (const char* why = ktr::test::missingX11())
            QSKIP(why);
        m_dir = ktr::test::freshDir(QStringLiteral("launch"));
        QVERIFY(QDir().mkpath(m_dir + "/bin"));
        QVERIFY(!writeScript(m_dir + "/bin/xdg-open", "printf '%s\\n' \"$@\" > \"" + m_dir.toUtf8() +
                                                          "/opened.tmp\"\nmv \"" + m_dir.toUtf8() + "/opened.tmp\" \"" +
                                                          m_dir.toUtf8() + "/opened\"\n")
                     .isEmpty());
        qputenv("PATH", (m_dir + "/bin:").toUtf8() + qgetenv("PATH"));
    }

    void documentGoesThroughXdgOpen()
    {
        const QString doc = m_dir + QStringLiteral("/notes 1.txt");
        QVERIFY(ktr::test::writeFile(doc, "hello"));
        Item item;
        item.path = doc;
        item.name = QStringLiteral("notes");
        activate(item);
        QTRY_VERIFY(QFileInfo::exists(m_dir + "/opened"));
        const QString opened = QString::fromUtf8(ktr::test::readFile(m_dir + "/opened")).trimmed();
        QCOMPARE(QUrl(opened).isLocalFile() ? QUrl(opened).toLocalFile() : opened, doc);
    }

    void doubleClickOnTheGridOpensTheItem()
    {
        QFile::remove(m_dir + "/opened");
        const QString doc = m_dir + QStringLiteral("/clicked.txt");
        QVERIFY(ktr::test::writeFile(doc, "hello"));
        Item item;
        item.path = doc;
        item.name = QStringLiteral("clicked");
        ConfigStore store(appDataDir());
        QVERIFY(store.saveLayout({Group{QStringLiteral("A"), {item}}}));
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        IconGrid* grid = window.iconGrid();
        QTest::mouseDClick(grid, Qt::LeftButton, {}, grid->cellRect(0).center());
        QTRY_VERIFY(QFileInfo::exists(m_dir + "/opened"));
        QCOMPARE(QUrl(QString::fromUtf8(ktr::test::readFile(m_dir + "/opened")).trimmed()).toLocalFile(), doc);
    }

    void programStartsWithArgumentsInItsFolder()
    {
        const QString work = ktr::test::freshDir(QStringLiteral("work"));
        const QString program = writeScript(
            m_dir + "/tool.sh", "{ pwd; printf '%s\\n' \"$@\"; } > \"" + m_dir.toUtf8() + "/ran.tmp\"\nmv \"" +
                                    m_dir.toUtf8() + "/ran.tmp\" \"" + m_dir.toUtf8() + "/ran\"\n");
        Item item;
        item.path = program;
        item.name = QStringLiteral("tool");
        item.workDir = work;
        item.args = QStringLiteral("--mode \"two words\" ;rm");
        activate(item);
        QTRY_VERIFY(QFileInfo::exists(m_dir + "/ran"));
        const QStringList lines = QString::fromUtf8(ktr::test::readFile(m_dir + "/ran")).split(QLatin1Char('\n'));
        QCOMPARE(lines.value(0), QDir(work).canonicalPath());
        // No shell: the ";rm" is an argument like any other.
        QCOMPARE(lines.mid(1, 3), (QStringList{"--mode", "two words", ";rm"}));
    }
};

KTR_TEST_MAIN(TestLaunchX11)
#include "tst_launchx11.moc"
