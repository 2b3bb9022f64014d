// Where the program finds its video module and its encoder's program: relative to its own folder only.
#include "logcapture.h"
#include "platform/helperfiles.h"
#include "platform/mp4writer.h"
#include "platform/videobackend.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

using ktr::platform::HelperFile;

namespace {

QString builtHelper(HelperFile which)
{
    return QStringLiteral(KTR_TEST_PROGRAM_DIR "/") + QLatin1String(which == HelperFile::VideoModule
                                                                        ? ktr::platform::kVideoModuleFileName
                                                                        : ktr::platform::kVideoEncoderFileName);
}

bool copyExecutable(const QString& from, const QString& to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    return QFile::copy(from, to) &&
           QFile::setPermissions(to, QFile::permissions(from) | QFile::ExeOwner | QFile::ReadOwner);
}

} // namespace

class TestHelperFiles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { ktr::platform::setProgramDirForTests(QStringLiteral(KTR_TEST_PROGRAM_DIR)); }

    void candidatesFollowTheProgramsFolder_data()
    {
        QTest::addColumn<QString>("programDir");
        QTest::addColumn<QStringList>("module");
        QTest::addColumn<QStringList>("encoder");
        QTest::newRow("installed prefix")
            << "/opt/k p/bin"
            << QStringList{"/opt/k p/bin/ktr-videomodule.so", "/opt/k p/lib/kestrune/ktr-videomodule.so"}
            << QStringList{"/opt/k p/bin/ktr-videoencoder", "/opt/k p/libexec/kestrune/ktr-videoencoder"};
        QTest::newRow("trailing slash") << "/usr/local/bin/"
                                        << QStringList{"/usr/local/bin/ktr-videomodule.so",
                                                       "/usr/local/lib/kestrune/ktr-videomodule.so"}
                                        << QStringList{"/usr/local/bin/ktr-videoencoder",
                                                       "/usr/local/libexec/kestrune/ktr-videoencoder"};
        QTest::newRow("a build tree") << "/home/u/b/src/app"
                                      << QStringList{"/home/u/b/src/app/ktr-videomodule.so",
                                                     "/home/u/b/src/lib/kestrune/ktr-videomodule.so"}
                                      << QStringList{"/home/u/b/src/app/ktr-videoencoder",
                                                     "/home/u/b/src/libexec/kestrune/ktr-videoencoder"};
    }
    void candidatesFollowTheProgramsFolder()
    {
        QFETCH(QString, programDir);
        QFETCH(QStringList, module);
        QFETCH(QStringList, encoder);
        QCOMPARE(ktr::platform::helperFileCandidates(HelperFile::VideoModule, programDir), module);
        QCOMPARE(ktr::platform::helperFileCandidates(HelperFile::VideoEncoder, programDir), encoder);
    }

    // The real module and encoder, laid out as a build tree, as an install, or not at all (a copy of the
    // program moved without them): found exactly where the layout has them, never where the build put them.
    void helpersAreFoundBesideOrInstalledOnly_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::newRow("beside the program") << "beside";
        QTest::newRow("installed layout") << "installed";
        QTest::newRow("installed one level off") << "off";
        QTest::newRow("moved without them") << "none";
    }
    void helpersAreFoundBesideOrInstalledOnly()
    {
        QFETCH(QString, layout);
        const QString prefix = ktr::test::freshDir(QStringLiteral("prefix ") + layout);
        const QString bin = prefix + QStringLiteral("/bin");
        QDir().mkpath(bin);
        QString module;
        QString encoder;
        if (layout == QLatin1String("beside")) {
            module = bin + QStringLiteral("/ktr-videomodule.so");
            encoder = bin + QStringLiteral("/ktr-videoencoder");
        } else if (layout == QLatin1String("installed")) {
            module = prefix + QStringLiteral("/lib/kestrune/ktr-videomodule.so");
            encoder = prefix + QStringLiteral("/libexec/kestrune/ktr-videoencoder");
        } else if (layout == QLatin1String("off")) {
            // lib/ and libexec/ without the program's own sub-folder: not where the install puts them.
            QVERIFY(copyExecutable(builtHelper(HelperFile::VideoModule), prefix + "/lib/ktr-videomodule.so"));
            QVERIFY(copyExecutable(builtHelper(HelperFile::VideoEncoder), prefix + "/libexec/ktr-videoencoder"));
        }
        const bool found = !module.isEmpty();
        if (found) {
            QVERIFY(copyExecutable(builtHelper(HelperFile::VideoModule), module));
            QVERIFY(copyExecutable(builtHelper(HelperFile::VideoEncoder), encoder));
        }
        ktr::platform::setProgramDirForTests(bin);

        ktr::test::LogCapture log;
        {
            ktr::platform::VideoModuleHold hold;
            QCOMPARE(hold.api() != nullptr, found);
        }
        if (found)
            QVERIFY2(log.contains(QStringLiteral("[video] module loaded: ") + module),
                     qPrintable(log.messages().join('\n')));

        const QString mp4 = prefix + QStringLiteral("/out.mp4");
        ktr::platform::Mp4Writer writer;
        const bool opened = writer.open(mp4, 64, 48, 10);
        QCOMPARE(opened, found);
        if (opened) {
            QImage frame(64, 48, QImage::Format_RGB32);
            frame.fill(Qt::darkCyan);
            QVERIFY(writer.writeFrame(frame, 0));
            QVERIFY(writer.close());
            QVERIFY(QFileInfo(mp4).size() > 0);
        } else {
            // What was looked at names the program's folder only.
            const QString error = writer.errorString();
            QVERIFY2(error.contains(QStringLiteral("no encoder program; looked at: ") + bin), qPrintable(error));
            QVERIFY2(!error.contains(QStringLiteral(KTR_TEST_PROGRAM_DIR)), qPrintable(error));
        }
    }
};

KTR_TEST_MAIN(TestHelperFiles)
#include "tst_helperfiles.moc"
