// Checks over the compiled-in translation table itself.

#include "logcapture.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QRegularExpression>
#include <QSet>

namespace {

QStringList placeholders(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("%[1-9]"));
    QStringList found;
    for (auto it = re.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    found.sort();
    return found;
}

} // namespace

class TestLangTable : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Must run first: the map is built once per process, on the first lookup in English mode.
    void buildingTheMapLogsNothing()
    {
        ktr::test::LogCapture log;
        Lang::setLanguage(1);
        QCOMPARE(Lang::tr(QStringLiteral("设置")), QStringLiteral("Settings"));
        Lang::setLanguage(0);
        QVERIFY2(log.messages().isEmpty(), qPrintable(log.messages().join(QLatin1Char('\n'))));
    }

    void everyPairIsSound_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("english");
        int count = 0;
        const Lang::Pair* table = Lang::table(&count);
        QVERIFY(count > 0);
        for (int i = 0; i < count; ++i) {
            const QString key = QString::fromUtf8(table[i].zh);
            QTest::addRow("%d %s", i, table[i].zh) << i << key << QString::fromUtf8(table[i].en ? table[i].en : "");
        }
    }
    void everyPairIsSound()
    {
        QFETCH(int, index);
        QFETCH(QString, key);
        QFETCH(QString, english);

        QVERIFY2(!key.isEmpty(), "empty key");
        QVERIFY2(!english.isEmpty(), "empty translation");
        QVERIFY2(!key.contains(QChar::ReplacementCharacter), "key is not valid UTF-8");
        QVERIFY2(!english.contains(QChar::ReplacementCharacter), "translation is not valid UTF-8");
        // A counted text holds its singular and plural, each with every placeholder of the key.
        const QStringList forms = english.split(QLatin1Char('|'));
        QVERIFY2(forms.size() <= 2, "more than a singular and a plural");
        for (const QString& form : forms) {
            QCOMPARE(placeholders(form), placeholders(key));
            QCOMPARE(form.count(QLatin1Char('\n')), key.count(QLatin1Char('\n')));
        }

        // A duplicate would make its later English unreachable.
        int count = 0;
        const Lang::Pair* table = Lang::table(&count);
        for (int j = 0; j < index; ++j)
            QVERIFY2(key != QString::fromUtf8(table[j].zh), qPrintable(QStringLiteral("duplicate of index %1").arg(j)));

        // Every pair is reachable through the lookup.
        Lang::setLanguage(1);
        const QString looked = Lang::tr(key);
        const QString one = Lang::trCount(key, 1);
        Lang::setLanguage(0);
        QCOMPARE(looked, forms.last());
        QCOMPARE(one, forms.first());
    }

    // The texts whose English wording is fixed elsewhere (documents, screenshots, tests of other parts).
    void fixedTranslations_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("english");
        const char* rows[][2] = {
            {"横竖切换", "Orientation"},
            {"设置", "Settings"},
            {"置顶", "Always on Top"},
            {"最小化", "Minimize"},
            {"关闭", "Close"},
            {"应用市场", "App Market"},
            {"主题切换", "Toggle Theme"},
            {"反馈中心", "Feedback"},
            {"界面锁定", "Interface Lock"},
            {"屏幕监控", "Screen Monitor"},
            {"混淆保护", "Obfuscation"},
            {"标题栏", "Title Bar"},
            {"底部栏", "Bottom Bar"},
            {"默认分组", "Default Group"},
            {"新建分组", "New Group"},
            {"本地磁盘", "Local Disk"},
            {"青岚舟面板", "Kestrune Panel"},
            {"设置文件写入失败", "Failed to write the settings file"},
            {"分组布局写入失败", "Failed to write the group layout"},
            {"保存失败：无法写入配置文件", "Save failed: cannot write the configuration file"},
            {"设置文件已损坏，已保留副本并使用默认值；可从「备份与恢复」还原最近快照",
             "The settings file was corrupted. A copy was preserved and defaults are in use; you can restore the "
             "latest snapshot from Backup & Restore."},
            {"布局文件已损坏，已保留副本并重建默认分组；可从「备份与恢复」还原最近快照",
             "The layout file was corrupted. A copy was preserved and default groups were rebuilt; you can restore "
             "the latest snapshot from Backup & Restore."},
            {"更新提示已最小化，可在齿轮菜单「检查更新」重新打开",
             "Update prompt minimized. Reopen it via \"Check for Updates\" in the gear menu."},
            {"报文不是 JSON 对象", "Message is not a JSON object"},
            {"未知指令：", "Unknown command: "},
            {"正在下载更新… %1%", "Downloading update… %1%"},
            {"服务器返回异常（HTTP %1），请稍后重试", "Server error (HTTP %1). Please try again later."},
            {"/青岚舟面板日志_%1.txt", "/KestrunePanel_Log_%1.txt"},
            {"我知道了", "Got it"},
        };
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QString::fromUtf8(row[0]) << QString::fromUtf8(row[1]);
    }
    void fixedTranslations()
    {
        QFETCH(QString, key);
        QFETCH(QString, english);
        Lang::setLanguage(1);
        const QString looked = Lang::tr(key);
        Lang::setLanguage(0);
        QCOMPARE(looked, english);
    }
};

KTR_TEST_MAIN(TestLangTable)
#include "tst_langtable.moc"
