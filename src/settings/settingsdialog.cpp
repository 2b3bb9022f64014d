#include "settings/settingsdialog.h"

#include "platform/fontnames.h"
#include "platform/globalhotkey.h"
#include "settings/editedfields.h"
#include "settings/elidecombo.h"
#include "settings/settingsids.h"
#include "settings/settingssliders.h"
#include "settings/sliderwidget.h"
#include "ui/lang.h"
#include "ui/screenfit.h"
#include "ui/theme.h"
#include "ui/uisignals.h"
#include "ui/windowcorners.h"

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequenceEdit>
#include <QLineEdit>
#include <QScreen>
#include <QThread>
#include <QWheelEvent>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kNavPages[] = {0, 1, 3, 5, 6, 2};

} // namespace

SettingsDialog::SettingsDialog(AppSettings* settings, const QString& dataDir, std::function<void()> onClearIconCache,
                               std::function<void(const AppSettings&)> onSettingsChanged,
                               std::function<void()> onExportUserData, std::function<void()> onImportUserData,
                               std::function<void()> onCheckUpdate, std::function<void()> onExportLogs,
                               std::function<void(bool)> onUninstall, const QList<Group>* groups,
                               std::function<void()> onIconsChanged,
                               std::function<void(const QString&)> onLockBackgroundChosen,
                               std::function<void(const QString&, const QMap<QString, QString>&)> onProtectCommitted,
                               QWidget* parent)
    : QDialog(parent), m_main(settings), m_edited(settings ? *settings : AppSettings()), m_base(m_edited),
      m_dataDir(dataDir), m_groups(groups), m_onClearIconCache(std::move(onClearIconCache)),
      m_onSettingsChanged(std::move(onSettingsChanged)), m_onExportUserData(std::move(onExportUserData)),
      m_onImportUserData(std::move(onImportUserData)), m_onCheckUpdate(std::move(onCheckUpdate)),
      m_onExportLogs(std::move(onExportLogs)), m_onUninstall(std::move(onUninstall)),
      m_onIconsChanged(std::move(onIconsChanged)), m_onLockBackgroundChosen(std::move(onLockBackgroundChosen)),
      m_onProtectCommitted(std::move(onProtectCommitted))
{
    setWindowFlag(Qt::FramelessWindowHint, true);
    setWindowTitle(Lang::tr("设置"));
    // The settings button can't be hidden: it is the way back here.
    m_edited.btnVisible[1] = true;
    setAttribute(Qt::WA_TranslucentBackground, true);
    keepOnScreen(this);
    followCompositing(this, [] { return dialogRoles().background; });
    setModal(false);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    setFixedSize(windowSizeFor(screen ? &available : nullptr));
    buildEditors();
    setMouseTracking(true);
    // The panel switches the theme and language itself too (its theme button, a restore).
    connect(&UiSignals::instance(), &UiSignals::themeChanged, this, [this] {
        applyEditorStyles();
        update();
    });
    connect(&UiSignals::instance(), &UiSignals::languageChanged, this, [this] {
        m_titleEdit->setPlaceholderText(Lang::tr("青岚舟面板"));
        setWindowTitle(Lang::tr("设置"));
        m_fontCombo->setItemText(0, defaultFontLabel());
        if (m_fontCombo->currentIndex() == 0) {
            m_fontCombo->setProperty("fullText", m_fontCombo->itemText(0));
            m_fontCombo->refreshElide();
        }
        relayout();
        update();
    });
    relayout();
}

// The default entry names the font that really draws the interface here (the Chinese interface font the
// system matched), not a font of another system, by its name in the language shown.
QString SettingsDialog::defaultFontLabel()
{
    const QString family = QFontInfo(QFont(uiFontFamily())).family();
    return Lang::tr("默认（%1）")
        .arg(ktr::platform::fontFamilyNameIn(family,
                                             Lang::language() == 1 ? QStringLiteral("en") : QStringLiteral("zh-cn")));
}

SettingsDialog::~SettingsDialog()
{
    // A running backup, restore or export is asked to stop; its controller reports how it ended.
    if (m_jobs)
        m_jobs->cancel();
    // The editors are destroyed after this dialog's own part is gone, and an editor that loses its focus on the
    // way (the hotkey field ends its capture) would still call into it.
    for (QObject* child : children())
        child->disconnect(this);
}

