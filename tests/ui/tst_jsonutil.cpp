#include "logcapture.h"
#include "testenv.h"
#include "ui/jsonutil.h"

#include <QApplication>
#include <QNetworkReply>

namespace {

// A finished reply with a given status, error and body, recording whether its body was read.
class FakeReply : public QNetworkReply
{
public:
    FakeReply(int status, QNetworkReply::NetworkError error, const QByteArray& body) : m_body(body)
    {
        if (status > 0)
            setAttribute(QNetworkRequest::HttpStatusCodeAttribute, status);
        open(ReadOnly | Unbuffered);
        if (error != NoError)
            setError(error, QStringLiteral("fake failure %1").arg(int(error)));
        setFinished(true);
    }
    void abort() override {}
    qint64 bytesAvailable() const override { return m_body.size() - m_pos + QNetworkReply::bytesAvailable(); }
    bool bodyRead = false;

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        bodyRead = true;
        const qint64 n = qMin<qint64>(maxSize, m_body.size() - m_pos);
        if (n <= 0)
            return m_pos >= m_body.size() ? -1 : 0;
        memcpy(data, m_body.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }

private:
    QByteArray m_body;
    qint64 m_pos = 0;
};

QJsonObject stale()
{
    return QJsonObject{{QStringLiteral("stale"), 1}};
}

} // namespace

class TestJsonUtil : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void bytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("logged");
        QTest::newRow("object") << QByteArray(R"({"a": 1, "b": [true]})") << true << QString();
        QTest::newRow("empty object") << QByteArray("{}") << true << QString();
        QTest::newRow("empty bytes") << QByteArray() << false << QStringLiteral("[jsonutil] object parse failed:");
        QTest::newRow("array") << QByteArray("[1, 2]") << false << QStringLiteral("[jsonutil] object parse failed:");
        QTest::newRow("number") << QByteArray("42") << false << QStringLiteral("[jsonutil] object parse failed:");
        QTest::newRow("truncated") << QByteArray(R"({"a": )") << false
                                   << QStringLiteral("[jsonutil] object parse failed:");
        QTest::newRow("trailing garbage")
            << QByteArray("{} x") << false << QStringLiteral("[jsonutil] object parse failed:");
    }
    void bytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, ok);
        QFETCH(QString, logged);
        ktr::test::LogCapture log;
        QJsonObject out = stale();
        QCOMPARE(parseJsonObject(bytes, out), ok);
        QVERIFY(!out.contains(QStringLiteral("stale")));
        if (ok) {
            QVERIFY(log.messages().isEmpty());
            QCOMPARE(out, QJsonDocument::fromJson(bytes).object());
        } else {
            QVERIFY(out.isEmpty());
            QCOMPARE(log.count(logged), 1);
        }
    }
    void emptyBytesLogsParserText()
    {
        ktr::test::LogCapture log;
        QJsonObject out;
        QJsonParseError expected;
        QJsonDocument::fromJson(QByteArray(), &expected);
        parseJsonObject(QByteArray(), out);
        QVERIFY(log.contains(QStringLiteral("[jsonutil] object parse failed: ") + expected.errorString()));
        // A well-formed non-object carries the library's text for "no error".
        log.clear();
        parseJsonObject("[]", out);
        QVERIFY(log.contains(QStringLiteral("[jsonutil] object parse failed: ") + QJsonParseError().errorString()));
    }

    void reply_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("bodyRead");
        QTest::addColumn<QString>("logged");
        const QString rejected = QStringLiteral("[jsonutil] reply rejected before parse:");
        const QString parseFailed = QStringLiteral("[jsonutil] reply object parse failed:");
        QTest::newRow("200 object") << 200 << int(QNetworkReply::NoError) << QByteArray(R"({"code":0})") << true << true
                                    << QString();
        QTest::newRow("299 object") << 299 << int(QNetworkReply::NoError) << QByteArray(R"({"x":"y"})") << true << true
                                    << QString();
        QTest::newRow("204 empty") << 204 << int(QNetworkReply::NoError) << QByteArray() << false << true
                                   << parseFailed;
        QTest::newRow("200 array") << 200 << int(QNetworkReply::NoError) << QByteArray("[1]") << false << true
                                   << parseFailed;
        QTest::newRow("404 json") << 404 << int(QNetworkReply::NoError) << QByteArray(R"({"a":1})") << false << false
                                  << QStringLiteral("http = 404 transportError = false");
        QTest::newRow("199") << 199 << int(QNetworkReply::NoError) << QByteArray(R"({"a":1})") << false << false
                             << rejected;
        QTest::newRow("300") << 300 << int(QNetworkReply::NoError) << QByteArray(R"({"a":1})") << false << false
                             << rejected;
        QTest::newRow("no status") << 0 << int(QNetworkReply::NoError) << QByteArray(R"({"a":1})") << false << false
                                   << QStringLiteral("http = 0 transportError = false");
        QTest::newRow("transport error") << 0 << int(QNetworkReply::ConnectionRefusedError) << QByteArray() << false
                                         << false
                                         << QStringLiteral("http = 0 transportError = true detail = fake failure");
        QTest::newRow("200 with error") << 200 << int(QNetworkReply::RemoteHostClosedError) << QByteArray(R"({"a":1})")
                                        << false << false << QStringLiteral("http = 200 transportError = true");
    }
    void reply()
    {
        QFETCH(int, status);
        QFETCH(int, error);
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(bool, bodyRead);
        QFETCH(QString, logged);
        FakeReply reply(status, QNetworkReply::NetworkError(error), body);
        ktr::test::LogCapture log;
        QJsonObject out = stale();
        QCOMPARE(parseReplyObject(&reply, out), ok);
        QCOMPARE(reply.bodyRead, bodyRead);
        QVERIFY(!out.contains(QStringLiteral("stale")));
        if (ok) {
            QCOMPARE(out, QJsonDocument::fromJson(body).object());
            QVERIFY(log.messages().isEmpty());
        } else {
            QVERIFY(out.isEmpty());
            QVERIFY2(log.contains(logged), qPrintable(log.messages().join(QLatin1Char('\n'))));
        }
    }
    void nullReply()
    {
        ktr::test::LogCapture log;
        QJsonObject out = stale();
        QVERIFY(!parseReplyObject(nullptr, out));
        QVERIFY(out.isEmpty());
        QVERIFY(log.messages().isEmpty());
    }
};

KTR_TEST_MAIN(TestJsonUtil)
#include "tst_jsonutil.moc"
