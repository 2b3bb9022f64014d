// The log exports: the viewer's text file, the zip of the log root through the zip layer (and its deadline),
// the main window's folder copy when the zip fails, and exports that outlive their window.

#include "platform/clock.h"
#include "platform/ziparchive.h"
#include "support/logexport.h"
#include "support/logviewerdialog.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/log.h"

#include <QApplication>
#include <QPointer>
#include <QProcess>
#include <QThreadPool>

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

// A clock whose every reading lies a minute after the last: a run of a few files passes its deadline.
class SteppingClock final : public ktr::platform::Clock
{
public:
    qint64 monotonicMs() const override { return m_ms.fetch_add(60001); }
    QDateTime now() const override { return QDateTime(QDate(2026, 1, 15), QTime(10, 0)); }

private:
    mutable std::atomic<qint64> m_ms{0};
};

// A clock that holds the worker at its first reading until the test opens it.
class GateClock final : public ktr::platform::Clock
{
public:
    qint64 monotonicMs() const override
    {
        std::unique_lock lock(m_mutex);
        m_waited = true;
        m_cv.wait(lock, [this] { return m_open; });
        return 0;
    }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    bool waited() const
    {
        std::lock_guard lock(m_mutex);
        return m_waited;
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    mutable bool m_waited = false;
    bool m_open = false;
};

QStringList zipNames(const QString& path)
{
    ktr::platform::ZipReader reader;
    QStringList names;
    if (!reader.open(path, nullptr))
        return names;
    for (const ktr::platform::ZipEntryInfo& e : reader.entries())
        names.append(e.name);
    names.sort();
    return names;
}

int unzipTest(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("unzip"), {QStringLiteral("-t"), path});
    if (!p.waitForFinished(30000))
        return -1;
    return p.exitCode();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}

ktr::dialogs::Seams saveAnswer(const QString& path, QString* offered = nullptr)
{
    ktr::dialogs::Seams seams;
    seams.saveFile = [path, offered](QWidget*, const QString&, const QString& suggested, const QString&) {
        if (offered)
            *offered = suggested;
        return path;
    };
    return seams;
}

} // namespace

class TestLogExport : public QObject
{
    Q_OBJECT

    QString m_root;

private Q_SLOTS:
    void initTestCase()
    {
        const QString data = ktr::test::freshDir(QStringLiteral("data"));
        installLogging(data);
        qInfo() << "a line in today's log";
        m_root = logRootDir();
        QVERIFY(ktr::test::writeFile(m_root + QStringLiteral("/2026-01-10/app.log"), "older day\n"));
        QVERIFY(ktr::test::writeFile(m_root + QStringLiteral("/2026-01-10/app.1.log"), "rotated\n"));
        QVERIFY(ktr::test::writeFile(m_root + QStringLiteral("/2026-01-11/日志.log"), "名字\n"));
    }

