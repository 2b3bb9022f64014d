// What a click on the settings dialog does: the press records the id under the pointer (and acts at once for
// the close cross, the window move and the scroll bar), the release runs the action of that id when it lands
// on the same id, or on a footer button.
#include "settings/settingsdialog.h"

#include "platform/heaptrim.h"
#include "settings/settingsids.h"
#include "settings/settingssliders.h"
#include "settings/sliderwidget.h"
#include "ui/dialogseams.h"
#include "ui/hintcarddialog.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/msgdialog.h"
#include "ui/servicehost.h"
#include "ui/theme.h"

#include <QDir>
#include <QFileInfo>
#include <QKeySequenceEdit>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QUrl>
#include <QWindow>

#include <cmath>

namespace {

SettingsDialog::MenuRunner& menuRunner()
{
    static SettingsDialog::MenuRunner runner;
    return runner;
}

SettingsDialog::LogViewerRunner& logViewerRunner()
{
    static SettingsDialog::LogViewerRunner runner;
    return runner;
}

QAction* runMenu(QMenu& menu, const QPoint& pos)
{
    if (menuRunner())
        return menuRunner()(menu, pos);
    return menu.exec(pos);
}

bool isVideoSuffix(const QString& path)
{
    static const QStringList suffixes = {QStringLiteral("mp4"), QStringLiteral("m4v"), QStringLiteral("mov"),
                                         QStringLiteral("wmv"), QStringLiteral("avi"), QStringLiteral("mkv")};
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

struct ColourSetting
{
    const char* title;
    int AppSettings::*kind;
    int AppSettings::*custom;
};

const ColourSetting* colourSetting(int which)
{
    static const ColourSetting table[] = {
        {"标题栏颜色", &AppSettings::titleBarColor, &AppSettings::titleBarCustomRgb},
        {"底部栏颜色", &AppSettings::bottomBarColor, &AppSettings::bottomBarCustomRgb},
        {"中间板块颜色", &AppSettings::midColor, &AppSettings::midCustomRgb},
        {"边框颜色", &AppSettings::borderColor, &AppSettings::borderCustomRgb},
        {nullptr, nullptr, nullptr},
        {"文字颜色", &AppSettings::textColor, &AppSettings::textCustomRgb},
        {"分界线颜色", &AppSettings::dividerColor, &AppSettings::dividerCustomRgb},
        {"悬停高亮颜色", &AppSettings::hoverColor, &AppSettings::hoverCustomRgb},
    };
    return which >= 0 && which < 8 && table[which].title ? &table[which] : nullptr;
}

int colourMenuFor(int id)
{
    using namespace settingsids;
    switch (id) {
    case TitleBarColour:
        return 0;
    case BottomBarColour:
        return 1;
    case MidColour:
        return 2;
    case BorderColour:
        return 3;
    case TextColour:
        return 5;
    case DividerColour:
        return 6;
    case HoverColour:
        return 7;
    default:
        return -1;
    }
}

} // namespace

SettingsDialog::MenuRunner SettingsDialog::setMenuRunner(MenuRunner runner)
{
    MenuRunner previous = std::move(menuRunner());
    menuRunner() = std::move(runner);
    return previous;
}

void SettingsDialog::setLogViewerRunner(LogViewerRunner runner)
{
    logViewerRunner() = std::move(runner);
}

// ---- press and release ----------------------------------------------------------------------------------

void SettingsDialog::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    // The hotkey field keeps recording while it has the focus, and the painted rows take none: a click anywhere
    // else ends the recording, so Return and Escape afterwards reach the dialog and not the field.
    if (m_hotkeyEdit->hasFocus())
        setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::RightButton && m_page == 3) {
        rightClickIconPage(toContent(pos));
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    const int h = height();
    if (closeRect().adjusted(-4, -4, 4, 4).contains(pos)) {
        reject();
        return;
    }
    if (pos.y() < 45) {
        if (QWindow* window = windowHandle())
            window->startSystemMove();
        return;
    }
    if (pageScrolls(m_page) && !m_scrollBar.thumb.isNull()) {
        if (m_scrollBar.thumb.contains(pos)) {
            m_draggingThumb = true;
            m_dragStartY = pos.y();
            m_dragStartScroll = m_scroll;
            grabMouse();
            return;
        }
        if (m_scrollBar.track.contains(pos)) {
            const int content = std::max(1, m_contentBottom);
            const int maxScroll = maxScrollOf(content, h);
            if (maxScroll > 0) {
                const int thumb = std::max(28, int(std::lround(double(h - 120) * (h - 120) / content)));
                const double at = double(pos.y() - thumb / 2.0 - 58) * maxScroll / std::max(1, h - thumb - 120);
                m_scroll = std::clamp(int(std::lround(at)), 0, maxScroll);
                placeEditors();
                update();
            }
            return;
        }
    }
    m_pressedId = -1;
    if (m_page == 3 && pressIconBadge(toContent(pos)))
        return;
    for (int id : {settingsids::RestoreDefaults, settingsids::CancelButton, settingsids::OkButton})
        if (footerRect(id).contains(pos))
            m_pressedId = id;
    if (m_pressedId < 0) {
        const QPoint content = toContent(pos);
        for (const HitArea& hit : m_hits) {
            if (hit.kind == 0)
                continue;
            const bool frame = hit.kind == 1;
            if (hit.rect.contains(frame ? pos : content)) {
                m_pressedId = hit.id;
                break;
            }
        }
    }
    m_pressedInside = m_pressedId >= 0;
    update();
}

void SettingsDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (m_draggingThumb) {
        m_draggingThumb = false;
        releaseMouse();
        update();
        return;
    }
    const QPoint pos = event->position().toPoint();
    const int pressed = m_pressedId;
    m_pressedId = -1;
    m_pressedInside = false;
    if (pressed == settingsids::CloseCross) {
        reject();
        return;
    }
    int action = pressed;
    if (footerRect(settingsids::OkButton).contains(pos))
        action = settingsids::OkButton;
    else if (footerRect(settingsids::CancelButton).contains(pos))
        action = settingsids::CancelButton;
    else if (footerRect(settingsids::RestoreDefaults).contains(pos))
        action = settingsids::RestoreDefaults;
    else if (pressed < 0 || (!settingsids::isFooterButton(pressed) && !hitTestId(pos, pressed))) {
        update();
        return;
    }
    runAction(action, mapToGlobal(pos));
    update();
}

// ---- dispatch -------------------------------------------------------------------------------------------

void SettingsDialog::runAction(int id, const QPoint& globalPos)
{
    // Ids of the row lists mean something only on their own page.
    if (settingsids::decode(m_page, id).target != settingsids::Target::Frame) {
        runRowAction(id);
        return;
    }
    using namespace settingsids;
    const Decoded frame = decodeFrame(id);
    switch (frame.target) {
    case Target::Nav:
        openPage(frame.row);
        return;
    case Target::Toggle:
        flipToggle(frame.row);
        return;
    case Target::Choice:
        pickChoice(frame.row, frame.column);
        return;
    default:
        break;
    }
    if (const int which = colourMenuFor(id); which >= 0) {
        showColourMenu(which, globalPos);
        return;
    }
    if (runFrameButton(id, globalPos) || runAppearanceButton(id) || runDataButton(id) || runAboutButton(id) ||
        runProtectionButton(id))
        return;
    runBackupPageAction(id);
}

// A page of the navigation; the protection page asks for the password first.
void SettingsDialog::openPage(int page)
{
    if (page == kProtectPage && !m_protectUnlocked && !ensureProtectAccess())
        return;
    switchPage(page);
}

void SettingsDialog::flipToggle(int index)
{
    if (bool AppSettings::*member = settingsrows::toggleMember(index))
        m_edited.*member = !(m_edited.*member);
    report();
    update();
}