QSize SettingsDialog::windowSizeFor(const QRect* available)
{
    if (!available)
        return {780, 800};
    const int ah = std::max(available->height(), 200);
    const int aw = std::max(available->width(), 320);
    int h = std::min(ah - 72, 800);
    if (ah - 72 < 360)
        h = std::min(360, ah - 8);
    return {std::min(aw - 16, 780), h};
}

void SettingsDialog::buildEditors()
{
    m_hotkeyEdit = new QKeySequenceEdit(QKeySequence(m_edited.summonHotkey, QKeySequence::PortableText), this);
    m_hotkeyEdit->setObjectName(QStringLiteral("hotkeyEditor"));
    m_hotkeyEdit->setFocusPolicy(Qt::StrongFocus);
    m_hotkeyEdit->installEventFilter(this);
    m_hotkeyEdit->hide();
    connect(m_hotkeyEdit, &QKeySequenceEdit::keySequenceChanged, this, [this] { takeHotkeyFromEditor(); });
    // A recording left without a usable key (a modifier let go, the focus moved on) leaves the editor blank
    // while the hotkey is unchanged: show the one OK will keep.
    connect(m_hotkeyEdit, &QKeySequenceEdit::editingFinished, this, [this] {
        if (m_hotkeyEdit->keySequence().toString(QKeySequence::PortableText) == m_edited.summonHotkey)
            return;
        const QSignalBlocker block(m_hotkeyEdit);
        m_hotkeyEdit->setKeySequence(QKeySequence(m_edited.summonHotkey, QKeySequence::PortableText));
    });

    m_titleEdit = new QLineEdit(m_edited.customTitle, this);
    m_titleEdit->setObjectName(QStringLiteral("titleEditor"));
    m_titleEdit->setPlaceholderText(Lang::tr("青岚舟面板"));
    m_titleEdit->setMaxLength(24);
    m_titleEdit->hide();
    connect(m_titleEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_edited.customTitle = text.trimmed();
        report();
    });

    m_fontCombo = new ElideCombo(this);
    m_fontCombo->setObjectName(QStringLiteral("fontChooser"));
    m_fontCombo->addItem(defaultFontLabel(), QString());
    for (const QString& family : QFontDatabase::families())
        m_fontCombo->addItem(family, family);
    const int current = std::max(0, m_fontCombo->findData(m_edited.fontFamily));
    m_fontCombo->setCurrentIndex(current);
    m_fontCombo->setProperty("fullText", m_fontCombo->itemText(current));
    m_fontCombo->hide();
    connect(m_fontCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_fontCombo->setProperty("fullText", m_fontCombo->itemText(index));
        m_edited.fontFamily = m_fontCombo->itemData(index).toString();
        m_fontCombo->refreshElide();
        report();
    });

    m_sliders = new SettingsSliders(
        this, &m_edited, [this](const AppSettings&) { report(); }, [this] { update(); });
}

void SettingsDialog::takeHotkeyFromEditor()
{
    const QKeySequence sequence = m_hotkeyEdit->keySequence();
    const QString text = sequence.toString(QKeySequence::PortableText);
    // Only the first combination is ever grabbed; a bare key ("A") can't be a global hotkey and would leave
    // the panel with none: the editor goes back to the hotkey that works, and the user is told why.
    // The editor clears itself when a recording starts; Escape, Backspace and Delete clear the copy themselves
    // (eventFilter). So an empty sequence here says nothing about the hotkey.
    if (sequence.isEmpty())
        return;
    if (ktr::platform::parseHotkeyText(text)) {
        m_edited.summonHotkey = text;
        return;
    }
    qInfo().noquote() << "[settings] hotkey refused (needs a modifier):" << text;
    {
        const QSignalBlocker block(m_hotkeyEdit);
        m_hotkeyEdit->setKeySequence(QKeySequence(m_edited.summonHotkey, QKeySequence::PortableText));
    }
    // Not from inside the editor's own key handling: the card runs an event loop.
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            showInfoCard(Lang::tr("呼出面板快捷键"),
                         Lang::tr("“%1”不能作为快捷键：请同时按下 Ctrl、Alt、Shift 或 Super 键与另一个键，例如 "
                                  "Ctrl+Alt+G。")
                             .arg(QKeySequence(text, QKeySequence::PortableText).toString(QKeySequence::NativeText)),
                         {});
        },
        Qt::QueuedConnection);
}

