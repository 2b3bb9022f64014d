#include "fakeservicehost.h"
#include "market/selfscripts.h"
#include "market/updatechecker.h"
#include "market/updatedialog.h"
#include "platform/launcher.h"
#include "testenv.h"
#include "updatesigning.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest/QtTest>

#include <unistd.h>

#include <memory>

using namespace ktr::test;
using Host = ktr::test::FakeServiceHost;

namespace {

class RecordingLauncher : public ktr::platform::Launcher
{
public:
    bool startDetached(const QString& program, const QStringList& arguments, const QString&) override
    {
        calls << (QStringList{program} + arguments);
        return true;
    }
    QList<QStringList> calls;
};

QString selfscriptsQuote(const QString& path)
{
    return selfscripts::shQuote(path);
}

} // namespace

class TestUpdateChecker : public QObject
{
    Q_OBJECT

    std::unique_ptr<Host> m_host;
    std::unique_ptr<UpdateChecker> m_checker;
    UpdateSigner m_signer;
    RecordingLauncher m_launcher;
    QList<QPair<QString, int>> m_toasts;
    QList<int> m_exits;
    QString m_dir;
    const QByteArray m_installer = QByteArray("#!/bin/sh\necho installed\n").repeated(100);

    QString installerUrl() const { return m_host->baseUrl().toString() + "/files/setup.run"; }
    QByteArray installerSha() const
    {
        return QCryptographicHash::hash(m_installer, QCryptographicHash::Sha256).toHex();
    }

    void serveManifest(const QString& path, const QJsonObject& manifest)
    {
        m_host->route("GET", path, "", Host::Reply::json(manifest));
    }
    void serveHistory(const QJsonArray& history)
    {
        m_host->route("GET", "/update/apps/history.json", "",
                      Host::Reply::raw(200, QJsonDocument(history).toJson(), "application/json"));
    }

private Q_SLOTS:
    void initTestCase() { Host::setTestCaTrusted(true); }

    void init()
    {
        m_host = std::make_unique<Host>(Host::Scheme::Https);
        QVERIFY(m_host->listen());
        qputenv("KTR_SERVICE_HOST", m_host->baseUrl().toString().toUtf8());
        m_dir = freshDir("update");
        m_toasts.clear();
        m_exits.clear();
        m_launcher.calls.clear();
        ktr::platform::setLauncher(&m_launcher);
        m_checker = std::make_unique<UpdateChecker>();
        UpdateChecker::Seams s;
        s.key = m_signer.key;
        s.localVersion = [] { return QStringLiteral("1.0.5"); };
        s.toast = [this](const QString& text, int kind) { m_toasts.append({text, kind}); };
        s.hardExit = [this](int code) { m_exits << code; };
        s.dataDir = m_dir + "/data";
        s.tempDir = m_dir;
        m_checker->setSeams(s);
        m_host->route("GET", "/files/setup.run", "", Host::Reply::raw(200, m_installer, "application/octet-stream"));
    }
    void cleanup()
    {
        m_checker.reset();
        ktr::platform::setLauncher(nullptr);
    }

    void manualOutcomes_data()
    {
        QTest::addColumn<QString>("case_");
        QTest::addColumn<QString>("toast");
        QTest::newRow("no manifest") << "404"
                                     << "检查更新失败，请检查网络后重试";
        QTest::newRow("unsigned") << "unsigned"
                                  << "更新清单签名无效，为安全起见已拒绝本次更新";
        QTest::newRow("same version") << "same"
                                      << "当前已是最新版本 v1.0.5";
        QTest::newRow("suffix without dash") << "suffix"
                                             << "当前已是最新版本 v1.0.5";
    }
    void manualOutcomes()
    {
        QFETCH(QString, case_);
        QFETCH(QString, toast);
        QJsonObject m = panelManifest(case_ == "suffix" ? "1.0.251beta" : "1.0.5", installerUrl(), installerSha());
        if (case_ == "unsigned")
            serveManifest("/update/apps/panel.json", m);
        else if (case_ != "404")
            serveManifest("/update/apps/panel.json", m_signer.sign(m));
        m_checker->check(false, true);
        QTRY_COMPARE(m_toasts.size(), 1);
        QCOMPARE(m_toasts.first().first, toast);
        QVERIFY(!m_checker->dialog());
        // The quiet check says nothing.
        m_toasts.clear();
        m_checker->check(false, false);
        QTRY_COMPARE(m_host->requests().size(), 2);
        QTest::qWait(50);
        QVERIFY(m_toasts.isEmpty());
    }