// One side of a two-way choice: theme, group layout, click to open, hover mode, language, recording format.
void SettingsDialog::pickChoice(int index, int value)
{
    switch (index) {
    case 0:
        m_edited.darkTheme = value == 1;
        report();
        applyEditorStyles();
        break;
    case 1:
        m_edited.horizontalGroups = value == 1;
        report();
        break;
    case 2:
        m_edited.singleClickOpen = value == 1;
        report();
        break;
    case 3:
        m_edited.hoverMode = value;
        report();
        relayout();
        break;
    case 4:
        m_edited.language = value;
        Lang::setLanguage(value);
        Lang::notifyChanged();
        relayout();
        break;
    case 5:
        m_edited.monitorFormat = value;
        report();
        break;
    }
    update();
}

// The frame's own controls and the drop-down menus every page may show; true when id was one of them.
bool SettingsDialog::runFrameButton(int id, const QPoint& globalPos)
{
    using namespace settingsids;
    switch (id) {
    case CloseCross:
    case CancelButton:
        reject();
        return true;
    case RestoreDefaults:
        restoreDefaults();
        return true;
    case OkButton:
        accept();
        return true;
    case RevealMethodMenu:
    case MonitorTriggerMenu:
    case BackupIntervalMenu:
    case BackupRetainMenu:
        showMenu(id, globalPos);
        return true;
    case HotkeyField:
        m_hotkeyEdit->setFocus(Qt::OtherFocusReason);
        return true;
    default:
        return false;
    }
}

// The logo, background and program icon choosers of the appearance page.
bool SettingsDialog::runAppearanceButton(int id)
{
    using namespace settingsids;
    switch (id) {
    case ChooseLogo:
        chooseLogo();
        return true;
    case ResetLogo:
        m_edited.customLogoPath.clear();
        report();
        return true;
    case ClearLogoBadge:
        m_edited.customLogoPath.clear();
        report();
        relayout();
        return true;
    case ChooseBackground:
    case ChoosePortraitBackground:
        chooseBackground(id == ChoosePortraitBackground);
        return true;
    case ClearBackground:
    case ClearBackgroundBadge:
        m_edited.bgImagePath.clear();
        relayout();
        report();
        return true;
    case ClearPortraitBackgroundBadge:
        m_edited.bgImagePortrait.clear();
        relayout();
        report();
        return true;
    case ChooseAppIcon:
        chooseAppIcon();
        return true;
    case ClearAppIcon:
        m_edited.appIconPath.clear();
        report();
        return true;
    default:
        return false;
    }
}

// The data card's rows and the cache and data-folder buttons of the other pages.
bool SettingsDialog::runDataButton(int id)
{
    using namespace settingsids;
    switch (id) {
    case OpenDataFolder:
    case AboutOpenDataFolder:
    case IconsOpenDataFolder:
        openFolder(m_dataDir);
        return true;
    case ExportUserData:
        if (m_onExportUserData)
            m_onExportUserData();
        return true;
    case ImportUserData:
        if (m_onImportUserData)
            m_onImportUserData();
        return true;
    case ClearIconCache:
    case AboutClearIconCache:
    case IconsClearIconCache:
        clearIconCache();
        return true;
    default:
        return false;
    }
}