void SettingsDialog::report()
{
    // The preview sends the whole copy: without the panel's own changes it would undo them.
    takePanelChanges();
    if (m_onSettingsChanged)
        m_onSettingsChanged(m_edited);
}

bool SettingsDialog::takePanelChanges()
{
    if (!m_main || m_base == *m_main)
        return false;
    followLiveFields(m_base, m_edited, *m_main);
    m_edited.btnVisible[1] = true;
    const QSignalBlocker hotkeyBlock(m_hotkeyEdit);
    m_hotkeyEdit->setKeySequence(QKeySequence(m_edited.summonHotkey, QKeySequence::PortableText));
    const QSignalBlocker titleBlock(m_titleEdit);
    if (m_titleEdit->text().trimmed() != m_edited.customTitle)
        m_titleEdit->setText(m_edited.customTitle);
    m_sliders->reloadValues();
    return true;
}

void SettingsDialog::followPanel()
{
    if (!takePanelChanges())
        return;
    if (m_main && !(m_edited == *m_main) && m_onSettingsChanged)
        m_onSettingsChanged(m_edited);
    refresh();
}

SliderWidget* SettingsDialog::sliderForKey(int key) const
{
    return m_sliders->sliderForKey(key);
}

void SettingsDialog::setEditedSettings(const AppSettings& settings)
{
    m_edited = settings;
    m_edited.btnVisible[1] = true;
    m_base = settings;
    reloadEditorsFromCopy();
    refresh();
}

void SettingsDialog::editSettings(const std::function<void(AppSettings&)>& edit)
{
    edit(m_edited);
    report();
}

void SettingsDialog::reloadEditorsFromCopy()
{
    const QSignalBlocker hotkeyBlock(m_hotkeyEdit);
    m_hotkeyEdit->setKeySequence(QKeySequence(m_edited.summonHotkey, QKeySequence::PortableText));
    const QSignalBlocker titleBlock(m_titleEdit);
    m_titleEdit->setText(m_edited.customTitle);
    m_sliders->reloadValues();
    m_iconCacheCleared = false;
    placeEditors();
}

// ---- pages ----------------------------------------------------------------------------------------------

int SettingsDialog::navPage(int item)
{
    return item >= 0 && item < 6 ? kNavPages[item] : -1;
}

QString SettingsDialog::pageTitle(int page)
{
    static const char* const titles[] = {"通用设置", "外观",     "帮助与关于", "图标管理",
                                         "屏幕监控", "保护设置", "备份与恢复"};
    return page >= 0 && page < kPageCount ? QString::fromUtf8(titles[page]) : QString();
}

QRect SettingsDialog::navRect(int item) const
{
    return QRect(QPoint(10, 58 + 46 * item), QPoint(141, 95 + 46 * item));
}

QRect SettingsDialog::closeRect() const
{
    return QRect(QPoint(width() - 44, 6), QPoint(width() - 11, 37));
}

QRect SettingsDialog::footerRect(int id) const
{
    const int h = height();
    const int w = width();
    switch (id) {
    case settingsids::RestoreDefaults: {
        // As wide as a longer translation of its text needs.
        const int textWidth = settingsFont13Metrics().horizontalAdvance(Lang::tr("恢复默认"));
        return QRect(QPoint(20, h - 54), QPoint(std::max(137, 20 + textWidth + 24), h - 21));
    }
    case settingsids::CancelButton:
        return QRect(QPoint(w - 252, h - 54), QPoint(w - 143, h - 21));
    case settingsids::OkButton:
        return QRect(QPoint(w - 130, h - 54), QPoint(w - 21, h - 21));
    default:
        return {};
    }
}

void SettingsDialog::clearTooltip()
{
    m_tipText.clear();
    m_tipAnchor = QRect();
    m_tipId = -1;
}

void SettingsDialog::setTooltip(const QString& text, const QRect& anchor, int id)
{
    m_tipText = text;
    m_tipAnchor = anchor;
    m_tipId = id;
    update();
}

void SettingsDialog::switchPage(int page)
{
    m_page = std::clamp(page, 0, kPageCount - 1);
    m_iconCacheCleared = false;
    m_scroll = 0;
    clearTooltip();
    relayout();
    update();
}

