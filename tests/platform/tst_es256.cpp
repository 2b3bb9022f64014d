#include "platform/es256.h"
#include "testenv.h"

#include <QtTest/QtTest>

using namespace ktr::platform;

namespace {

// A signature made with the openssl tool whose r has a leading zero byte: its DER form carries r in 31
// bytes, so a converter that copies the raw 32 bytes into DER makes a signature the library refuses.
const QByteArray kKatX = QByteArray::fromHex("1963a34df8027dc41aa5a5895e4ec798681302f39057cac940bb0efd42384fca");
const QByteArray kKatY = QByteArray::fromHex("00d13462010918e673b3998811637caeefca1553472ad5cf07f618048072bf0a");
const QByteArray kKatMessage =
    "1.2.3|2d711642b726b04401627ca9fbac32f5c8530fb1903cc4db02258717921a4881|123|https://h.example/p.exe|2026-01-01";
const QByteArray kKatSig = QByteArray::fromHex("00b80a18495c2e17cf6011f8f2acba1a61ce99ef261ea7808b36fcfda0cfb02b"
                                               "7824ec59d24b3a24bcbe5bafc4c51e7ada57d65b07f7d482d075dd36993711e2");

} // namespace

class TestEs256 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void knownAnswer_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<bool>("valid");
        QByteArray flipped = kKatSig;
        flipped[40] = char(flipped[40] ^ 0x01);
        QTest::newRow("vector") << kKatMessage << kKatSig << true;
        QTest::newRow("other message") << QByteArray(kKatMessage).replace("123", "124") << kKatSig << false;
        QTest::newRow("flipped bit") << kKatMessage << flipped << false;
        QTest::newRow("63 bytes") << kKatMessage << kKatSig.left(63) << false;
        QTest::newRow("65 bytes") << kKatMessage << (kKatSig + '\0') << false;
        QTest::newRow("r and s swapped") << kKatMessage << (kKatSig.mid(32) + kKatSig.left(32)) << false;
        QTest::newRow("all zero") << kKatMessage << QByteArray(64, '\0') << false;
    }
    void knownAnswer()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, signature);
        QFETCH(bool, valid);
        QCOMPARE(es256Verify(kKatX, kKatY, message, signature), valid);
    }

    void keysOffTheCurveAreRefused()
    {
        // The key an earlier draft carried is not a point of P-256; nothing may verify against it.
        const QByteArray x = QByteArray::fromHex("9c41e7a0b25d38f6c1e04a7b93d2f5086ae1c37b40d9f82e65a1b3c7d04f29e8");
        const QByteArray y = QByteArray::fromHex("2f7b90d4e1a63c5807bd42f9a8c51e36d94f0b2761e8a3c5fb20d7493ac86e15");
        QVERIFY(!es256IsValidPublicKey(x, y));
        QVERIFY(es256IsValidPublicKey(kKatX, kKatY));
        QVERIFY(!es256IsValidPublicKey(kKatX.left(31), kKatY));
        QByteArray yOff = kKatY;
        yOff[31] = char(yOff[31] ^ 1);
        QVERIFY(!es256IsValidPublicKey(kKatX, yOff));
        QVERIFY(!es256Verify(kKatX, yOff, kKatMessage, kKatSig));
    }

    void signAndVerifyWithAFreshPair()
    {
        QByteArray pem, x, y;
        QVERIFY(es256GenerateKey(&pem, &x, &y));
        QCOMPARE(x.size(), 32);
        QByteArray px, py;
        QVERIFY(es256PublicKeyOf(pem, &px, &py));
        QCOMPARE(px, x);
        QCOMPARE(py, y);
        // Enough signatures that some have a leading zero in r or s: the raw form is always 64 bytes.
        for (int i = 0; i < 64; ++i) {
            const QByteArray message = "message " + QByteArray::number(i);
            const QByteArray sig = es256Sign(pem, message);
            QCOMPARE(sig.size(), 64);
            QVERIFY(es256Verify(x, y, message, sig));
            QVERIFY(!es256Verify(kKatX, kKatY, message, sig));
        }
        QVERIFY(es256Sign("not a key", "m").isEmpty());
    }
};

KTR_TEST_MAIN(TestEs256)
#include "tst_es256.moc"