// The help and about page: the service's pages, the update check, memory, logs, uninstall and reset.
bool SettingsDialog::runAboutButton(int id)
{
    using namespace settingsids;
    switch (id) {
    case OpenServiceSite:
        openServicePage(QStringLiteral("/"));
        return true;
    case OpenSocialPage:
        openServicePage(QStringLiteral("/social.html"));
        return true;
    case UserAgreement:
    case PrivacyPolicy:
    case LgplNotice: {
        static const char* const types[] = {"user", "privacy", "lgpl"};
        ktr::openServicePage(this, QStringLiteral("/protocol.php"),
                             QStringLiteral("type=") + QLatin1String(types[id - UserAgreement]));
        return true;
    }
    case CheckUpdate:
        if (m_onCheckUpdate)
            m_onCheckUpdate();
        return true;
    case StableChannel:
    case BetaChannel:
        m_edited.updateChannel = id - StableChannel;
        return true;
    case ReleaseMemory:
        ktr::platform::releaseFreeHeap();
        return true;
    case OpenLogViewer:
        if (logViewerRunner())
            logViewerRunner()(m_dataDir, this);
        return true;
    case ExportLogs:
        if (m_onExportLogs)
            m_onExportLogs();
        return true;
    case UninstallKeepData:
    case UninstallAll:
        if (m_onUninstall)
            m_onUninstall(id == UninstallAll);
        return true;
    case FactoryReset:
        if (m_onFactoryReset)
            m_onFactoryReset();
        return true;
    default:
        return false;
    }
}

// The protection page: the lock background, the recorder's folder and the protection password.
bool SettingsDialog::runProtectionButton(int id)
{
    using namespace settingsids;
    switch (id) {
    case ChooseLockBackground:
        chooseLockBackground();
        return true;
    case ResetLockBackground:
        m_edited.lockBgPath.clear();
        if (m_onLockBackgroundChosen)
            m_onLockBackgroundChosen(QString());
        relayout();
        return true;
    case ChooseRecorderFolder:
        chooseRecorderFolder();
        return true;
    case OpenRecorderFolder: {
        const QString folder = m_edited.monitorDir.isEmpty() ? m_dataDir : m_edited.monitorDir;
        QDir().mkpath(folder);
        openFolder(folder);
        return true;
    }
    case ChangeProtectPassword:
        changeProtectPassword();
        return true;
    default:
        return false;
    }
}

void SettingsDialog::runRowAction(int id)
{
    const settingsids::Decoded d = settingsids::decode(m_page, id);
    if (d.target == settingsids::Target::None || d.row < 0 || d.row >= pageRowCount(m_page))
        return;
    switch (d.target) {
    case settingsids::Target::ButtonRow:
        applyButtonRowAction(d.row, d.column);
        return;
    case settingsids::Target::IconRow:
        applyIconRowAction(d.row, d.column);
        return;
    case settingsids::Target::ProtectTarget:
        chooseObfuscationTarget(d.row, d.column == 1);
        return;
    case settingsids::Target::SnapshotRestore:
    case settingsids::Target::SnapshotDelete:
        runSnapshotRowAction(d.target == settingsids::Target::SnapshotRestore, d.row);
        return;
    default:
        return;
    }
}

QAction* SettingsDialog::execMenu(QMenu& menu, const QPoint& globalPos)
{
    return runMenu(menu, globalPos);
}

void SettingsDialog::showInfoCard(const QString& title, const QString& text, const QStringList& buttons)
{
    const QStringList texts = buttons.isEmpty() ? QStringList{Lang::tr("确定")} : buttons;
    MsgDialog card(this, MsgDialog::Information, title, text, texts, 0);
    execCard(card);
}

// ---- restore defaults -----------------------------------------------------------------------------------

