#include "ui/datadir.h"

#include "platform/fsentry.h"

#include "testenv.h"

#include <QApplication>
#include <QProcess>

namespace {

struct ProbeRun
{
    QStringList out;
    QString err;
    int code = -1;
};

// Copies the probe into a folder of its own (the executable's folder is what counts) and runs it there.
ProbeRun runProbe(const QString& exeDir, const QStringList& args = {})
{
    const QString exe = exeDir + QStringLiteral("/datadir_probe");
    QFile::remove(exe);
    if (!QFile::copy(QStringLiteral(KTR_DATADIR_PROBE), exe))
        return {};
    QProcess p;
    p.start(exe, args);
    p.waitForFinished(10000);
    ProbeRun r;
    r.out = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    r.err = QString::fromUtf8(p.readAllStandardError());
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

} // namespace

class TestDataDir : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void perUserFolderWithoutMarker()
    {
        const QString expected = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Kestrune/KestrunePanel");
        QCOMPARE(appDataDir(), expected);
        QVERIFY(QFileInfo(expected).isDir());
        QVERIFY(!appDataDir().endsWith(QLatin1Char('/')));

        const ProbeRun r = runProbe(ktr::test::freshDir(QStringLiteral("plain")));
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QStringList{expected});
    }

    // The data folder holds the password hash and the layout: only its owner may enter it or the
    // organisation's folder above it, whatever the umask made of them.
    void folderIsPrivate()
    {
        const QString dir = appDataDir();
        QCOMPARE(int(ktr::platform::entryStat(dir).mode), 0700);
        QCOMPARE(int(ktr::platform::entryStat(QFileInfo(dir).absolutePath()).mode), 0700);
        const QString portable = ktr::test::freshDir(QStringLiteral("portable-mode"));
        QVERIFY(ktr::test::writeFile(portable + QStringLiteral("/portable.ini"), QByteArray()));
        QCOMPARE(runProbe(portable).code, 0);
        QCOMPARE(int(ktr::platform::entryStat(portable + QStringLiteral("/data")).mode), 0700);
    }

    void portableMarkerBesideTheExecutable()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("portable"));
        QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/portable.ini"), QByteArray())); // empty is enough
        const ProbeRun r = runProbe(dir);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QStringList{dir + QStringLiteral("/data")});
        QVERIFY(QFileInfo(dir + QStringLiteral("/data")).isDir());
    }

    void markerRemovedWhileRunningChangesNothing()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("dropped"));
        QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/portable.ini"), "[x]\n"));
        const ProbeRun r = runProbe(dir, {QStringLiteral("drop-marker")});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QStringList({dir + QStringLiteral("/data"), dir + QStringLiteral("/data")}));
        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/portable.ini")));
    }

    void folderThatCannotBeCreatedIsStillReturned()
    {
        // "data" is a regular file here, so the folder can't be made (even for root).
        const QString dir = ktr::test::freshDir(QStringLiteral("blocked"));
        QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/portable.ini"), QByteArray()));
        QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/data"), "in the way"));
        const ProbeRun r = runProbe(dir);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QStringList{dir + QStringLiteral("/data")});
        QCOMPARE(r.err, QStringLiteral("appDataDir: mkpath failed: ") + dir + QStringLiteral("/data\n"));
    }
};

KTR_TEST_MAIN(TestDataDir)
#include "tst_datadir.moc"
