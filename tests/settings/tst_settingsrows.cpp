// The row table of the settings pages and the eighteen sliders: what each row shows, which setting it
// edits and which hit id it answers to.
#include "settings/settingsids.h"
#include "settings/settingsrows.h"
#include "settings/settingssliders.h"
#include "settings/sliderwidget.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/settingskit.h"
#include "ui/settingsschema.h"

#include <QApplication>
#include <QSet>

using namespace settingsrows;

namespace {

QString boolKeyName(bool AppSettings::*member)
{
    for (const auto& k : settingsschema::boolKeys())
        if (k.member == member)
            return QLatin1String(k.key);
    return QStringLiteral("-");
}

QString intKeyName(int AppSettings::*member)
{
    const settingsschema::IntKey* k = member ? settingsschema::intKey(member) : nullptr;
    return k ? QLatin1String(k->key) : QStringLiteral("-");
}

QString describe(const RowControl& c)
{
    const QString label = c.label.isEmpty() ? QString() : QLatin1Char(' ') + c.label;
    switch (c.kind) {
    case RowControl::Slider: {
        const SliderSpec* s = sliderSpec(c.value);
        return QStringLiteral("slider%1 %2 %3").arg(label, QLatin1String(s ? s->key() : "-")).arg(c.width);
    }
    case RowControl::Colour:
        return QStringLiteral("colour%1 %2 #%3 %4")
            .arg(label, intKeyName(colourMember(c.value)))
            .arg(settingsids::colourActionForKey(c.value))
            .arg(c.width);
    case RowControl::Button:
        return QStringLiteral("button%1 #%2 %3").arg(label).arg(c.value).arg(c.width);
    case RowControl::InlineToggle:
        return QStringLiteral("toggle%1 %2 #%3 %4")
            .arg(label, boolKeyName(toggleMember(c.value)))
            .arg(toggleHitId(c.value))
            .arg(c.width);
    case RowControl::TitleEditor:
        return QStringLiteral("title %1").arg(c.width);
    case RowControl::PathField:
        return QStringLiteral("path %1").arg(c.width);
    case RowControl::FontChooser:
        return QStringLiteral("font");
    }
    return QStringLiteral("?");
}

QStringList describe(const QList<SettingsCard>& cards)
{
    QStringList out;
    for (const SettingsCard& card : cards) {
        out << QStringLiteral("card %1 g%2 h%3%4")
                   .arg(card.title)
                   .arg(card.glyph)
                   .arg(card.height)
                   .arg(card.description.isEmpty() ? QString() : QStringLiteral(" +d"));
        for (const SettingsRow& row : card.rows) {
            QString line = QStringLiteral("  %1%2%3: ")
                               .arg(row.title, row.description.isEmpty() ? QString() : QStringLiteral(" +d"),
                                    row.isInline ? QStringLiteral(" inline") : QString());
            switch (row.kind) {
            case SettingsRow::Toggle:
                line += QStringLiteral("toggle %1 #%2")
                            .arg(boolKeyName(toggleMember(row.value)))
                            .arg(toggleHitId(row.value));
                break;
            case SettingsRow::Choice:
                line += QStringLiteral("choice %1 %2/%3 #%4")
                            .arg(row.value)
                            .arg(choiceLabel(row.value, 0), choiceLabel(row.value, 1))
                            .arg(choiceHitId(row.value, 0));
                break;
            case SettingsRow::DropDown:
                line += QStringLiteral("dropdown %1 #%2").arg(row.value).arg(dropDownHitId(row.value));
                break;
            case SettingsRow::Hotkey:
                line += QStringLiteral("hotkey");
                break;
            case SettingsRow::Controls: {
                QStringList parts;
                for (const RowControl& c : row.controls)
                    parts << describe(c);
                line += parts.join(QStringLiteral(" | "));
                break;
            }
            }
            out << line;
        }
    }
    return out;
}

const QStringList kGeneralHead = {
    QStringLiteral("card 语言与主题 g4 h46 +d"),
    QStringLiteral("  界面语言 +d: choice 4 中文/English #108"),
    QStringLiteral("  界面主题 +d: choice 0 浅色/深色 #100"),
    QStringLiteral("card 窗口 g0 h46 +d"),
    QStringLiteral("  启动时自动置顶 +d: toggle startPinned #50"),
    QStringLiteral("  记住窗口大小和位置 +d: toggle rememberGeometry #51"),
    QStringLiteral("  关闭时隐藏到托盘 +d: toggle closeToTray #52"),
    QStringLiteral("  最小化时隐藏到托盘 +d: toggle minimizeToTray #53"),
    QStringLiteral("  显示条目名称 +d: toggle showItemNames #55"),
    QStringLiteral("  透明时鼠标穿透 +d: toggle clickThroughAtZero #62"),
    QStringLiteral("card 呼出与吸附 g1 h46 +d"),
    QStringLiteral("  面板呼出方式 +d: dropdown 7 #5"),
    QStringLiteral("  呼出面板快捷键 +d: hotkey"),
    QStringLiteral("  靠近屏幕边缘吸附隐藏: slider 隐藏后露出像素 snapRevealPx 156 | toggle edgeSnap #56 60"),
    QStringLiteral("card 启动 g2 h46 +d"),
    QStringLiteral("  开机自动启动 +d: toggle autoStart #54"),
    QStringLiteral("  启动时收纳桌面新图标 +d: toggle autoClassify #58"),
    QStringLiteral("card 交互 g3 h46 +d"),
    QStringLiteral("  分组布局方式 +d: choice 1 纵向/横向 #102"),
    QStringLiteral("  打开图标的方式 +d: choice 2 双击运行/单击运行 #104"),
    QStringLiteral("  显示新建分组按钮 +d: toggle showNewGroupBtn #66"),
    QStringLiteral("  悬停方式 +d: choice 3 悬停高亮/图标动效 #106"),
};
const QString kHoverRow =
    QStringLiteral("  悬停颜色 +d inline: slider 不透明度 hoverOpacity 156 | colour 颜色 hoverColor #133 100");
const QString kLockCard = QStringLiteral("card 界面锁定 g2 h46 +d");
const QString kLockRow = QStringLiteral("  锁屏背景 +d: path 180 | button 选择背景 #233 100");
const QString kLockReset = QStringLiteral(" | button 恢复默认 #234 92");
const QStringList kDataCard = {
    QStringLiteral("card 数据迁移 g2 h46 +d"),
    QStringLiteral("  打开数据目录 +d: dropdown 19 #-1"),
    QStringLiteral("  导出数据（备份） +d: dropdown 20 #-1"),
    QStringLiteral("  导入数据（恢复） +d: dropdown 21 #-1"),
};

const QStringList kAppearance = {
    QStringLiteral("card 自定义程序名称 g8 h46 +d"),
    QStringLiteral("  程序名称 inline: toggle 显示标题 showTitle #63 60 | title 218"),
    QStringLiteral("card 自定义程序 LOGO g8 h40 +d"),
    QStringLiteral("  程序 LOGO inline: toggle 显示 LOGO showLogo #64 60 | button 选择图片 #121 100 | "
                   "button 恢复默认 LOGO #122 106"),
    QStringLiteral("card 图标大小 g5 h46 +d"),
    QStringLiteral("  图标大小 +d inline: slider 横屏 iconSize 156 | slider 竖屏 iconSizePortrait 156"),
    QStringLiteral("card 窗口效果 g6 h46 +d"),
    QStringLiteral("  窗口外观 +d inline: slider 角弧度 cornerRadius 156 | slider 全局不透明度 opacity 156"),
    QStringLiteral("card 分界线 g5 h40 +d"),
    QStringLiteral("  分界线 +d inline: slider 粗细 dividerWidth 156 | slider 透明度 dividerOpacity 156 | "
                   "colour 颜色 dividerColor #132 100"),
    QStringLiteral("card 标题栏 g6 h46 +d"),
    QStringLiteral("  标题栏 +d inline: slider 透明度 titleBarOpacity 156 | colour 颜色 titleBarColor #6 100"),
    QStringLiteral("card 底部栏 g6 h46 +d"),
    QStringLiteral("  底部栏 +d inline: slider 透明度 bottomBarOpacity 156 | colour 颜色 bottomBarColor #7 100"),
    QStringLiteral("card 中间板块 g6 h46 +d"),
    QStringLiteral("  中间板块 +d inline: slider 透明度 midOpacity 156 | colour 颜色 midColor #8 100"),
    QStringLiteral("card 横屏界面背景 g5 h46 +d"),
    QStringLiteral("  背景 +d inline: slider 透明度 bgImageOpacity 156 | button 选择背景 #124 100"),
    QStringLiteral("card 竖屏界面背景 g5 h46 +d"),
    QStringLiteral("  背景 +d inline: slider 透明度 bgImageOpacityPortrait 156 | button 选择背景 #127 100"),
    QStringLiteral("card 文字 g8 h46 +d"),
    QStringLiteral("  文字 +d inline: font | slider 透明度 textOpacity 156 | colour 颜色 textColor #129 100"),
    QStringLiteral("card 窗口边框 g6 h46 +d"),
    QStringLiteral("  边框 +d inline: slider 透明度 borderOpacity 156 | colour 颜色 borderColor #120 100"),
};

const QStringList kProtection = {
    QStringLiteral("card 屏幕监控 g6 h46 +d"),
    QStringLiteral("  存储位置: path 170 | button 选择目录 #235 100 | button 打开 #236 70"),
    QStringLiteral("  触发条件 +d: dropdown 18 #237"),
    QStringLiteral("  视频格式 +d: choice 5 AVI/MP4 #110"),
    QStringLiteral("  视频帧率 +d: slider 帧率 monitorFps 156"),
    QStringLiteral("  单文件上限 +d: slider 大小 monitorMaxMB 156"),
    QStringLiteral("  空闲停止 +d: slider 时间 monitorIdleSec 156"),
};

// Every text of the tables, for the language check.
QStringList tableTexts()
{
    AppSettings all;
    all.hoverMode = 0;
    all.lockBgPath = QStringLiteral("/bg.png");
    QStringList texts;
    for (int page : {0, 1, 5})
        for (const SettingsCard& card : buildRows(page, all)) {
            texts << card.title << card.description;
            for (const SettingsRow& row : card.rows) {
                texts << row.title << row.description;
                for (const RowControl& c : row.controls)
                    texts << c.label;
            }
        }
    for (int i = 0; i <= 5; ++i)
        texts << choiceLabel(i, 0) << choiceLabel(i, 1);
    for (int i = 0; i <= 4; ++i)
        texts << revealMethodName(i);
    for (int i = 0; i <= 2; ++i)
        texts << monitorTriggerName(i);
    for (int i : {kOpenDataRow, kExportDataRow, kImportDataRow})
        texts << dropDownText(i, AppSettings());
    for (int i = 0; i <= 6; ++i)
        texts << colourKindName(i);
    texts.removeAll(QString());
    return texts;
}

} // namespace

