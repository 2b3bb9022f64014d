// The unread count of the support chat: the timer, the one request in flight and the badge rules.

#include "account/deviceid.h"
#include "fakeservicehost.h"
#include "recordingnetwork.h"
#include "support/unreadpoller.h"
#include "testenv.h"

#include <QApplication>
#include <QSignalSpy>
#include <QWidget>

#include <memory>

using Host = ktr::test::FakeServiceHost;
using Reply = Host::Reply;

Q_DECLARE_METATYPE(Reply)

class TestUnreadPoller : public QObject
{
    Q_OBJECT

    std::unique_ptr<Host> m_host;
    std::unique_ptr<ktr::test::RecordingNetworkManager> m_nam;
    std::unique_ptr<UnreadPoller> m_poller;
    QList<Reply> m_answers; // the next answers, in order; the last one repeats

    int requests() const { return int(m_host->requests().size()); }
    void answer(const QJsonObject& o, int delayMs = 0)
    {
        Reply r = Reply::json(o);
        r.delayMs = delayMs;
        m_answers.append(r);
    }

private Q_SLOTS:
    void init()
    {
        m_host = std::make_unique<Host>(Host::Scheme::Http);
        QVERIFY(m_host->listen());
        qputenv("KTR_SERVICE_HOST", m_host->baseUrl().toString().toUtf8());
        m_answers.clear();
        m_host->route("POST", "/api/support.php", "unread", [this](const Host::Request&) {
            return m_answers.size() > 1 ? m_answers.takeFirst() : m_answers.value(0, Reply::json({{"ok", 1}}));
        });
        m_nam = std::make_unique<ktr::test::RecordingNetworkManager>();
        m_poller = std::make_unique<UnreadPoller>();
        m_poller->setNetworkManager(m_nam.get());
        m_poller->setToken("tok");
    }
    void cleanup()
    {
        m_poller.reset();
        m_nam.reset();
        m_host.reset();
    }

    // The request: path, action, body, header and time-out.
    void request()
    {
        answer({{"ok", 1}, {"unread", 2}});
        m_poller->poll();
        QTRY_VERIFY(!m_poller->isPending());
        const Host::Request r = m_host->requests().value(0);
        QCOMPARE(r.path, QStringLiteral("/api/support.php"));
        QCOMPARE(r.action, QStringLiteral("unread"));
        QCOMPARE(r.header("content-type"), QByteArray("application/json; charset=utf-8"));
        QCOMPARE(r.jsonKeys(), (QStringList{"as_user", "device", "token"}));
        QCOMPARE(r.json.value("device").toString(), deviceId());
        QCOMPARE(r.json.value("as_user").toInt(), 1);
        QCOMPARE(r.json.value("token").toString(), QStringLiteral("tok"));
        QCOMPARE(m_nam->sent.value(0).request.transferTimeout(), 15000);
        QCOMPARE(m_poller->count(), 2);
    }

    // The first application of the settings starts the 12 s timer and polls once; later ones do neither.
    void startedBySettings()
    {
        QTimer* timer = m_poller->timer();
        QCOMPARE(timer->interval(), 12000);
        QVERIFY(!timer->isActive());
        QVERIFY(m_poller->startIfStopped());
        QVERIFY(timer->isActive());
        QTRY_COMPARE(requests(), 1);
        QTRY_VERIFY(!m_poller->isPending());
        QVERIFY(!m_poller->startIfStopped());
        QVERIFY(!m_poller->startIfStopped());
        QTest::qWait(50);
        QCOMPARE(requests(), 1);
        QMetaObject::invokeMethod(timer, "timeout");
        QTRY_COMPARE(requests(), 2);
    }

    // Signed out there is nothing to count: the settings' start waits for a token, a login starts the timer
    // and polls at once, a sign-out stops it and drops the answer on its way.
    void followsTheToken()
    {
        QTimer* timer = m_poller->timer();
        m_poller->setToken(QString());
        QVERIFY(!m_poller->startIfStopped());
        m_poller->poll();
        QVERIFY(!timer->isActive());
        QVERIFY(!m_poller->isPending());
        QTest::qWait(50);
        QCOMPARE(requests(), 0);

        answer({{"ok", 1}, {"unread", 4}});
        m_poller->setToken("tok2");
        QVERIFY(timer->isActive());
        QTRY_VERIFY(!m_poller->isPending());
        QCOMPARE(requests(), 1);
        QCOMPARE(m_host->requests().value(0).json.value("token").toString(), QStringLiteral("tok2"));
        QCOMPARE(m_poller->count(), 4);
        m_poller->setToken("tok3"); // another account: the timer runs on, no second start
        QCOMPARE(requests(), 1);

        answer({{"ok", 1}, {"unread", 9}}, 300);
        m_poller->poll();
        QTRY_COMPARE(requests(), 2);
        m_poller->setToken(QString());
        QVERIFY(!timer->isActive());
        QVERIFY(!m_poller->isPending());
        QTest::qWait(400);
        QCOMPARE(m_poller->count(), 4);

        // Stopped for good at shutdown: a later token starts nothing.
        m_poller->stop();
        m_poller->setToken("tok4");
        QVERIFY(!timer->isActive());
    }

