// The support chat against a service host: the requests, how replies change the conversation, the
// pictures and their cache.

#include "account/deviceid.h"
#include "chatroutes.h"
#include "fakeservicehost.h"
#include "logcapture.h"
#include "recordingnetwork.h"
#include "servicehoststate.h"
#include "support/chatedit.h"
#include "support/supportchatdialog.h"
#include "support/unreadpoller.h"
#include "testenv.h"
#include "ui/servicehost.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSignalSpy>

#include <memory>

using Host = ktr::test::FakeServiceHost;
using Reply = Host::Reply;
using Msg = SupportChatDialog::ChatMessage;

class TestSupportClient : public QObject
{
    Q_OBJECT

    std::unique_ptr<Host> m_host;
    ktr::test::ChatRoutes m_chat;
    std::unique_ptr<ktr::test::RecordingNetworkManager> m_nam;
    std::unique_ptr<SupportChatDialog> m_dlg;

    // Opens the window with a token and waits until the first poll and the welcome are answered.
    void open(const QString& token = QStringLiteral("tok"))
    {
        m_dlg->setSession(token, QStringLiteral("alice"));
        m_dlg->openAt(QPoint(10, 10));
        QTRY_VERIFY(!m_dlg->isPolling());
        QTRY_COMPARE(ktr::test::requestsOf(*m_host, "welcome").size(), 1);
        settle();
    }
    // Lets every request in flight finish.
    void settle()
    {
        QTRY_VERIFY(!m_dlg->isPolling() && !m_dlg->isSending() && m_dlg->downloading().isEmpty());
        QTest::qWait(30); // replies that carry no state flag (read, welcome) are delivered by now
    }
    void typeAndSend(const QString& text)
    {
        m_dlg->inputBox()->setPlainText(text);
        m_dlg->send();
    }

private Q_SLOTS:
    void init()
    {
        m_host = std::make_unique<Host>(Host::Scheme::Http); // plain http is allowed on loopback
        QVERIFY(m_host->listen());
        qputenv("KTR_SERVICE_HOST", m_host->baseUrl().toString().toUtf8());
        m_chat = ktr::test::ChatRoutes();
        m_chat.install(*m_host);
        m_nam = std::make_unique<ktr::test::RecordingNetworkManager>();
        m_dlg = std::make_unique<SupportChatDialog>();
        m_dlg->setNetworkManager(m_nam.get());
    }
    void cleanup()
    {
        m_dlg.reset();
        m_nam.reset();
        m_host.reset();
    }

