#include "platform/filemanager.h"
#include "platform/launcher.h"
#include "testenv.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest/QtTest>

#include <optional>

namespace {

class RecordingLauncher : public ktr::platform::Launcher
{
public:
    bool startDetached(const QString&, const QStringList&, const QString&) override { return false; }
    bool openUrl(const QUrl& url) override
    {
        opened.append(url);
        return answer;
    }
    QList<QUrl> opened;
    bool answer = true;
};

// A file manager on the test bus: records what it was asked to show.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
    QString startupId;
public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString& id)
    {
        shown += uris;
        startupId = id;
    }
};

} // namespace

using ktr::platform::ShowItemResult;

class TestFileManager : public QObject
{
    Q_OBJECT

    RecordingLauncher m_launcher;
    QProcess m_daemon;
    QString m_address;
    QString m_file;

    // Asks to show m_file and waits for the answer.
    std::optional<ShowItemResult> show()
    {
        std::optional<ShowItemResult> result;
        ktr::platform::showItemInFileManager(m_file, [&result](ShowItemResult r) { result = r; });
        if (!QTest::qWaitFor([&result] { return result.has_value(); }, 10000))
            return std::nullopt;
        return result;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_file = ktr::test::freshDir(QStringLiteral("files")) + QStringLiteral("/a b.txt");
        QVERIFY(ktr::test::writeFile(m_file, "x"));
        ktr::platform::setLauncher(&m_launcher);
    }

    void cleanupTestCase()
    {
        ktr::platform::setLauncher(nullptr);
        ktr::platform::setFileManagerBusForTesting(QString());
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill();
            m_daemon.waitForFinished();
        }
    }

    void init() { m_launcher.opened.clear(); }

    void withoutABusTheFolderOpens_data()
    {
        QTest::addColumn<bool>("openerWorks");
        QTest::addColumn<ShowItemResult>("expected");
        QTest::newRow("folder opened") << true << ShowItemResult::ParentFolder;
        QTest::newRow("nothing worked") << false << ShowItemResult::Failed;
    }
    void withoutABusTheFolderOpens()
    {
        QFETCH(bool, openerWorks);
        QFETCH(ShowItemResult, expected);
        m_launcher.answer = openerWorks;
        ktr::platform::setFileManagerBusForTesting(QStringLiteral("never-connected"));
        QCOMPARE(show(), expected);
        QCOMPARE(m_launcher.opened, QList<QUrl>{QUrl::fromLocalFile(QFileInfo(m_file).absolutePath())});
        m_launcher.answer = true;
    }

    void aFileManagerOnTheBusShowsTheFile()
    {
        // A bus of the test's own: it starts no service, so nobody owns the file manager's name until the
        // fake below takes it, whatever the machine has installed.
        m_address = ktr::test::startPrivateBus(m_daemon);
        if (m_address.isEmpty())
            QSKIP("no dbus-daemon to start a private bus with");
        QDBusConnection client = QDBusConnection::connectToBus(m_address, QStringLiteral("client"));
        QVERIFY(client.isConnected());
        ktr::platform::setFileManagerBusForTesting(QStringLiteral("client"));

        // Nobody owns the name yet: the folder opens instead.
        QCOMPARE(show(), ShowItemResult::ParentFolder);
        QCOMPARE(m_launcher.opened.size(), 1);

        m_launcher.opened.clear();
        QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service"));
        FakeFileManager fake;
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fake,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));
        QCOMPARE(show(), ShowItemResult::FileManager);
        QCOMPARE(fake.shown, QStringList{QUrl::fromLocalFile(m_file).toString(QUrl::FullyEncoded)});
        QVERIFY(fake.shown[0].contains(QLatin1String("a%20b.txt")));
        QVERIFY(m_launcher.opened.isEmpty());

        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }
};

KTR_TEST_MAIN(TestFileManager)
#include "tst_filemanager.moc"
