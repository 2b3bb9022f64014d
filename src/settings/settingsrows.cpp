#include "settings/settingsrows.h"

#include "ui/lang.h"
#include "ui/settingskit.h"
#include "ui/settingsschema.h"

#include <algorithm>

using settingsrows::kExportDataRow;
using settingsrows::kImportDataRow;
using settingsrows::kOpenDataRow;

namespace {

QString t(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

SettingsRow toggleRow(const char* title, const char* description, int index)
{
    return {t(title), t(description), SettingsRow::Toggle, index, {}, false};
}

SettingsRow choiceRow(const char* title, const char* description, int index)
{
    return {t(title), t(description), SettingsRow::Choice, index, {}, false};
}

SettingsRow dropDownRow(const char* title, const char* description, int index)
{
    return {t(title), t(description), SettingsRow::DropDown, index, {}, false};
}

SettingsRow controlsRow(const char* title, const char* description, QList<RowControl> controls, bool isInline)
{
    return {t(title), t(description), SettingsRow::Controls, 0, std::move(controls), isInline};
}

RowControl slider(const char* label, int index)
{
    return {t(label), RowControl::Slider, index, 156};
}

RowControl colour(const char* label, int key)
{
    return {t(label), RowControl::Colour, key, 100};
}

RowControl button(const char* label, int actionId, int width)
{
    // A longer translation of any text the button shows widens it, 8 px of room either side.
    QStringList shown{Lang::tr(label)};
    using namespace settingsids;
    if (actionId == ChooseBackground || actionId == ChoosePortraitBackground || actionId == ChooseLockBackground)
        shown = {Lang::tr("选择背景"), Lang::tr("更换背景")};
    else if (actionId == ChooseLogo)
        shown << Lang::tr("更换图片");
    else if (actionId == IconsClearIconCache)
        shown << Lang::tr("已清理 ✓") << Lang::tr("立即清理");
    int needed = 0;
    for (const QString& text : shown)
        needed = std::max(needed, settingsFont13Metrics().horizontalAdvance(text) + 16);
    return {t(label), RowControl::Button, actionId, std::max(width, needed)};
}

RowControl inlineToggle(const char* label, int index)
{
    return {t(label), RowControl::InlineToggle, index, 60};
}

RowControl pathField(int width)
{
    return {QString(), RowControl::PathField, 0, width};
}

QList<SettingsCard> generalPage(const AppSettings& copy)
{
    QList<SettingsCard> cards;
    cards.append({t("语言与主题"),
                  t("界面显示语言与面板配色：浅色适合亮色桌面，深色适合暗色桌面，切换后立即生效"),
                  {choiceRow("界面语言", "界面显示语言：简体中文 / English；切换后立即生效", 4),
                   choiceRow("界面主题", "面板配色方案：浅色适合亮色桌面，深色适合暗色桌面，切换后立即生效", 0)},
                  4,
                  46});
    cards.append({t("窗口"),
                  t("置顶、托盘、条目名称与鼠标穿透等面板基础行为"),
                  {toggleRow("启动时自动置顶", "程序启动后主面板始终显示在最前", 0),
                   toggleRow("记住窗口大小和位置", "下次启动恢复本次关闭时的窗口大小与位置", 1),
                   toggleRow("关闭时隐藏到托盘", "点击关闭按钮不退出程序，缩到系统托盘图标菜单", 2),
                   toggleRow("最小化时隐藏到托盘", "点击最小化按钮缩到系统托盘，不占用任务栏", 3),
                   toggleRow("显示条目名称", "在图标下方显示文件名，便于辨认", 5),
                   toggleRow("透明时鼠标穿透",
                             "不透明度调到 0% 后，鼠标点击会落到面板后面的文件上；关闭后 0% 时面板依然可点击", 12)},
                  0,
                  46});
    cards.append({t("呼出与吸附"),
                  t("贴边隐藏与呼出：呼出方式、全局快捷键、边缘吸附与露出宽度；0 为完全隐藏，鼠标靠近屏幕边缘仍可呼出"),
                  {dropDownRow("面板呼出方式", "贴边隐藏后附加的呼出操作；鼠标靠近屏幕边缘始终可用", 7),
                   {t("呼出面板快捷键"),
                    t("全局快捷键，在任意程序中按一次即可唤出面板；点击右侧录入"),
                    SettingsRow::Hotkey,
                    0,
                    {},
                    false},
                   controlsRow("靠近屏幕边缘吸附隐藏", "", {slider("隐藏后露出像素", 4), inlineToggle("", 6)}, false)},
                  1,
                  46});
    cards.append(
        {t("启动"),
         t("开机自启与桌面新图标自动归类"),
         {toggleRow("开机自动启动", "登录桌面后自动运行青岚舟面板", 4),
          toggleRow("启动时收纳桌面新图标",
                    "把桌面上新出现的图标按类型归入「程序 / 文档 / 图片 / 影音 / 压缩包 / 其他」；只新增不移动，"
                    "不改动桌面文件",
                    8)},
         2,
         46});
    SettingsCard interaction{
        t("交互"),
        t("分组排布、打开图标的方式与悬停反馈"),
        {choiceRow("分组布局方式", "纵向：分组在左侧竖排；横向：分组在上方标签页", 1),
         choiceRow("打开图标的方式", "双击运行可防误触；单击运行更快打开", 2),
         toggleRow("显示新建分组按钮",
                   "纵向布局下，左侧分组栏底部是否显示「＋ 新建分组」按钮；关闭后仍可在分组空白处右键新建分组", 16),
         choiceRow("悬停方式",
                   "悬停高亮：鼠标所在格子亮起，颜色与不透明度可调；图标动效：悬停的图标平滑放大展示，无底色变化", 3)},
        3,
        46};
    if (copy.hoverMode == 0)
        interaction.rows.append(
            controlsRow("悬停颜色", "悬停高亮的颜色与不透明度；横屏与竖屏布局均生效；跟随主题时随深浅色自动切换",
                        {slider("不透明度", 13), colour("颜色", 17)}, true));
    cards.append(interaction);
    QList<RowControl> lockControls = {pathField(180), button("选择背景", settingsids::ChooseLockBackground, 100)};
    if (!copy.lockBgPath.isEmpty())
        lockControls.append(button("恢复默认", settingsids::ResetLockBackground, 92));
    // Wider buttons and a longer row title are paid for by the path field, which elides.
    int grown = settingsFont13Metrics().horizontalAdvance(Lang::tr("锁屏背景")) -
                settingsFont13Metrics().horizontalAdvance(t("锁屏背景"));
    for (int i = 1; i < lockControls.size(); ++i)
        grown += lockControls[i].width - (i == 1 ? 100 : 92);
    // The field still holds the built-in background's name whole (a path elides).
    const int placeholder = settingsFont13Metrics().horizontalAdvance(Lang::tr("内置动态光晕")) + 4;
    lockControls[0].width = std::max(placeholder, 180 - std::max(0, grown));
    cards.append({t("界面锁定"),
                  t("底栏左侧的锁形按钮可锁定主界面，锁定后需输入「程序保护密码」才能解锁；该密码在「保护」页设置，"
                    "与混淆保护共用同一套（无法找回，请牢记）；首次点击锁按钮且未设密码时会引导设置，留空即清除密码"),
                  {controlsRow("锁屏背景",
                               "锁定界面的背景：图片（PNG / JPG / BMP）、动图（GIF）或视频（MP4 / WMV / AVI / MKV，"
                               "静音循环）；横版、竖版窗口都按等比铺满裁切，不设时使用内置动态光晕",
                               lockControls, false)},
                  2,
                  46});
    // The data folder and moving the panel to another computer; the buttons take 150, 151 and 152 in this order.
    cards.append(
        {t("数据迁移"),
         t("把分组、图标与设置带到另一台电脑：在这里导出为一个文件，到新电脑上导入"),
         {dropDownRow("打开数据目录", "分组、设置、已装应用清单与登录态所在的文件夹", kOpenDataRow),
          dropDownRow("导出数据（备份）", "把分组图标、设置、已装应用清单与登录态保存为一个备份文件", kExportDataRow),
          dropDownRow("导入数据（恢复）", "用备份文件替换当前的分组图标、设置、已装应用清单与登录态", kImportDataRow)},
         2,
         46});
    return cards;
}

SettingsCard oneRowCard(const char* title, const char* description, int glyph, int height, SettingsRow row)
{
    row.isInline = true;
    return {t(title), t(description), {std::move(row)}, glyph, height};
}

QList<SettingsCard> appearancePage()
{
    QList<SettingsCard> cards;
    cards.append(oneRowCard(
        "自定义程序名称",
        "标题栏显示的程序名称，留空则使用默认「青岚舟面板」；关闭「显示标题」后标题栏不显示任何文字，只保留图标与按钮",
        8, 46,
        controlsRow("程序名称", "", {inlineToggle("显示标题", 13), {QString(), RowControl::TitleEditor, 0, 218}},
                    true)));
    cards.append(
        oneRowCard("自定义程序 LOGO",
                   "标题栏、任务栏与系统托盘显示的图标文件，支持 PNG / JPG / BMP / ICO，建议 32×32 或 64×64 "
                   "像素；关闭「显示 LOGO」后标题栏不显示图标；「恢复默认 LOGO」把图标恢复为内置的青岚舟图标",
                   8, 40,
                   controlsRow("程序 LOGO", "",
                               {inlineToggle("显示 LOGO", 14), button("选择图片", settingsids::ChooseLogo, 100),
                                button("恢复默认 LOGO", settingsids::ResetLogo, 106)},
                               true)));
    cards.append(oneRowCard("图标大小", "横向与竖向布局下图标网格中每个图标的边长像素", 5, 46,
                            controlsRow("图标大小", "横向与竖向布局下图标网格中每个图标的边长像素",
                                        {slider("横屏", 0), slider("竖屏", 1)}, true)));
    cards.append(oneRowCard(
        "窗口效果", "面板圆角与整体不透明度；调圆角时左侧矩形实时预览", 6, 46,
        controlsRow("窗口外观", "面板圆角与整体不透明度", {slider("角弧度", 2), slider("全局不透明度", 3)}, true)));
    cards.append(
        oneRowCard("分界线", "标题栏下 / 底部栏上 / 分类栏与竖屏网格线统一控制", 5, 40,
                   controlsRow("分界线",
                               "标题栏下方、底部栏上方、分类栏侧/底、竖屏网格线共用的颜色、粗细与透明度；粗细 0 "
                               "或透明度 0 均不显示",
                               {slider("粗细", 11), slider("透明度", 12), colour("颜色", 15)}, true)));
    cards.append(
        oneRowCard("标题栏", "标题栏配色与透明度", 6, 46,
                   controlsRow("标题栏", "标题栏底色与透明程度", {slider("透明度", 5), colour("颜色", 9)}, true)));
    cards.append(
        oneRowCard("底部栏", "底部栏配色与透明度", 6, 46,
                   controlsRow("底部栏", "底部功能栏底色与透明程度", {slider("透明度", 6), colour("颜色", 10)}, true)));
    cards.append(oneRowCard("中间板块", "图标区背景的配色与透明度", 6, 46,
                            controlsRow("中间板块", "侧边栏与图标网格区域的底色与透明程度",
                                        {slider("透明度", 7), colour("颜色", 11)}, true)));
    cards.append(
        oneRowCard("横屏界面背景", "横向面板使用的背景图片", 5, 46,
                   controlsRow("背景",
                               "横向面板的背景：静态图（PNG / JPG / BMP）、动图（GIF）或视频（MP4 / WMV / AVI "
                               "/ MKV，静音循环播放）",
                               {slider("透明度", 8), button("选择背景", settingsids::ChooseBackground, 100)}, true)));
    cards.append(oneRowCard(
        "竖屏界面背景", "竖向面板使用的背景图片，不设时沿用横屏背景", 5, 46,
        controlsRow("背景", "竖向（竖版）面板的背景：格式同上；不设置时沿用横屏界面背景",
                    {slider("透明度", 9), button("选择背景", settingsids::ChoosePortraitBackground, 100)}, true)));
    cards.append(oneRowCard(
        "文字", "图标名称、分组名等界面文字的颜色、透明度与字体", 8, 46,
        controlsRow("文字",
                    "图标名称、分组名、说明文字等界面文字的颜色、透明度与字体；跟随主题时随深浅色自动切换；透明度 0% "
                    "文字隐藏；「默认」为系统匹配的中文界面字体，下拉选择后立即生效",
                    {{QString(), RowControl::FontChooser, 0, 0}, slider("透明度", 14), colour("颜色", 129)}, true)));
    cards.append(oneRowCard("窗口边框", "窗口描边的颜色与透明程度；透明度 0% 不显示边框", 6, 46,
                            controlsRow("边框", "窗口描边的颜色与透明程度；透明度 0% 不显示边框",
                                        {slider("透明度", 10), colour("颜色", 120)}, true)));
    return cards;
}

QList<SettingsCard> protectionPage()
{
    return {{t("屏幕监控"),
             t("开启底栏监控按钮：满足触发条件即录屏，空闲自动停止，满容量自动切割"),
             {controlsRow("存储位置", "",
                          {pathField(170), button("选择目录", settingsids::ChooseRecorderFolder, 100),
                           button("打开", settingsids::OpenRecorderFolder, 70)},
                          false),
              dropDownRow("触发条件",
                          "键盘有输入行为或鼠标有移动行为时触发录屏；满足其一即开始，连续无触发达到下方时间即停止", 18),
              choiceRow("视频格式",
                        "AVI（MJPG）兼容性最好，任何播放器可回放；MP4（H.264）体积更小，常见系统播放器"
                        "可直接播放，无需额外解码器",
                        5),
              controlsRow("视频帧率", "每秒抓取的帧数（2~60，默认 59）；帧率越高画面越连贯，文件也越大",
                          {slider("帧率", 17)}, false),
              controlsRow("单文件上限", "单个视频文件达到该大小后自动切割为下一段（10~512 MB）", {slider("大小", 15)},
                          false),
              controlsRow("空闲停止", "连续无触发输入达到该时间后停止录制（10~600 秒，默认 30 秒）",
                          {slider("时间", 16)}, false)},
             6,
             46}};
}

} // namespace

QList<SettingsCard> buildRows(int page, const AppSettings& copy)
{
    switch (page) {
    case 0:
        return generalPage(copy);
    case 1:
        return appearancePage();
    case 5:
        return protectionPage();
    default:
        return {};
    }
}

namespace settingsrows {

namespace {

int bounded(int AppSettings::*member, int value)
{
    const settingsschema::IntKey* key = settingsschema::intKey(member);
    return key ? key->bound(value) : value;
}

} // namespace

int dropDownHitId(int index)
{
    return index == 7 ? settingsids::RevealMethodMenu : index == 18 ? settingsids::MonitorTriggerMenu : -1;
}

bool AppSettings::*toggleMember(int index)
{
    switch (index) {
    case 0:
        return &AppSettings::startPinned;
    case 1:
        return &AppSettings::rememberGeometry;
    case 2:
        return &AppSettings::closeToTray;
    case 3:
        return &AppSettings::minimizeToTray;
    case 4:
        return &AppSettings::autoStart;
    case 5:
        return &AppSettings::showItemNames;
    case 6:
        return &AppSettings::edgeSnap;
    case 8:
        return &AppSettings::autoClassify;
    case 12:
        return &AppSettings::clickThroughAtZero;
    case 13:
        return &AppSettings::showTitle;
    case 14:
        return &AppSettings::showLogo;
    case 16:
        return &AppSettings::showNewGroupBtn;
    default:
        return nullptr;
    }
}

bool toggleValue(int index, const AppSettings& s)
{
    bool AppSettings::*member = toggleMember(index);
    return member && s.*member;
}

int choiceTrackWidth(int index)
{
    const QFontMetrics& fm = settingsFont13Metrics();
    const int label = std::max(fm.horizontalAdvance(Lang::tr(choiceLabel(index, 0))),
                               fm.horizontalAdvance(Lang::tr(choiceLabel(index, 1))));
    const int needed = 2 * (label + 16 + 4);
    return std::max(index == 3 ? 218 : 200, needed + (needed & 1));
}

QString choiceLabel(int index, int option)
{
    static const char* const labels[][2] = {{"浅色", "深色"},         {"纵向", "横向"},    {"双击运行", "单击运行"},
                                            {"悬停高亮", "图标动效"}, {"中文", "English"}, {"AVI", "MP4"}};
    if (index < 0 || index > 5 || option < 0 || option > 1)
        return {};
    return QString::fromUtf8(labels[index][option]);
}

int choiceSelected(int index, const AppSettings& s)
{
    switch (index) {
    case 0:
        return s.darkTheme ? 1 : 0;
    case 1:
        return s.horizontalGroups ? 1 : 0;
    case 2:
        return s.singleClickOpen ? 1 : 0;
    case 3:
        return s.hoverMode == 1 ? 1 : 0;
    case 4:
        return Lang::language() == 1 ? 1 : 0;
    case 5:
        return s.monitorFormat == 1 ? 1 : 0;
    default:
        return 0;
    }
}

QString revealMethodName(int method)
{
    static const char* const names[] = {"鼠标靠近", "按下中键", "双击中键", "长按中键", "长按右键"};
    return QString::fromUtf8(names[bounded(&AppSettings::revealMethod, method)]);
}

QString monitorTriggerName(int trigger)
{
    static const char* const names[] = {"键盘或鼠标输入", "仅键盘输入", "仅鼠标输入"};
    return QString::fromUtf8(names[bounded(&AppSettings::monitorTrigger, trigger)]);
}

int dropDownWidth(int index)
{
    int widest = 0;
    const int count = index == 7 ? 5 : index == 18 ? 3 : 0;
    for (int i = 0; i < count; ++i)
        widest = std::max(widest, settingsFont13Metrics().horizontalAdvance(
                                      Lang::tr(index == 7 ? revealMethodName(i) : monitorTriggerName(i))));
    return std::max(120, widest + 20);
}

QString dropDownText(int index, const AppSettings& s)
{
    if (index == 7)
        return revealMethodName(s.revealMethod);
    if (index == 18)
        return monitorTriggerName(s.monitorTrigger);
    if (index == kOpenDataRow)
        return QStringLiteral("打开目录");
    if (index == kExportDataRow)
        return QStringLiteral("导出...");
    if (index == kImportDataRow)
        return QStringLiteral("导入...");
    return {};
}

int AppSettings::*colourMember(int key)
{
    switch (key) {
    case 9:
        return &AppSettings::titleBarColor;
    case 10:
        return &AppSettings::bottomBarColor;
    case 11:
        return &AppSettings::midColor;
    case 15:
        return &AppSettings::dividerColor;
    case 17:
        return &AppSettings::hoverColor;
    case 120:
        return &AppSettings::borderColor;
    case 129:
        return &AppSettings::textColor;
    default:
        return nullptr;
    }
}

QString colourKindName(int kind)
{
    static const char* const names[] = {"跟随主题", "石墨黑", "商务蓝", "墨绿", "绛红", "珍珠白", "自定义颜色"};
    // Every colour-kind field shares the range 0..6.
    return QString::fromUtf8(names[bounded(&AppSettings::titleBarColor, kind)]);
}

QString colourText(int key, const AppSettings& s)
{
    int AppSettings::*member = colourMember(key);
    return member ? colourKindName(s.*member) : QString();
}

} // namespace settingsrows