    void betaFallsBackAndOffersWithHistoryNotes()
    {
        serveManifest("/update/apps/panel.json",
                      m_signer.sign(panelManifest("1.1.0", installerUrl(), installerSha().toUpper(), "123")));
        serveHistory(QJsonArray{QJsonObject{{"version", "1.1.0"}, {"notes", "从历史①第一项"}},
                                QJsonObject{{"version", "1.1.0"}, {"notes", "second"}}});
        m_checker->check(true, true);
        QTRY_VERIFY(m_checker->dialog() && m_checker->dialog()->isVisible());
        QVERIFY(m_toasts.isEmpty());
        QVERIFY(!m_checker->offeredFromBeta());
        QCOMPARE(m_checker->dialog()->noteLines(), QStringList({"从历史", "①第一项"}));

        // Minimising the card says where the offer comes back from.
        UpdateDialog* card = m_checker->dialog();
        const QPoint minimise(card->width() - 53, 25);
        QCOMPARE(card->partAt(minimise), 5);
        QTest::mouseClick(card, Qt::LeftButton, {}, minimise);
        QCOMPARE(m_toasts.size(), 1);
        QCOMPARE(m_toasts.first(), qMakePair(QStringLiteral("更新提示已最小化，可在齿轮菜单「检查更新」重新打开"), 1));
        m_toasts.clear();
        card->showNormal();
        QStringList paths;
        for (const auto& r : m_host->requests())
            paths << r.path;
        QCOMPARE(paths,
                 QStringList({"/update/apps/panel-beta.json", "/update/apps/panel.json", "/update/apps/history.json"}));

        // Accepting downloads, checks the hash, writes the script, starts it and ends the process.
        QSignalSpy started(m_checker.get(), &UpdateChecker::downloadStarted);
        m_checker->onUpdateClicked();
        m_checker->onUpdateClicked(); // a second click changes nothing
        QTRY_COMPARE(m_exits, QList<int>{0});
        QCOMPARE(started.count(), 1);
        QCOMPARE(ktr::test::readFile(m_checker->installerPath()), m_installer);
        QCOMPARE(m_launcher.calls.size(), 1);
        QCOMPARE(m_launcher.calls.first(), QStringList({"setsid", "/bin/sh", m_checker->scriptPath()}));
        const QString script = QString::fromUtf8(ktr::test::readFile(m_checker->scriptPath()));
        QVERIFY(script.contains("'" + m_checker->installerPath() + "' /SILENT"));
    }

    // The minimised card leaves the panel usable (it neither takes the panel with it nor blocks it unseen),
    // and comes back when the user checks again during the download and when the download fails.
    void minimisedCardComesBack()
    {
        m_host->route("GET", "/files/slow.run", "", Host::Reply::stalled(m_installer, 10));
        serveManifest(
            "/update/apps/panel.json",
            m_signer.sign(panelManifest("1.1.0", m_host->baseUrl().toString() + "/files/slow.run", installerSha())));
        m_checker->check(false, true);
        QTRY_VERIFY(m_checker->dialog() && m_checker->dialog()->isVisible());
        UpdateDialog* card = m_checker->dialog();
        m_checker->onUpdateClicked();
        QTRY_VERIFY(m_checker->busy());
        const QPoint minimise(card->width() - 53, 25);
        QTest::mouseClick(card, Qt::LeftButton, {}, minimise);
        QCOMPARE(m_toasts.size(), 1);
        QVERIFY(!card->isVisible());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);

        m_checker->check(false, true); // the gear menu's "check for updates"
        QTRY_VERIFY(card->isVisible());
        QVERIFY(!card->isMinimized());
        QCOMPARE(QApplication::activeModalWidget(), card);
        QVERIFY(m_checker->busy());

