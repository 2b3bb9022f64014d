#include "logcapture.h"
#include "model/layoutfile.h"
#include "storeharness.h"
#include "ui/lang.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutex>
#include <QWaitCondition>

using ktr::test::StoreHarness;

namespace {

const QString kLayoutNotice =
    QStringLiteral("布局文件已损坏，已保留副本并重建默认分组；可从「备份与恢复」还原最近快照");
const QString kMisshapenNotice =
    QStringLiteral("布局文件含有无法识别的内容，已保留副本；可从「备份与恢复」还原最近快照");
const QString kSettingsNotice =
    QStringLiteral("设置文件已损坏，已保留副本并使用默认值；可从「备份与恢复」还原最近快照");

QList<Group> sampleGroups()
{
    Item full{QStringLiteral("/usr/bin/tool"), QStringLiteral("工具"),        true, QStringLiteral("/icons/t.png"),
              QStringLiteral("/tmp"),          QStringLiteral("--x \"a b\""), true};
    Item plain;
    plain.path = QStringLiteral("::{645FF040-5081-101B-9F08-00AA002F954E}");
    plain.name = QStringLiteral("回收站");
    return {Group{QStringLiteral("常用"), {full, plain}}, Group{QStringLiteral("空"), {}}};
}

// A layout the store writes on its writer thread: `items` items in one group named `name`.
QList<Group> largeGroups(const QString& name, qsizetype items = ConfigStore::kBackgroundSaveItems)
{
    Group g{name, {}};
    g.items.reserve(items);
    for (qsizetype i = 0; i < items; ++i) {
        Item it;
        it.path = QStringLiteral("/data/file-%1.txt").arg(i);
        it.name = QStringLiteral("file %1").arg(i);
        g.items.append(it);
    }
    return {g};
}

// Holds each background write until the test lets it go, and counts them.
class WriteGate
{
public:
    WriteGate()
    {
        ConfigStore::setLayoutWriteHook([this] {
            QMutexLocker lock(&m_mutex);
            ++m_started;
            m_changed.wakeAll();
            while (!m_open)
                m_changed.wait(&m_mutex);
        });
    }
    ~WriteGate()
    {
        open();
        ConfigStore::setLayoutWriteHook({});
    }
    bool waitStarted(int n)
    {
        QMutexLocker lock(&m_mutex);
        while (m_started < n) {
            if (!m_changed.wait(&m_mutex, 10000))
                return false;
        }
        return true;
    }
    void open()
    {
        QMutexLocker lock(&m_mutex);
        m_open = true;
        m_changed.wakeAll();
    }
    int started()
    {
        QMutexLocker lock(&m_mutex);
        return m_started;
    }

private:
    QMutex m_mutex;
    QWaitCondition m_changed;
    int m_started = 0;
    bool m_open = false;
};

QString firstGroupName(const QString& path)
{
    ConfigStore::LayoutRead read = ConfigStore::readLayoutFile(path);
    return read.groups.isEmpty() ? QString() : read.groups.first().name;
}

} // namespace

class TestLayoutFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { Lang::setLanguage(0); }

    void savesSortedIndentedAndReadsBack()
    {
        StoreHarness h(QStringLiteral("roundtrip"));
        const QList<Group> groups = sampleGroups();
        QVERIFY(h.store->saveLayout(groups));
        const QByteArray bytes = ktr::test::readFile(h.store->layoutPath());
        // Every item key is written, in key order, indented by four spaces.
        const QByteArray expectedItem = "                {\n"
                                        "                    \"args\": \"\",\n"
                                        "                    \"customIcon\": \"\",\n"
                                        "                    \"hidden\": false,\n"
                                        "                    \"name\": \"回收站\",\n"
                                        "                    \"path\": \"::{645FF040-5081-101B-9F08-00AA002F954E}\",\n"
                                        "                    \"runAsAdmin\": false,\n"
                                        "                    \"workDir\": \"\"\n"
                                        "                }\n";
        QVERIFY2(bytes.contains(expectedItem), bytes.constData());
        QVERIFY(bytes.indexOf("\"items\"") < bytes.indexOf("\"name\": \"常用\""));

        QList<Group> loaded;
        QVERIFY(h.store->loadLayout(loaded));
        QCOMPARE(loaded, groups);
        QVERIFY(h.store->saveLayout(loaded));
        QCOMPARE(ktr::test::readFile(h.store->layoutPath()), bytes);
    }

    void readRules_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("groupNames");
        QTest::addColumn<QList<int>>("itemCounts");
        QTest::addColumn<bool>("keptAside"); // reading drops something it holds: a copy and a notice
        const QString name70 = QString(70, QLatin1Char('x'));
        QTest::newRow("name of 70 cut to 64")
            << QJsonDocument(QJsonObject{{"groups", QJsonArray{QJsonObject{{"name", name70}}}}}).toJson()
            << QStringList{QString(64, QLatin1Char('x'))} << QList<int>{0} << false;
        QTest::newRow("items without path dropped, group kept")
            << QByteArray(R"({"groups":[{"name":"g","items":[{"name":"a"},{"path":"","name":"b"},{"path":"/p"}]}]})")
            << QStringList{"g"} << QList<int>{1} << true;
        QTest::newRow("empty path dropped quietly")
            << QByteArray(R"({"groups":[{"name":"g","items":[{"path":"","name":"b"},{"path":"/p"}]}]})")
            << QStringList{"g"} << QList<int>{1} << false;
        QTest::newRow("item path not a string")
            << QByteArray(R"({"groups":[{"name":"g","items":[{"path":7},{"path":"/p"}]}]})") << QStringList{"g"}
            << QList<int>{1} << true;
        QTest::newRow("group name not a string") << QByteArray(R"({"groups":[{"name":["g"],"items":[{"path":"/p"}]}]})")
                                                 << QStringList{""} << QList<int>{1} << true;
        QTest::newRow("empty groups") << QByteArray(R"({"groups":[]})") << QStringList{"默认分组"} << QList<int>{0}
                                      << false;
        QTest::newRow("non-object group and item")
            << QByteArray(R"({"groups":[5,{"name":"b","items":[true,{"path":"/x"}]}]})") << QStringList{"", "b"}
            << QList<int>{0, 1} << true;
        QTest::newRow("duplicate names kept") << QByteArray(R"({"groups":[{"name":"a"},{"name":"a"}]})")
                                              << QStringList{"a", "a"} << QList<int>{0, 0} << false;
        QTest::newRow("missing item keys read as defaults")
            << QByteArray(R"({"groups":[{"name":"a","items":[{"path":"/x","hidden":"yes","args":3}]}]})")
            << QStringList{"a"} << QList<int>{1} << false;
    }
    void readRules()
    {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, groupNames);
        QFETCH(QList<int>, itemCounts);
        QFETCH(bool, keptAside);
        StoreHarness h(QStringLiteral("rules-") + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(ktr::test::writeFile(h.store->layoutPath(), json));
        QList<Group> groups{Group{QStringLiteral("before"), {}}};
        QVERIFY(h.store->loadLayout(groups));
        QStringList names;
        QList<int> counts;
        for (const Group& g : groups) {
            names << g.name;
            counts << int(g.items.size());
            for (const Item& it : g.items) {
                QVERIFY(!it.path.isEmpty());
                QVERIFY(!it.hidden && it.args.isEmpty()); // mistyped keys read as their defaults
            }
        }
        QCOMPARE(names, groupNames);
        QCOMPARE(counts, itemCounts);
        if (!keptAside) {
            QVERIFY(h.deferred.isEmpty());
            return;
        }
        const QString copy = QStringLiteral("layout.json.corrupt-20260115-100001-000");
        QCOMPARE(ktr::test::readFile(h.dir + QLatin1Char('/') + copy), json);
        QCOMPARE(h.deferred.size(), 1);
        h.runDeferred();
        QCOMPARE(h.toasts.first().text, kMisshapenNotice);
    }

    // The file is written without building a JSON tree first; it must still be what Qt's writer makes of the
    // same layout, byte for byte, whatever the texts hold.
    void savedBytesAreQtsWriterBytes_data()
    {
        QTest::addColumn<QList<Group>>("groups");
        const auto named = [](const QString& text) {
            Item it{QStringLiteral("/p/") + text, text, false, text, text, text, false};
            return QList<Group>{Group{text, {it}}};
        };
        QTest::newRow("sample, with an empty group") << sampleGroups();
        QTest::newRow("no group") << QList<Group>{};
        QTest::newRow("quotes and backslashes") << named(QStringLiteral("a \"b\" \\c\\"));
        QTest::newRow("control characters") << named(QString::fromUtf16(u"\u0001\b\f\n\r\t\u001f\u007f end"));
        QTest::newRow("CJK, accents and emoji") << named(QStringLiteral("常用 é ü 😀 𠀀"));
        QTest::newRow("lone high surrogate") << named(QString::fromUtf16(u"x\xd83d y"));
        QTest::newRow("lone low surrogate") << named(QString::fromUtf16(u"x\xde00 y"));
        QTest::newRow("high surrogate at the end") << named(QString::fromUtf16(u"x\xd83d"));
        QTest::newRow("large") << largeGroups(QStringLiteral("many"), 3000);
        QTest::newRow("market group") << QList<Group>{Group{"A", {}}, Group{"我的软件", {}, kMarketGroupKind}};
    }
    void savedBytesAreQtsWriterBytes()
    {
        QFETCH(QList<Group>, groups);
        QCOMPARE(serializeLayout(groups), QJsonDocument(layoutToJson(groups)).toJson(QJsonDocument::Indented));
    }

    // The saved form is read straight from the bytes; whatever it takes must give what the JSON reader and
    // layoutFromJson give, and whatever it refuses is left to them.
    void savedFormReadDirectly_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("direct");
        Item odd{QStringLiteral("/a \"b\" \\c\td\n"),
                 QStringLiteral("\x01\x1f控制"),
                 false,
                 QStringLiteral("/i/😀.png"),
                 QStringLiteral("/w/é"),
                 QStringLiteral("-x=\"1\""),
                 false};
        QTest::newRow("saved sample") << serializeLayout(sampleGroups()) << true;
        QTest::newRow("saved escapes, CJK and emoji")
            << serializeLayout({Group{QStringLiteral("组 \"1\" \\ 😀"), {odd}}}) << true;
        QTest::newRow("compact, keys reordered")
            << QByteArray(R"({"groups":[{"items":[{"runAsAdmin":true,"path":"/p","hidden":true}],"name":"n"}]})")
            << true;
        QTest::newRow("spaces everywhere")
            << QByteArray(" \r\n{ \"groups\" :\t[ { \"name\" : \"a\" , \"items\" : [ ] } ] }\n ") << true;
        QTest::newRow("group without name or items") << QByteArray(R"({"groups":[{}]})") << true;
        QTest::newRow("empty path dropped")
            << QByteArray(R"({"groups":[{"items":[{"path":""},{"path":"/x"}]}]})") << true;
        QTest::newRow("escaped surrogate pair and slash")
            << QByteArray(R"({"groups":[{"name":"\ud83d\ude00\/\u00e9\b\f","items":[]}]})") << true;
        QTest::newRow("long name cut") << QByteArray("{\"groups\":[{\"name\":\"" + QByteArray(70, 'x') + "\"}]}")
                                       << true;
        QTest::newRow("no groups left") << QByteArray(R"({"groups":[]})") << true;
        QTest::newRow("saved market group")
            << serializeLayout({Group{"A", {}}, Group{"Tools", {}, kMarketGroupKind}}) << true;
        QTest::newRow("group kind not a string") << QByteArray(R"({"groups":[{"name":"a","kind":1}]})") << false;

        QTest::newRow("unknown item key") << QByteArray(R"({"groups":[{"items":[{"path":"/p","icon":""}]}]})") << false;
        QTest::newRow("unknown top key") << QByteArray(R"({"groups":[],"version":1})") << false;
        QTest::newRow("duplicate key") << QByteArray(R"({"groups":[{"name":"a","name":"b"}]})") << false;
        QTest::newRow("number") << QByteArray(R"({"groups":[{"items":[{"path":"/p","hidden":1}]}]})") << false;
        QTest::newRow("null") << QByteArray(R"({"groups":[{"name":null}]})") << false;
        QTest::newRow("item without path") << QByteArray(R"({"groups":[{"items":[{"name":"a"}]}]})") << false;
        QTest::newRow("group not an object") << QByteArray(R"({"groups":[5]})") << false;
        QTest::newRow("no groups key") << QByteArray(R"({})") << false;
        QTest::newRow("escaped NUL") << QByteArray(R"({"groups":[{"name":"a\u0000b"}]})") << false;
        QTest::newRow("lone high surrogate") << QByteArray(R"({"groups":[{"name":"\ud800x"}]})") << false;
        QTest::newRow("lone low surrogate") << QByteArray(R"({"groups":[{"name":"\udc00"}]})") << false;
        QTest::newRow("bad escape") << QByteArray(R"({"groups":[{"name":"\q"}]})") << false;
        QTest::newRow("short unicode escape") << QByteArray(R"({"groups":[{"name":"\u12"}]})") << false;
        QTest::newRow("invalid UTF-8") << QByteArray("{\"groups\":[{\"name\":\"\xff\"}]}") << false;
        QTest::newRow("overlong UTF-8") << QByteArray("{\"groups\":[{\"name\":\"\xc0\xaf\"}]}") << false;
        QTest::newRow("raw control character") << QByteArray("{\"groups\":[{\"name\":\"a\x01\"}]}") << false;
        QTest::newRow("trailing bytes") << QByteArray(R"({"groups":[]} x)") << false;
        QTest::newRow("truncated") << serializeLayout(sampleGroups()).chopped(40) << false;
        QTest::newRow("trailing comma") << QByteArray(R"({"groups":[{"name":"a"},]})") << false;
        QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbf{\"groups\":[]}") << false;
        QTest::newRow("capital True") << QByteArray(R"({"groups":[{"items":[{"path":"/p","hidden":True}]}]})") << false;
    }
    void savedFormReadDirectly()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, direct);
        QList<Group> groups = sampleGroups();
        QCOMPARE(parseSavedLayout(json, &groups), direct);
        if (!direct) {
            QCOMPARE(groups, sampleGroups());
            return;
        }
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(!layoutDropsData(doc.object()));
        QCOMPARE(groups, layoutFromJson(doc.object()));
    }

    // Right type, wrong shape, nothing readable: like a damaged file, the defaults are built and the file is
    // kept aside first, with a notice.
    void misshapenFiles_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("groups an object") << QByteArray(R"({"groups":{"a":{"items":[{"path":"/p"}]}}})");
        QTest::newRow("another format") << QByteArray(R"({"version":2,"data":{"groups":[{"name":"a"}]}})");
        QTest::newRow("no groups key") << QByteArray(R"({"other":1})");
        QTest::newRow("groups a string") << QByteArray(R"({"groups":"a,b"})");
    }
    void misshapenFiles()
    {
        QFETCH(QByteArray, json);
        StoreHarness h(QStringLiteral("shape-") + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(ktr::test::writeFile(h.store->layoutPath(), json));
        QList<Group> groups = sampleGroups();
        QVERIFY(!h.store->loadLayout(groups));
        QCOMPARE(groups, sampleGroups());
        const QString copy = QStringLiteral("layout.json.corrupt-20260115-100001-000");
        QCOMPARE(h.entries(), QStringList{copy});
        QCOMPARE(ktr::test::readFile(h.dir + QLatin1Char('/') + copy), json);
        h.runDeferred();
        QCOMPARE(h.toasts.size(), 1);
        QCOMPARE(h.toasts.first().text, kMisshapenNotice);
        QVERIFY(h.store->saveLayout(sampleGroups()));
        QCOMPARE(ktr::test::readFile(h.dir + QLatin1Char('/') + copy), json);
    }

    void defaultGroupNameFollowsLanguage()
    {
        Lang::setLanguage(1);
        QCOMPARE(layoutFromJson(QJsonObject()).first().name, Lang::tr("默认分组"));
        Lang::setLanguage(0);
    }

    // A damaged file is moved aside (a copy is kept), the model is left alone and one notice comes later.
    void damagedFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("{");
        QTest::newRow("garbage") << QByteArray("\x00\xff not json at all", 19);
        QTest::newRow("truncated") << serializeLayout(sampleGroups()).left(120);
        QTest::newRow("an array") << QByteArray("[]");
        QTest::newRow("a number") << QByteArray("42");
    }
    void damagedFiles()
    {
        QFETCH(QByteArray, content);
        StoreHarness h(QStringLiteral("damaged-") + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(ktr::test::writeFile(h.store->layoutPath(), content));
        ktr::test::LogCapture log;
        QList<Group> groups = sampleGroups();
        QVERIFY(!h.store->loadLayout(groups));
        QCOMPARE(groups, sampleGroups());

        const QString copy = QStringLiteral("layout.json.corrupt-20260115-100001-000");
        QCOMPARE(h.entries(), QStringList{copy});
        QCOMPARE(ktr::test::readFile(h.dir + QLatin1Char('/') + copy), content);
        QVERIFY(log.contains(QStringLiteral("corrupt config preserved: ") + h.store->layoutPath() + " -> " + h.dir +
                             "/" + copy + " ok = true"));

        QCOMPARE(h.deferred.size(), 1);
        QCOMPARE(h.deferred.first().delayMs, 3200);
        QVERIFY(h.toasts.isEmpty());
        h.runDeferred();
        QCOMPARE(h.toasts.size(), 1);
        QCOMPARE(h.toasts.first().text, kLayoutNotice);
        QCOMPARE(h.toasts.first().kind, 1);

        // The defaults may now be saved: the damaged content is kept aside.
        QVERIFY(h.store->saveLayout({Group{QStringLiteral("默认"), {}}}));
        QCOMPARE(ktr::test::readFile(h.dir + QLatin1Char('/') + copy), content);

        // A second damaged load in the same run is preserved again but not announced again.
        QVERIFY(ktr::test::writeFile(h.store->layoutPath(), content));
        QVERIFY(!h.store->loadLayout(groups));
        QCOMPARE(h.entries(), (QStringList{copy, copy + QStringLiteral("-0")}));
        QVERIFY(h.deferred.isEmpty());
    }

    void emptyFileStaysWithoutNotice()
    {
        StoreHarness h(QStringLiteral("empty"));
        QVERIFY(ktr::test::writeFile(h.store->layoutPath(), QByteArray()));
        QList<Group> groups = sampleGroups();
        QVERIFY(!h.store->loadLayout(groups));
        QCOMPARE(groups, sampleGroups());
        QCOMPARE(h.entries(), QStringList{"layout.json"});
        QVERIFY(h.deferred.isEmpty());
        QVERIFY(h.store->saveLayout(groups)); // nothing in it to lose
    }

    void missingFileIsSilent()
    {
        StoreHarness h(QStringLiteral("missing"));
        ktr::test::LogCapture log;
        QList<Group> groups;
        QVERIFY(!h.store->loadLayout(groups));
        QVERIFY(log.messages().isEmpty());
        QVERIFY(h.deferred.isEmpty());
        QVERIFY(h.store->saveLayout(sampleGroups()));
    }

    // A settings file found damaged first takes the one notice of the run.
    void oneNoticeForBothFiles()
    {
        StoreHarness h(QStringLiteral("both"));
        QVERIFY(ktr::test::writeFile(h.store->settingsPath(), "{\"iconSize\": "));
        QVERIFY(ktr::test::writeFile(h.store->layoutPath(), "{"));
        AppSettings s;
        QSize size;
        h.store->loadSettings(s, size);
        QList<Group> groups;
        QVERIFY(!h.store->loadLayout(groups));
        QCOMPARE(h.entries().filter(QStringLiteral(".corrupt-")).size(), 2);
        QCOMPARE(h.deferred.size(), 1);
        QCOMPARE(h.deferred.first().delayMs, 3000);
        h.runDeferred();
        QCOMPARE(h.toasts.size(), 1);
        QCOMPARE(h.toasts.first().text, kSettingsNotice);
    }

    // A file that exists but can't be read is neither replaced by defaults nor moved.
    void unreadableFileIsNotOverwritten()
    {
        StoreHarness h(QStringLiteral("folder"));
        QVERIFY(ktr::test::writeFile(h.store->layoutPath() + QStringLiteral("/keep"), "user data"));
        ktr::test::LogCapture log;
        QList<Group> groups;
        QVERIFY(!h.store->loadLayout(groups));
        QVERIFY(h.store->isProtected(h.store->layoutPath()));
        // Told at start, not only when the first save fails.
        QCOMPARE(h.deferred.size(), 1);
        h.runDeferred();
        QCOMPARE(h.toasts.size(), 1);
        QCOMPARE(h.toasts.first().text, QStringLiteral("布局文件无法读取，本次运行不会覆盖它；请检查该文件"));
        QVERIFY(!h.store->saveLayout(sampleGroups()));
        QVERIFY(log.contains(QStringLiteral("config save failed: ") + h.store->layoutPath()));
        QCOMPARE(h.toasts.size(), 2);
        QCOMPARE(h.toasts.last().text, QStringLiteral("分组布局写入失败"));
        QCOMPARE(h.entries(), QStringList{"layout.json"});
        QCOMPARE(ktr::test::readFile(h.store->layoutPath() + QStringLiteral("/keep")), QByteArray("user data"));
    }

    void writeFailures_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("folder where the file should be") << QStringLiteral("folder");
        QTest::newRow("data folder below a regular file") << QStringLiteral("below-file");
    }
    void writeFailures()
    {
        QFETCH(QString, setup);
        StoreHarness h(QStringLiteral("wfail-") + setup);
        if (setup == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(h.store->layoutPath()));
        } else {
            QVERIFY(ktr::test::writeFile(h.dir + QStringLiteral("/plain"), "x"));
            h.store = std::make_unique<ConfigStore>(h.dir + QStringLiteral("/plain/data"));
            h.store->setClock(&h.clock);
            h.store->setToastHandler([&h](const QString& t, int k) { h.toasts.append({t, k}); });
        }
        const QString path = h.store->layoutPath();
        ktr::test::LogCapture log;
        QVERIFY(!h.store->saveLayout(sampleGroups()));
        h.clock.advance(4999);
        QVERIFY(!h.store->saveLayout(sampleGroups()));
        QCOMPARE(log.count(QStringLiteral("config save failed: ") + path + QStringLiteral(" 分组布局写入失败")), 2);
        QCOMPARE(h.toasts.size(), 1);
        QCOMPARE(h.toasts.first().kind, 1);
        h.clock.advance(1);
        QVERIFY(!h.store->saveLayout(sampleGroups()));
        QCOMPARE(h.toasts.size(), 2);
        if (setup == QLatin1String("folder"))
            QVERIFY(QFileInfo(path).isDir());
    }

    // A large layout is written on the writer thread while the caller goes on; what is asked for meanwhile
    // is coalesced into one write of the latest layout, small ones included, so nothing lands out of order.
    void largeLayoutWrittenBehindTheCaller()
    {
        StoreHarness h(QStringLiteral("background"));
        const QString path = h.store->layoutPath();
        WriteGate gate;
        QVERIFY(h.store->saveLayoutSoon(largeGroups(QStringLiteral("A"))));
        QVERIFY(gate.waitStarted(1)); // held on the writer thread while this one goes on
        QVERIFY(h.store->layoutSavesPending());
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(h.store->saveLayoutSoon(largeGroups(QStringLiteral("B"))));
        QVERIFY(h.store->saveLayoutSoon(sampleGroups())); // small, but behind the others
        QVERIFY(!QFileInfo::exists(path));
        gate.open();
        QVERIFY(h.store->waitForLayoutSaves());
        QVERIFY(!h.store->layoutSavesPending());
        QCOMPARE(gate.started(), 2); // A, then the latest; B never
        QList<Group> loaded;
        QVERIFY(h.store->loadLayout(loaded));
        QCOMPARE(loaded, sampleGroups());

        // Idle again: a small layout is written at once, a large one unchanged since its hand-over not again.
        const QList<Group> large = largeGroups(QStringLiteral("C"));
        QVERIFY(h.store->saveLayoutSoon(large));
        QVERIFY(h.store->waitForLayoutSaves());
        QCOMPARE(firstGroupName(path), QStringLiteral("C"));
        QVERIFY(h.store->saveLayoutSoon(large));
        QVERIFY(h.store->waitForLayoutSaves());
        QCOMPARE(gate.started(), 3);
        QVERIFY(h.store->saveLayoutSoon(sampleGroups()));
        QCOMPARE(firstGroupName(path), QStringLiteral("常用"));
        QVERIFY(h.toasts.isEmpty());
    }

    // A large layout read from a file in the saved form is that file: saving it unchanged (the quit of a start
    // without an edit) writes nothing. Another spelling of it, or a change, is written; an edit that leaves the
    // file's size as it was too.
    void loadedLayoutNotRewrittenUnchanged_data()
    {
        QTest::addColumn<bool>("compact");
        QTest::addColumn<QString>("rename"); // the first item's new name; empty: no edit
        QTest::addColumn<int>("writes");
        QTest::newRow("saved form, unchanged") << false << QString() << 0;
        QTest::newRow("saved form, changed") << false << QStringLiteral("changed") << 1;
        QTest::newRow("saved form, one character changed, same size") << false << QStringLiteral("file X") << 1;
        QTest::newRow("another spelling, unchanged") << true << QString() << 1;
    }
    void loadedLayoutNotRewrittenUnchanged()
    {
        QFETCH(bool, compact);
        QFETCH(QString, rename);
        QFETCH(int, writes);
        StoreHarness h(QStringLiteral("loaded-unchanged"));
        const QList<Group> large = largeGroups(QStringLiteral("A"));
        const QByteArray bytes =
            compact ? QJsonDocument(layoutToJson(large)).toJson(QJsonDocument::Compact) : serializeLayout(large);
        QVERIFY(ktr::test::writeFile(h.store->layoutPath(), bytes));
        h.restart();
        QList<Group> loaded;
        QVERIFY(h.store->loadLayout(loaded));
        QCOMPARE(loaded, large);
        if (!rename.isEmpty()) {
            QVERIFY(loaded[0].items[0].name != rename);
            loaded[0].items[0].name = rename;
        }
        WriteGate gate;
        gate.open();
        QVERIFY(h.store->saveLayoutSoon(loaded));
        QVERIFY(h.store->waitForLayoutSaves());
        QCOMPARE(gate.started(), writes);
        ConfigStore::LayoutRead read = ConfigStore::readLayoutFile(h.store->layoutPath());
        QCOMPARE(read.groups, loaded);
    }

    // A background write that fails is told as a direct one is, once the writer is done, through the event
    // loop or a wait; the same layout is then written again on the next save.
    void failedBackgroundWriteIsReported()
    {
        StoreHarness h(QStringLiteral("background-fail"));
        const QString path = h.store->layoutPath();
        QVERIFY(QDir().mkpath(path)); // a folder where the file should be
        ktr::test::LogCapture log;
        const QList<Group> large = largeGroups(QStringLiteral("A"));
        QVERIFY(h.store->saveLayoutSoon(large));
        QTRY_COMPARE(h.toasts.size(), 1);
        QCOMPARE(h.toasts.first().text, QStringLiteral("分组布局写入失败"));
        QCOMPARE(h.toasts.first().kind, 1);
        QVERIFY(log.contains(QStringLiteral("config save failed: ") + path + QStringLiteral(" 分组布局写入失败")));
        QVERIFY(QDir(path).removeRecursively());
        QVERIFY(h.store->saveLayoutSoon(large));
        QVERIFY(h.store->waitForLayoutSaves());
        QCOMPARE(firstGroupName(path), QStringLiteral("A"));
    }

    // A write still held when the store goes is finished first; a wait with a budget gives up in time.
    void pendingWriteOutlivesTheWait()
    {
        StoreHarness h(QStringLiteral("background-end"));
        const QString path = h.store->layoutPath();
        {
            WriteGate gate;
            QVERIFY(h.store->saveLayoutSoon(largeGroups(QStringLiteral("A"))));
            QVERIFY(gate.waitStarted(1));
            QVERIFY(!h.store->waitForLayoutSaves(20));
            QVERIFY(h.store->layoutSavesPending());
            gate.open();
            h.store.reset(); // waits for the write let go just now
            QVERIFY(QFileInfo::exists(path));
        }
        QCOMPARE(firstGroupName(path), QStringLiteral("A"));
    }

    void reportSaveFailureThrottlesPerPath()
    {
        StoreHarness h(QStringLiteral("report"));
        ktr::test::LogCapture log;
        h.store->reportSaveFailure(QStringLiteral("/a"), QString());
        h.store->reportSaveFailure(QStringLiteral("/b"), QStringLiteral("m"));
        h.clock.advance(100);
        h.store->reportSaveFailure(QStringLiteral("/a"), QString());
        QCOMPARE(log.count(QStringLiteral("config save failed:")), 3);
        QCOMPARE(h.toasts.size(), 2);
        QCOMPARE(h.toasts.at(0).text, QStringLiteral("保存失败：无法写入配置文件"));
        QCOMPARE(h.toasts.at(1).text, QStringLiteral("m"));
    }

    void preserveNamesWithinOneMillisecond()
    {
        StoreHarness h(QStringLiteral("preserve"));
        const QString path = h.dir + QStringLiteral("/settings.json");
        const QString base = path + QStringLiteral(".corrupt-20260115-100001-000");
        for (const QString& expected : {base, base + "-0", base + "-1"}) {
            QVERIFY(ktr::test::writeFile(path, "{"));
            QVERIFY(h.store->preserveCorruptFile(path));
            QVERIFY(QFileInfo::exists(expected));
            QVERIFY(!QFileInfo::exists(path));
        }
        QVERIFY(!h.store->preserveCorruptFile(path)); // nothing there
        QVERIFY(!h.store->preserveCorruptFile(QString()));
        h.clock.advance(1);
        QVERIFY(ktr::test::writeFile(path, "{"));
        QVERIFY(h.store->preserveCorruptFile(path));
        QVERIFY(QFileInfo::exists(path + QStringLiteral(".corrupt-20260115-100001-001")));
    }

    // After all hundred suffixes are taken, nothing is overwritten and the file is protected.
    void preserveGivesUpWhenEveryNameIsTaken()
    {
        StoreHarness h(QStringLiteral("taken"));
        const QString base = h.store->layoutPath() + QStringLiteral(".corrupt-20260115-100001-000");
        QVERIFY(ktr::test::writeFile(base, "old"));
        for (int n = 0; n <= 99; ++n)
            QVERIFY(ktr::test::writeFile(base + "-" + QString::number(n), "old"));
        QVERIFY(ktr::test::writeFile(h.store->layoutPath(), "{"));
        ktr::test::LogCapture log;
        QList<Group> groups;
        QVERIFY(!h.store->loadLayout(groups));
        QVERIFY(log.contains(QStringLiteral("ok = false")));
        QCOMPARE(ktr::test::readFile(base + QStringLiteral("-99")), QByteArray("old"));
        // The notice says no copy was made rather than claiming one.
        h.runDeferred();
        QCOMPARE(h.toasts.size(), 1);
        QCOMPARE(h.toasts.first().text, QStringLiteral("布局文件已损坏，且未能保留副本；本次运行不会覆盖它"));
        h.toasts.clear();
        QVERIFY(!h.store->saveLayout(sampleGroups()));
        QCOMPARE(ktr::test::readFile(h.store->layoutPath()), QByteArray("{"));
    }

    void legacyWritePathsMoveToWordpad()
    {
        StoreHarness h(QStringLiteral("wordpad"));
        const QByteArray json = R"({"groups":[{"name":"a","items":[{"path":"C:\\Windows\\WRITE.EXE"},{"path":"/x"}]},
                                              {"name":"b","items":[{"path":"D:/old/write.exe"}]}]})";
        QVERIFY(ktr::test::writeFile(h.store->layoutPath(), json));
        QList<Group> groups;
        qunsetenv("ProgramFiles");
        QVERIFY(h.store->loadLayout(groups));
        QCOMPARE(groups.at(0).items.at(0).path, QStringLiteral("C:\\Windows\\WRITE.EXE"));
        QCOMPARE(ktr::test::readFile(h.store->layoutPath()), json); // nothing changed, nothing saved

        const QString programFiles = ktr::test::freshDir(QStringLiteral("programfiles"));
        const QString wordpad = programFiles + QStringLiteral("/Windows NT/Accessories/wordpad.exe");
        QVERIFY(ktr::test::writeFile(wordpad, "MZ"));
        qputenv("ProgramFiles", programFiles.toUtf8());
        QVERIFY(h.store->loadLayout(groups));
        qunsetenv("ProgramFiles");
        QCOMPARE(groups.at(0).items.at(0).path, wordpad);
        QCOMPARE(groups.at(0).items.at(1).path, QStringLiteral("/x"));
        QCOMPARE(groups.at(1).items.at(0).path, wordpad);
        QCOMPARE(ktr::test::readFile(h.store->layoutPath()), serializeLayout(groups));
    }
};

KTR_TEST_MAIN(TestLayoutFile)
#include "tst_layoutfile.moc"
