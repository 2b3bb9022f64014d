#include "market/updatemanifest.h"
#include "testenv.h"
#include "updatesigning.h"

#include <QJsonArray>
#include <QtTest/QtTest>

using namespace ktr::test;

class TestUpdateManifest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void signedMessage()
    {
        const QJsonObject m = panelManifest("1.2.3", "https://h/p.exe", "ABcd", 123);
        QCOMPARE(updateSignedMessage(m), QByteArray("1.2.3|ABcd|123|https://h/p.exe|2026-12-01 10:00:00"));
        // A size as a string signs the same; other values count as 0, missing strings as empty.
        QCOMPARE(updateSignedMessage(panelManifest("1.2.3", "https://h/p.exe", "ABcd", "123")), updateSignedMessage(m));
        QCOMPARE(updateSignedMessage(QJsonObject{{"version", 5}, {"size", "x"}}), QByteArray("||0||"));
        QCOMPARE(manifestSize(QJsonObject{{"size", 6000000000.0}}), qint64(6000000000));
    }

    void verification_data()
    {
        QTest::addColumn<QJsonObject>("manifest");
        QTest::addColumn<bool>("valid");
        const UpdateSigner& signer = m_signer;
        const QJsonObject base = panelManifest("2.0.0", "https://h/p.exe", "00ff");
        const QJsonObject good = signer.sign(base);
        QTest::newRow("signed") << good << true;
        QTest::newRow("es256 in lower case") << signer.sign(base, "es256") << true;
        QTest::newRow("size as string") << signer.sign(panelManifest("2.0.0", "https://h/p.exe", "00ff", "123"))
                                        << true;
        QJsonObject swapped = good;
        swapped.insert("size", "123"); // signed as the number: the same message
        QTest::newRow("size number signed, string sent") << swapped << true;
        QTest::newRow("no sig_alg") << signer.sign(base, QString()) << false;
        QTest::newRow("RS256") << signer.sign(base, "RS256") << false;
        QJsonObject changed = good;
        changed.insert("url", "https://evil/p.exe");
        QTest::newRow("changed url") << changed << false;
        const QByteArray sig = QByteArray::fromBase64(good.value("sig").toString().toLatin1());
        QJsonObject shortSig = good;
        shortSig.insert("sig", QString::fromLatin1(sig.left(63).toBase64()));
        QTest::newRow("63 bytes") << shortSig << false;
        QJsonObject longSig = good;
        longSig.insert("sig", QString::fromLatin1((sig + '\0').toBase64()));
        QTest::newRow("65 bytes") << longSig << false;
        QTest::newRow("empty") << QJsonObject() << false;
        // "|" joins the fields unescaped: text moved across a field border would keep the signature.
        QTest::newRow("bar in url") << signer.sign(panelManifest("2.0.0", "https://h/p.exe|x", "00ff")) << false;
        QJsonObject barTime = base;
        barTime.insert("time", "a|b");
        QTest::newRow("bar in time") << signer.sign(barTime) << false;
    }
    void verification()
    {
        QFETCH(QJsonObject, manifest);
        QFETCH(bool, valid);
        QCOMPARE(verifyUpdateManifest(manifest, m_signer.key), valid);
        // Signed by another pair, nothing verifies.
        QVERIFY(!verifyUpdateManifest(manifest, UpdateSigner().key));
    }

    void builtInKeyIsOnTheCurve()
    {
        const UpdatePublicKey key = UpdatePublicKey::builtIn();
        QVERIFY(ktr::platform::es256IsValidPublicKey(key.x, key.y));
    }

    void history_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<bool>("fromHistory");
        QTest::newRow("first exact match")
            << QByteArray(R"([{"version":"2.0.0-rc","notes":"rc"},{"version":"2.0.0","notes":" first "},)"
                          R"({"version":"2.0.0","notes":"second"}])")
            << "first" << true;
        QTest::newRow("blank notes keep the manifest's")
            << QByteArray(R"([{"version":"2.0.0","notes":"  "},{"version":"2.0.0","notes":"later"}])") << "fallback"
            << false;
        QTest::newRow("no entry") << QByteArray(R"([{"version":"1.0.0","notes":"old"}])") << "fallback" << false;
        QTest::newRow("object, not array") << QByteArray(R"({"version":"2.0.0","notes":"x"})") << "fallback" << false;
        QTest::newRow("broken") << QByteArray("[{") << "fallback" << false;
    }
    void history()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, notes);
        QFETCH(bool, fromHistory);
        bool from = !fromHistory;
        QCOMPARE(historyNotes(body, "2.0.0", "fallback", &from), notes);
        QCOMPARE(from, fromHistory);
    }

    void installerUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("ok");
        QTest::newRow("https") << "https://h.example/p.exe" << true;
        QTest::newRow("HTTPS") << "HTTPS://h.example/p.exe" << true;
        QTest::newRow("http") << "http://h.example/p.exe" << false;
        QTest::newRow("ftp") << "ftp://h.example/p.exe" << false;
        QTest::newRow("no scheme") << "h.example/p.exe" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("no host") << "https:///p.exe" << false;
    }
    void installerUrl()
    {
        QFETCH(QString, url);
        QFETCH(bool, ok);
        QCOMPARE(isDownloadableInstallerUrl(url), ok);
    }

private:
    UpdateSigner m_signer;
};

KTR_TEST_MAIN(TestUpdateManifest)
#include "tst_updatemanifest.moc"
