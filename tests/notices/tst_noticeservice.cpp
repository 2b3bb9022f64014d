// The notice poll against a scripted service host: when it fetches, which notices it shows once, what it
// keeps in "notice_seen.txt", the reports of the dialog, and a window torn down with a notice open.

#include "fakeservicehost.h"
#include "manualclock.h"
#include "noticeroutes.h"
#include "recordingnetwork.h"
#include "support/noticedialog.h"
#include "support/noticeservice.h"
#include "testenv.h"
#include "ui/dialogseams.h"

#include <QApplication>
#include <QDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QPointer>

using ktr::test::FakeServiceHost;
using Seen = NoticeService::Seen;

namespace {

QJsonObject latest(int gen, qint64 id, const QString& created = QStringLiteral("2026-01-15 09:00:00"),
                   const QString& url = QString())
{
    return QJsonObject{
        {QStringLiteral("ok"), 1},
        {QStringLiteral("gen"), gen},
        {QStringLiteral("notice"), QJsonObject{{QStringLiteral("id"), double(id)},
                                               {QStringLiteral("created"), created},
                                               {QStringLiteral("title"), QStringLiteral("维护通知")},
                                               {QStringLiteral("body"), QStringLiteral("今晚 22:00 维护。")},
                                               {QStringLiteral("url"), url},
                                               {QStringLiteral("title_color"), QString()}}}};
}

int countOf(const FakeServiceHost& host, const QString& action)
{
    int n = 0;
    for (const FakeServiceHost::Request& r : host.requests())
        n += r.path == QLatin1String("/api/notice.php") && r.action == action;
    return n;
}

// The reports of one notice (reports of earlier cases may still arrive).
QList<FakeServiceHost::Request> reports(const FakeServiceHost& host, qint64 id = 77)
{
    QList<FakeServiceHost::Request> out;
    for (const FakeServiceHost::Request& r : host.requests())
        if (r.action == QLatin1String("report") && r.json.value(QStringLiteral("notice_id")).toInteger() == id)
            out.append(r);
    return out;
}

} // namespace

class TestNoticeService : public QObject
{
    Q_OBJECT

    FakeServiceHost* m_host = nullptr;
    ktr::test::ManualClock m_clock; // 2026-01-15 10:00

private Q_SLOTS:
    void initTestCase()
    {
        m_host = new FakeServiceHost(FakeServiceHost::Scheme::Http, this);
        QVERIFY(m_host->listen());
        qputenv("KTR_SERVICE_HOST", m_host->baseUrl().toString().toUtf8());
        m_host->route("POST", QStringLiteral("/api/notice.php"), QStringLiteral("report"),
                      FakeServiceHost::Reply::json(QJsonObject{{QStringLiteral("ok"), 1}}));
    }

    void init() { m_host->clearRequests(); }