void SettingsDialog::restoreDefaults()
{
    const int answer = MsgDialog::ask(
        this, Lang::tr("恢复默认"),
        Lang::tr("将把外观与界面相关的设置恢复为初始值（主题、配色、圆角、透明度、图标尺寸、悬停效果、按钮布局、呼出快"
                 "捷键等）。"
                 "\n\n程序保护密码、备份与录屏配置、自定义背景/LOGO/按钮图标、界面语言都不会被改动。\n\n是否继续？"));
    if (answer != 1)
        return;
    const AppSettings d;
    AppSettings& s = m_edited;
    s.startPinned = d.startPinned;
    s.closeToTray = d.closeToTray;
    s.minimizeToTray = d.minimizeToTray;
    s.iconSize = d.iconSize;
    s.iconSizePortrait = d.iconSizePortrait;
    s.showItemNames = d.showItemNames;
    s.showNewGroupBtn = d.showNewGroupBtn;
    s.cornerRadius = d.cornerRadius;
    s.opacity = d.opacity;
    s.darkTheme = d.darkTheme;
    s.horizontalGroups = d.horizontalGroups;
    s.singleClickOpen = d.singleClickOpen;
    s.edgeSnap = d.edgeSnap;
    s.snapRevealPx = d.snapRevealPx;
    s.revealMethod = d.revealMethod;
    s.summonHotkey = d.summonHotkey;
    s.autoClassify = d.autoClassify;
    s.titleBarColor = d.titleBarColor;
    s.titleBarCustomRgb = d.titleBarCustomRgb;
    s.titleBarOpacity = d.titleBarOpacity;
    s.bottomBarColor = d.bottomBarColor;
    s.bottomBarCustomRgb = d.bottomBarCustomRgb;
    s.bottomBarOpacity = d.bottomBarOpacity;
    s.midColor = d.midColor;
    s.midCustomRgb = d.midCustomRgb;
    s.midOpacity = d.midOpacity;
    s.clickThroughAtZero = d.clickThroughAtZero;
    s.borderColor = d.borderColor;
    s.borderCustomRgb = d.borderCustomRgb;
    s.borderOpacity = d.borderOpacity;
    s.showTitle = d.showTitle;
    s.showLogo = d.showLogo;
    s.textColor = d.textColor;
    s.textCustomRgb = d.textCustomRgb;
    s.textOpacity = d.textOpacity;
    s.dividerColor = d.dividerColor;
    s.dividerCustomRgb = d.dividerCustomRgb;
    s.dividerWidth = d.dividerWidth;
    s.dividerOpacity = d.dividerOpacity;
    s.hoverMode = d.hoverMode;
    s.hoverColor = d.hoverColor;
    s.hoverCustomRgb = d.hoverCustomRgb;
    s.hoverOpacity = d.hoverOpacity;
    s.btnVisible = d.btnVisible;
    s.btnLayoutTitle = d.btnLayoutTitle;
    s.btnLayoutBottom = d.btnLayoutBottom;
    {
        const QSignalBlocker block(m_hotkeyEdit);
        m_hotkeyEdit->setKeySequence(QKeySequence(s.summonHotkey, QKeySequence::PortableText));
    }
    for (int key : {0, 1, 2, 3, 5, 6, 7, 8, 11, 12, 10, 14, 13, 4}) {
        const SliderSpec* spec = sliderSpec(key);
        m_sliders->sliderForKey(key)->setValue(s.*(spec->member), false);
    }
    {
        const QSignalBlocker block(m_titleEdit);
        m_titleEdit->setText(s.customTitle);
    }
    report();
    m_iconCacheCleared = false;
    relayout();
    update();
}

// ---- menus ----------------------------------------------------------------------------------------------

void SettingsDialog::showMenu(int id, const QPoint& globalPos)
{
    struct Entry
    {
        QString text;
        int value;
    };
    QList<Entry> entries;
    int AppSettings::*member = nullptr;
    if (id == settingsids::RevealMethodMenu) {
        member = &AppSettings::revealMethod;
        entries = {{Lang::tr("按下鼠标中键"), 1},
                   {Lang::tr("双击鼠标中键"), 2},
                   {Lang::tr("长按鼠标中键"), 3},
                   {Lang::tr("长按鼠标右键"), 4}};
    } else if (id == settingsids::MonitorTriggerMenu) {
        member = &AppSettings::monitorTrigger;
        entries = {{Lang::tr("键盘或鼠标输入"), 0}, {Lang::tr("仅键盘输入"), 1}, {Lang::tr("仅鼠标输入"), 2}};
    } else if (id == settingsids::BackupIntervalMenu) {
        member = &AppSettings::backupIntervalDays;
        entries = {{Lang::tr("每天"), 1}, {Lang::tr("每 3 天"), 3}, {Lang::tr("每周"), 7}, {Lang::tr("每月"), 30}};
    } else if (id == settingsids::BackupRetainMenu) {
        member = &AppSettings::backupRetain;
        for (int n : {10, 20, 30, 50, 100})
            entries.append({QString::number(n) + Lang::tr(" 份"), n});
    } else {
        return;
    }
    QMenu menu(this);
    for (const Entry& e : entries) {
        QAction* action = menu.addAction(e.text);
        action->setCheckable(true);
        action->setData(e.value);
        action->setChecked(m_edited.*member == e.value);
    }
    QAction* chosen = runMenu(menu, globalPos);
    m_hoveredId = -1;
    if (!chosen)
        return;
    const int value = chosen->data().toInt();
    m_edited.*member = value;
    if (id == settingsids::MonitorTriggerMenu && m_main)
        m_main->monitorTrigger = value; // kept even when the dialog is cancelled
    if (id == settingsids::BackupIntervalMenu || id == settingsids::BackupRetainMenu)
        relayout();
    update();
}

