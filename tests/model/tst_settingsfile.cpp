#include "logcapture.h"
#include "model/settingsfile.h"
#include "storeharness.h"
#include "ui/lang.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>

using ktr::test::StoreHarness;

using IntGetter = std::function<int(const AppSettings&)>;
Q_DECLARE_METATYPE(IntGetter)

namespace {

AppSettings load(const QJsonObject& object, QSize* size = nullptr)
{
    AppSettings s;
    QSize dummy;
    settingsFromJson(object, s, size ? *size : dummy);
    return s;
}

AppSettings changedRecord()
{
    AppSettings s;
    s.startPinned = true;
    s.iconSize = 72;
    s.language = 1;
    s.titleBarCustomRgb = 0x123456;
    s.customTitle = QStringLiteral("我的面板");
    s.summonHotkey = QString();
    s.btnVisible[4] = false;
    s.btnIconsNight[10] = QStringLiteral("/n.png");
    s.btnLayoutTitle = {0, 1, 9};
    s.btnLayoutBottom = {10, 9, 8, 7, 6, 5, 2, 3, 4};
    s.obfuscateMap = {{QStringLiteral("b"), QStringLiteral("2")}, {QStringLiteral("a"), QStringLiteral("1")}};
    s.progUnlockEpoch = -3;
    s.backupLastAt = QStringLiteral("2026-01-15T10:00:00");
    return s;
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { Lang::setLanguage(0); }
    void cleanup() { Lang::setLanguage(0); }

    // Every clamped or masked key, on both sides of each bound, and values of the wrong kind.
    void clamps_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<IntGetter>("get");
        QTest::addColumn<int>("expected");
        struct Range
        {
            const char* key;
            IntGetter get;
            int min, max;
        };
#define G(field) IntGetter([](const AppSettings& s) { return s.field; })
        const Range ranges[] = {
            {"iconSize", G(iconSize), 32, 96},
            {"iconSizePortrait", G(iconSizePortrait), 32, 60},
            {"cornerRadius", G(cornerRadius), 0, 24},
            {"snapRevealPx", G(snapRevealPx), 0, 24},
            {"revealMethod", G(revealMethod), 0, 4},
            {"opacity", G(opacity), 0, 100},
            {"titleBarOpacity", G(titleBarOpacity), 0, 100},
            {"bottomBarOpacity", G(bottomBarOpacity), 0, 100},
            {"midOpacity", G(midOpacity), 0, 100},
            {"bgImageOpacity", G(bgImageOpacity), 0, 100},
            {"bgImageOpacityPortrait", G(bgImageOpacityPortrait), 0, 100},
            {"borderOpacity", G(borderOpacity), 0, 100},
            {"textOpacity", G(textOpacity), 0, 100},
            {"dividerOpacity", G(dividerOpacity), 0, 100},
            {"hoverOpacity", G(hoverOpacity), 0, 100},
            {"titleBarColor", G(titleBarColor), 0, 6},
            {"bottomBarColor", G(bottomBarColor), 0, 6},
            {"midColor", G(midColor), 0, 6},
            {"borderColor", G(borderColor), 0, 6},
            {"textColor", G(textColor), 0, 6},
            {"dividerColor", G(dividerColor), 0, 6},
            {"hoverColor", G(hoverColor), 0, 6},
            {"dividerWidth", G(dividerWidth), 0, 4},
            {"monitorMaxMB", G(monitorMaxMB), 10, 512},
            {"monitorIdleSec", G(monitorIdleSec), 10, 600},
            {"monitorTrigger", G(monitorTrigger), 0, 2},
            {"monitorFps", G(monitorFps), 2, 60},
            {"backupIntervalDays", G(backupIntervalDays), 1, 30},
            {"backupRetain", G(backupRetain), 10, 100},
            // Flags: 1 when above 0, else 0.
            {"language", G(language), 0, 1},
            {"updateChannel", G(updateChannel), 0, 1},
            {"hoverMode", G(hoverMode), 0, 1},
            {"monitorFormat", G(monitorFormat), 0, 1},
        };
        const AppSettings defaults;
        for (const Range& r : ranges) {
            auto row = [&](const char* what, QJsonValue v, int expected) {
                QTest::addRow("%s %s", r.key, what) << QString::fromLatin1(r.key) << v << r.get << expected;
            };
            row("below min", r.min - 1, r.min);
            row("at min", r.min, r.min);
            row("at max", r.max, r.max);
            row("above max", r.max + 1, r.max);
            row("far above", 1e12, r.max);
            row("fraction", r.min + 0.5, r.get(defaults));
            row("string", QStringLiteral("7"), r.get(defaults));
            row("null", QJsonValue(), r.get(defaults));
        }
        const Range masks[] = {
            {"titleBarCustomRgb", G(titleBarCustomRgb), 0, 0}, {"bottomBarCustomRgb", G(bottomBarCustomRgb), 0, 0},
            {"midCustomRgb", G(midCustomRgb), 0, 0},           {"borderCustomRgb", G(borderCustomRgb), 0, 0},
            {"textCustomRgb", G(textCustomRgb), 0, 0},         {"dividerCustomRgb", G(dividerCustomRgb), 0, 0},
            {"hoverCustomRgb", G(hoverCustomRgb), 0, 0},
        };
        for (const Range& r : masks) {
            QTest::addRow("%s -1", r.key) << QString::fromLatin1(r.key) << QJsonValue(-1) << r.get << 0xFFFFFF;
            QTest::addRow("%s 0x1ABCDEF", r.key)
                << QString::fromLatin1(r.key) << QJsonValue(0x1ABCDEF) << r.get << 0xABCDEF;
            QTest::addRow("%s 0", r.key) << QString::fromLatin1(r.key) << QJsonValue(0) << r.get << 0;
            QTest::addRow("%s bool", r.key)
                << QString::fromLatin1(r.key) << QJsonValue(true) << r.get << r.get(defaults);
        }
        QTest::newRow("progUnlockEpoch negative") << "progUnlockEpoch" << QJsonValue(-7) << G(progUnlockEpoch) << -7;
        QTest::newRow("progUnlockEpoch large")
            << "progUnlockEpoch" << QJsonValue(2000000000) << G(progUnlockEpoch) << 2000000000;
        QTest::newRow("progUnlockEpoch beyond int") << "progUnlockEpoch" << QJsonValue(3e9) << G(progUnlockEpoch) << 0;
#undef G
    }
    void clamps()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(IntGetter, get);
        QFETCH(int, expected);
        QCOMPARE(get(load(QJsonObject{{key, value}})), expected);
    }

    void emptyObjectGivesDefaults()
    {
        QSize size(1, 2);
        QCOMPARE(load(QJsonObject(), &size), AppSettings());
        QCOMPARE(size, QSize(1, 2));
    }

    void strings()
    {
        const AppSettings s = load(QJsonObject{{"customTitle", QString(30, QLatin1Char('t'))},
                                               {"summonHotkey", ""},
                                               {"fontFamily", 5},
                                               {"monitorDir", "/rec"}});
        QCOMPARE(s.customTitle, QString(24, QLatin1Char('t')));
        QCOMPARE(s.summonHotkey, QString());
        QCOMPARE(s.fontFamily, QString());
        QCOMPARE(s.monitorDir, QStringLiteral("/rec"));
        QCOMPARE(load(QJsonObject{{"summonHotkey", 3}}).summonHotkey, QStringLiteral("Ctrl+Alt+G"));
    }

    void buttonArrays()
    {
        const AppSettings s = load(
            QJsonObject{{"btnVisible", QJsonArray{false, false, false}},
                        {"btnIcons", QJsonArray{"/a.png", 7}},
                        {"btnIconsHover", QJsonArray{"", "", "", "", "", "", "", "", "", "", "/k.png", "/extra.png"}}});
        QCOMPARE(s.btnVisible[0], false);
        QCOMPARE(s.btnVisible[1], true); // the settings button can't be hidden
        QCOMPARE(s.btnVisible[2], false);
        for (int i = 3; i < AppSettings::kButtonCount; ++i)
            QCOMPARE(s.btnVisible[size_t(i)], true);
        QCOMPARE(s.btnIcons[0], QStringLiteral("/a.png"));
        QCOMPARE(s.btnIcons[1], QString());
        QCOMPARE(s.btnIconsHover[10], QStringLiteral("/k.png"));
        // Entries past a short array keep what the record held.
        AppSettings kept;
        kept.btnIcons[5] = QStringLiteral("/five.png");
        QSize size;
        settingsFromJson(QJsonObject{{"btnIcons", QJsonArray{"/zero.png"}}}, kept, size);
        QCOMPARE(kept.btnIcons[0], QStringLiteral("/zero.png"));
        QCOMPARE(kept.btnIcons[5], QStringLiteral("/five.png"));
    }

    void buttonLayoutsAreNormalised()
    {
        const AppSettings s = load(
            QJsonObject{{"btnLayoutTitle", QJsonArray{3, 3, "x", 99, 0}}, {"btnLayoutBottom", QJsonArray{-1, 12}}});
        QCOMPARE(s.btnLayoutTitle, (QList<int>{3, 0, 1, 2, 4}));
        QCOMPARE(s.btnLayoutBottom, (QList<int>{8, 10, 9, 5, 6, 7}));
    }

    void geometry_data()
    {
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("two entries") << QJsonValue(QJsonArray{800, 600}) << QSize(800, 600);
        QTest::newRow("one entry") << QJsonValue(QJsonArray{800}) << QSize(1, 2);
        QTest::newRow("three entries") << QJsonValue(QJsonArray{800, 600, 1}) << QSize(1, 2);
        QTest::newRow("not an array") << QJsonValue(QStringLiteral("800x600")) << QSize(1, 2);
        QTest::newRow("bad entry") << QJsonValue(QJsonArray{800, "h"}) << QSize(800, 0);
    }
    void geometry()
    {
        QFETCH(QJsonValue, value);
        QFETCH(QSize, expected);
        QSize size(1, 2);
        load(QJsonObject{{"geometry", value}}, &size);
        QCOMPARE(size, expected);
    }

    void legacyPasswordKey()
    {
        StoreHarness h(QStringLiteral("legacy"));
        QVERIFY(
            ktr::test::writeFile(h.store->settingsPath(), R"({"uiPasswordHash": "old", "protectPasswordHash": ""})"));
        AppSettings s;
        QSize size;
        h.store->loadSettings(s, size);
        QCOMPARE(s.protectPasswordHash, QStringLiteral("old"));
        QVERIFY(h.store->saveSettings(s, size));
        const QJsonObject saved = QJsonDocument::fromJson(ktr::test::readFile(h.store->settingsPath())).object();
        QCOMPARE(saved.value("protectPasswordHash").toString(), QStringLiteral("old"));
        QVERIFY(!saved.contains("uiPasswordHash"));
        // The current key wins over the old one.
        QCOMPARE(load(QJsonObject{{"uiPasswordHash", "old"}, {"protectPasswordHash", "new"}}).protectPasswordHash,
                 QStringLiteral("new"));
    }

    void obfuscateMap()
    {
        AppSettings s = load(QJsonObject{{"obfuscateMap", QJsonObject{{"b", "2"}, {"a", 1}}}});
        QCOMPARE(s.obfuscateMap, (QMap<QString, QString>{{"a", ""}, {"b", "2"}}));
        QSize size;
        settingsFromJson(QJsonObject(), s, size); // a missing map empties it
        QVERIFY(s.obfuscateMap.isEmpty());
    }

    // Loading again over a changed record: scalars missing from the file go back to their defaults,
    // arrays missing from it keep what the record holds.
    void reloadOverwritesScalarsKeepsArrays()
    {
        AppSettings s = changedRecord();
        QSize size(640, 480);
        settingsFromJson(QJsonObject{{"opacity", 40}}, s, size);
        QCOMPARE(s.opacity, 40);
        QCOMPARE(s.iconSize, 50);
        QCOMPARE(s.startPinned, false);
        QCOMPARE(s.customTitle, QString());
        QCOMPARE(s.btnVisible[4], false);
        QCOMPARE(s.btnIconsNight[10], QStringLiteral("/n.png"));
        QCOMPARE(size, QSize(640, 480));
    }

    void saveWritesEveryKeySortedAndStable()
    {
        StoreHarness h(QStringLiteral("save"));
        const AppSettings s = changedRecord();
        QVERIFY(h.store->saveSettings(s, QSize(900, 700)));
        const QByteArray first = ktr::test::readFile(h.store->settingsPath());
        QVERIFY(h.store->saveSettings(s, QSize(900, 700)));
        QCOMPARE(ktr::test::readFile(h.store->settingsPath()), first);

        const QJsonObject o = QJsonDocument::fromJson(first).object();
        QCOMPARE(o.size(), 81); // every field and "geometry"
        QCOMPARE(o.value("geometry").toArray(), (QJsonArray{900, 700}));
        QCOMPARE(o.value("btnVisible").toArray().size(), 11);
        QCOMPARE(o.value("btnIconsNight").toArray().size(), 11);
        // One member per line, four spaces deep, keys ascending.
        QStringList keys;
        for (const QByteArray& line : first.split('\n')) {
            if (line.startsWith("    \"") && !line.startsWith("     "))
                keys << QString::fromUtf8(line.mid(5, line.indexOf('"', 5) - 5));
        }
        QCOMPARE(keys.size(), 81);
        QStringList sorted = keys;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(keys, sorted);

        AppSettings loaded;
        QSize size;
        h.store->loadSettings(loaded, size);
        QCOMPARE(loaded, s);
        QCOMPARE(size, QSize(900, 700));
        QCOMPARE(Lang::language(), 1); // the language is applied as it is read
    }

    void damagedAndUnusableFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("preserved");
        QTest::addColumn<bool>("notice");
        QTest::addColumn<QString>("text");
        const QString damaged = "设置文件已损坏，已保留副本并使用默认值；可从「备份与恢复」还原最近快照";
        const QString misshapen = "设置文件含有无法识别的内容，已保留副本并使用默认值；可从「备份与恢复」还原最近快照";
        QTest::newRow("not JSON") << QByteArray("{\"iconSize\": 60,") << true << true << damaged;
        QTest::newRow("truncated") << serializeSettings(changedRecord(), QSize(1, 1)).left(200) << true << true
                                   << damaged;
        QTest::newRow("an array") << QByteArray("[{\"iconSize\": 60}]") << true << true << damaged;
        QTest::newRow("empty") << QByteArray() << false << false << QString();
        QTest::newRow("another format") << QByteArray(R"({"version":2,"data":{"iconSize":60}})") << true << true
                                        << misshapen;
        QTest::newRow("every key of the wrong type")
            << QByteArray(R"({"iconSize":"60","darkTheme":"yes","language":[1],"geometry":{"w":5}})") << true << true
            << misshapen;
    }
    void damagedAndUnusableFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, preserved);
        QFETCH(bool, notice);
        QFETCH(QString, text);
        StoreHarness h(QStringLiteral("sdamaged-") + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(ktr::test::writeFile(h.store->settingsPath(), content));
        AppSettings s;
        QSize size(5, 5);
        h.store->loadSettings(s, size);
        QCOMPARE(s, AppSettings());
        QCOMPARE(size, QSize(5, 5));
        const QString copy = QStringLiteral("settings.json.corrupt-20260115-100001-000");
        QCOMPARE(h.entries(), preserved ? QStringList{copy} : QStringList{"settings.json"});
        if (preserved)
            QCOMPARE(ktr::test::readFile(h.dir + "/" + copy), content);
        QCOMPARE(h.deferred.size(), notice ? 1 : 0);
        if (notice) {
            QCOMPARE(h.deferred.first().delayMs, 3000);
            Lang::setLanguage(1);
            h.runDeferred(); // translated when shown
            QCOMPARE(h.toasts.size(), 1);
            QCOMPARE(h.toasts.first().text, Lang::tr(text.toUtf8().constData()));
            QVERIFY(h.toasts.first().text != text); // English
            QCOMPARE(h.toasts.first().kind, 1);
        }
        QVERIFY(h.store->saveSettings(s, size));
    }

    // A value the reader can't use is not dropped in silence: the file is copied aside before any save replaces
    // it, each key is logged and named in the notice, the rest of the file is read. An unreadable protection
    // hash keeps the protection on.
    void unusableValuesAreKeptAndNamed_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<bool>("reported");
        const QString slowHash = QStringLiteral("pbkdf2$5000000$73616c74$") + QString(64, QLatin1Char('a'));
        const QString bigKey = QStringLiteral("pbkdf2$1$73616c74$") + QString(40000, QLatin1Char('a'));
        QTest::newRow("recorder size as text") << "monitorMaxMB" << QJsonValue("100") << true;
        QTest::newRow("recorder fps 0") << "monitorFps" << QJsonValue(0) << true;
        QTest::newRow("recorder folder as number") << "monitorDir" << QJsonValue(5) << true;
        QTest::newRow("backup retain 500") << "backupRetain" << QJsonValue(500) << true;
        QTest::newRow("backup auto as text") << "backupAuto" << QJsonValue("yes") << true;
        QTest::newRow("update channel 2") << "updateChannel" << QJsonValue(2) << true;
        QTest::newRow("skipped version as array") << "skippedVersion" << QJsonValue(QJsonArray{1}) << true;
        QTest::newRow("epoch beyond int") << "progUnlockEpoch" << QJsonValue(3e9) << true;
        QTest::newRow("obfuscation as number") << "obfuscateEnabled" << QJsonValue(1) << true;
        QTest::newRow("obfuscation map as array") << "obfuscateMap" << QJsonValue(QJsonArray{}) << true;
        QTest::newRow("obfuscation map entry as number") << "obfuscateMap" << QJsonValue(QJsonObject{{"a", 1}}) << true;
        QTest::newRow("visible buttons of numbers") << "btnVisible" << QJsonValue(QJsonArray{1, 0}) << true;
        QTest::newRow("button icons as text") << "btnIcons" << QJsonValue("x.png") << true;
        QTest::newRow("title bar layout with text") << "btnLayoutTitle" << QJsonValue(QJsonArray{0, "a"}) << true;
        QTest::newRow("bottom bar layout with 11") << "btnLayoutBottom" << QJsonValue(QJsonArray{8, 11}) << true;
        QTest::newRow("password hash as number") << "protectPasswordHash" << QJsonValue(42) << true;
        QTest::newRow("password hash of 5,000,000 rounds") << "protectPasswordHash" << QJsonValue(slowHash) << true;
        QTest::newRow("password hash with a 20 KB key") << "protectPasswordHash" << QJsonValue(bigKey) << true;
        QTest::newRow("older password hash as number") << "uiPasswordHash" << QJsonValue(42) << true;
        QTest::newRow("title too long") << "customTitle" << QJsonValue(QString(30, QLatin1Char('t'))) << true;
        // Values read as they are: nothing to keep aside.
        QTest::newRow("backup retain 50") << "backupRetain" << QJsonValue(50) << false;
        QTest::newRow("password hash as written")
            << "protectPasswordHash" << QJsonValue(QStringLiteral("pbkdf2$100000$73616c74$") + QString(64, 'a'))
            << false;
        QTest::newRow("bottom bar layout") << "btnLayoutBottom" << QJsonValue(QJsonArray{8, 9, 10}) << false;
    }
    void unusableValuesAreKeptAndNamed()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(bool, reported);
        StoreHarness h(QStringLiteral("sunusable-") + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        const QByteArray content =
            QJsonDocument(QJsonObject{{"iconSize", 60}, {"uiLocked", true}, {key, value}}).toJson();
        QVERIFY(ktr::test::writeFile(h.store->settingsPath(), content));
        ktr::test::LogCapture log;
        AppSettings s;
        QSize size;
        h.store->loadSettings(s, size);
        QCOMPARE(s.iconSize, 60); // the rest of the file is read
        QVERIFY(s.uiLocked);
        const QString copy = QStringLiteral("settings.json.corrupt-20260115-100001-000");
        QCOMPARE(h.entries(), reported ? QStringList({"settings.json", copy}) : QStringList{"settings.json"});
        QCOMPARE(log.count(QStringLiteral("settings value not usable, default taken: ") + key), reported ? 1 : 0);
        if (key.contains(QLatin1String("PasswordHash")) && reported) {
            QVERIFY(!s.protectPasswordHash.isEmpty());
            QCOMPARE(s.protectPasswordHash, QStringLiteral("unreadable"));
        }
        if (!reported) {
            QVERIFY(h.deferred.isEmpty());
            return;
        }
        QCOMPARE(ktr::test::readFile(h.dir + "/" + copy), content);
        h.runDeferred();
        QCOMPARE(h.toasts.size(), 1);
        QVERIFY2(h.toasts.first().text.endsWith(key), qPrintable(h.toasts.first().text));
        // Saved and read again: the replacement is read as it is, with no second copy.
        QVERIFY(h.store->saveSettings(s, size));
        h.restart();
        AppSettings again;
        h.store->loadSettings(again, size);
        QCOMPARE(again, s);
        QCOMPARE(h.entries().size(), 2);
        QVERIFY(h.deferred.isEmpty());
    }

    void folderInPlaceIsLeftAlone()
    {
        StoreHarness h(QStringLiteral("sfolder"));
        QVERIFY(ktr::test::writeFile(h.store->settingsPath() + QStringLiteral("/keep"), "data"));
        AppSettings s;
        QSize size;
        h.store->loadSettings(s, size);
        QCOMPARE(s, AppSettings());
        // Told at start, not only by the failed save at quit.
        QCOMPARE(h.deferred.size(), 1);
        h.runDeferred();
        QCOMPARE(h.toasts.size(), 1);
        QCOMPARE(h.toasts.first().text, QStringLiteral("设置文件无法读取，本次运行不会覆盖它；请检查该文件"));
        h.toasts.clear();
        ktr::test::LogCapture log;
        QVERIFY(!h.store->saveSettings(s, size));
        QVERIFY(log.contains(QStringLiteral("config save failed: ") + h.store->settingsPath() + " 设置文件写入失败"));
        QCOMPARE(h.toasts.size(), 1);
        QCOMPARE(ktr::test::readFile(h.store->settingsPath() + QStringLiteral("/keep")), QByteArray("data"));
    }

    void themeToggleFlipsAndSaves()
    {
        StoreHarness h(QStringLiteral("theme"));
        AppSettings s;
        h.store->toggleTheme(s, QSize(300, 200));
        QVERIFY(s.darkTheme);
        AppSettings loaded;
        QSize size;
        h.store->loadSettings(loaded, size);
        QVERIFY(loaded.darkTheme);
        h.store->toggleTheme(s, QSize(300, 200));
        QVERIFY(!s.darkTheme);
        h.store->loadSettings(loaded, size);
        QVERIFY(!loaded.darkTheme);
    }
};

KTR_TEST_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