void SettingsDialog::setPage(int page)
{
    switchPage(page);
}

void SettingsDialog::resetPointer()
{
    m_hoveredId = -1;
    m_pressedId = -1;
    if (m_draggingThumb && mouseGrabber() == this)
        releaseMouse();
    m_draggingThumb = false;
}

void SettingsDialog::refresh()
{
    if (!isVisible())
        return;
    resetPointer();
    relayout();
    update();
}

void SettingsDialog::showProtectPage()
{
    switchPage(kProtectPage);
}

void SettingsDialog::openProtectPage()
{
    if (!m_protectUnlocked && !ensureProtectAccess())
        return;
    showProtectPage();
}

int SettingsDialog::pageRowCount(int page) const
{
    switch (page) {
    case 1:
    case 3:
        return int(m_iconRows.size());
    case 6:
        return int(std::min(m_snapshots.size(), m_backupLayout.rows.size()));
    case kProtectPage:
        return int(std::min(m_protectRows.size(), m_protectRowRects.size()));
    default:
        return 0;
    }
}

// ---- layout ---------------------------------------------------------------------------------------------

const SettingsDialog::RowGeometry* SettingsDialog::cachedItemRect(int card, int row) const
{
    if (card < 0 || card >= m_geometry.size() || row < 0 || row >= m_geometry[card].rows.size())
        return nullptr;
    return &m_geometry[card].rows[row];
}

QList<QRect> SettingsDialog::layoutRowControls(const SettingsRow& row, const QRect& rect, bool isInline)
{
    const QList<RowControl>& controls = row.controls;
    QList<QRect> placed;
    const int t = rect.top() + (rect.bottom() - rect.top() - 27) / 2;
    int x = rect.right();
    for (int i = int(controls.size()) - 1; i >= 0; --i) {
        int w = controls[i].width;
        if (controls[i].kind == RowControl::FontChooser) {
            int before = 0;
            int count = 0;
            // What is already placed to its right.
            for (int j = i + 1; j < int(controls.size()); ++j) {
                ++count;
                if (controls[j].kind != RowControl::FontChooser)
                    before += controls[j].width;
            }
            // Inline, the chooser keeps clear of the card's title (drawn from 18 px in, bold), with a gap of
            // 16 px, rather than of a fixed 82 px: the default entry names a font, which needs the room.
            int reserve = 0;
            if (isInline)
                reserve =
                    std::min(82, 18 + QFontMetrics(settingsFont13Bold()).horizontalAdvance(Lang::tr(row.title)) + 16);
            w = rect.right() - before - 12 * count - reserve - rect.left();
            w = std::max(w, 120);
        }
        placed.append(QRect(QPoint(x - w, t), QPoint(x - 1, t + 27)));
        x = x - w - 12;
    }
    std::reverse(placed.begin(), placed.end());
    if (isInline && !controls.isEmpty() && controls.first().kind == RowControl::PathField &&
        placed.first().left() - rect.left() < 82) {
        QRect& field = placed.first();
        const int right = field.right();
        field.setLeft(rect.left() + 82);
        if (right - field.left() + 1 < 40)
            field.setRight(field.left() + 39);
    }
    return placed;
}