void SettingsDialog::showColourMenu(int which, const QPoint& globalPos)
{
    const ColourSetting* setting = colourSetting(which);
    if (!setting)
        return;
    const QString title = Lang::tr(setting->title);
    const int kind = m_edited.*(setting->kind);
    QMenu menu(this);
    menu.setTitle(title);
    static const char* const names[] = {"跟随主题", "石墨黑", "商务蓝", "墨绿", "绛红", "珍珠白"};
    for (int k = 0; k < 6; ++k) {
        QAction* action = menu.addAction(Lang::tr(names[k]));
        action->setCheckable(true);
        action->setData(k);
        action->setChecked(kind == k);
    }
    menu.addSeparator();
    QAction* custom = menu.addAction(Lang::tr("自定义颜色…"));
    custom->setCheckable(true);
    custom->setData(6);
    custom->setChecked(kind == 6);
    QAction* chosen = runMenu(menu, globalPos);
    m_hoveredId = -1;
    if (!chosen)
        return;
    if (chosen != custom) {
        // A preset keeps the custom colour for a later return to it.
        m_edited.*(setting->kind) = chosen->data().toInt();
    } else {
        QColor initial;
        if (kind == 6) {
            initial = QColor::fromRgb(QRgb(m_edited.*(setting->custom) & 0xFFFFFF));
        } else if (kind != 0) {
            initial = themeKindColor(kind);
        } else {
            const Theme& theme = currentTheme();
            switch (which) {
            case 3:
                initial = theme.border;
                break;
            case 5:
                initial = theme.text;
                break;
            case 6:
                initial = theme.dividerColor;
                break;
            case 7:
                initial = theme.itemHover;
                break;
            default:
                initial = themeKindColor(0);
            }
        }
        const QColor picked = ktr::dialogs::chooseColour(this, initial, title);
        if (!picked.isValid())
            return;
        m_edited.*(setting->kind) = 6;
        m_edited.*(setting->custom) = int(picked.rgb() & 0xFFFFFF);
    }
    report();
    update();
}

// ---- choosers -------------------------------------------------------------------------------------------

void SettingsDialog::chooseLogo()
{
    const QString path = ktr::dialogs::openFile(this, Lang::tr("选择 LOGO 图片"), QString(),
                                                Lang::tr("图片文件 (*.png *.jpg *.jpeg *.bmp *.ico)"));
    m_hoveredId = -1;
    m_pressedId = -1;
    if (!path.isEmpty()) {
        if (QPixmap(path).isNull()) {
            ktr::dialogs::information(this, Lang::tr("自定义 LOGO"),
                                      Lang::tr("无法读取该图片文件，请选择有效的 PNG / JPG / BMP / ICO。"), 1);
        } else {
            m_edited.customLogoPath = path;
            relayout();
            report();
        }
    }
    update();
}