    void seenFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("gen");
        QTest::addColumn<qint64>("id");
        QTest::newRow("generation and id") << QByteArray("7\n42") << 7 << qint64(42);
        QTest::newRow("id alone") << QByteArray("42") << 0 << qint64(42);
        QTest::newRow("generation not a number") << QByteArray("x\n42") << 0 << qint64(0);
        QTest::newRow("5000 bytes") << QByteArray("7\n42\n").append(QByteArray(4995, ' ')) << 0 << qint64(0);
        QTest::newRow("white space and a third line") << QByteArray(" 2 \n 9 \n77\n") << 2 << qint64(9);
        QTest::newRow("64-bit id") << QByteArray("1\n9000000000") << 1 << qint64(9000000000LL);
    }
    void seenFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, gen);
        QFETCH(qint64, id);
        const QString dir = ktr::test::freshDir(QStringLiteral("seen"));
        QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/notice_seen.txt"), bytes));
        QCOMPARE(NoticeService::loadNoticeSeen(dir), (Seen{gen, id}));
    }

    void seenFileWrittenAndMissing()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("seenwrite"));
        QCOMPARE(NoticeService::loadNoticeSeen(dir), Seen{});
        QVERIFY(NoticeService::saveNoticeSeen(dir, 7, 42));
        QCOMPARE(ktr::test::readFile(dir + QStringLiteral("/notice_seen.txt")), QByteArray("7\n42"));
        // A folder where the file belongs: the write fails, nothing is thrown, the read gives (0, 0).
        const QString blocked = ktr::test::freshDir(QStringLiteral("seenblocked"));
        QVERIFY(QDir().mkpath(blocked + QStringLiteral("/notice_seen.txt")));
        QVERIFY(!NoticeService::saveNoticeSeen(blocked, 1, 2));
        QCOMPARE(NoticeService::loadNoticeSeen(blocked), Seen{});
    }

    void showRule_data()
    {
        QTest::addColumn<QByteArray>("stored"); // empty: no file yet
        QTest::addColumn<int>("gen");
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QString>("created");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QByteArray>("fileAfter"); // after the dialog is dismissed, or right after the reply
        QTest::addColumn<QString>("date");         // what the shown dialog gives as its date
        const QString recent = QStringLiteral("2026-01-15 09:00:00");
        const QString shownDate = QStringLiteral("2026-01-15 09:00");
        QTest::newRow("(3,50) against 50")
            << QByteArray("3\n50") << 3 << qint64(50) << recent << false << QByteArray("3\n50") << QString();
        QTest::newRow("(3,50) against 51")
            << QByteArray("3\n50") << 3 << qint64(51) << recent << true << QByteArray("3\n51") << shownDate;
        QTest::newRow("(3,50) against generation 4 id 1")
            << QByteArray("3\n50") << 4 << qint64(1) << recent << true << QByteArray("4\n1") << shownDate;
        QTest::newRow("(0,50) against generation 9 id 50")
            << QByteArray("0\n50") << 9 << qint64(50) << recent << false << QByteArray("0\n50") << QString();
        QTest::newRow("(0,50) against generation 9 id 51")
            << QByteArray("0\n50") << 9 << qint64(51) << recent << true << QByteArray("9\n51") << shownDate;
        QTest::newRow("first install, 5 days old")
            << QByteArray() << 2 << qint64(8) << QStringLiteral("2026-01-10 09:00:00") << false << QByteArray("2\n8")
            << QString();
        QTest::newRow("first install, 2 days old")
            << QByteArray() << 2 << qint64(8) << QStringLiteral("2026-01-13 09:00:00") << true << QByteArray("2\n8")
            << QStringLiteral("2026-01-13 09:00");
        // A time that can't be read is no date to show (and never the service's address in its place).
        QTest::newRow("first install, unparsable time")
            << QByteArray() << 2 << qint64(8) << QStringLiteral("gestern") << true << QByteArray("2\n8") << QString();
    }
    void showRule()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, gen);
        QFETCH(qint64, id);
        QFETCH(QString, created);
        QFETCH(bool, shown);
        QFETCH(QByteArray, fileAfter);
        QFETCH(QString, date);
        const QString dir = ktr::test::freshDir(QStringLiteral("rule"));
        const QString file = dir + QStringLiteral("/notice_seen.txt");
        if (!stored.isEmpty())
            QVERIFY(ktr::test::writeFile(file, stored));
        m_host->route("POST", QStringLiteral("/api/notice.php"), QStringLiteral("latest"),
                      FakeServiceHost::Reply::json(latest(gen, id, created)));

        QWidget window;
        QNetworkAccessManager network;
        NoticeService service(&window);
        service.setDataDir(dir);
        service.setClock(&m_clock);
        service.setNetworkManager(&network);
        QSignalSpy shownSpy(&service, &NoticeService::noticeShown);
        // The manager reports a reply finished after the reply's own handlers ran.
        QSignalSpy finishedSpy(&network, &QNetworkAccessManager::finished);
        service.fetchLatestNotice();
        QTRY_COMPARE(finishedSpy.count(), 1);
        QCOMPARE(countOf(*m_host, QStringLiteral("latest")), 1);
        if (shown) {
            QCOMPARE(shownSpy.count(), 1);
            QCOMPARE(service.shownNoticeId(), id);
            QVERIFY(service.openDialog());
            QCOMPARE(service.openDialog()->parentWidget(), &window);
            QCOMPARE(service.openDialog()->date(), date);
            QTest::keyClick(service.openDialog(), Qt::Key_Escape);
            QCOMPARE(service.shownNoticeId(), qint64(0));
        } else {
            QCOMPARE(shownSpy.count(), 0);
            QVERIFY(!service.openDialog());
        }
        QCOMPARE(ktr::test::readFile(file), fileAfter);
    }

    void timersAndSkipWhileOpen()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("timers"));
        QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/notice_seen.txt"), "1\n1"));
        m_host->route("POST", QStringLiteral("/api/notice.php"), QStringLiteral("latest"),
                      FakeServiceHost::Reply::json(latest(1, 5)));
        ktr::test::RecordingNetworkManager network;
        NoticeService service(nullptr);
        service.setDataDir(dir);
        service.setClock(&m_clock);
        service.setNetworkManager(&network);
        QVERIFY(!service.timer()->isActive());
        service.start();
        QVERIFY(service.firstTimer()->isActive());
        QVERIFY(service.firstTimer()->isSingleShot());
        QCOMPARE(service.firstTimer()->interval(), 3000);
        QVERIFY(service.timer()->isActive());
        QCOMPARE(service.timer()->interval(), 60000);
        QVERIFY(network.sent.isEmpty());

        QSignalSpy shownSpy(&service, &NoticeService::noticeShown);
        QMetaObject::invokeMethod(service.firstTimer(), "timeout");
        QCOMPARE(network.sent.size(), 1);
        const auto& request = network.sent.first();
        QCOMPARE(request.request.url().path(), QStringLiteral("/api/notice.php"));
        QCOMPARE(request.request.url().query(), QStringLiteral("action=latest"));
        QCOMPARE(request.request.transferTimeout(), 10000);
        QCOMPARE(request.request.header(QNetworkRequest::ContentTypeHeader).toString(),
                 QStringLiteral("application/json; charset=utf-8"));
        QCOMPARE(request.body, QByteArray("{}")); // no token held
        QTRY_COMPARE(shownSpy.count(), 1);

        // While the notice is open the ticks send nothing.
        QMetaObject::invokeMethod(service.timer(), "timeout");
        QMetaObject::invokeMethod(service.timer(), "timeout");
        QCOMPARE(network.sent.size(), 1);

        QPointer<NoticeDialog> dialog = service.openDialog();
        dialog->dismiss();
        service.setToken(QStringLiteral("tok-1"));
        QMetaObject::invokeMethod(service.timer(), "timeout");
        QCOMPARE(network.sent.size(), 2);
        QCOMPARE(network.sent.last().body, QByteArray(R"({"token":"tok-1"})"));

        // The installer download stops the repeating poll; its end starts it again.
        service.stop();
        QVERIFY(!service.timer()->isActive());
        service.resume();
        QVERIFY(service.timer()->isActive());
        QTRY_VERIFY(dialog.isNull());
    }

    // A notice that arrives while a modal card is open (the login card) waits until the card is gone: over
    // it, it could not be closed (the card blocks it) and it would hide the card's fields. A card opened over
    // a notice already shown sends it aside until the card closes; it comes back where it was.
    void noticeStandsAsideForModalCards_data()
    {
        QTest::addColumn<bool>("cardFirst");
        QTest::newRow("card open when the notice arrives") << true;
        QTest::newRow("card opened over the notice") << false;
    }
    void noticeStandsAsideForModalCards()
    {
        QFETCH(bool, cardFirst);
        const QString dir = ktr::test::freshDir(QStringLiteral("modal"));
        QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/notice_seen.txt"), "1\n1"));
        m_host->route("POST", QStringLiteral("/api/notice.php"), QStringLiteral("latest"),
                      FakeServiceHost::Reply::json(latest(1, 9)));
        QWidget window;
        window.show();
        QNetworkAccessManager network;
        NoticeService service(&window);
        service.setDataDir(dir);
        service.setClock(&m_clock);
        service.setNetworkManager(&network);
        QSignalSpy shownSpy(&service, &NoticeService::noticeShown);
        QSignalSpy finishedSpy(&network, &QNetworkAccessManager::finished);

        QDialog card(&window);
        card.setWindowModality(Qt::ApplicationModal);
        if (cardFirst)
            card.show();
        service.fetchLatestNotice();
        QTRY_COMPARE(finishedSpy.count(), 1);
        QPointer<NoticeDialog> notice = service.openDialog();
        QVERIFY(notice);
        QCOMPARE(service.shownNoticeId(), qint64(9));
        if (cardFirst) {
            QVERIFY(service.waitingForModal());
            QVERIFY(!notice->isVisible());
            QCOMPARE(shownSpy.count(), 0);
        } else {
            QVERIFY(notice->isVisible());
            notice->move(notice->pos() + QPoint(30, 20)); // moved by the user
            card.show();
            QTRY_VERIFY(!notice->isVisible());
            QVERIFY(service.waitingForModal());
        }
        const QPoint where = notice->pos();
        // No second poll while the notice waits.
        service.fetchLatestNotice();
        QCOMPARE(countOf(*m_host, QStringLiteral("latest")), 1);

        card.hide();
        QTRY_VERIFY(notice->isVisible());
        QVERIFY(!service.waitingForModal());
        QCOMPARE(shownSpy.count(), 1);
        if (!cardFirst)
            QCOMPARE(notice->pos(), where);
        // Free now: Escape closes it at once.
        QTest::keyClick(notice, Qt::Key_Escape);
        QTRY_VERIFY(notice.isNull());
        QCOMPARE(service.shownNoticeId(), qint64(0));
    }

    void reportsDeliveredOpenedClosed()
    {
        m_host->route("POST", QStringLiteral("/api/notice.php"), QStringLiteral("report"),
                      FakeServiceHost::Reply::raw(500, "down")); // a failure is logged, never repeated
        ktr::dialogs::Seams seams;
        QList<QUrl> opened;
        seams.openUrl = [&](const QUrl& u) {
            opened.append(u);
            return true;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        auto* dialog = new NoticeDialog(77, QStringLiteral("标题"), QStringLiteral("正文"),
                                        QStringLiteral("https://example.com/n/77"), QString());
        QPointer<NoticeDialog> guard(dialog);
        dialog->showCentered();
        QTRY_COMPARE(reports(*m_host).size(), 1);
        dialog->openLink();
        QTRY_COMPARE(reports(*m_host).size(), 2);
        // The details open and the notice goes, as the other button makes it go.
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.com/n/77"))});
        QTRY_VERIFY(guard.isNull());
        QTest::qWait(200);
        const QList<FakeServiceHost::Request> sent = reports(*m_host);
        QCOMPARE(sent.size(), 2); // no retry of the failed reports
        const QStringList actions{sent.at(0).json.value(QStringLiteral("action")).toString(),
                                  sent.at(1).json.value(QStringLiteral("action")).toString()};
        QCOMPARE(actions, (QStringList{QStringLiteral("delivered"), QStringLiteral("opened")}));
        for (const FakeServiceHost::Request& r : sent) {
            QCOMPARE(r.jsonKeys(),
                     (QStringList{QStringLiteral("action"), QStringLiteral("device"), QStringLiteral("notice_id")}));
            QCOMPARE(r.json.value(QStringLiteral("notice_id")).toInteger(), 77);
            QVERIFY(!r.json.value(QStringLiteral("device")).toString().isEmpty());
        }
        // Escape closes a notice and says so.
        m_host->clearRequests();
        auto* closed = new NoticeDialog(77, QStringLiteral("标题"), QStringLiteral("正文"), QString(), QString());
        closed->showCentered();
        QTRY_COMPARE(reports(*m_host).size(), 1);
        QTest::keyClick(closed, Qt::Key_Escape);
        QTRY_COMPARE(reports(*m_host).size(), 2);
        QCOMPARE(reports(*m_host).at(1).json.value(QStringLiteral("action")).toString(), QStringLiteral("closed"));
        // Id 0 reports nothing.
        m_host->clearRequests();
        auto* silent = new NoticeDialog(0, QStringLiteral("t"), QStringLiteral("b"), QString(), QString());
        silent->showCentered();
        QTest::keyClick(silent, Qt::Key_Escape);
        QTest::qWait(200);
        int any = 0;
        for (const FakeServiceHost::Request& r : m_host->requests())
            any += r.action == QLatin1String("report") && r.json.value(QStringLiteral("notice_id")).toInteger() == 0;
        QCOMPARE(any, 0);
        m_host->route("POST", QStringLiteral("/api/notice.php"), QStringLiteral("report"),
                      FakeServiceHost::Reply::json(QJsonObject{{QStringLiteral("ok"), 1}}));
    }

    // A dialog that goes away without being dismissed still counts as seen, compared as (generation, id):
    // a notice of a new generation with a smaller id than the old one's is recorded too.
    void destroyedWithoutDismissRecordsNewGeneration()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("destroyed"));
        const QString file = dir + QStringLiteral("/notice_seen.txt");
        QVERIFY(ktr::test::writeFile(file, "3\n50"));
        m_host->route("POST", QStringLiteral("/api/notice.php"), QStringLiteral("latest"),
                      FakeServiceHost::Reply::json(latest(4, 1)));
        NoticeService service(nullptr);
        service.setDataDir(dir);
        service.setClock(&m_clock);
        QSignalSpy shownSpy(&service, &NoticeService::noticeShown);
        service.fetchLatestNotice();
        QTRY_COMPARE(shownSpy.count(), 1);
        delete service.openDialog();
        QCOMPARE(ktr::test::readFile(file), QByteArray("4\n1"));
        QCOMPARE(service.shownNoticeId(), qint64(0));
    }

    // The window goes with a notice open, the service dying before or after the dialog: the notice is
    // recorded either way and nothing reaches the dead window or service.
    void windowTeardownWithNoticeOpen_data()
    {
        QTest::addColumn<bool>("serviceIsMember");
        QTest::newRow("service destroyed before the dialog") << true;
        QTest::newRow("dialog destroyed before the service") << false;
    }
    void windowTeardownWithNoticeOpen()
    {
        QFETCH(bool, serviceIsMember);
        struct Window : QWidget
        {
            std::unique_ptr<NoticeService> service; // dies in ~Window, before the child widgets
        };
        const QString dir = ktr::test::freshDir(QStringLiteral("teardown"));
        const QString file = dir + QStringLiteral("/notice_seen.txt");
        QVERIFY(ktr::test::writeFile(file, "3\n50"));
        m_host->route("POST", QStringLiteral("/api/notice.php"), QStringLiteral("latest"),
                      FakeServiceHost::Reply::json(latest(4, 2)));
        auto* window = new Window;
        std::unique_ptr<NoticeService> outside;
        NoticeService* service = nullptr;
        if (serviceIsMember) {
            window->service = std::make_unique<NoticeService>(window);
            service = window->service.get();
        } else {
            outside = std::make_unique<NoticeService>(window);
            service = outside.get();
        }
        service->setDataDir(dir);
        service->setClock(&m_clock);
        QSignalSpy shownSpy(service, &NoticeService::noticeShown);
        service->fetchLatestNotice();
        QTRY_COMPARE(shownSpy.count(), 1);
        QPointer<NoticeDialog> dialog = service->openDialog();
        delete window;
        QVERIFY(dialog.isNull());
        QCOMPARE(ktr::test::readFile(file), QByteArray("4\n2"));
        if (outside)
            QCOMPARE(outside->shownNoticeId(), qint64(0));
    }

    // The state host's notice routes: a notice written into its folder is shown, and the reports land there.
    void stateHostRoutes()
    {
        const QString state = ktr::test::freshDir(QStringLiteral("state"));
        QVERIFY(ktr::test::writeFile(state + QStringLiteral("/notices.json"), QJsonDocument(latest(1, 3)).toJson()));
        FakeServiceHost host(FakeServiceHost::Scheme::Http);
        ktr::test::installNoticeRoutes(host, state);
        QVERIFY(host.listen());
        qputenv("KTR_SERVICE_HOST", host.baseUrl().toString().toUtf8());
        const QString dir = ktr::test::freshDir(QStringLiteral("stateclient"));
        NoticeService service(nullptr);
        service.setDataDir(dir);
        service.setClock(&m_clock);
        QSignalSpy shownSpy(&service, &NoticeService::noticeShown);
        service.fetchLatestNotice();
        QTRY_COMPARE(shownSpy.count(), 1);
        QTRY_VERIFY(ktr::test::readFile(state + QStringLiteral("/notice_reports.jsonl")).contains("delivered"));
        service.openDialog()->dismiss();
        QTRY_VERIFY(ktr::test::readFile(state + QStringLiteral("/notice_reports.jsonl")).contains("closed"));
        qputenv("KTR_SERVICE_HOST", m_host->baseUrl().toString().toUtf8());
    }
};

KTR_TEST_MAIN(TestNoticeService)
#include "tst_noticeservice.moc"
