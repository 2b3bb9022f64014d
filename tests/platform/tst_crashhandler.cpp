#include "platform/crashhandler.h"

#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>

#include <csignal>

namespace {

struct Run
{
    QProcess::ExitStatus status = QProcess::NormalExit;
    int code = -1;
};

Run runHelper(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(KTR_CRASH_HELPER), args);
    p.waitForFinished(20000);
    return {p.exitStatus(), p.exitCode()};
}

QStringList dumps(const QString& dir)
{
    return QDir(dir).entryList({QStringLiteral("crash-*.dmp")}, QDir::Files, QDir::Name);
}

QStringList crashLogLines(const QString& dir)
{
    return QString::fromLatin1(ktr::test::readFile(dir + QStringLiteral("/crash.log")))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestCrashHandler : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void crashLeavesOneDumpAndOneLine_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("access");
        QTest::newRow("read at 0") << "segv-read" << int(SIGSEGV) << " access=read target=0x0000000000000000";
        QTest::newRow("write at 0x10") << "segv-write" << int(SIGSEGV) << " access=write target=0x0000000000000010";
        QTest::newRow("abort") << "abort" << int(SIGABRT) << "";
    }
    void crashLeavesOneDumpAndOneLine()
    {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QFETCH(QString, access);
        const QString dir = ktr::test::freshDir(QStringLiteral("crash"));
        const Run r = runHelper({dir, mode});
        // The default action still ends the process with the signal.
        QCOMPARE(r.status, QProcess::CrashExit);
        QCOMPARE(r.code, signal);

        const QStringList d = dumps(dir);
        QCOMPARE(d.size(), 1);
        QVERIFY(QRegularExpression(QStringLiteral(R"(^crash-\d{8}-\d{6}\.dmp$)")).match(d.first()).hasMatch());
        const QString dump = QString::fromUtf8(ktr::test::readFile(dir + QLatin1Char('/') + d.first()));
        QVERIFY2(dump.contains(QStringLiteral("signal: %1 ").arg(signal)), qPrintable(dump));
        QVERIFY(dump.contains(QStringLiteral("thread: ")));
        QVERIFY(dump.contains(QStringLiteral("backtrace:\n")));
        QVERIFY2(dump.section(QStringLiteral("backtrace:\n"), 1).count(QLatin1Char('\n')) >= 2, qPrintable(dump));

        const QStringList lines = crashLogLines(dir);
        QCOMPARE(lines.size(), 1);
        const QString code = QStringLiteral("%1").arg(signal, 8, 16, QLatin1Char('0')).toUpper();
        const QRegularExpression re(QStringLiteral(R"(^\[(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\] code=0x)") +
                                    code + QStringLiteral(R"( addr=0x[0-9A-F]{16} thread=\d+)") +
                                    QRegularExpression::escape(access) + QLatin1Char('$'));
        const auto m = re.match(lines.first());
        QVERIFY2(m.hasMatch(), qPrintable(lines.first()));
        // The dump is named by the same local time as the line.
        QCOMPARE(d.first(),
                 QStringLiteral("crash-%1%2%3-%4%5%6.dmp")
                     .arg(m.captured(1), m.captured(2), m.captured(3), m.captured(4), m.captured(5), m.captured(6)));
        const QDateTime stamp = QDateTime::fromString(lines.first().mid(1, 19), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
    }

    // A wrecked stack makes the unwinder fault inside the handler: the line is there all the same, and the
    // dump ends where the backtrace gave up.
    void brokenStackStillLeavesTheLine()
    {
#if !defined(__x86_64__) && !defined(__aarch64__)
        QSKIP("needs a way to break the stack pointer on this machine");
#endif
        const QString dir = ktr::test::freshDir(QStringLiteral("crash"));
        const Run r = runHelper({dir, QStringLiteral("bad-stack")});
        QCOMPARE(r.status, QProcess::CrashExit);
        QCOMPARE(r.code, int(SIGILL));
        const QStringList lines = crashLogLines(dir);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QStringLiteral("] code=0x00000004 addr=0x")), qPrintable(lines.first()));
        const QStringList d = dumps(dir);
        QCOMPARE(d.size(), 1);
        const QString dump = QString::fromUtf8(ktr::test::readFile(dir + QLatin1Char('/') + d.first()));
        QVERIFY2(dump.contains(QStringLiteral("signal: 4 SIGILL")) && dump.contains(QStringLiteral("backtrace:\n")),
                 qPrintable(dump));
    }

    void keepsTheFiveNewestDumpsAndEveryLine()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("crash"));
        const QStringList old = {
            QStringLiteral("crash-20200101-000000.dmp"), QStringLiteral("crash-20200102-000000.dmp"),
            QStringLiteral("crash-20200103-000000.dmp"), QStringLiteral("crash-20200104-000000.dmp"),
            QStringLiteral("crash-20200105-000000.dmp")};
        for (const QString& n : old)
            QVERIFY(ktr::test::writeFile(dir + QLatin1Char('/') + n, "old"));
        QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/notes.txt"), "not a dump"));
        QCOMPARE(runHelper({dir, QStringLiteral("segv-read")}).status, QProcess::CrashExit);
        QStringList d = dumps(dir);
        QCOMPARE(d.size(), 5);
        QVERIFY(!d.contains(QStringLiteral("crash-20200101-000000.dmp")));
        QVERIFY(QFileInfo::exists(dir + QStringLiteral("/notes.txt")));

        // A second crash within the same second replaces that dump but adds its own line.
        QCOMPARE(runHelper({dir, QStringLiteral("abort")}).status, QProcess::CrashExit);
        QCOMPARE(crashLogLines(dir).size(), 2);
        QCOMPARE(dumps(dir).size(), 5);
    }

    void longDataFolderUsesTheFallback()
    {
        const QString base = ktr::test::freshDir(QStringLiteral("long"));
        const int limit = ktr::platform::crashDirMaxLength();
        QString atLimit = base;
        while (atLimit.size() < limit - 200)
            atLimit += QStringLiteral("/") + QString(200, u'd');
        atLimit += QLatin1Char('/') + QString(limit - atLimit.size() - 1, u'e');
        QCOMPARE(atLimit.toUtf8().size(), limit);
        QVERIFY(QDir().mkpath(atLimit));

        ktr::platform::ensureCrashDir(atLimit);
        QCOMPARE(ktr::platform::crashDir(), atLimit);

        const QString tooLong = atLimit + QLatin1Char('f');
        ktr::platform::ensureCrashDir(tooLong);
        QCOMPARE(ktr::platform::crashDir(), qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/KestrunePanel"));
        QVERIFY(QFileInfo(ktr::platform::crashDir()).isDir());

        // Crashing with such a folder writes into the fallback.
        QCOMPARE(runHelper({tooLong, QStringLiteral("segv-read")}).status, QProcess::CrashExit);
        QCOMPARE(dumps(ktr::platform::crashFallbackDir()).size(), 1);
        QCOMPARE(crashLogLines(ktr::platform::crashFallbackDir()).size(), 1);
    }

    void hardExitRunsNoDestructor()
    {
        const QString marker = ktr::test::freshDir(QStringLiteral("hard")) + QStringLiteral("/marker");
        const Run r = runHelper({QStringLiteral("unused"), QStringLiteral("hardexit"), marker});
        QCOMPARE(r.status, QProcess::NormalExit);
        QCOMPARE(r.code, 7);
        QVERIFY(!QFileInfo::exists(marker));
    }
};

KTR_TEST_MAIN(TestCrashHandler)
#include "tst_crashhandler.moc"