    // Every request: its action, headers, time-out, and "device" and "as_user" beside its own keys.
    void requests_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("picture");
        QTest::addColumn<QStringList>("keys");
        const QStringList base{"as_user", "device"};
        QTest::newRow("poll") << "poll"
                              << "" << false << QStringList{"after", "as_user", "device", "token"};
        QTest::newRow("read") << "read"
                              << "" << false << QStringList{"as_user", "device", "token"};
        QTest::newRow("welcome") << "welcome"
                                 << "" << false << base;
        QTest::newRow("send text only") << "send"
                                        << "hi" << false << QStringList{"as_user", "device", "text", "token"};
        QTest::newRow("send picture only") << "send"
                                           << "  " << true << QStringList{"as_user", "device", "img_b64", "token"};
        QTest::newRow("send both") << "send"
                                   << "look" << true << QStringList{"as_user", "device", "img_b64", "text", "token"};
    }
    void requests()
    {
        QFETCH(QString, action);
        QFETCH(QString, text);
        QFETCH(bool, picture);
        QFETCH(QStringList, keys);
        open();
        if (action == "send") {
            if (picture) {
                m_dlg->attachImage(QImage(QSize(40, 30), QImage::Format_RGB32));
                QTRY_VERIFY(m_dlg->base64Ready());
            }
            typeAndSend(text);
            settle();
        }
        const QList<Host::Request> sent = ktr::test::requestsOf(*m_host, action);
        QVERIFY(!sent.isEmpty());
        const Host::Request& r = sent.first();
        QCOMPARE(r.method, QByteArray("POST"));
        QCOMPARE(r.path, QStringLiteral("/api/support.php"));
        QCOMPARE(r.header("content-type"), QByteArray("application/json; charset=utf-8"));
        QCOMPARE(r.jsonKeys(), keys);
        QCOMPARE(r.json.value("device").toString(), deviceId());
        QVERIFY(r.json.value("as_user").isDouble() && r.json.value("as_user").toInt() == 1);
        if (r.json.contains("token"))
            QCOMPARE(r.json.value("token").toString(), QStringLiteral("tok"));
        if (picture) {
            const QImage sentImage =
                QImage::fromData(QByteArray::fromBase64(r.json.value("img_b64").toString().toLatin1()));
            QCOMPARE(sentImage.size(), QSize(40, 30));
        }
        for (const auto& s : std::as_const(m_nam->sent)) {
            if (s.request.url().path() == "/api/support.php") {
                QCOMPARE(s.request.transferTimeout(), 15000);
                QCOMPARE(s.request.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
                         int(QNetworkRequest::NoLessSafeRedirectPolicy));
            }
        }
    }

    void ids_data()
    {
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<qint64>("id");
        QTest::newRow("number") << QJsonValue(42) << qint64(42);
        QTest::newRow("numeric string") << QJsonValue("123") << qint64(123);
        QTest::newRow("string beyond a double's precision")
            << QJsonValue("9007199254740993") << qint64(9007199254740993LL);
        QTest::newRow("text") << QJsonValue("abc") << qint64(0);
        QTest::newRow("missing") << QJsonValue() << qint64(0);
    }
    void ids()
    {
        QFETCH(QJsonValue, value);
        QFETCH(qint64, id);
        QCOMPARE(SupportChatDialog::readId(value), id);
    }

    // lastId follows the ids of a poll, numbers or strings, and only "ok" as the number 1 is a success.
    void pollReplies()
    {
        m_host->route("POST", "/api/support.php", "poll", [](const Host::Request& r) {
            if (r.json.value("after").toInteger() > 0)
                return Reply::json(QJsonObject{
                    {"ok", true}, {"messages", QJsonArray{QJsonObject{{"id", 99}, {"from_cs", 1}, {"text", "x"}}}}});
            return Reply::json(QJsonObject{
                {"ok", 1},
                {"messages", QJsonArray{QJsonObject{{"id", "8000000000"}, {"from_cs", 1}, {"text", "first"}},
                                        QJsonObject{{"id", 7}, {"text", "mine, no from_cs"}}}}});
        });
        m_chat.welcome = QJsonObject{{"ok", 1}};
        QSignalSpy unread(m_dlg.get(), &SupportChatDialog::unreadChanged);
        open();
        QCOMPARE(m_dlg->lastId(), qint64(8000000000LL));
        QCOMPARE(m_dlg->messages().size(), 2);
        QVERIFY(!m_dlg->messages()[0].mine);
        QVERIFY(m_dlg->messages()[1].mine);
        QVERIFY(unread.size() >= 2); // on opening and on the new messages
        QCOMPARE(unread.last().value(0).toInt(), 0);
        QTRY_VERIFY(ktr::test::requestsOf(*m_host, "read").size() >= 2); // sent without waiting for the answer
        m_dlg->pollOnce();                                               // answered with "ok": true
        settle();
        QCOMPARE(m_dlg->messages().size(), 2);
        QCOMPARE(m_dlg->lastId(), qint64(8000000000LL));
    }

    // A message far longer than any bubble: kept cut to what a bubble shows, so laying out and painting the
    // column stays quick on every repaint; the conversation goes on after it.
    void hugeMessagesShownCut_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("5 MB on one line") << QString(5 << 20, QLatin1Char('x'));
        QTest::newRow("a million newlines") << QStringLiteral("a\n").repeated(1000000);
        QTest::newRow("emoji across the cut") << QString::fromUtf8("😀").repeated(SupportChatDialog::kMaxShownChars);
    }
    void hugeMessagesShownCut()
    {
        QFETCH(QString, text);
        m_chat.add(true, text);
        m_chat.add(true, QStringLiteral("after"));
        open();
        const qsizetype n = m_dlg->messages().size();
        QVERIFY(n >= 2); // the welcome only while no support message has arrived
        const QString shown = m_dlg->messages().at(n - 2).text;
        QVERIFY(shown.size() <= SupportChatDialog::kMaxShownChars + 1);
        QVERIFY(shown.count(QLatin1Char('\n')) < SupportChatDialog::kMaxShownLines);
        QVERIFY(shown.endsWith(QChar(0x2026)));
        QVERIFY(!shown.at(shown.size() - 2).isHighSurrogate());
        QVERIFY(text.startsWith(shown.chopped(1)));
        QCOMPARE(m_dlg->messages().at(n - 1).text, QStringLiteral("after"));
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 5; ++i)
            m_dlg->grab();
        // Generous for a loaded machine; the whole text took tens of seconds a paint.
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(SupportChatDialog::shownText(QStringLiteral("short\ntext")), QStringLiteral("short\ntext"));
    }

    // A reply announcing more than the cap is stopped unread and logged; the next poll goes on.
    void oversizedReplyStopped()
    {
        ktr::test::LogCapture log;
        m_host->route("POST", "/api/support.php", "poll",
                      Reply::lyingLength(R"({"ok":1,"messages":[]})", SupportChatDialog::kMaxApiReplyBytes + 1));
        m_dlg->setSession(QStringLiteral("tok"), QStringLiteral("alice"));
        m_dlg->openAt(QPoint(10, 10));
        QTRY_VERIFY(log.contains(QStringLiteral("support postApi reply too large, dropped: action = poll")));
        QTRY_VERIFY(!m_dlg->isPolling());
        QCOMPARE(m_dlg->lastId(), qint64(0));
        m_chat.install(*m_host);
        m_chat.add(true, QStringLiteral("back"));
        m_dlg->pollOnce();
        QTRY_COMPARE(m_dlg->messages().last().text, QStringLiteral("back"));
    }

    // A poll answered while the window is hidden changes nothing, not even lastId.
    void hiddenPollChangesNothing()
    {
        open();
        m_chat.add(true, "while hidden");
        m_chat.pollDelayMs = 200;
        m_dlg->pollOnce();
        m_dlg->hide();
        settle();
        QCOMPARE(m_dlg->messages().size(), 1); // the welcome only
        QCOMPARE(m_dlg->lastId(), qint64(0));
    }

    // The copy of one's own message being sent is swallowed; a support message with the same text is not.
    void ownEcho()
    {
        open();
        m_chat.add(true, "same words"); // support says it before the copy comes back
        m_chat.sendDelayMs = 300;       // the poll answers while the send is still on its way
        typeAndSend("same words");
        QVERIFY(m_dlg->pendingEcho());
        QCOMPARE(m_dlg->pendingIndex(), 1);
        m_dlg->pollOnce();
        settle();
        QStringList seen;
        for (const Msg& m : m_dlg->messages())
            seen << (m.mine ? "me:" : "cs:") + m.text;
        QCOMPARE(seen, (QStringList{"cs:Hello, how can we help?", "me:same words", "cs:same words"}));
        QVERIFY(!m_dlg->pendingEcho());
        QCOMPARE(m_dlg->lastId(), qint64(2));
    }

    // Only polls move lastId: a support message that arrived between the last poll and a send is still
    // shown, and the copy of the sent message is not shown twice.
    void sendRacesSupportMessage()
    {
        open();
        m_chat.onSend = [this](const Host::Request&) {
            if (m_chat.messages.isEmpty())
                m_chat.add(true, "support wrote meanwhile");
        };
        typeAndSend("my question");
        settle();
        QStringList seen;
        for (const Msg& m : m_dlg->messages())
            seen << (m.mine ? "me:" : "cs:") + m.text;
        QCOMPARE(seen, (QStringList{"cs:Hello, how can we help?", "me:my question", "cs:support wrote meanwhile"}));
        QCOMPARE(m_dlg->lastId(), qint64(2));
        // The next poll asks after both and finds nothing new.
        m_dlg->pollOnce();
        settle();
        QCOMPARE(m_dlg->messages().size(), 3);
        QCOMPARE(ktr::test::requestsOf(*m_host, "poll").last().json.value("after").toInteger(), 2);
    }

    // A failed send removes the echo and says why; without a token nothing is sent.
    void sendFailures_data()
    {
        QTest::addColumn<QJsonObject>("answer");
        QTest::addColumn<QString>("shown");
        QTest::newRow("refused with a message")
            << QJsonObject{{"ok", 0}, {"msg", "too fast"}} << "⚠ 发送失败：too fast";
        QTest::newRow("ok true") << QJsonObject{{"ok", true}} << "⚠ 发送失败：网络异常，请稍后重试";
    }
    void sendFailures()
    {
        QFETCH(QJsonObject, answer);
        QFETCH(QString, shown);
        open();
        m_chat.sendOverride = answer;
        typeAndSend("hello");
        settle();
        QCOMPARE(m_dlg->messages().size(), 2);
        QCOMPARE(m_dlg->messages().last().text, shown);
        QVERIFY(!m_dlg->messages().last().mine);
        QVERIFY(!m_dlg->pendingEcho());
        QCOMPARE(m_dlg->pendingIndex(), -1);
    }
    void sendWithoutToken()
    {
        QSignalSpy login(m_dlg.get(), &SupportChatDialog::loginRequested);
        m_dlg->show();
        typeAndSend("hello");
        QCOMPARE(login.size(), 1);
        QCOMPARE(m_dlg->messages().last().text, QStringLiteral("请先登录账户后再发送消息。"));
        QCOMPARE(m_dlg->inputBox()->toPlainText(), QStringLiteral("hello"));
        QTest::qWait(30);
        QVERIFY(ktr::test::requestsOf(*m_host, "send").isEmpty());
    }

    // The 501st message drops the oldest; a pending echo that falls out of the list ends.
    void trimming()
    {
        open();
        QList<Msg> many;
        many.append(Msg{true, "with a local picture", {}, "local:77", {}});
        for (int i = 1; i < 500; ++i)
            many.append(Msg{false, QString::number(i), {}, {}, {}});
        m_dlg->setMessages(many);
        m_dlg->cachePicture("local:77", QPixmap(10, 10));
        m_chat.sendDelayMs = 3000;
        typeAndSend("the 501st"); // its echo is the 501st message
        QCOMPARE(m_dlg->messages().size(), 500);
        QCOMPARE(m_dlg->messages().first().text, QStringLiteral("1"));
        QCOMPARE(m_dlg->messages().last().text, QStringLiteral("the 501st"));
        QVERIFY(!m_dlg->pictures().contains("local:77")); // a local picture that fell out leaves the cache
        QCOMPARE(m_dlg->pendingIndex(), 499);
        QVERIFY(m_dlg->pendingEcho());
    }

    void echoFallsOut()
    {
        open();
        m_chat.sendOverride = QJsonObject{{"ok", 1}, {"id", 999}};
        m_chat.sendDelayMs = 3000;
        typeAndSend("soon gone");
        QCOMPARE(m_dlg->pendingIndex(), 1);
        for (int i = 0; i < 500; ++i)
            m_chat.add(true, QStringLiteral("cs %1").arg(i));
        m_dlg->pollOnce();
        QTRY_VERIFY(!m_dlg->isPolling());
        QCOMPARE(m_dlg->messages().size(), 500);
        QCOMPARE(m_dlg->messages().first().text, QStringLiteral("cs 0"));
        QVERIFY(!m_dlg->pendingEcho());
        QCOMPARE(m_dlg->pendingIndex(), -1);
    }

    // The welcome: title and text once per conversation, the text only while support has not spoken.
    void welcome()
    {
        m_chat.add(true, "support was here");
        m_chat.welcomeDelayMs = 600; // the poll has answered by then
        open();
        QTRY_COMPARE(m_dlg->title(), QStringLiteral("Support desk"));
        QCOMPARE(m_dlg->messages().size(), 1);
        QCOMPARE(m_dlg->messages().first().text, QStringLiteral("support was here"));

        // A new conversation without support messages gets the text, once, however often it is reopened.
        m_chat.messages = QJsonArray();
        m_chat.nextId = 1;
        m_chat.welcomeDelayMs = 0;
        m_chat.welcome.insert("text", "second greeting");
        m_dlg->reloadAfterLogin();
        m_dlg->openAt(QPoint(10, 10));
        QTRY_COMPARE(m_dlg->messages().size(), 1);
        QTest::qWait(100);
        settle();
        QCOMPARE(m_dlg->messages().size(), 1);
        QCOMPARE(m_dlg->messages().first().text, QStringLiteral("second greeting"));
    }

    // A reset drops the replies of the older conversation and its poll and echo state.
    void resetDropsOlderReplies()
    {
        open("token-a");
        m_chat.add(true, "for account a");
        m_chat.pollDelayMs = 500;
        m_chat.sendDelayMs = 500;
        typeAndSend("from a");
        m_dlg->pollOnce();
        QVERIFY(m_dlg->isPolling() && m_dlg->isSending() && m_dlg->pendingEcho());
        QTRY_COMPARE(ktr::test::requestsOf(*m_host, "send").size(), 1);
        QTRY_COMPARE(ktr::test::requestsOf(*m_host, "poll").size(), 2);
        m_chat.pollDelayMs = 0;
        m_chat.welcome = QJsonObject{{"ok", 1}, {"text", "welcome b"}};
        m_chat.messages = QJsonArray();
        m_dlg->setSession("token-b", "bob");
        m_dlg->reloadAfterLogin();
        QVERIFY(!m_dlg->pendingEcho());
        QCOMPARE(m_dlg->pendingIndex(), -1);
        QTest::qWait(900); // the older poll and send have answered by now
        settle();
        QStringList seen;
        for (const Msg& m : m_dlg->messages())
            seen << m.text;
        QCOMPARE(seen, QStringList{"welcome b"});
        QCOMPARE(m_dlg->lastId(), qint64(0));
    }

    // Which keys are fetched: the whitelist, and each key once.
    void pictureKeys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("fetched");
        QTest::newRow("plain") << "a.png" << true;
        QTest::newRow("letters digits _ - .") << "Ab_9-x.v2.jpg" << true;
        QTest::newRow("slash") << "x/y.png" << false;
        QTest::newRow("backslash") << "x\\y.png" << false;
        QTest::newRow("two dots") << "a..png" << false;
        QTest::newRow("local") << "local:1" << false;
        QTest::newRow("space") << "a b.png" << false;
        QTest::newRow("percent") << "a%2f.png" << false;
        QTest::newRow("non-ascii") << "图.png" << false;
    }
    void pictureKeys()
    {
        QFETCH(QString, key);
        QFETCH(bool, fetched);
        m_chat.uploads.insert(key, ktr::test::ChatRoutes::png(QSize(50, 40)));
        m_dlg->show();
        m_dlg->downloadImage(key);
        m_dlg->downloadImage(key);
        settle();
        QCOMPARE(ktr::test::pictureRequests(*m_host), fetched ? 1 : 0);
        QCOMPARE(m_dlg->pictures().contains(key), fetched);
        QCOMPARE(m_dlg->pictures().value(key).size(), fetched ? QSize(50, 40) : QSize(0, 0));
    }

    void pictureFailures_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("logged");
        QTest::newRow("404") << Reply::raw(404, "gone") << "support image rejected: http = 404";
        QTest::newRow("not a picture") << Reply::raw(200, "plain words") << "";
        QTest::newRow("claims 5 MiB") << Reply::lyingLength("x", 5 * 1024 * 1024) << "support image too large";
    }
    void pictureFailures()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, logged);
        m_host->setFallback([reply](const Host::Request&) { return reply; });
        ktr::test::LogCapture log;
        m_dlg->show();
        m_dlg->downloadImage("p.png");
        settle();
        QVERIFY(m_dlg->failedPictures().contains("p.png"));
        if (!logged.isEmpty())
            QVERIFY2(log.contains(logged), qPrintable(log.messages().join('\n')));
        m_dlg->reloadAfterLogin(); // a new conversation does not retry a failed picture
        m_dlg->downloadImage("p.png");
        settle();
        QCOMPARE(ktr::test::pictureRequests(*m_host), 1);
    }

    // Past 4 MiB a download is ended while it streams, not after the whole body was buffered (or never,
    // for a stream that stalls).
    void oversizedStreamAborted()
    {
        const QByteArray big(5 * 1024 * 1024, 'x');
        m_host->setFallback([big](const Host::Request&) { return Reply::stalled(big, 4 * 1024 * 1024 + 4096); });
        ktr::test::LogCapture log;
        m_dlg->show();
        m_dlg->downloadImage("huge.png");
        QTRY_VERIFY_WITH_TIMEOUT(m_dlg->downloading().isEmpty(), 8000); // the time-out would be 20 s
        QVERIFY(m_dlg->failedPictures().contains("huge.png"));
        QVERIFY(log.contains("support image too large, rejected: huge.png"));
    }

    void fit_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<qreal>("dpr");
        QTest::addColumn<QSize>("fitted");
        QTest::addColumn<qreal>("fittedDpr");
        QTest::newRow("wide at 1") << QSize(1000, 500) << 1.0 << QSize(190, 95) << 1.0;
        QTest::newRow("wide at 3, capped at 2") << QSize(1000, 500) << 3.0 << QSize(380, 190) << 2.0;
        QTest::newRow("tall at 1.5") << QSize(300, 600) << 1.5 << QSize(105, 210) << 1.5;
        QTest::newRow("fits, kept as decoded") << QSize(100, 50) << 1.0 << QSize(100, 50) << 1.0;
        QTest::newRow("below 1 counts as 1") << QSize(400, 100) << 0.5 << QSize(190, 47) << 1.0;
    }
    void fit()
    {
        QFETCH(QSize, size);
        QFETCH(qreal, dpr);
        QFETCH(QSize, fitted);
        QFETCH(qreal, fittedDpr);
        QImage img(size, QImage::Format_RGB32);
        img.fill(Qt::red);
        const QImage out = SupportChatDialog::fitPicture(img, dpr);
        QCOMPARE(out.size(), fitted);
        QCOMPARE(out.devicePixelRatio(), fittedDpr);
    }

    // The cache holds 120: the 121st evicts the picture shown least recently; storing or showing a key again
    // makes it the most recent.
    void cache()
    {
        for (int i = 0; i < 120; ++i)
            m_dlg->cachePicture(QStringLiteral("k%1").arg(i), QPixmap(4, 4));
        m_dlg->cachePicture("k0", QPixmap(8, 8));
        QCOMPARE(m_dlg->pictureOrder().last(), QStringLiteral("k0"));
        QCOMPARE(m_dlg->pictures().value("k0").size(), QSize(8, 8));
        m_dlg->notePictureShown("k1");
        m_dlg->cachePicture("k120", QPixmap(4, 4));
        QCOMPARE(m_dlg->pictures().size(), 120);
        QVERIFY(!m_dlg->pictures().contains("k2"));
        QVERIFY(m_dlg->pictures().contains("k0") && m_dlg->pictures().contains("k1"));
        QCOMPARE(m_dlg->pictureOrder().first(), QStringLiteral("k3"));
        QCOMPARE(m_dlg->pictureOrder().last(), QStringLiteral("k120"));
    }

    // More distinct pictures than the cache holds: only those in view are fetched, each once however often
    // the column is laid out and painted; scrolling through the whole conversation fetches each as it comes
    // into view, and the pictures that were evicted meanwhile are fetched again when they come back, so
    // nothing is left an empty box.
    void manyPicturesBounded()
    {
        QList<Msg> list;
        for (int i = 0; i < 130; ++i) {
            const QString key = QStringLiteral("p%1.png").arg(i);
            m_chat.uploads.insert(key, ktr::test::ChatRoutes::png(QSize(60, 40)));
            list.append(Msg{false, QString(), {}, key, {}});
        }
        m_dlg->show();
        m_dlg->setMessages(list);
        auto inView = [&] {
            QStringList keys;
            for (int i = 0; i < 130; ++i) {
                const QString key = QStringLiteral("p%1.png").arg(i);
                if (m_dlg->isPictureShown(key))
                    keys.append(key);
            }
            return keys;
        };
        auto paintUntilSettled = [&] {
            for (int round = 0; round < 3; ++round) {
                m_dlg->grab();
                settle();
            }
        };
        paintUntilSettled();
        const int firstScreen = ktr::test::pictureRequests(*m_host);
        QVERIFY(firstScreen > 0 && firstScreen < 20);
        paintUntilSettled();
        QCOMPARE(ktr::test::pictureRequests(*m_host), firstScreen); // painting again fetches nothing
        for (const QString& key : inView())
            QVERIFY2(m_dlg->pictures().contains(key), qPrintable(key));

        // Up to the oldest: every picture is fetched once as it comes into view, and what is on screen is there.
        auto wheel = [&](int delta) {
            QWheelEvent e(QPointF(200, 200), m_dlg->mapToGlobal(QPointF(200, 200)), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(m_dlg.get(), &e);
            m_dlg->grab();
            QTRY_VERIFY(m_dlg->downloading().isEmpty());
            m_dlg->grab();
            for (const QString& key : inView())
                QVERIFY2(m_dlg->pictures().contains(key), qPrintable(key));
        };
        while (m_dlg->scrollOffset() < m_dlg->maxScroll())
            wheel(120);
        QCOMPARE(ktr::test::pictureRequests(*m_host), 130);
        QVERIFY(m_dlg->pictures().size() <= SupportChatDialog::kMaxPictures);
        QVERIFY(!m_dlg->pictures().contains(QStringLiteral("p129.png"))); // the newest went first
        // Back down: the newest come back into view and are fetched again.
        while (m_dlg->scrollOffset() > 0)
            wheel(-120);
        QVERIFY(m_dlg->pictures().contains(QStringLiteral("p129.png")));
        QVERIFY(ktr::test::pictureRequests(*m_host) > 130);
        QVERIFY(m_dlg->pictures().size() <= SupportChatDialog::kMaxPictures);
    }

    // The whole road against the state host of tools/servicehost: a picture sent, a support reply with
    // that picture, the unread count while the chat is closed, and the conversation on reopening.
    void againstStateHost()
    {
        const QString dir = ktr::test::freshDir("state");
        QVERIFY(ktr::test::writeFile(dir + "/accounts.json", R"({"users":[{"username":"alice","password":"pw",
            "sessions":[{"token":"tok-a","device":"d"}]}]})"));
        Host host(Host::Scheme::Http);
        ktr::test::ServiceHostState state(dir);
        state.install(host);
        QVERIFY(host.listen());
        qputenv("KTR_SERVICE_HOST", host.baseUrl().toString().toUtf8());
        SupportChatDialog dlg;
        dlg.setSession("tok-a", "alice");
        dlg.openAt(QPoint(10, 10));
        QTRY_COMPARE(dlg.messages().size(), 1); // the welcome
        dlg.attachImage(QImage(QSize(64, 48), QImage::Format_RGB32));
        QTRY_VERIFY(dlg.base64Ready());
        dlg.inputBox()->setPlainText("screenshot");
        dlg.send();
        QTRY_VERIFY(!dlg.isSending() && !dlg.isPolling());
        QCOMPARE(dlg.messages().size(), 2);
        QVERIFY(dlg.messages()[1].img.startsWith("local:"));
        const QJsonObject stored = QJsonDocument::fromJson(ktr::test::readFile(dir + "/support.json")).object();
        const QString uploaded = stored.value("messages").toArray().first().toObject().value("img").toString();
        QVERIFY(QFile::exists(dir + "/files/uploads/" + uploaded));

        dlg.hide();
        state.addSupportReply("alice", "got it", uploaded);
        UnreadPoller poller;
        poller.setToken("tok-a");
        poller.setChat(&dlg);
        poller.poll();
        QTRY_COMPARE(poller.count(), 1);

        dlg.openAt(QPoint(10, 10));
        QTRY_VERIFY(dlg.pictures().contains(uploaded));
        QCOMPARE(dlg.pictures().value(uploaded).size(), QSize(64, 48));
        QStringList seen; // the welcome text may come first when it is answered before the poll
        for (const Msg& m : dlg.messages())
            seen << (m.mine ? "me:" : "cs:") + m.text;
        seen.removeAll(QStringLiteral("cs:你好，请描述你遇到的问题，客服会尽快回复。"));
        QCOMPARE(seen, (QStringList{"me:screenshot", "cs:got it"}));
        QTest::qWait(50); // the read is answered
        dlg.hide();
        poller.poll();
        QTRY_COMPARE(poller.count(), 0);
    }
};

KTR_TEST_MAIN(TestSupportClient)
#include "tst_supportclient.moc"