        QTest::mouseClick(card, Qt::LeftButton, {}, minimise);
        QVERIFY(!card->isVisible());
        m_checker->notifyUpdateStatus(QStringLiteral("下载失败，请检查网络后重试"));
        QVERIFY(card->isVisible());
        QCOMPARE(card->statusText(), QStringLiteral("下载失败，请检查网络后重试"));
    }

    void downloadFailures_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("sha");
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<QString>("status");
        QTest::newRow("http") << "http://127.0.0.1:1/x" << QString::fromLatin1(installerSha()) << qint64(-1)
                              << "更新地址无效，已取消";
        QTest::newRow("no hash") << QString() << QString() << qint64(-1) << "安装包校验失败，已取消更新";
        QTest::newRow("wrong hash") << QString() << QString(64, 'a') << qint64(-1) << "安装包校验失败，已取消更新";
        const QString real = QString::fromLatin1(installerSha());
        const QString lastByteOff = real.left(62) + (real.endsWith(QLatin1String("00")) ? "01" : "00");
        QTest::newRow("hash off in its last byte")
            << QString() << lastByteOff << qint64(-1) << "安装包校验失败，已取消更新";
        QTest::newRow("hash off in its last byte, upper case")
            << QString() << lastByteOff.toUpper() << qint64(-1) << "安装包校验失败，已取消更新";
        QTest::newRow("hash without its last byte")
            << QString() << real.left(62) << qint64(-1) << "安装包校验失败，已取消更新";
        // The right hash in upper case proves the installer: it is handed over.
        QTest::newRow("upper-case hash: handed over") << QString() << real.toUpper() << qint64(-1) << QString();
        QTest::newRow("too large") << QString() << QString::fromLatin1(installerSha()) << qint64(1000)
                                   << "下载失败，请检查网络后重试";
        QTest::newRow("404") << "/files/none" << QString::fromLatin1(installerSha()) << qint64(-1)
                             << "下载失败，请检查网络后重试";
    }
    void downloadFailures()
    {
        QFETCH(QString, url);
        QFETCH(QString, sha);
        QFETCH(qint64, cap);
        QFETCH(QString, status);
        if (url.isEmpty())
            url = installerUrl();
        else if (url.startsWith('/'))
            url = m_host->baseUrl().toString() + url;
        if (cap > 0) {
            UpdateChecker::Seams s = m_checker->seams();
            s.maxInstallerBytes = cap;
            m_checker->setSeams(s);
        }
        serveManifest("/update/apps/panel.json", m_signer.sign(panelManifest("1.1.0", url, sha.toLatin1())));
        m_checker->check(false, true);
        QTRY_VERIFY(m_checker->dialog() && m_checker->dialog()->isVisible());
        QSignalSpy failed(m_checker.get(), &UpdateChecker::downloadFailed);
        m_checker->onUpdateClicked();
        if (status.isEmpty()) {
            QTRY_COMPARE(m_exits, QList<int>{0});
            QCOMPARE(failed.count(), 0);
            QCOMPARE(readFile(m_checker->installerPath()), m_installer);
            QCOMPARE(m_launcher.calls.size(), 1);
            return;
        }
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(m_checker->dialog()->statusText(), status);
        QVERIFY(!m_checker->busy());
        QVERIFY(!QFileInfo::exists(m_checker->installerPath()));
        QVERIFY(m_exits.isEmpty());
        QVERIFY(m_launcher.calls.isEmpty());
    }

    // Another user of the machine may plant a link or a file of their own under the name the script once had
    // in the shared temporary folder: the hand-over neither writes through it nor runs it. The script goes
    // into a fresh folder of ours below the session's runtime folder.
    void handOverIgnoresWhatOthersPlant_data()
    {
        QTest::addColumn<bool>("link");
        QTest::newRow("a link to a file of the user") << true;
        QTest::newRow("a file with someone's commands") << false;
    }
    void handOverIgnoresWhatOthersPlant()
    {
        QFETCH(bool, link);
        const QString planted = QDir::tempPath() + "/Kestrune_update.sh";
        const QString victim = m_dir + "/victim.txt";
        QFile::remove(planted);
        QVERIFY(writeFile(victim, "the user's own text"));
        if (link)
            QVERIFY(QFile::link(victim, planted));
        else
            QVERIFY(writeFile(planted, "#!/bin/sh\necho owned\n"));
        UpdateChecker::Seams s = m_checker->seams();
        s.tempDir.clear(); // as the program runs
        m_checker->setSeams(s);

        serveManifest("/update/apps/panel.json", m_signer.sign(panelManifest("1.1.0", installerUrl(), installerSha())));
        m_checker->check(false, true);
        QTRY_VERIFY(m_checker->dialog() && m_checker->dialog()->isVisible());
        m_checker->onUpdateClicked();
        QTRY_COMPARE(m_exits, QList<int>{0});

        QCOMPARE(readFile(victim), QByteArray("the user's own text"));
        QCOMPARE(QFileInfo(planted).isSymLink(), link);
        if (!link)
            QCOMPARE(readFile(planted), QByteArray("#!/bin/sh\necho owned\n"));
        const QString script = m_checker->scriptPath();
        QCOMPARE(m_launcher.calls, QList<QStringList>{QStringList({"setsid", "/bin/sh", script})});
        const QFileInfo folder(QFileInfo(script).absolutePath());
        QCOMPARE(folder.absolutePath(), QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
        QVERIFY(!folder.isSymLink());
        QCOMPARE(folder.ownerId(), uint(::getuid()));
        const int owner = int(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(int(folder.permissions() & 0xf0ff), owner);
        QCOMPARE(int(QFileInfo(script).permissions() & 0xf0ff), owner);
        QVERIFY(readFile(script).contains("/SILENT"));
        QFile::remove(planted);
    }

    // The real hand-over in a child process: the script starts, the process ends at once with 0 and
    // nothing runs at exit; the script then runs the downloaded installer.
    void installEndsTheProcess()
    {
        const QString out = qEnvironmentVariable("KTR_UPDATE_OUT");
        if (!out.isEmpty()) { // the child
            ktr::platform::setLauncher(nullptr);
            // It keeps what it finds in its working folder: the script, which deletes itself afterwards.
            const QByteArray installer =
                QStringLiteral("#!/bin/sh\ncat Kestrune_update.sh > %1\necho \"$1\" > %2\n")
                    .arg(selfscriptsQuote(out + "/script-copy"), selfscriptsQuote(out + "/installed"))
                    .toUtf8();
            m_host->route("GET", "/files/setup.run", "", Host::Reply::raw(200, installer, "application/octet-stream"));
            UpdateChecker::Seams s = m_checker->seams();
            s.hardExit = {};
            s.dataDir = out + "/data";
            s.tempDir = out;
            m_checker->setSeams(s);
            struct AtExit
            {
                QString path;
                ~AtExit() { ktr::test::writeFile(path, "saved"); }
            };
            static AtExit atExit{out + "/saved-at-exit"};
            serveManifest(
                "/update/apps/panel.json",
                m_signer.sign(panelManifest("1.1.0", installerUrl(),
                                            QCryptographicHash::hash(installer, QCryptographicHash::Sha256).toHex())));
            m_checker->check(false, false);
            QTRY_VERIFY(m_checker->dialog() && m_checker->dialog()->isVisible());
            m_checker->onUpdateClicked();
            QTest::qWait(10000); // the hard exit ends this wait
            QFAIL("the process did not end");
        }
        const QString dir = freshDir("child");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KTR_UPDATE_OUT", dir);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"installEndsTheProcess"});
        QVERIFY(child.waitForStarted());
        const qint64 pid = child.processId();
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(dir + "/saved-at-exit"));
        // The installer's shell makes the file before it writes the line: wait for the line, not the file.
        QTRY_COMPARE_WITH_TIMEOUT(ktr::test::readFile(dir + "/installed"), QByteArray("/SILENT\n"), 10000);
        const QString script = QString::fromUtf8(ktr::test::readFile(dir + "/script-copy"));
        QVERIFY2(script.startsWith("#!/bin/sh\n"), qPrintable(script));
        QVERIFY(script.contains("\nsleep 1\n"));
        QVERIFY(script.contains("kill -9 " + QString::number(pid)));
        QVERIFY(script.contains("'" + dir + "/data/panel_update_setup.exe' /SILENT /SUPPRESSMSGBOXES"));
        // The script and its private folder are gone once it has run.
        QTRY_COMPARE(QDir(dir).entryList({"kestrune-script-*"}, QDir::AllEntries | QDir::Hidden), QStringList());
    }
};

KTR_TEST_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