    // The answers and the badge: an equal count is not sent again, 0 clears, a missing count is 0, and
    // anything but "ok" 1 changes nothing.
    void counts_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("changed");
        QTest::newRow("new count") << QJsonObject{{"ok", 1}, {"unread", 7}} << 7 << true;
        QTest::newRow("same count") << QJsonObject{{"ok", 1}, {"unread", 3}} << 3 << false;
        QTest::newRow("zero clears") << QJsonObject{{"ok", 1}, {"unread", 0}} << 0 << true;
        QTest::newRow("missing unread is zero") << QJsonObject{{"ok", 1}} << 0 << true;
        QTest::newRow("ok true") << QJsonObject{{"ok", true}, {"unread", 9}} << 3 << false;
        QTest::newRow("ok 0") << QJsonObject{{"ok", 0}, {"unread", 9}} << 3 << false;
    }
    void counts()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(int, count);
        QFETCH(bool, changed);
        m_poller->setCount(3);
        QSignalSpy spy(m_poller.get(), &UnreadPoller::countChanged);
        answer(reply);
        m_poller->poll();
        QTRY_VERIFY(!m_poller->isPending());
        QCOMPARE(m_poller->count(), count);
        QCOMPARE(spy.size(), changed ? 1 : 0);
        if (changed)
            QCOMPARE(spy.first().value(0).toInt(), count);
    }

    void httpFailureChangesNothing()
    {
        m_poller->setCount(4);
        m_answers.append(Reply::raw(500, "{\"ok\":1,\"unread\":0}", "application/json"));
        m_poller->poll();
        QTRY_VERIFY(!m_poller->isPending());
        QCOMPARE(m_poller->count(), 4);
    }

    // While the chat is visible: no request, and an answer arriving then is ignored. Hiding it polls at once.
    void chatVisible()
    {
        QWidget chat;
        m_poller->setChat(&chat);
        m_poller->startIfStopped();
        QTRY_VERIFY(!m_poller->isPending());
        QCOMPARE(requests(), 1);

        answer({{"ok", 1}, {"unread", 5}}, 200);
        m_poller->poll();
        QTRY_COMPARE(requests(), 2);
        chat.show(); // opened while the answer is on its way
        QTRY_VERIFY(!m_poller->isPending());
        QCOMPARE(m_poller->count(), 0);

        QMetaObject::invokeMethod(m_poller->timer(), "timeout");
        m_poller->poll();
        QTest::qWait(50);
        QCOMPARE(requests(), 2);

        chat.hide();
        m_poller->poll(); // what chatHidden does
        QTRY_VERIFY(!m_poller->isPending());
        QCOMPARE(requests(), 3);
        QCOMPARE(m_poller->count(), 5);
    }

    // One request at a time: a tick while one is pending does nothing; a new poll replaces the pending one,
    // so its older answer can't overwrite the newer count.
    void oneInFlight()
    {
        answer({{"ok", 1}, {"unread", 8}}, 400);
        answer({{"ok", 1}, {"unread", 2}});
        m_poller->poll();
        QTRY_COMPARE(requests(), 1);
        QVERIFY(m_poller->isPending());
        QMetaObject::invokeMethod(m_poller->timer(), "timeout");
        QTest::qWait(50);
        QCOMPARE(requests(), 1);
        QSignalSpy spy(m_poller.get(), &UnreadPoller::countChanged);
        m_poller->poll(); // the chat was closed, or the user logged in
        QTRY_VERIFY(!m_poller->isPending());
        QCOMPARE(m_poller->count(), 2);
        QTest::qWait(500); // the slow answer would have arrived by now
        QCOMPARE(m_poller->count(), 2);
        QCOMPARE(spy.size(), 1);
    }
};

KTR_TEST_MAIN(TestUnreadPoller)
#include "tst_unreadpoller.moc"