void SettingsDialog::computeRowGeometry()
{
    m_geometry.clear();
    const int x1 = 192;
    const int x2 = width() - 41;
    int y = 78;
    for (const SettingsCard& card : m_rows) {
        bool anyStacked = false;
        for (const SettingsRow& r : card.rows)
            anyStacked = anyStacked || !r.isInline;
        int L = 45;
        if (!card.rows.isEmpty()) {
            if (anyStacked) {
                for (const SettingsRow& r : card.rows)
                    L += r.kind == SettingsRow::Controls ? 48 : 36;
            } else {
                L = card.height > 0 ? card.height : 46;
            }
        }
        CardGeometry cg;
        cg.card = QRect(176, y, width() - 200, L);
        int offset = 42;
        for (const SettingsRow& r : card.rows) {
            const bool controls = r.kind == SettingsRow::Controls;
            RowGeometry rg;
            if (anyStacked) {
                rg.rect = QRect(QPoint(x1, y + offset), QPoint(x2, y + offset + (controls ? 46 : 34) - 1));
                offset += controls ? 48 : 36;
            } else {
                bool hasSlider = false;
                for (const RowControl& c : r.controls)
                    hasSlider = hasSlider || c.kind == RowControl::Slider;
                const int shift = controls && hasSlider && L >= 43 ? 3 : 0;
                rg.rect = QRect(QPoint(x1, y + shift), QPoint(x2, y + shift + L - 1));
            }
            if (controls) {
                rg.controls = layoutRowControls(r, rg.rect, r.isInline);
                // A chosen background shows its thumbnail in the 72 px left of its button: the controls to
                // its left give that room (the opacity slider's value would lie under it).
                for (int i = 0; i < r.controls.size() && i < rg.controls.size(); ++i) {
                    const RowControl& c = r.controls[i];
                    const bool thumb =
                        c.kind == RowControl::Button &&
                        ((c.value == settingsids::ChooseBackground && !m_edited.bgImagePath.isEmpty()) ||
                         (c.value == settingsids::ChoosePortraitBackground && !m_edited.bgImagePortrait.isEmpty()));
                    if (!thumb)
                        continue;
                    for (int j = 0; j < i; ++j)
                        rg.controls[j].translate(-72, 0);
                }
            }
            cg.rows.append(rg);
        }
        m_geometry.append(cg);
        y += L + 13;
    }
    m_contentBottom = y;
}

void SettingsDialog::addRowHits(const SettingsRow& row, const RowGeometry& g, int* dropCounter)
{
    const QRect& r = g.rect;
    const int x1 = r.left(), y1 = r.top(), x2 = r.right(), y2 = r.bottom();
    switch (row.kind) {
    case SettingsRow::Toggle: {
        const int t = y1 + (y2 - y1 - 19) / 2;
        m_hits.append({QRect(QPoint(x2 - 52, t), QPoint(x2 - 13, t + 19)), 2, settingsrows::toggleHitId(row.value)});
        break;
    }
    case SettingsRow::Choice: {
        const int trackWidth = settingsrows::choiceTrackWidth(row.value);
        const int w = trackWidth / 2;
        const int left = x2 - trackWidth;
        const int top = row.isInline ? y1 + (y2 - y1 - 27) / 2 : y1 + 3;
        for (int option = 0; option < 2; ++option)
            m_hits.append({QRect(left + option * w, top, w, 28), 3, settingsrows::choiceHitId(row.value, option)});
        break;
    }
    case SettingsRow::DropDown: {
        int id = settingsrows::dropDownHitId(row.value);
        if (id < 0) {
            // The data card's rows (open, export, import), numbered in their order.
            id = settingsids::OpenDataFolder + (*dropCounter)++;
        }
        m_hits.append(
            {QRect(QPoint(x2 - settingsrows::dropDownWidth(row.value), y1 + 2), QPoint(x2 - 1, y1 + 31)), 4, id});
        break;
    }
    case SettingsRow::Hotkey:
        m_hits.append({QRect(QPoint(x1 + 130, y1), QPoint(x2 - 120, y2)), 4, settingsids::HotkeyField});
        break;
    case SettingsRow::Controls:
        for (int i = 0; i < row.controls.size() && i < g.controls.size(); ++i) {
            const RowControl& c = row.controls[i];
            const QRect& cr = g.controls[i];
            if (c.kind == RowControl::Colour) {
                const int id = settingsids::colourActionForKey(c.value);
                if (id >= 0)
                    m_hits.append({cr, 4, id});
            } else if (c.kind == RowControl::Button) {
                const QRect& first = g.controls.first();
                const int cy = first.top() + (first.bottom() - first.top() - 35) / 2;
                const QRect badge(QPoint(first.left() - 24, cy - 1), QPoint(first.left() - 9, cy + 14));
                if (c.value == settingsids::ChooseLogo && !m_edited.customLogoPath.isEmpty())
                    m_hits.append({QRect(QPoint(cr.left() + 14, cr.top() - 7), QPoint(cr.left() + 35, cr.top() + 14)),
                                   4, settingsids::ClearLogoBadge});
                else if (c.value == settingsids::ChooseBackground && !m_edited.bgImagePath.isEmpty())
                    m_hits.append({badge, 4, settingsids::ClearBackgroundBadge});
                else if (c.value == settingsids::ChoosePortraitBackground && !m_edited.bgImagePortrait.isEmpty())
                    m_hits.append({badge, 4, settingsids::ClearPortraitBackgroundBadge});
                m_hits.append({cr, 4, c.value});
            } else if (c.kind == RowControl::InlineToggle) {
                const int labelWidth =
                    c.label.isEmpty() ? 0 : QFontMetrics(settingsFont13()).horizontalAdvance(Lang::tr(c.label)) + 8;
                const QRect sw = QRect(cr.center().x() - 19, cr.center().y() - 9, 40, 20);
                m_hits.append({sw.adjusted(-labelWidth, 0, 0, 0), 2, settingsrows::toggleHitId(c.value)});
            }
        }
        break;
    default:
        break;
    }
}