    void names_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("withSuffix");
        QTest::addColumn<QString>("base");
        QTest::newRow("typed without suffix") << "/d/logs"
                                              << "/d/logs.zip"
                                              << "/d/logs";
        QTest::newRow("upper-case suffix") << "/d/logs.ZIP"
                                           << "/d/logs.ZIP"
                                           << "/d/logs";
        QTest::newRow("another suffix stays") << "/d/logs.tar"
                                              << "/d/logs.tar"
                                              << "/d/logs.tar";
    }
    void names()
    {
        QFETCH(QString, target);
        QFETCH(QString, withSuffix);
        QFETCH(QString, base);
        QCOMPARE(logexport::withDefaultSuffix(target, QStringLiteral(".zip")), withSuffix);
        QCOMPARE(logexport::baseFolderFor(withSuffix), base);
        QVERIFY(logexport::defaultZipPath().endsWith(QStringLiteral("/青岚舟面板日志_") +
                                                     QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) +
                                                     QStringLiteral(".zip")));
    }

    void textExport()
    {
        LogViewerDialog dialog(QStringLiteral("/data"));
        const QString dir = ktr::test::freshDir(QStringLiteral("text"));
        QString offered;
        {
            ktr::dialogs::ScopedSeams seams(saveAnswer(dir + QStringLiteral("/mylog"), &offered));
            dialog.exportText();
        }
        QVERIFY(offered.endsWith(QStringLiteral(".txt")));
        const QByteArray written = ktr::test::readFile(dir + QStringLiteral("/mylog.txt"));
        QCOMPARE(written, dialog.text().toUtf8());
        QVERIFY(!written.startsWith("\xEF\xBB\xBF"));
        QVERIFY(written.contains("程序版本"));
        QCOMPARE(dialog.statusText(), QStringLiteral("已导出：%1").arg(dir + QStringLiteral("/mylog.txt")));

        // A path below a regular file can't be opened.
        {
            ktr::dialogs::ScopedSeams seams(saveAnswer(dir + QStringLiteral("/mylog.txt/x.txt")));
            dialog.exportText();
        }
        QCOMPARE(dialog.statusText(), QStringLiteral("导出失败，请检查目标路径是否可写"));
        // A full disk: the write or its flush fails.
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), dir + QStringLiteral("/full.txt")));
        {
            ktr::dialogs::ScopedSeams seams(saveAnswer(dir + QStringLiteral("/full.txt")));
            dialog.exportText();
        }
        QCOMPARE(dialog.statusText(), QStringLiteral("导出失败：写入不完整，请检查磁盘空间"));
        // Cancelled: nothing changes.
        {
            ktr::dialogs::ScopedSeams seams(saveAnswer(QString()));
            dialog.exportText();
        }
        QCOMPARE(dialog.statusText(), QStringLiteral("导出失败：写入不完整，请检查磁盘空间"));
    }

    void zipOfTheLogRoot()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("zip"));
        const QString target = dir + QStringLiteral("/logs.zip");
        QVERIFY(ktr::test::writeFile(target, "an older export"));
        QString error;
        QVERIFY2(logexport::zipFolder(m_root, target, nullptr, nullptr, &error), qPrintable(error));
        QCOMPARE(unzipTest(target), 0);
        const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        QCOMPARE(zipNames(target), (QStringList{QStringLiteral("2026-01-10/"), QStringLiteral("2026-01-10/app.1.log"),
                                                QStringLiteral("2026-01-10/app.log"), QStringLiteral("2026-01-11/"),
                                                QStringLiteral("2026-01-11/日志.log"), today + QLatin1Char('/'),
                                                today + QStringLiteral("/app.log")}));
        QCOMPARE(entries(dir), QStringList{QStringLiteral("logs.zip")}); // no partial left
        // The logs name the data folder, accounts and machines: the export is the owner's alone.
        struct stat st
        {
        };
        QVERIFY(::stat(QFile::encodeName(target).constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
    }

    // A zip that fails after it began removes its own partial and leaves the existing target alone.
    void failedZipRemovesItsPartial()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("zipfail"));
        const QString target = dir + QStringLiteral("/logs.zip");
        QVERIFY(ktr::test::writeFile(target, "the user's file"));
        // Someone else's file under the first partial name is not ours to remove.
        QVERIFY(ktr::test::writeFile(target + QStringLiteral(".part"), "not ours"));
        SteppingClock clock;
        QString error;
        QVERIFY(!logexport::zipFolder(m_root, target, nullptr, &clock, &error));
        QVERIFY(error.contains(QStringLiteral("deadline")));
        QCOMPARE(entries(dir), (QStringList{QStringLiteral("logs.zip"), QStringLiteral("logs.zip.part")}));
        QCOMPARE(ktr::test::readFile(target), QByteArray("the user's file"));
        QCOMPARE(ktr::test::readFile(target + QStringLiteral(".part")), QByteArray("not ours"));
        // Cancelled the same way.
        std::atomic<bool> cancel{true};
        QVERIFY(!logexport::zipFolder(m_root, target, &cancel, nullptr, &error));
        QCOMPARE(entries(dir), (QStringList{QStringLiteral("logs.zip"), QStringLiteral("logs.zip.part")}));
    }

    // The zip fails; the copy goes to a folder this export creates, never into (or over) the user's own.
    void fallbackCopy_data()
    {
        QTest::addColumn<QStringList>("existing"); // folders there before
        QTest::addColumn<QString>("expected");
        QTest::newRow("free name") << QStringList{} << "logs";
        QTest::newRow("the user's folder of that name") << QStringList{QStringLiteral("logs")} << "logs_2";
        QTest::newRow("two taken") << QStringList{QStringLiteral("logs"), QStringLiteral("logs_2")} << "logs_3";
    }
    void fallbackCopy()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        const QString dir = ktr::test::freshDir(QStringLiteral("fallback"));
        for (const QString& e : existing)
            QVERIFY(ktr::test::writeFile(dir + QLatin1Char('/') + e + QStringLiteral("/mine.txt"), "keep me"));
        SteppingClock clock;
        const logexport::Result r =
            logexport::exportArchive(m_root, dir + QStringLiteral("/logs.zip"), true, nullptr, &clock);
        QVERIFY(r.ok);
        QVERIFY(!r.zipped);
        QCOMPARE(r.path, dir + QLatin1Char('/') + expected);
        for (const QString& e : existing)
            QCOMPARE(ktr::test::readFile(dir + QLatin1Char('/') + e + QStringLiteral("/mine.txt")),
                     QByteArray("keep me"));
        QCOMPARE(ktr::test::readFile(r.path + QStringLiteral("/2026-01-10/app.1.log")), QByteArray("rotated\n"));
        QCOMPARE(ktr::test::readFile(r.path + QStringLiteral("/2026-01-11/日志.log")), QByteArray("名字\n"));
        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/logs.zip")));
    }

    void uncopyableFileDoesNotStopTheOthers()
    {
        const QString src = ktr::test::freshDir(QStringLiteral("copysrc"));
        QVERIFY(ktr::test::writeFile(src + QStringLiteral("/a.log"), "a"));
        QVERIFY(ktr::test::writeFile(src + QStringLiteral("/sub/c.log"), "c"));
        QVERIFY(ktr::test::writeFile(src + QStringLiteral("/.hidden"), "h"));
        QCOMPARE(::mkfifo(QFile::encodeName(src + QStringLiteral("/b.fifo")).constData(), 0600), 0);
        QVERIFY(ktr::test::writeFile(src + QStringLiteral("/z.log"), "z"));
        const QString dst = ktr::test::freshDir(QStringLiteral("copydst")) + QStringLiteral("/out");
        QVERIFY(!logexport::copyDirRecursive(src, dst));
        QCOMPARE(entries(dst), (QStringList{QStringLiteral("a.log"), QStringLiteral("sub"), QStringLiteral("z.log")}));
        QCOMPARE(ktr::test::readFile(dst + QStringLiteral("/sub/c.log")), QByteArray("c"));
        // A target that can't be created (below a regular file) copies nothing.
        QVERIFY(!logexport::copyDirRecursive(src, src + QStringLiteral("/a.log/x")));
    }

    void windowExport_data()
    {
        QTest::addColumn<bool>("zipFails");
        QTest::newRow("zip") << false;
        QTest::newRow("zip fails, folder copy") << true;
    }
    void windowExport()
    {
        QFETCH(bool, zipFails);
        const QString dir = ktr::test::freshDir(QStringLiteral("window"));
        SteppingClock stepping;
        logexport::setClock(zipFails ? &stepping : nullptr);
        QList<QPair<QString, int>> toasts;
        QWidget window;
        {
            ktr::dialogs::ScopedSeams seams(saveAnswer(dir + QStringLiteral("/exported")));
            logexport::exportLogsFromWindow(&window, [&](const QString& t, int kind) { toasts.append({t, kind}); });
        }
        QTRY_COMPARE(toasts.size(), 1);
        logexport::setClock(nullptr);
        const QString path = zipFails ? dir + QStringLiteral("/exported") : dir + QStringLiteral("/exported.zip");
        QCOMPARE(toasts.first(), qMakePair(QStringLiteral("日志已导出：%1").arg(path), 0));
        if (!zipFails)
            QCOMPARE(unzipTest(path), 0);
        else
            QVERIFY(QFileInfo(path + QStringLiteral("/2026-01-10/app.log")).isFile());
    }

    void windowExportWithoutLogs()
    {
        // A log root that is gone: said at once, no chooser.
        const QString root = logRootDir();
        const QString aside = root + QStringLiteral(".aside");
        QVERIFY(QDir().rename(root, aside));
        bool asked = false;
        ktr::dialogs::Seams seams;
        seams.saveFile = [&](QWidget*, const QString&, const QString&, const QString&) {
            asked = true;
            return QString();
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        QList<QPair<QString, int>> toasts;
        logexport::exportLogsFromWindow(nullptr, [&](const QString& t, int kind) { toasts.append({t, kind}); });
        QVERIFY(QDir().rename(aside, root));
        QCOMPARE(toasts, (QList<QPair<QString, int>>{{QStringLiteral("暂无日志可导出"), 1}}));
        QVERIFY(!asked);
    }

    void viewerZip()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("viewerzip"));
        LogViewerDialog dialog(QStringLiteral("/data"));
        int asked = 0;
        ktr::dialogs::Seams seams;
        seams.saveFile = [&](QWidget*, const QString&, const QString&, const QString&) {
            ++asked;
            return dir + QStringLiteral("/v");
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        dialog.exportZip();
        QVERIFY(dialog.zipBusy());
        dialog.exportZip(); // a second click while it runs does nothing
        QCOMPARE(asked, 1);
        QTRY_VERIFY(!dialog.zipBusy());
        QCOMPARE(dialog.statusText(), QStringLiteral("已导出：%1").arg(dir + QStringLiteral("/v.zip")));
        QCOMPARE(unzipTest(dir + QStringLiteral("/v.zip")), 0);
        // Again, failing this time (the target folder is a regular file).
        QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/blocked"), "x"));
        seams.saveFile = [&](QWidget*, const QString&, const QString&, const QString&) {
            return dir + QStringLiteral("/blocked/v.zip");
        };
        ktr::dialogs::ScopedSeams failing(seams);
        dialog.exportZip();
        QTRY_VERIFY(!dialog.zipBusy());
        QCOMPARE(dialog.statusText(), QStringLiteral("导出失败，请用「日志文件夹」手动复制"));
    }

    // The viewer closed while its zip runs: the worker stops, its partial goes, and nothing reports into
    // the dead dialog.
    void viewerDestroyedDuringZip()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("viewergone"));
        GateClock gate;
        logexport::setClock(&gate);
        ktr::dialogs::ScopedSeams seams(saveAnswer(dir + QStringLiteral("/gone.zip")));
        auto* dialog = new LogViewerDialog(QStringLiteral("/data"));
        dialog->exportZip();
        QVERIFY(dialog->zipBusy());
        delete dialog; // the worker waits at its first reading of the clock until the dialog is gone
        gate.open();
        QThreadPool::globalInstance()->waitForDone();
        logexport::setClock(nullptr);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(gate.waited());
        QCOMPARE(entries(dir), QStringList{}); // cancelled: no zip, no partial
    }
};

KTR_TEST_MAIN(TestLogExport)
#include "tst_logexport.moc"
