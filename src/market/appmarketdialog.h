#pragma once

#include "market/marketcatalogue.h"
#include "market/marketrow.h"

#include <QHash>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>

class QLineEdit;
class QTimer;

// The app market window: a frameless, painted dialog with three tabs, a search field and two columns of
// app cards. The catalogue, downloads and package cache live in MarketCatalogue; this window paints its
// rows, turns clicks into its operations, unpacks verified packages on a worker, keeps the installed-apps
// registry and launches and removes installed apps. Closing only hides it; it keeps its state.
class AppMarketDialog : public QWidget
{
    Q_OBJECT
public:
    // One app of the catalogue with its download and install state (see MarketAppRow).
    using AppRow = MarketAppRow;
    using InstalledApp = MarketInstalledApp;

    struct HitArea
    {
        QRect rect;
        int code = -1;
    };
    // Action codes: index × 256 + action for a card, fixed codes for the rest.
    enum Action { MainButton = 1, MenuButton = 2, CloseButton = 3, PauseButton = 4, CancelButton = 5, FirstTab = 10 };

    // One entry of the card menu.
    struct MenuEntry
    {
        QString text;
        int iconKind = 0;
        bool enabled = true;
        std::function<void()> run;
    };

    using AppStatReporter = std::function<void(const QString& appId, const QString& event, const QString& token)>;
    // Ends the running processes of the app in the folder; returns how many were ended.
    using ProcessEnder = std::function<int(const QString& appDir)>;
    // Deletes an app's folder; true when nothing is left (tests put a failing one in).
    using TreeRemover = std::function<bool(const QString& path)>;

    explicit AppMarketDialog(QWidget* parent = nullptr);
    ~AppMarketDialog() override;

    void openAndRefresh(const QString& token);
    // An empty token means signed out: the old one is not used any more.
    void setToken(const QString& token);
    QString token() const { return m_token; }

    // The panel's interface lock: while locked the window is hidden, cannot be opened, launches nothing and
    // adds nothing to the panel. An install that completes meanwhile offers its icon once the lock is lifted.
    void setLocked(bool locked);
    bool isLocked() const { return m_locked; }

    // --- install, launch, uninstall
    void startExtract(AppRow& row, const QString& packagePath);
    bool launchApp(const QString& appId);
    void uninstallApp(AppRow& row);
    void loadRegistry();
    void saveRegistry();
    void showRegistryWriteNotice();
    void setRowError(AppRow& row, const LangText& text);
    const QHash<QString, InstalledApp>& registry() const { return m_registry; }

    // --- texts of a card
    QString mainButtonCaption(const AppRow& row) const;
    QString statusLine(const AppRow& row) const;
    static QString formatSize(qint64 bytes);
    static QPixmap menuIcon(int kind, bool disabled = false);
    QList<MenuEntry> itemMenuEntries(const AppRow& row);
    void showItemMenu(AppRow& row);

    // --- state for the main window and tests
    MarketCatalogue& catalogue() { return m_market; }
    const QList<HitArea>& hitAreas() const { return m_hits; }
    // A card line drawn shortened (an English error text often is): where it is, and the whole text, shown
    // as the tooltip there.
    struct TipArea
    {
        QRect rect;
        QString text;
    };
    const QList<TipArea>& tipAreas() const { return m_tips; }
    QString noticeText() const { return m_noticeText; }
    int scrollY() const { return m_scrollY; }
    int selectedTab() const { return m_selectedTab; }
    int cardWidth() const { return m_cardW; }
    int shownCards() const { return m_shown; }
    void setAppStatReporter(AppStatReporter reporter) { m_reportAppStat = std::move(reporter); }
    void setProcessEnder(ProcessEnder ender) { m_endProcesses = std::move(ender); }
    void setTreeRemover(TreeRemover remover) { m_removeTree = std::move(remover); }
    // How long an extraction may run (tests shorten it).
    void setExtractDeadlineMs(int ms) { m_extractDeadlineMs = ms; }
    // The notice clock (milliseconds since the epoch); tests drive it by hand.
    void setNowFunction(std::function<qint64()> now) { m_now = std::move(now); }
    // The tab of a row: 1 web apps, 2 "界面美化", 0 the rest.
    static int tabOf(const AppRow& row);

Q_SIGNALS:
    void addToPanelRequested(const QString& name, const QString& exePath);
    void loginRequested();
    // An app was removed: the panel drops its icons, also those collected from the desktop entry the
    // uninstall took away (`desktopEntry`, empty when it removed none).
    void appUninstalled(const QString& appId, const QString& appDir, const QString& desktopEntry);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct ExtractJob;
    void onExtractDone(const std::shared_ptr<ExtractJob>& job, int result, const QString& why);
    void installPackage(const std::shared_ptr<ExtractJob>& job, bool failed);
    void finishInstall(AppRow& row);
    int hitTest(const QPoint& pos) const;
    void onRelease(int code);
    void applySearchStyle();
    QList<int> visibleRows() const;
    void paintCard(class QPainter& p, int index, const AppRow& row, int x, int y, bool light);
    // What the card's main button does for a signed-in user: open, launch, install or upgrade.
    void runMainAction(AppRow& row);

    qint64 m_lastNoticeMs = -1;
    QString m_noticeText;
    QTimer* m_noticeTimer = nullptr;
    QString m_token;
    // The app whose main button asked for the login now under way (empty otherwise).
    QString m_actionAfterLogin;
    bool m_locked = false;
    QList<QPair<QString, QString>> m_heldPanelAdds; // installs completed while locked: name, program
    MarketCatalogue m_market;
    QHash<QString, InstalledApp> m_registry;
    QList<HitArea> m_hits;
    QList<TipArea> m_tips;
    QRect m_closeRect;
    int m_scrollY = 0;
    int m_selectedTab = 0;
    QLineEdit* m_search = nullptr;
    int m_shown = 0;
    int m_hoverCode = -1;
    int m_pressedCode = -1;
    QTimer* m_repaintTimer = nullptr;
    int m_w = 780;
    int m_h = 540;
    int m_cardW = 368;
    AppStatReporter m_reportAppStat;
    ProcessEnder m_endProcesses;
    TreeRemover m_removeTree;
    int m_extractDeadlineMs = 180000; // kExtractDeadlineMs
    std::function<qint64()> m_now;
};