void SettingsDialog::relayout()
{
    m_rows = buildRows(m_page, m_edited);
    m_hits.clear();
    m_hits.append({closeRect(), 1, settingsids::CloseCross});
    for (int i = 0; i < 6; ++i)
        m_hits.append({navRect(i), 1, settingsids::navId(navPage(i))});
    m_geometry.clear();
    if (m_page == 2 || m_page == 3) {
        // The help and icon management pages lay themselves out.
        m_contentBottom = 78;
        if (m_page == 3)
            layoutIconsPage();
        if (m_page == 2)
            layoutAboutPage(width() - 200);
    } else {
        computeRowGeometry();
        int dropCounter = 0;
        for (int c = 0; c < m_rows.size(); ++c)
            for (int r = 0; r < m_rows[c].rows.size(); ++r)
                addRowHits(m_rows[c].rows[r], m_geometry[c].rows[r], &dropCounter);
        if (m_rows.isEmpty())
            m_contentBottom = 78;
        if (m_page == 1)
            layoutButtonsPage();
        else if (m_page == kProtectPage)
            layoutProtectPage();
        if (m_page == 6) {
            backupSummaryText(false);
            layoutBackupPage(width() - 200, 78);
        }
    }
    const int maxScroll = maxScrollOf(m_contentBottom, height());
    m_scroll = maxScroll <= 0 ? 0 : std::clamp(m_scroll, 0, maxScroll);
    for (int id : {settingsids::RestoreDefaults, settingsids::CancelButton, settingsids::OkButton})
        m_hits.append({footerRect(id), 4, id});
    placeEditors();
}

void SettingsDialog::placeEditors()
{
    m_sliders->hideAll();
    m_hotkeyEdit->hide();
    m_titleEdit->hide();
    m_fontCombo->hide();
    // The geometry is relayout's: recomputing it here would drop the height of the sections below the rows.
    const int h = height();
    for (int c = 0; c < m_rows.size() && c < m_geometry.size(); ++c) {
        for (int r = 0; r < m_rows[c].rows.size(); ++r) {
            const SettingsRow& row = m_rows[c].rows[r];
            const RowGeometry& g = m_geometry[c].rows[r];
            if (row.kind == SettingsRow::Hotkey) {
                const int top = g.rect.top() - m_scroll + 2;
                // Like every other editor it stays clear of the page title once scrolled.
                if (top > 59 && top + 29 < h - 62) {
                    m_hotkeyEdit->setGeometry(
                        QRect(QPoint(g.rect.right() - 120, top), QPoint(g.rect.right() - 1, top + 29)));
                    m_hotkeyEdit->show();
                }
                continue;
            }
            if (row.kind != SettingsRow::Controls)
                continue;
            for (int i = 0; i < row.controls.size() && i < g.controls.size(); ++i) {
                const RowControl& ctl = row.controls[i];
                QWidget* widget = nullptr;
                if (ctl.kind == RowControl::Slider)
                    widget = m_sliders->sliderForKey(ctl.value);
                else if (ctl.kind == RowControl::TitleEditor)
                    widget = m_titleEdit;
                else if (ctl.kind == RowControl::FontChooser)
                    widget = m_fontCombo;
                if (!widget)
                    continue;
                const QRect moved = g.controls[i].translated(0, -m_scroll);
                if (!(moved.top() > 59 && moved.top() + 27 < h - 62))
                    continue;
                widget->setGeometry(moved);
                widget->show();
                if (widget == m_fontCombo) {
                    const int index = m_fontCombo->findData(m_edited.fontFamily);
                    if (index >= 0 && index != m_fontCombo->currentIndex()) {
                        const QSignalBlocker block(m_fontCombo);
                        m_fontCombo->setCurrentIndex(index);
                    }
                    if (index >= 0)
                        m_fontCombo->setProperty("fullText", m_fontCombo->itemText(index));
                    m_fontCombo->refreshElide();
                }
            }
        }
    }
    m_scrollBar = scrollBarGeometry(m_page, width(), h, m_contentBottom, m_scroll);
}