class TestSettingsRows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { Lang::setLanguage(0); }

    void colourActions_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("action");
        for (const auto& [k, a] : {std::pair{9, 6},
                                   {10, 7},
                                   {11, 8},
                                   {15, 132},
                                   {17, 133},
                                   {120, 120},
                                   {129, 129},
                                   {0, -1},
                                   {12, -1},
                                   {121, -1},
                                   {-1, -1}})
            QTest::newRow(qPrintable(QString::number(k))) << k << a;
    }
    void colourActions()
    {
        QFETCH(int, key);
        QFETCH(int, action);
        QCOMPARE(settingsids::colourActionForKey(key), action);
    }

    void pages_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("hoverMode");
        QTest::addColumn<QString>("lockBg");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("general, icon animation, no lock background")
            << 0 << 1 << QString() << (kGeneralHead + QStringList{kLockCard, kLockRow} + kDataCard);
        QTest::newRow("general, highlight, lock background set")
            << 0 << 0 << QStringLiteral("/pics/lock.mp4")
            << (kGeneralHead + QStringList{kHoverRow, kLockCard, kLockRow + kLockReset} + kDataCard);
        QTest::newRow("appearance") << 1 << 0 << QStringLiteral("/x.png") << kAppearance;
        QTest::newRow("protection") << 5 << 0 << QStringLiteral("/x.png") << kProtection;
        for (int page : {2, 3, 4, 6, -1, 9})
            QTest::newRow(qPrintable(QStringLiteral("page %1 is empty").arg(page)))
                << page << 0 << QString() << QStringList();
    }
    void pages()
    {
        QFETCH(int, page);
        QFETCH(int, hoverMode);
        QFETCH(QString, lockBg);
        QFETCH(QStringList, expected);
        AppSettings copy;
        copy.hoverMode = hoverMode;
        copy.lockBgPath = lockBg;
        const QStringList got = describe(buildRows(page, copy));
        for (int i = 0; i < std::min(got.size(), expected.size()); ++i)
            QCOMPARE(got.at(i), expected.at(i));
        QCOMPARE(got.size(), expected.size());
    }

    // The rows of page 1 are all inline; the screen-monitor rows are stacked.
    void inlineRows()
    {
        for (const SettingsCard& card : buildRows(1, AppSettings())) {
            QCOMPARE(card.rows.size(), 1);
            QVERIFY(card.rows.first().isInline);
        }
        const QList<SettingsCard> monitor = buildRows(5, AppSettings());
        for (const SettingsRow& row : monitor.first().rows)
            QVERIFY(!row.isInline);
    }

    void toggles_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("edits");
        for (int i = 0; i <= 17; ++i) {
            const bool edits = !QSet<int>{7, 9, 10, 11, 15, 17}.contains(i);
            QTest::newRow(qPrintable(QString::number(i))) << i << edits;
        }
    }
    void toggles()
    {
        QFETCH(int, index);
        QFETCH(bool, edits);
        bool AppSettings::*member = toggleMember(index);
        QCOMPARE(member != nullptr, edits);
        AppSettings s;
        if (!member) {
            QVERIFY(!toggleValue(index, s));
            return;
        }
        s.*member = true;
        QVERIFY(toggleValue(index, s));
        s.*member = false;
        QVERIFY(!toggleValue(index, s));
    }

    void choices_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<std::function<void(AppSettings&)>>("selectSecond");
        QTest::newRow("0 darkTheme") << 0
                                     << std::function<void(AppSettings&)>([](AppSettings& s) { s.darkTheme = true; });
        QTest::newRow("1 horizontalGroups")
            << 1 << std::function<void(AppSettings&)>([](AppSettings& s) { s.horizontalGroups = true; });
        QTest::newRow("2 singleClickOpen")
            << 2 << std::function<void(AppSettings&)>([](AppSettings& s) { s.singleClickOpen = true; });
        QTest::newRow("3 hoverMode") << 3 << std::function<void(AppSettings&)>([](AppSettings& s) { s.hoverMode = 1; });
        // The language shown is the one in force, not the copy's.
        QTest::newRow("4 language") << 4
                                    << std::function<void(AppSettings&)>([](AppSettings&) { Lang::setLanguage(1); });
        QTest::newRow("5 monitorFormat") << 5 << std::function<void(AppSettings&)>([](AppSettings& s) {
            s.monitorFormat = 1;
        });
    }
    void choices()
    {
        QFETCH(int, index);
        QFETCH(std::function<void(AppSettings&)>, selectSecond);
        AppSettings s;
        s.darkTheme = false;
        s.horizontalGroups = false;
        s.singleClickOpen = false;
        s.hoverMode = 0;
        s.monitorFormat = 0;
        s.language = 1;
        QCOMPARE(choiceSelected(index, s), 0);
        selectSecond(s);
        QCOMPARE(choiceSelected(index, s), 1);
        QCOMPARE(choiceSelected(9, s), 0);
        QVERIFY(choiceLabel(9, 0).isEmpty());
    }

    // Values out of range are shown clamped.
    void valueTexts_data()
    {
        QTest::addColumn<int>("key"); // drop-down index or colour key
        QTest::addColumn<std::function<void(AppSettings&)>>("set");
        QTest::addColumn<QString>("text");
        using Set = std::function<void(AppSettings&)>;
        QTest::newRow("reveal 0") << 7 << Set([](AppSettings& s) { s.revealMethod = 0; }) << QStringLiteral("鼠标靠近");
        QTest::newRow("reveal 7") << 7 << Set([](AppSettings& s) { s.revealMethod = 7; }) << QStringLiteral("长按右键");
        QTest::newRow("reveal -2") << 7 << Set([](AppSettings& s) { s.revealMethod = -2; })
                                   << QStringLiteral("鼠标靠近");
        QTest::newRow("trigger 1") << 18 << Set([](AppSettings& s) { s.monitorTrigger = 1; })
                                   << QStringLiteral("仅键盘输入");
        QTest::newRow("trigger 5") << 18 << Set([](AppSettings& s) { s.monitorTrigger = 5; })
                                   << QStringLiteral("仅鼠标输入");
        QTest::newRow("title bar 2") << 9 << Set([](AppSettings& s) { s.titleBarColor = 2; })
                                     << QStringLiteral("商务蓝");
        QTest::newRow("title bar 9") << 9 << Set([](AppSettings& s) { s.titleBarColor = 9; })
                                     << QStringLiteral("自定义颜色");
        QTest::newRow("hover -1") << 17 << Set([](AppSettings& s) { s.hoverColor = -1; }) << QStringLiteral("跟随主题");
        QTest::newRow("bottom bar 1") << 10 << Set([](AppSettings& s) { s.bottomBarColor = 1; })
                                      << QStringLiteral("石墨黑");
        QTest::newRow("middle 3") << 11 << Set([](AppSettings& s) { s.midColor = 3; }) << QStringLiteral("墨绿");
        QTest::newRow("divider 4") << 15 << Set([](AppSettings& s) { s.dividerColor = 4; }) << QStringLiteral("绛红");
        QTest::newRow("border 5") << 120 << Set([](AppSettings& s) { s.borderColor = 5; }) << QStringLiteral("珍珠白");
        QTest::newRow("text 6") << 129 << Set([](AppSettings& s) { s.textColor = 6; }) << QStringLiteral("自定义颜色");
    }
    void valueTexts()
    {
        QFETCH(int, key);
        QFETCH(std::function<void(AppSettings&)>, set);
        QFETCH(QString, text);
        AppSettings s;
        set(s);
        QCOMPARE(key == 7 || key == 18 ? dropDownText(key, s) : colourText(key, s), text);
    }

    // Every text the tables show has its English entry.
    void translated()
    {
        int count = 0;
        const Lang::Pair* table = Lang::table(&count);
        QSet<QString> chinese;
        for (int i = 0; i < count; ++i)
            chinese.insert(QString::fromUtf8(table[i].zh));
        const QSet<QString> asIs = {QStringLiteral("English"), QStringLiteral("AVI"), QStringLiteral("MP4")};
        for (const QString& text : tableTexts())
            QVERIFY2(asIs.contains(text) || chinese.contains(text), qPrintable(text));
    }

    void sliderTable_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<QString>("unit"); // the value text at the minimum
        QTest::addColumn<bool>("live");
        const struct
        {
            const char* key;
            int min, max;
            const char* unit;
            bool live;
        } rows[] = {
            {"iconSize", 32, 96, "32px", true},         {"iconSizePortrait", 32, 60, "32px", true},
            {"cornerRadius", 0, 24, "0px", true},       {"opacity", 0, 100, "0%", true},
            {"snapRevealPx", 0, 24, "0px", true},       {"titleBarOpacity", 0, 100, "0%", true},
            {"bottomBarOpacity", 0, 100, "0%", true},   {"midOpacity", 0, 100, "0%", true},
            {"bgImageOpacity", 0, 100, "0%", true},     {"bgImageOpacityPortrait", 0, 100, "0%", true},
            {"borderOpacity", 0, 100, "0%", true},      {"dividerWidth", 0, 4, "0px", true},
            {"dividerOpacity", 0, 100, "0%", true},     {"hoverOpacity", 0, 100, "0%", true},
            {"textOpacity", 0, 100, "0%", true},        {"monitorMaxMB", 10, 512, "10 MB", false},
            {"monitorIdleSec", 10, 600, "10 s", false}, {"monitorFps", 2, 60, "2 fps", false},
        };
        for (int i = 0; i < 18; ++i)
            QTest::newRow(rows[i].key) << i << QString::fromLatin1(rows[i].key) << rows[i].min << rows[i].max
                                       << QString::fromUtf8(rows[i].unit) << rows[i].live;
    }
    void sliderTable()
    {
        QFETCH(int, index);
        QFETCH(QString, key);
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(QString, unit);
        QFETCH(bool, live);
        const SliderSpec* spec = sliderSpec(index);
        QVERIFY(spec);
        QCOMPARE(QLatin1String(spec->key()), key);
        // The range is the settings file's own.
        const settingsschema::IntKey* schema = settingsschema::intKey(spec->member);
        QVERIFY(schema);
        QCOMPARE(schema->rule, settingsschema::Rule::Clamp);
        QCOMPARE(spec->minimum(), min);
        QCOMPARE(spec->maximum(), max);

        AppSettings copy;
        int liveCalls = 0;
        int changes = 0;
        AppSettings seen;
        QWidget dialog;
        SettingsSliders sliders(
            &dialog, &copy,
            [&](const AppSettings& s) {
                ++liveCalls;
                seen = s;
            },
            [&] { ++changes; });
        SliderWidget* slider = sliders.sliderForKey(index);
        QVERIFY(slider);
        QCOMPARE(slider->parentWidget(), &dialog);
        QVERIFY(slider->isHidden());
        QCOMPARE(slider->minimum(), min);
        QCOMPARE(slider->maximum(), max);
        QCOMPARE(slider->value(), copy.*spec->member);
        slider->setValue(min, false);
        QCOMPARE(slider->valueText(), unit);
        QCOMPARE(copy.*spec->member, AppSettings().*spec->member); // a quiet set leaves the copy alone

        slider->setValue(max, true);
        QCOMPARE(copy.*spec->member, max);
        QCOMPARE(changes, 1);
        QCOMPARE(liveCalls, live ? 1 : 0);
        if (live)
            QCOMPARE(seen.*spec->member, max);

        copy.*spec->member = min + 1;
        sliders.reloadValues();
        QCOMPARE(slider->value(), min + 1);
        QCOMPARE(changes, 1);
    }

    void slidersByKey()
    {
        AppSettings copy;
        QWidget dialog;
        SettingsSliders sliders(&dialog, &copy, {}, {});
        QSet<SliderWidget*> distinct;
        for (int i = 0; i < 18; ++i)
            distinct.insert(sliders.sliderForKey(i));
        QCOMPARE(distinct.size(), 18);
        QCOMPARE(sliders.sliderForKey(-1), nullptr);
        QCOMPARE(sliders.sliderForKey(18), nullptr);
        QCOMPARE(sliderSpec(18), nullptr);
        // Empty callbacks are skipped.
        sliders.sliderForKey(3)->setValue(20, true);
        QCOMPARE(copy.opacity, 20);
        sliders.sliderForKey(3)->show();
        sliders.hideAll();
        QVERIFY(sliders.sliderForKey(3)->isHidden());
    }
};

KTR_TEST_MAIN(TestSettingsRows)
#include "tst_settingsrows.moc"
