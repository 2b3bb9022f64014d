#include "platform/videodecoder.h"

#include "colourbars.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>

using ktr::platform::VideoDecoder;
using Result = VideoDecoder::ReadResult;

class TestVideoDecoder : public QObject
{
    Q_OBJECT
private:
    QString smallClip() const { return QFINDTESTDATA("../data/video/bars-64x48-audio.mp4"); }
    QString largeClip() const { return QFINDTESTDATA("../data/video/bars-320x240.mp4"); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!smallClip().isEmpty());
        QVERIFY(!largeClip().isEmpty());
    }

    // The clip's first stream is sound: the decoder must find the picture behind it and ignore the rest.
    void decodesEveryFrameInOrderAndSkipsSound()
    {
        VideoDecoder dec;
        QString message;
        QVERIFY2(dec.open(smallClip(), &message), qPrintable(message));
        QCOMPARE(dec.sourceSize(), QSize(64, 48));
        QCOMPARE(dec.outputSize(), QSize(64, 48));
        QCOMPARE(dec.frameRate(), 10.0);

        QList<qint64> stamps;
        QImage image;
        qint64 pts = -1;
        qint64 duration = -1;
        Result r;
        while ((r = dec.readFrame(&image, &pts, &duration)) == Result::Frame) {
            QCOMPARE(image.size(), QSize(64, 48));
            QCOMPARE(image.format(), QImage::Format_RGB32);
            // RGB32 promises an opaque 0xff in the top byte; painting relies on it.
            QCOMPARE(reinterpret_cast<const QRgb*>(image.constScanLine(47))[63] >> 24, 0xffu);
            const QString bars = ktr::test::checkTestsrcBars(image);
            QVERIFY2(bars.isEmpty(), qPrintable(QStringLiteral("frame %1: %2").arg(stamps.size()).arg(bars)));
            QCOMPARE(duration, 100);
            stamps << pts;
        }
        QCOMPARE(r, Result::EndOfStream);
        QCOMPARE(stamps, (QList<qint64>{0, 100, 200, 300, 400, 500, 600, 700, 800, 900}));
        // The end stays the end until a rewind.
        QCOMPARE(dec.readFrame(&image), Result::EndOfStream);
    }

    void rewindStartsAgainFromTheFirstFrame()
    {
        VideoDecoder dec;
        QVERIFY(dec.open(smallClip()));
        QImage first;
        qint64 pts = -1;
        QCOMPARE(dec.readFrame(&first, &pts), Result::Frame);
        QCOMPARE(pts, 0);
        for (int pass = 0; pass < 2; ++pass) {
            QImage image;
            int frames = 1;
            while (dec.readFrame(&image) == Result::Frame)
                ++frames;
            QCOMPARE(frames, 10);
            QVERIFY(dec.rewind());
            QCOMPARE(dec.readFrame(&image, &pts), Result::Frame);
            QCOMPARE(pts, 0);
            QCOMPARE(image, first);
        }
    }

    void convertsToTheOutputSize_data()
    {
        QTest::addColumn<QSize>("output");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("downscaled") << QSize(120, 90) << QSize(120, 90);
        QTest::newRow("another aspect") << QSize(64, 96) << QSize(64, 96);
        QTest::newRow("empty means source size") << QSize(0, 0) << QSize(320, 240);
    }
    void convertsToTheOutputSize()
    {
        QFETCH(QSize, output);
        QFETCH(QSize, expected);
        VideoDecoder dec;
        QVERIFY(dec.open(largeClip()));
        QCOMPARE(dec.sourceSize(), QSize(320, 240));
        dec.setOutputSize(output);
        QCOMPARE(dec.outputSize(), expected);
        QImage image;
        QCOMPARE(dec.readFrame(&image), Result::Frame);
        QCOMPARE(image.size(), expected);
        const QString bars = ktr::test::checkTestsrcBars(image);
        QVERIFY2(bars.isEmpty(), qPrintable(bars));
        // A change applies from the next frame.
        dec.setOutputSize(QSize(32, 24));
        QCOMPARE(dec.readFrame(&image), Result::Frame);
        QCOMPARE(image.size(), QSize(32, 24));
    }

    void refusesWhatIsNotAVideo_data()
    {
        QTest::addColumn<QString>("path");
        const QString dir = ktr::test::freshDir(QStringLiteral("notvideo"));
        QVERIFY(ktr::test::writeFile(dir + "/notes.mp4", "This is a text file, not a film.\n"));
        QVERIFY(ktr::test::writeFile(dir + "/empty.mp4", QByteArray()));
        QByteArray cut = ktr::test::readFile(smallClip());
        cut.truncate(400);
        QVERIFY(ktr::test::writeFile(dir + "/cut.mp4", cut));
        QVERIFY(QDir().mkpath(dir + "/folder.mp4"));
        QTest::newRow("text renamed .mp4") << dir + "/notes.mp4";
        QTest::newRow("empty file") << dir + "/empty.mp4";
        QTest::newRow("first 400 bytes of a clip") << dir + "/cut.mp4";
        QTest::newRow("missing file") << dir + "/missing.mp4";
        QTest::newRow("folder") << dir + "/folder.mp4";
        QTest::newRow("below a regular file") << dir + "/notes.mp4/x.mp4";
        QTest::newRow("empty path") << QString();
        QTest::newRow("a URL is no file") << QStringLiteral("http://127.0.0.1:9/clip.mp4");
    }
    void refusesWhatIsNotAVideo()
    {
        QFETCH(QString, path);
        VideoDecoder dec;
        QString message;
        QVERIFY(!dec.open(path, &message));
        QVERIFY(!message.isEmpty());
        QVERIFY(!dec.isOpen());
        QCOMPARE(dec.sourceSize(), QSize(0, 0));
        QImage image;
        QCOMPARE(dec.readFrame(&image), Result::Error);
        QVERIFY(image.isNull());
        QVERIFY(!dec.rewind());
    }

    // The module is closed with the last decoder, but the frames it decoded are the caller's: they stay
    // readable and are freed without it.
    void framesOutliveTheModule()
    {
        QImage frame;
        {
            VideoDecoder dec;
            QVERIFY(dec.open(smallClip()));
            QCOMPARE(dec.readFrame(&frame), Result::Frame);
        }
        QFile maps(QStringLiteral("/proc/self/maps"));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        QVERIFY(!maps.readAll().contains("ktr-videomodule.so"));
        QCOMPARE(ktr::test::checkTestsrcBars(frame), QString());
        frame = QImage(); // frees the pixels
        QString message;
        {
            VideoDecoder dec;
            QVERIFY(!dec.open(smallClip() + ".missing", &message));
        }
        QVERIFY(!message.isEmpty());
    }

    void reopensAfterAFailure()
    {
        VideoDecoder dec;
        QVERIFY(dec.open(largeClip()));
        QVERIFY(!dec.open(largeClip() + ".missing"));
        QVERIFY(!dec.isOpen());
        QVERIFY(dec.open(smallClip()));
        QImage image;
        QCOMPARE(dec.readFrame(&image), Result::Frame);
        QCOMPARE(image.size(), QSize(64, 48));
    }
};

KTR_TEST_MAIN(TestVideoDecoder)
#include "tst_videodecoder.moc"