void SettingsDialog::applyEditorStyles()
{
    const bool dark = dialogPalette().isDark;
    const QString bg = dark ? QStringLiteral("#2D2D2D") : QStringLiteral("#FDFDFD");
    const QString text = dark ? QStringLiteral("#F2F2F2") : QStringLiteral("#1A1A1A");
    const QString border = dark ? QStringLiteral("#3F3F3F") : QStringLiteral("#D6D6D6");
    const QString accent = dialogRoles().accent.name();
    const QString base =
        QStringLiteral("border:1px solid %1;border-radius:4px;padding:4px 10px;background:%2;color:%3;"
                       "font-size:12px;font-family:'Microsoft YaHei UI';selection-background-color:%4;")
            .arg(border, bg, text, accent);
    const QString focus = QStringLiteral("border:1px solid %1;background:%2;").arg(accent, bg);
    // The box is the inner line edit's: a key-sequence editor is a plain widget, which paints no style-sheet
    // frame or background of its own, so the field showed no box at all while it waited for a key.
    m_hotkeyEdit->setStyleSheet(QStringLiteral("QKeySequenceEdit{border:none;background:transparent;}"
                                               "QKeySequenceEdit QLineEdit{") +
                                base + QStringLiteral("}QKeySequenceEdit QLineEdit:focus{") + focus +
                                QStringLiteral("}"));
    m_titleEdit->setStyleSheet(QStringLiteral("QLineEdit{") + base + QStringLiteral("}QLineEdit:focus{") + focus +
                               QStringLiteral("}"));
    m_fontCombo->setStyleSheet(
        QStringLiteral("QComboBox{%1padding:4px 6px;}QComboBox:focus{%2}").arg(base, focus) +
        QStringLiteral("QComboBox::drop-down{border:none;width:22px;}") +
        QStringLiteral("QComboBox::down-arrow{image:none;width:0;height:0;}") +
        QStringLiteral("QComboBox QAbstractItemView{background:%1;color:%2;border:1px solid %3;"
                       "selection-background-color:%4;selection-color:#FFFFFF;outline:none;font-size:12px;"
                       "font-family:'Microsoft YaHei UI';}")
            .arg(bg, text, border, accent));
}

// ---- lifecycle ------------------------------------------------------------------------------------------

void SettingsDialog::accept()
{
    m_edited.customTitle = m_titleEdit->text().trimmed();
    m_edited.summonHotkey = m_edited.summonHotkey.trimmed();
    if (m_main) {
        takePanelChanges();
        writeEditedFields(m_base, m_edited, *m_main);
    }
    QDialog::accept();
}

void SettingsDialog::reject()
{
    if (m_main) {
        if (m_main->language != Lang::language()) {
            Lang::setLanguage(m_main->language);
            Lang::notifyChanged();
        }
        // The recorder's folder and trigger are kept even when the rest is cancelled.
        m_main->monitorDir = m_edited.monitorDir;
        m_main->monitorTrigger = m_edited.monitorTrigger;
        if (m_onSettingsChanged)
            m_onSettingsChanged(*m_main);
    }
    QDialog::reject();
}

void SettingsDialog::showEvent(QShowEvent* event)
{
    applyEditorStyles();
    setFocus(Qt::OtherFocusReason);
    m_draggingThumb = false;
    m_hoveredId = -1;
    m_pressedId = -1;
    if (mouseGrabber() == this)
        releaseMouse();
    relayout();
    QDialog::showEvent(event);
}