void SettingsDialog::chooseAppIcon()
{
    const QString path = ktr::dialogs::openFile(
        this, QStringLiteral("选择程序图标（支持 PNG / JPG / JPEG / BMP / ICO，建议 32×32 或 64×64 像素）"), QString(),
        Lang::tr("图片文件 (*.png *.jpg *.jpeg *.bmp *.ico);;所有文件 (*.*)"));
    if (path.isEmpty())
        return;
    if (QPixmap(path).isNull()) {
        ktr::dialogs::information(this, Lang::tr("程序图标"),
                                  Lang::tr("无法读取该图片文件，请选择有效的 PNG / JPG / BMP / ICO。"), 1);
        return;
    }
    m_edited.appIconPath = QDir::toNativeSeparators(path);
    relayout();
    report();
    update();
}

void SettingsDialog::chooseBackground(bool portrait)
{
    HintCardDialog hint(backgroundHintTitle(), backgroundHintText(), Lang::tr("选择文件"), Lang::tr("取消"), this);
    const int result = execCard(hint);
    m_hoveredId = -1;
    m_pressedId = -1;
    if (result != QDialog::Accepted) {
        update();
        return;
    }
    const QString path = ktr::dialogs::openFile(
        this, portrait ? Lang::tr("选择竖屏背景（图片 / 动图 / 视频）") : Lang::tr("选择背景（图片 / 动图 / 视频）"),
        QString(),
        QStringLiteral("支持的背景文件 (*.png *.jpg *.jpeg *.bmp *.gif *.mp4 *.m4v *.mov *.wmv *.avi *.mkv);;"
                       "图片与动图 (*.png *.jpg *.jpeg *.bmp *.gif);;视频 (*.mp4 *.m4v *.mov *.wmv *.avi *.mkv);;"
                       "所有文件 (*.*)"));
    if (!path.isEmpty()) {
        if (!isVideoSuffix(path) && QPixmap(path).isNull()) {
            ktr::dialogs::information(this, Lang::tr("背景图片"),
                                      Lang::tr("无法读取该图片文件，请选择有效的 PNG / JPG / BMP / GIF。"), 1);
        } else {
            (portrait ? m_edited.bgImagePortrait : m_edited.bgImagePath) = path;
            relayout();
            report();
        }
    }
    update();
}

void SettingsDialog::chooseLockBackground()
{
    const QString path = ktr::dialogs::openFile(
        this, Lang::tr("选择锁屏背景（图片 / 动图 / 视频）"), QString(),
        QStringLiteral("支持的锁屏背景 (*.png *.jpg *.jpeg *.bmp *.gif *.mp4 *.m4v *.mov *.wmv *.avi *.mkv);;"
                       "图片与动图 (*.png *.jpg *.jpeg *.bmp *.gif);;视频 (*.mp4 *.m4v *.mov *.wmv *.avi *.mkv);;"
                       "所有文件 (*.*)"));
    m_hoveredId = -1;
    m_pressedId = -1;
    if (!path.isEmpty()) {
        m_edited.lockBgPath = path;
        if (m_onLockBackgroundChosen)
            m_onLockBackgroundChosen(path);
        relayout();
    }
    update();
}

void SettingsDialog::chooseRecorderFolder()
{
    const QString start = m_edited.monitorDir.isEmpty() ? m_dataDir : m_edited.monitorDir;
    const QString folder = ktr::dialogs::chooseFolder(this, Lang::tr("选择录屏存储目录"), start);
    if (folder.isEmpty())
        return;
    m_edited.monitorDir = folder;
    if (m_main)
        m_main->monitorDir = folder; // kept even when the dialog is cancelled
    update();
}

void SettingsDialog::openFolder(const QString& path)
{
    ktr::dialogs::openUrl(QUrl::fromLocalFile(path));
}

void SettingsDialog::openServicePage(const QString& path)
{
    ktr::openServicePage(this, path);
}

void SettingsDialog::clearIconCache()
{
    if (!m_onClearIconCache)
        return; // nothing was cleared, so the button does not claim it
    m_onClearIconCache();
    m_iconCacheCleared = true;
    update();
}
