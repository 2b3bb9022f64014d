#pragma once

#include "backup/backupjobs.h"
#include "settings/backupprogressdialog.h"
#include "settings/settingsrows.h"
#include "ui/appsettings.h"
#include "ui/settingskit.h"

#include <QDateTime>
#include <QDialog>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QRect>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

struct Group;
struct Item;
class BackupProgressDialog;
class ElideCombo;
class QAction;
class QMenu;
class QKeySequenceEdit;
class QLineEdit;
class SettingsSliders;
class SliderWidget;

namespace ktr::platform {
class Clock;
}

// The settings window: a frameless, custom-painted, modeless dialog with a navigation column, a page area
// and a footer. It edits its own copy of the main window's settings record, previews every change on the
// panel through onSettingsChanged, and reaches back into the panel only through the callbacks handed to
// its constructor. Every clickable thing is one entry {rect, kind, id} of a hit list rebuilt by relayout;
// a press records an id and a release over the same id runs its action.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kProtectPage = 5;
    static constexpr int kPageCount = 7;

    // One snapshot file of the backup page's list.
    struct SnapshotRow
    {
        QString path;
        QString name;
        QDateTime time;
        qint64 size = 0;
        bool preRestore = false;
    };

    // Kinds of hit areas: 1 header and navigation, 2 switch, 3 option of a two-way choice, 4 button.
    struct HitArea
    {
        QRect rect; // page coordinates for page content, window coordinates for the frame
        int kind = 0;
        int id = -1;
    };
    struct RowGeometry
    {
        QRect rect;
        QList<QRect> controls; // controls rows only, left to right, page coordinates
    };
    struct CardGeometry
    {
        QRect card;
        QList<RowGeometry> rows;
    };
    // One row of the interface-buttons section (id = the bar button) or of the icon management page (id -1,
    // group and item index the panel's model as it was when the row was built).
    struct IconRow
    {
        int id = -1;
        int group = -1;
        int item = -1;
        QString caption;
        QString name;
        QString path;
        bool hidden = false;
        QString icon;
        QString iconNight;
        QString iconHover;
        QString iconActive;
    };
    // One panel entry on the protection page.
    struct ProtectRow
    {
        QString groupName;
        QString name;
        QString path;
        QString target;
        QString customIcon;
        int groupIndex = -1;
        int itemIndex = -1;
    };

    SettingsDialog(AppSettings* settings, const QString& dataDir, std::function<void()> onClearIconCache,
                   std::function<void(const AppSettings&)> onSettingsChanged, std::function<void()> onExportUserData,
                   std::function<void()> onImportUserData, std::function<void()> onCheckUpdate,
                   std::function<void()> onExportLogs, std::function<void(bool)> onUninstall,
                   const QList<Group>* groups, std::function<void()> onIconsChanged,
                   std::function<void(const QString&)> onLockBackgroundChosen,
                   std::function<void(const QString&, const QMap<QString, QString>&)> onProtectCommitted,
                   QWidget* parent = nullptr);
    ~SettingsDialog() override;

    void setFactoryResetHandler(std::function<void()> handler) { m_onFactoryReset = std::move(handler); }

    // The copy being edited, and its replacement. The main window hands over the record it has just
    // loaded from new files (an import or a restored snapshot), so OK can't write the old values back.
    const AppSettings& editedSettings() const { return m_edited; }
    void setEditedSettings(const AppSettings& settings);
    // An edit of the copy: previewed at once through onSettingsChanged; the main record stays untouched.
    void editSettings(const std::function<void(AppSettings&)>& edit);
    // The panel changed its record itself while the dialog is open (its theme button, a dragged bar button,
    // the lock and protection): the copy takes those fields, shows them, and the dialog's own edits are
    // previewed again over the panel's new state.
    void followPanel();

    // Window size for a screen's available area (none: 780 x 800).
    static QSize windowSizeFor(const QRect* available);
    // Controls of a controls row placed right to left inside `row`, returned left to right.
    static QList<QRect> layoutRowControls(const SettingsRow& row, const QRect& rect, bool isInline);
    // Where the tooltip bubble of a text of `textSize` goes for an anchor, in a W x H dialog.
    static QRect tooltipBubble(const QSize& textSize, const QRect& anchor, int width, int height);

    void setPage(int page);
    int currentPage() const { return m_page; }
    // Nothing while hidden; otherwise drops pointer state, lays the dialog out again and repaints it.
    void refresh();
    // Switches to the protection page without asking for the protection password.
    void showProtectPage();
    // The protection page, after the password when access was not granted yet.
    void openProtectPage();
    QString dataDir() const { return m_dataDir; }

    // Backups (settingsdialog_backup.cpp). The controller that runs them, which outlives the dialog; the
    // dialog shows their progress and outcome while it is open.
    void setBackupJobs(BackupJobs* jobs);
    // Starts operation op (BackupJobs::Op) behind the progress card; a request while one runs is refused with
    // a notice and brings the progress card back.
    void runBackupOp(int op, const QString& first, const QString& second);
    // The last successful automatic backup, as the backup page shows it.
    QString lastAutoBackupText() const;
    BackupProgressDialog* progressCard() const { return m_progressCard; }

    // Backup page (settingsdialog_backuppage.cpp).
    QString effectiveBackupDir() const;
    // Lists the backup folder again (at most every 1.5 s unless forced) and rebuilds the summary.
    void backupSummaryText(bool force);
    const QList<SnapshotRow>& snapshotRows() const { return m_snapshots; }
    QString backupSummary() const { return m_backupSummary; }
    void confirmRestore(const SnapshotRow& row);
    // The clock of the list's throttle (null: the system clock).
    void setClock(ktr::platform::Clock* clock) { m_clock = clock; }

    // Help and about page (settingsdialog_about.cpp): the memory line as painted ("—" when unreadable).
    static QString memoryLine();

    void relayout();
    void placeEditors();
    void computeRowGeometry();
    void applyEditorStyles();

    // State, read by the painter and by tests.
    const QList<HitArea>& hitList() const { return m_hits; }
    const QList<CardGeometry>& rowGeometry() const { return m_geometry; }
    const QList<SettingsCard>& rows() const { return m_rows; }
    const RowGeometry* cachedItemRect(int card, int row) const;
    int scrollOffset() const { return m_scroll; }
    int maxScroll() const { return maxScrollOf(m_contentBottom, height()); }
    int contentBottom() const { return m_contentBottom; }
    int hoveredId() const { return m_hoveredId; }
    int pressedId() const { return m_pressedId; }
    QString tooltipText() const { return m_tipText; }
    QRect tooltipAnchor() const { return m_tipAnchor; }
    bool iconCacheCleared() const { return m_iconCacheCleared; }
    bool protectUnlocked() const { return m_protectUnlocked; }
    QRect navRect(int item) const;
    QRect closeRect() const;
    QRect footerRect(int id) const; // 2, 3, 4
    QKeySequenceEdit* hotkeyEditor() const { return m_hotkeyEdit; }
    QLineEdit* titleEditor() const { return m_titleEdit; }
    ElideCombo* fontChooser() const { return m_fontCombo; }
    SliderWidget* sliderForKey(int key) const;
    // The first hit area with this id (a null rect when none), in window coordinates.
    QRect hitRectInWindow(int id) const;
    bool hitTestId(const QPoint& windowPoint, int id) const;
    // Runs the action of an id as a completed click would (menus open at globalPos).
    void runAction(int id, const QPoint& globalPos = QPoint());
    // The tooltip state the painter shows (the page sections set it for their own elements).
    void setTooltip(const QString& text, const QRect& anchorInWindow, int id);
    // Rows of the row lists of pages 1 and 3, the protection targets and the snapshots; their pages fill them.
    int pageRowCount(int page) const;

    // Interface buttons section of page 1 (settingsdialog_buttons.cpp).
    void buildButtonRows();
    void layoutButtonsSection(int width, int top);
    void paintButtonsPage(QPainter& p);
    QPixmap rowIconPixmap(const IconRow& row) const;
    void applyButtonRowAction(int row, int column);
    // Icon management page, page 3 (settingsdialog_icons.cpp).
    void buildItemRows();
    void layoutGroupsPage(int width);
    void paintGroupsPage(QPainter& p);
    void applyIconRowAction(int row, int column);
    void exportDefaultIcon(QWidget* parent, const IconRow& row);
    void saveIconAs(QWidget* parent, const QString& imagePath);
    // Protection section of page 5 (settingsdialog_protect.cpp).
    void changeProtectPassword();
    void chooseObfuscationTarget(int row, bool clear);
    void buildProtectRows(int width, int top);
    void primeProtectIcons();
    QPixmap protectRowPixmap(const ProtectRow& row) const;
    void paintProtectPage(QPainter& p, const QColor& cardFill);
    // What those pages laid out, for the painter and tests.
    const QList<IconRow>& iconRows() const { return m_iconRows; }
    const QList<QRect>& iconRowRects() const { return m_iconRowRects; }
    QRect buttonsSectionRect() const { return m_buttonsSection; }
    const QList<QRect>& groupCardRects() const { return m_groupCards; }
    const QList<ProtectRow>& protectRows() const { return m_protectRows; }
    const QList<QRect>& protectRowRects() const { return m_protectRowRects; }
    const QList<QRect>& protectCardRects() const { return m_protectCards; }
    QRect protectHeaderRect() const { return m_protectHeader; }
    QRect protectPasswordRect() const { return m_protectPasswordButton; }
    bool iconRepaintPending() const { return m_iconRepaintPending; }

    // How the dialog's menus run (tests pick an entry instead of a person); the default is QMenu::exec.
    using MenuRunner = std::function<QAction*(QMenu& menu, const QPoint& globalPos)>;
    static MenuRunner setMenuRunner(MenuRunner runner);
    // The log viewer of action 207, installed by the program (the viewer lives with the support windows):
    // runs it modally for the data folder over the dialog.
    using LogViewerRunner = std::function<void(const QString& dataDir, QWidget* parent)>;
    static void setLogViewerRunner(LogViewerRunner runner);

    // The navigation: pages 0, 1, 3, 5, 6, 2.
    static int navPage(int item);
    static QString pageTitle(int page);