void SettingsDialog::leaveEvent(QEvent* event)
{
    m_closeHovered = false;
    m_hoveredId = -1;
    if (!m_draggingThumb) {
        m_pressedId = -1;
        m_pressedInside = false;
    }
    clearTooltip();
    update();
    QDialog::leaveEvent(event);
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_hotkeyEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Escape || key == Qt::Key_Backspace || key == Qt::Key_Delete) &&
            !m_hotkeyEdit->keySequence().isEmpty()) {
            m_hotkeyEdit->clear();
            m_edited.summonHotkey.clear();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- pointer --------------------------------------------------------------------------------------------

QPoint SettingsDialog::toContent(const QPoint& p) const
{
    if (p.x() >= 200 && p.y() < height() - 62)
        return {p.x(), p.y() + m_scroll};
    return p;
}

QRect SettingsDialog::hitRectInWindow(int id) const
{
    for (const HitArea& hit : m_hits) {
        if (hit.id != id)
            continue;
        if (hit.kind == 1 || settingsids::isFooterButton(id))
            return hit.rect;
        return hit.rect.translated(0, -m_scroll);
    }
    return {};
}

bool SettingsDialog::hitTestId(const QPoint& windowPoint, int id) const
{
    if (settingsids::isFooterButton(id))
        return footerRect(id).contains(windowPoint);
    const QPoint content = toContent(windowPoint);
    for (const HitArea& hit : m_hits)
        if (hit.id == id && hit.rect.contains(content))
            return true;
    return false;
}

void SettingsDialog::wheelEvent(QWheelEvent* event)
{
    const int d = event->angleDelta().y();
    const int maxScroll = maxScrollOf(m_contentBottom, height());
    if (maxScroll <= 0 || d == 0)
        return;
    const int sign = d > 0 ? 1 : -1;
    const int steps = std::abs(d) < 240 ? sign : sign * (std::abs(d) / 120);
    m_scroll = std::clamp(m_scroll - steps * 44, 0, maxScroll);
    if (!m_draggingThumb) {
        m_pressedId = -1;
        m_pressedInside = false;
    }
    placeEditors();
    clearTooltip();
    update();
    event->accept();
}

void SettingsDialog::updateTooltip(int hovered)
{
    QString text;
    QRect anchor;
    int id = -1;
    const settingsids::Decoded d = settingsids::decode(m_page, hovered);
    // The light and dark upload slots (columns 1 and 7) are the interface buttons' rows of page 1.
    if (m_page == 1 && d.target == settingsids::Target::ButtonRow && (d.column == 1 || d.column == 7)) {
        text = QStringList{d.column == 1 ? Lang::tr("点击上传浅色模式图标（浅色主题正常态）")
                                         : Lang::tr("点击上传深色模式图标（深色主题正常态）"),
                           Lang::tr("支持格式：PNG / JPG / JPEG / BMP / GIF / ICO"),
                           Lang::tr("建议尺寸：16×16 或 32×32 像素（超出会自动缩放）")}
                   .join(QLatin1Char('\n'));
        anchor = hitRectInWindow(hovered);
        id = hovered;
    }
    if (text != m_tipText || anchor != m_tipAnchor || id != m_tipId) {
        m_tipText = text;
        m_tipAnchor = anchor;
        m_tipId = id;
        update();
    }
}

void SettingsDialog::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const int h = height();
    if (m_draggingThumb) {
        const int content = std::max(1, m_contentBottom);
        const int maxScroll = maxScrollOf(m_contentBottom, h);
        if (maxScroll > 0) {
            const int thumb = std::max(28, int(std::lround(double(h - 120) * (h - 120) / content)));
            const double moved = double(pos.y() - m_dragStartY) * maxScroll / std::max(1, h - thumb - 120);
            m_scroll = std::clamp(m_dragStartScroll + int(std::lround(moved)), 0, maxScroll);
            placeEditors();
        }
        update();
        return;
    }
    const QPoint content = toContent(pos);
    m_closeHovered = closeRect().contains(pos);
    int hovered = -1;
    for (const HitArea& hit : m_hits) {
        if (hit.kind < 1 || hit.kind > 4)
            continue;
        const bool frame = hit.kind == 1 || settingsids::isFooterButton(hit.id);
        if (hit.rect.contains(frame ? pos : content)) {
            hovered = hit.id;
            break;
        }
    }
    updateTooltip(hovered);
    if (hovered != m_hoveredId || m_closeHovered) {
        m_hoveredId = hovered;
        update();
    }
}
