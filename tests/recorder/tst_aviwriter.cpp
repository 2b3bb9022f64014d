// The Motion-JPEG AVI segment files: the header byte for byte, chunks, padding, the index and what is
// patched at the end, read back by a strict reader of our own, by libavformat and by ffprobe.
#include "ffprobe.h"
#include "platform/videodecoder.h"
#include "recorder/aviwriter.h"
#include "recorder/segmentsink.h"
#include "testenv.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QtEndian>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

namespace {

quint32 u32(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

// The header laid out from its table of fields, independently of the writer.
QByteArray expectedHeader(quint32 w, quint32 h, quint32 f)
{
    QByteArray b(224, '\0');
    auto put = [&](int at, quint32 v) { qToLittleEndian(v, b.data() + at); };
    auto put16 = [&](int at, quint16 v) { qToLittleEndian(v, b.data() + at); };
    auto tag = [&](int at, const char* s) { b.replace(at, 4, s, 4); };
    tag(0, "RIFF");
    tag(8, "AVI ");
    tag(12, "LIST");
    put(16, 192);
    tag(20, "hdrl");
    tag(24, "avih");
    put(28, 56);
    put(32, 1000000 / f);
    put(36, quint32(quint64(w) * h * f * 3 / 8 + 65536));
    put(44, 0x10);
    put(56, 1);
    put(60, w * h * 3);
    put(64, w);
    put(68, h);
    tag(88, "LIST");
    put(92, 116);
    tag(96, "strl");
    tag(100, "strh");
    put(104, 56);
    tag(108, "vids");
    tag(112, "MJPG");
    put(128, 1000);
    put(132, f * 1000);
    put(144, w * h * 3);
    put(148, 0xFFFFFFFFu);
    tag(164, "strf");
    put(168, 40);
    put(172, 40);
    put(176, w);
    put(180, h);
    put16(184, 1);
    put16(186, 24);
    tag(188, "MJPG");
    put(192, w * h * 3);
    tag(212, "LIST");
    put(216, 4);
    tag(220, "movi");
    return b;
}

struct IndexEntry
{
    quint32 offset;
    quint32 length;
};

// Reads a finished file the way a strict AVI reader does: every size must add up, and every index offset
// counts from the "movi" FOURCC and lands on a "00dc" chunk of the stated length. Empty on success,
// else what is wrong.
QString strictRead(const QByteArray& f, QList<IndexEntry>* entries)
{
    if (f.size() < 232 || f.left(4) != "RIFF" || f.mid(8, 4) != "AVI ")
        return QStringLiteral("no RIFF AVI");
    if (u32(f, 4) != quint32(f.size() - 8))
        return QStringLiteral("RIFF size");
    if (f.mid(212, 4) != "LIST" || f.mid(220, 4) != "movi")
        return QStringLiteral("no movi list");
    const qsizetype moviEnd = 220 + u32(f, 216);
    if (moviEnd + 8 > f.size() || f.mid(moviEnd, 4) != "idx1")
        return QStringLiteral("idx1 does not follow the movi list");
    const quint32 indexSize = u32(f, moviEnd + 4);
    if (indexSize % 16 || moviEnd + 8 + indexSize != quint32(f.size()))
        return QStringLiteral("idx1 size");
    for (qsizetype e = moviEnd + 8; e < f.size(); e += 16) {
        if (f.mid(e, 4) != "00dc" || u32(f, e + 4) != 0x10)
            return QStringLiteral("index entry");
        const IndexEntry entry{u32(f, e + 8), u32(f, e + 12)};
        const qsizetype chunk = 220 + qsizetype(entry.offset);
        if (chunk % 2 || chunk + 8 + entry.length > moviEnd)
            return QStringLiteral("offset %1 outside the movi list").arg(entry.offset);
        if (f.mid(chunk, 4) != "00dc" || u32(f, chunk + 4) != entry.length)
            return QStringLiteral("offset %1 is not its chunk").arg(entry.offset);
        entries->append(entry);
    }
    if (u32(f, 48) != quint32(entries->size()) || u32(f, 140) != quint32(entries->size()))
        return QStringLiteral("frame counts");
    return {};
}

QByteArray jpegOf(QColor colour, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 85);
    return bytes;
}

} // namespace

class TestAviWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void headerIsByteExact_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("fps");
        QTest::newRow("1920x1080 at 30") << 1920 << 1080 << 30;
        QTest::newRow("odd 1365x767 at 59") << 1365 << 767 << 59;
        QTest::newRow("small at 2") << 64 << 48 << 2;
    }
    void headerIsByteExact()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(int, fps);
        const QByteArray want = expectedHeader(quint32(w), quint32(h), quint32(fps));
        QCOMPARE(AviWriter::header(w, h, fps), want);
        const QString path = ktr::test::freshDir(QStringLiteral("avi")) + QStringLiteral("/h.avi");
        AviWriter writer;
        QVERIFY(writer.open(path, w, h, fps));
        QCOMPARE(writer.bytes(), 224);
        QCOMPARE(ktr::test::readFile(path), want);
    }

    // An odd JPEG gets one zero byte, the next chunk starts even, the index holds the unpadded length and
    // offsets counted from the "movi" FOURCC (the first chunk at 4).
    void chunksPaddedAndIndexed()
    {
        const QString path = ktr::test::freshDir(QStringLiteral("avi")) + QStringLiteral("/f.avi");
        AviWriter writer;
        QVERIFY(writer.open(path, 64, 48, 10));
        const QList<QByteArray> frames{"ABCDE", "abcdef", "0123456"};
        for (int i = 0; i < frames.size(); ++i)
            QVERIFY(writer.writeFrame(frames[i], i * 100));
        QCOMPARE(writer.bytes(), 224 + 14 + 14 + 16);
        QVERIFY(writer.finish());
        const QByteArray f = ktr::test::readFile(path);
        QCOMPARE(f.mid(224 + 8, 6), QByteArray("ABCDE\0", 6));

        QList<IndexEntry> entries;
        QCOMPARE(strictRead(f, &entries), QString());
        QCOMPARE(entries.size(), 3);
        const QList<quint32> offsets{entries[0].offset, entries[1].offset, entries[2].offset};
        const QList<quint32> lengths{entries[0].length, entries[1].length, entries[2].length};
        QCOMPARE(offsets, QList<quint32>({4, 18, 32}));
        QCOMPARE(lengths, QList<quint32>({5, 6, 7}));
        QCOMPARE(u32(f, 216), quint32(224 + 44 - 220));
        // Frames 100 ms apart: 10 per second, as configured.
        QCOMPARE(u32(f, 32), 100000u);
        QCOMPARE(u32(f, 132), 10000u);
    }

    void zeroFrames()
    {
        const QString path = ktr::test::freshDir(QStringLiteral("avi")) + QStringLiteral("/z.avi");
        AviWriter writer;
        QVERIFY(writer.open(path, 640, 480, 25));
        QVERIFY(writer.finish());
        const QByteArray f = ktr::test::readFile(path);
        QCOMPARE(f.size(), 232);
        QCOMPARE(u32(f, 48), 0u);
        QCOMPARE(u32(f, 140), 0u);
        QCOMPARE(u32(f, 216), 4u);
        QCOMPARE(f.mid(224, 4), QByteArray("idx1"));
        QCOMPARE(u32(f, 228), 0u);
        QCOMPARE(u32(f, 4), 224u);
        QCOMPARE(u32(f, 132), 25000u); // no frames: the configured rate stays
    }

    // Frames that came slower than configured: the file says the rate they came at, so it plays in real time.
    void achievedRateWrittenAtTheEnd()
    {
        const QString path = ktr::test::freshDir(QStringLiteral("avi")) + QStringLiteral("/r.avi");
        AviWriter writer;
        QVERIFY(writer.open(path, 64, 48, 30));
        for (int i = 0; i < 4; ++i)
            QVERIFY(writer.writeFrame("xy", 5000 + i * 250));
        QVERIFY(writer.finish());
        const QByteArray f = ktr::test::readFile(path);
        QCOMPARE(u32(f, 128), 1000u);
        QCOMPARE(u32(f, 132), 4000u); // 4 frames a second
        QCOMPARE(u32(f, 32), 250000u);
    }

    void readBackByLibavformatAndFfprobe()
    {
        const QString path = ktr::test::freshDir(QStringLiteral("avi")) + QStringLiteral("/real.avi");
        const QSize size(96, 64);
        {
            std::unique_ptr<SegmentSink> sink = makeSegmentSink(SegmentSink::Format::Avi);
            QVERIFY(sink->open(path, size, 10));
            for (int i = 0; i < 5; ++i) {
                QImage frame(size, QImage::Format_RGB32);
                frame.fill(QColor::fromHsv(i * 60, 200, 200));
                QCOMPARE(sink->write(frame, i * 100), SegmentSink::Write::Written);
            }
            QVERIFY(sink->close());
        }
        QList<IndexEntry> entries;
        QCOMPARE(strictRead(ktr::test::readFile(path), &entries), QString());
        QCOMPARE(entries.size(), 5);

        ktr::platform::VideoDecoder decoder;
        QString why;
        QVERIFY2(decoder.open(path, &why), qPrintable(why));
        QCOMPARE(decoder.sourceSize(), size);
        QCOMPARE(decoder.frameRate(), 10.0);
        int decoded = 0;
        QImage frame;
        while (decoder.readFrame(&frame) == ktr::platform::VideoDecoder::ReadResult::Frame) {
            if (decoded == 2) {
                const QColor want = QColor::fromHsv(120, 200, 200);
                const QColor got = frame.pixelColor(48, 32);
                QVERIFY2(qAbs(got.red() - want.red()) < 12 && qAbs(got.green() - want.green()) < 12 &&
                             qAbs(got.blue() - want.blue()) < 12,
                         qPrintable(got.name()));
            }
            ++decoded;
        }
        QCOMPARE(decoded, 5);

        if (!ktr::test::haveFfprobe())
            QSKIP("needs ffprobe");
        const ktr::test::ProbeResult probe = ktr::test::probeVideo(path);
        QVERIFY(probe.ran);
        QCOMPARE(probe.errors, QString());
        QCOMPARE(probe.values.value("codec_name"), QStringLiteral("mjpeg"));
        QCOMPARE(probe.values.value("width"), QStringLiteral("96"));
        QCOMPARE(probe.values.value("nb_read_frames"), QStringLiteral("5"));
    }

    // A disk that fills up under a segment (a file-size limit stands in for it; it binds root too): the
    // chunk cut short is dropped, the sizes add up, and the index holds what fitted of it.
    void fullDiskKeepsWhatWasWritten_data()
    {
        QTest::addColumn<int>("slack");   // bytes the "disk" takes after the last whole chunk
        QTest::addColumn<int>("indexed"); // index entries that fit, -1 for no index at all
        // Five chunks of 1010 bytes fit; the index of five needs 8 + 80 bytes.
        QTest::newRow("index fits") << 500 << 5;
        QTest::newRow("two entries fit") << 40 + 8 << 2;
        QTest::newRow("not even the index header") << 5 << -1;
    }
    void fullDiskKeepsWhatWasWritten()
    {
        QFETCH(int, slack);
        QFETCH(int, indexed);
        const QString path = ktr::test::freshDir(QStringLiteral("avi")) + QStringLiteral("/full.avi");
        const QByteArray jpeg(1001, 'j'); // odd: 8 + 1001 + 1 = 1010 bytes a chunk
        AviWriter writer;
        QVERIFY(writer.open(path, 64, 48, 10));
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old;
        limit.rlim_cur = rlim_t(224 + 5 * 1010 + slack);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        int written = 0;
        while (written < 50 && writer.writeFrame(jpeg, written * 100))
            ++written;
        writer.finish();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldSignal);
        QCOMPARE(written, 5);

        const QByteArray f = ktr::test::readFile(path);
        QCOMPARE(u32(f, 4), quint32(f.size() - 8));
        QCOMPARE(u32(f, 48), 5u);
        QCOMPARE(u32(f, 140), 5u);
        QCOMPARE(u32(f, 216), quint32(5 * 1010 + 4));
        if (indexed < 0) {
            QCOMPARE(f.size(), 224 + 5 * 1010);
            QCOMPARE(u32(f, 44), 0u); // no index, and it says so
            return;
        }
        QCOMPARE(f.mid(224 + 5 * 1010, 4), QByteArray("idx1"));
        QCOMPARE(u32(f, 224 + 5 * 1010 + 4), quint32(16 * indexed));
        QCOMPARE(f.size(), 224 + 5 * 1010 + 8 + 16 * indexed);
        if (indexed == 5) {
            QList<IndexEntry> entries;
            QCOMPARE(strictRead(f, &entries), QString());
        }
        for (int e = 0; e < indexed; ++e) {
            const qsizetype at = 224 + 5 * 1010 + 8 + 16 * e;
            QCOMPARE(f.mid(at, 4), QByteArray("00dc"));
            QCOMPARE(u32(f, at + 8), quint32(4 + 1010 * e));
            QCOMPARE(u32(f, at + 12), 1001u);
        }
    }

    // A segment shows what was on the screen: owner-only, also in a folder others may read.
    void segmentIsOwnerOnly()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("avi"));
        QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
        const QString path = dir + QStringLiteral("/seg.avi");
        AviWriter writer;
        QVERIFY(writer.open(path, 64, 48, 10));
        QVERIFY(writer.writeFrame(jpegOf(Qt::red, QSize(8, 8)), 0));
        QVERIFY(writer.finish());
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(uint(st.st_mode & 07777), 0600u);
    }

    void existingFileIsNeverReused()
    {
        const QString path = ktr::test::freshDir(QStringLiteral("avi")) + QStringLiteral("/taken.avi");
        QVERIFY(ktr::test::writeFile(path, "someone else's"));
        AviWriter writer;
        QVERIFY(!writer.open(path, 64, 48, 10));
        QVERIFY(!writer.errorString().isEmpty());
        QCOMPARE(ktr::test::readFile(path), QByteArray("someone else's"));
    }

    void openBelowAFileFails()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("avi"));
        QVERIFY(ktr::test::writeFile(dir + "/file", "x"));
        AviWriter writer;
        QVERIFY(!writer.open(dir + "/file/seg.avi", 64, 48, 10));
        QVERIFY(!writer.isOpen());
        QVERIFY(!writer.writeFrame(jpegOf(Qt::red, QSize(8, 8)), 0));
    }
};

KTR_TEST_MAIN(TestAviWriter)
#include "tst_aviwriter.moc"