public Q_SLOTS:
    void accept() override;
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Frame and layout (settingsdialog.cpp).
    void buildEditors();
    void addRowHits(const SettingsRow& row, const RowGeometry& geometry, int* dropCounter);
    QPoint toContent(const QPoint& windowPoint) const;
    void clearTooltip();
    void updateTooltip(int hoveredId);
    void report();
    void resetPointer();
    void switchPage(int page);
    void reloadEditorsFromCopy();
    void takeHotkeyFromEditor();
    // The copy takes what the panel changed in its record since the dialog last looked; true when anything did.
    bool takePanelChanges();

    // Actions (settingsdialog_actions.cpp).
    void restoreDefaults();
    int channelControlLeft() const;
    void showMenu(int id, const QPoint& globalPos);
    void showColourMenu(int which, const QPoint& globalPos);
    void chooseLogo();
    void chooseAppIcon();
    void chooseBackground(bool portrait);
    void chooseLockBackground();
    void chooseRecorderFolder();
    void openFolder(const QString& path);
    void openServicePage(const QString& path);
    void clearIconCache();
    void runRowAction(int id);
    // The steps of runAction: the navigation, a switch, a two-way choice and the buttons of each page, each
    // true when the id was one of its own.
    void openPage(int page);
    void flipToggle(int index);
    void pickChoice(int index, int option);
    bool runFrameButton(int id, const QPoint& globalPos);
    bool runAppearanceButton(int id);
    bool runDataButton(int id);
    bool runAboutButton(int id);
    bool runProtectionButton(int id);
    // The font chooser's first entry: the default interface font, by the name of the font it matched.
    static QString defaultFontLabel();
    static QAction* execMenu(QMenu& menu, const QPoint& globalPos);
    bool ensureProtectAccess();
    void showInfoCard(const QString& title, const QString& text, const QStringList& buttons);

    // Backup page and help page (settingsdialog_backuppage.cpp, settingsdialog_about.cpp).
    int layoutBackupPage(int cardWidth, int top);
    void paintBackupPage(QPainter* painter);
    void runBackupPageAction(int id);
    void runSnapshotRowAction(bool restore, int row);
    void onBackupFinished(const BackupJobs::Result& result, int op, const QString& backupDir);
    void layoutAboutPage(int width);
    void paintAboutPage(QPainter* painter);

    // Painting (settingsdialog_paint.cpp).
    void paintFrame(QPainter& p, const DialogPalette& pal);
    void paintRows(QPainter& p, const DialogPalette& pal);
    void paintRowControl(QPainter& p, const DialogPalette& pal, const SettingsRow& row, const QRect& rect,
                         int* buttonCounter);
    void paintControlsRow(QPainter& p, const DialogPalette& pal, const SettingsRow& row, const RowGeometry& geometry);
    void paintButton(QPainter& p, const DialogPalette& pal, const QRect& rect, int id, const QString& text,
                     bool primary = false);
    void paintTooltip(QPainter& p);

    // The row pages' parts of relayout and of the press handler (their own files).
    void layoutButtonsPage();
    void layoutIconsPage();
    void layoutProtectPage();
    bool pressIconBadge(const QPoint& contentPoint);
    void rightClickIconPage(const QPoint& contentPoint);
    void commitProtection();
    void iconArrived(const QString& path, const QImage& image);
    // The model entry of an icon page row, found again by its group's name and its path (the model may
    // have been rebuilt since the row was laid out); null when it is gone.
    Item* findIconRowItem(const IconRow& row) const;

    AppSettings* m_main;
    AppSettings m_edited;
    // The live record as the dialog last took it over: OK writes back only what differs from it.
    AppSettings m_base;
    QString m_dataDir;
    const QList<Group>* m_groups;

    std::function<void()> m_onClearIconCache;
    std::function<void(const AppSettings&)> m_onSettingsChanged;
    std::function<void()> m_onExportUserData;
    std::function<void()> m_onImportUserData;
    std::function<void()> m_onCheckUpdate;
    std::function<void()> m_onExportLogs;
    std::function<void(bool)> m_onUninstall;
    std::function<void()> m_onIconsChanged;
    std::function<void(const QString&)> m_onLockBackgroundChosen;
    std::function<void(const QString&, const QMap<QString, QString>&)> m_onProtectCommitted;
    std::function<void()> m_onFactoryReset;

    int m_page = 0;
    int m_scroll = 0;
    int m_contentBottom = 78;
    bool m_iconCacheCleared = false;
    bool m_protectUnlocked = false;

    QList<SettingsCard> m_rows;
    QList<CardGeometry> m_geometry;
    QList<HitArea> m_hits;
    ScrollBarGeometry m_scrollBar;

    int m_hoveredId = -1;
    int m_pressedId = -1;
    bool m_closeHovered = false;
    bool m_pressedInside = false;
    bool m_draggingThumb = false;
    int m_dragStartY = 0;
    int m_dragStartScroll = 0;

    QString m_tipText;
    QRect m_tipAnchor;
    int m_tipId = -1;

    QKeySequenceEdit* m_hotkeyEdit = nullptr;
    QLineEdit* m_titleEdit = nullptr;
    ElideCombo* m_fontCombo = nullptr;
    SettingsSliders* m_sliders = nullptr;

    // Rows of the interface-buttons section and of the icon management page, and the protection page's.
    QList<IconRow> m_iconRows;
    QList<QRect> m_iconRowRects;
    QRect m_buttonsSection;
    QList<QRect> m_groupCards;
    QList<ProtectRow> m_protectRows;
    QList<QRect> m_protectRowRects;
    QList<QRect> m_protectCards;
    QRect m_protectHeader;
    QRect m_protectPasswordButton;
    QSet<QString> m_requestedIconPaths;
    QSet<QString> m_iconsInFlight;
    bool m_iconRepaintPending = false;

    QPointer<BackupJobs> m_jobs;
    QPointer<BackupProgressDialog> m_progressCard;

    // Backup page.
    QList<SnapshotRow> m_snapshots;
    qint64 m_snapshotBytes = 0;
    QString m_backupSummary;
    qint64 m_lastListMs = 0;
    ktr::platform::Clock* m_clock = nullptr;
    struct BackupPageLayout
    {
        int width = 0;     // the card width A
        int top = 0;       // T
        int secondTop = 0; // U
        QRect card1;
        QRect card2;
        QRect pathBox;
        QRect summary;
        QRect empty;
        QList<QRect> rows;
    };
    BackupPageLayout m_backupLayout;
};
