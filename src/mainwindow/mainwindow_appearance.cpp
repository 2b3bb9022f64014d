// The main window's appearance: applying the settings, the layout of its children, the two orientations,
// the window's own painting with its backgrounds, and dropping a bar button onto the window.

#include "mainwindow/mainwindow.h"

#include "icons/iconcache.h"
#include "lock/lockcontroller.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/borderframe.h"
#include "mainwindow/edgedock.h"
#include "mainwindow/firstpaintsteps.h"
#include "mainwindow/floatingicons.h"
#include "mainwindow/itemmenucontroller.h"
#include "mainwindow/traycontroller.h"
#include "mainwindow/windowappearance.h"
#include "mainwindow/windowbackground.h"
#include "mainwindow/windowsearch.h"
#include "mainwindow/windowstatecontroller.h"
#include "model/buttonlayout.h"
#include "panel/bottombar.h"
#include "panel/floaticon.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "panel/titlebaractions.h"
#include "panel/uibtndrag.h"
#include "platform/autostart.h"
#include "platform/fsentry.h"
#include "support/supportpoller.h"
#include "ui/lang.h"
#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QApplication>
#include <QCursor>
#include <QDebug>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImageReader>
#include <QLineEdit>
#include <QListWidget>
#include <QMovie>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kStrip = 28; // height of the title strip and of the bottom strip
constexpr int kSidebarWidth = 172;
constexpr int kStripHeight = 40; // the group strip when the groups run horizontally

QPixmap loadPixmap(const QString& path)
{
    // Only a regular file: opening a FIFO or a device on the GUI thread could wait for ever.
    if (path.isEmpty() || !ktr::platform::isRegularFile(path))
        return QPixmap();
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return QPixmap::fromImage(reader.read());
}

} // namespace

// ---- applying settings ----------------------------------------------------------------------------------

void MainWindow::applySettings()
{
    // Only an installed program keeps the autostart entry in step with the setting on its own: a run from
    // the build tree leaves it alone unless the user switches the setting (onSettingsFinished).
    if (ktr::platform::isInstalledProgram(QCoreApplication::applicationFilePath()))
        m_winState->setAutoStart(m_settings.autoStart);
    m_winState->setPinned(m_settings.startPinned);
    applyAppearance(m_settings);
    m_winState->applyDockSettings(); // leaves the edge, animated back, when docking is off; then the cursor poll
    supportPoller()->startUnreadPolling();
    m_tray->applySettings();
    m_tray->setToolTip(m_look.titleText); // a tray icon made just now carries the default text
    m_winState->registerSummonHotkey(false);
    update();
    m_settingsNotifier.notify(m_settings);
    m_settingsBridge->followPanel();
    qInfo().noquote() << "settings applied: iconSize" << m_settings.iconSize << "radius" << m_settings.cornerRadius
                      << "opacity" << m_settings.opacity << "theme" << (m_settings.darkTheme ? "dark" : "light")
                      << "layout" << (m_settings.horizontalGroups ? "horizontal" : "vertical") << "edgeSnap"
                      << (m_settings.edgeSnap ? "true" : "false") << "autoStart"
                      << (m_settings.autoStart ? "true" : "false");
}

void MainWindow::applyCornerRadius()
{
    // The chosen radius while a compositor shows the rounded corners, square corners without one.
    const int radius = windowCornerRadius(this, m_look.radius);
    if (m_sidebar)
        m_sidebar->setCornerRadius(radius);
    if (m_grid)
        m_grid->setCornerRadius(radius);
    if (m_bottomBar)
        m_bottomBar->setCornerRadius(radius);
    if (m_borderFrame)
        m_borderFrame->setCornerRadius(radius);
    update();
}

void MainWindow::applyAppearance(const AppSettings& s)
{
    // Palette and corner radius.
    setDarkTheme(s.darkTheme);
    m_look.radius = std::clamp(s.cornerRadius, 0, 24);
    setThemeCornerRadius(m_look.radius);
    applyCornerRadius();

    // The buttons of both bars.
    UiBtnBar::Flags visible{};
    UiBtnBar::Paths icons, hover, active, night;
    for (int i = 0; i < UiBtn::kCount; ++i) {
        visible[i] = s.btnVisible[i];
        icons[i] = s.btnIcons[i];
        hover[i] = s.btnIconsHover[i];
        active[i] = s.btnIconsActive[i];
        night[i] = s.btnIconsNight[i];
    }
    m_titleBar->setButtonLayout(s.btnLayoutTitle, visible, icons);
    m_bottomBar->setButtonLayout(s.btnLayoutBottom, visible, icons);
    m_titleBar->setButtonIcons(hover, active, night);
    m_bottomBar->setButtonIcons(hover, active, night);
    m_titleBar->setButtonActive(UiBtn::Obfuscate, s.obfuscateEnabled);
    m_bottomBar->setButtonActive(UiBtn::Obfuscate, s.obfuscateEnabled);
    m_titleBar->setButtonActive(UiBtn::Orientation, m_portrait);
    m_bottomBar->setButtonActive(UiBtn::Orientation, m_portrait);
    m_titleBar->setButtonActive(UiBtn::Pin, m_winState->isPinned());

    layoutChildren();
    applyCornerRadius();
    applyWindowOpacity(s);

    // Logo and program icon.
    if (m_background->setCustomLogo(s.customLogoPath)) {
        setWindowIcon(m_tray->appIcon());
        m_tray->updateIcon();
    }
    if (s.appIconPath != m_look.appIconPath) {
        m_look.appIconPath = s.appIconPath;
        m_look.appIcon = loadPixmap(s.appIconPath);
        setWindowIcon(m_tray->appIcon());
        m_tray->updateIcon();
    }

    const WindowAppearance::Background background =
        WindowAppearance::chooseBackground(s, m_portrait, m_look.nearlyInvisible);
    m_background->setOpacity(background.opacity);
    m_background->apply(background.path);

    m_look.titleText = s.customTitle.isEmpty() ? Lang::tr("青岚舟面板") : s.customTitle;
    m_look.showTitle = s.showTitle;
    m_background->setShowLogo(s.showLogo);

    // Colours and font.
    const WindowAppearance::Opacity opacity = WindowAppearance::opacityFor(s.opacity, s.clickThroughAtZero);
    const bool backgroundInForce = m_background->inForce();
    const WindowAppearance::Extras extras = WindowAppearance::applyThemeColors(s, backgroundInForce, opacity);
    QFont appFont = QApplication::font();
    if (appFont.family() != uiFontFamily()) {
        appFont.setFamily(uiFontFamily());
        QApplication::setFont(appFont);
    }
    if (m_grid)
        m_grid->setHoverStyle(s.hoverMode, extras.hover, std::clamp(s.hoverOpacity, 0, 100));

    // Sidebar and grid.
    if (m_sidebar)
        m_sidebar->setHorizontal(m_portrait || s.horizontalGroups);
    layoutChildren();
    if (m_grid) {
        m_grid->setIconSize(m_portrait ? s.iconSizePortrait : s.iconSize);
        m_grid->setShowNames(s.showItemNames);
        m_grid->setSingleClickOpen(s.singleClickOpen);
    }
    m_itemMenu->floats()->setSingleClickOpen(s.singleClickOpen);
    if (m_sidebar)
        m_sidebar->setShowNewGroupButton(s.showNewGroupBtn);

    // Border, window title and tray tooltip.
    m_look.border = extras.border;
    if (m_borderFrame)
        m_borderFrame->setBorderColor(m_look.border);
    if (windowTitle() != m_look.titleText)
        setWindowTitle(m_look.titleText);
    if (m_tray)
        m_tray->setToolTip(m_look.titleText);

    m_background->refreshScaled();
    refreshTheme();
}

void MainWindow::applyWindowOpacity(const AppSettings& s)
{
    const WindowAppearance::Opacity o = WindowAppearance::opacityFor(s.opacity, s.clickThroughAtZero);
    m_look.alpha = o.alpha;
    m_look.nearlyInvisible = o.nearlyInvisible;
    setWindowOpacity(o.windowOpacity);
    if (o.clickThrough != m_look.clickThrough) {
        m_look.clickThrough = o.clickThrough;
        // Set on the native window, so a shown window is not hidden and created again.
        if (QWindow* handle = windowHandle())
            handle->setFlag(Qt::WindowTransparentForInput, m_look.clickThrough);
    }
}

// ---- orientation and layout -----------------------------------------------------------------------------

void MainWindow::toggleOrientation()
{
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect avail = primary ? primary->availableGeometry() : QRect(0, 0, 1920, 1080);
    EdgeDock* dock = m_winState->edgeDock();
    if (dock && (dock->dockEdge() != EdgeDock::NotDocked || dock->isRevealed()))
        dock->undock(false);

    QRect current = geometry();
    if (!WindowAppearance::keepsPosition(current, avail)) {
        current.moveCenter(avail.center());
        move(current.topLeft());
    }

    m_portrait = !m_portrait;
    m_titleBar->setButtonActive(UiBtn::Orientation, m_portrait);
    m_bottomBar->setButtonActive(UiBtn::Orientation, m_portrait);

    if (m_portrait) {
        m_landscapeGeometry = current;
        QScreen* own = screen() ? screen() : primary;
        const WindowAppearance::PortraitGeometry g =
            WindowAppearance::portraitGeometry(current, own ? own->availableGeometry() : QRect());
        setMinimumSize(300, g.minimumHeight);
        if (m_sidebar)
            m_sidebar->setHorizontal(true);
        if (m_grid) {
            m_grid->setColumns(4);
            m_grid->setIconSize(m_settings.iconSizePortrait);
        }
        setGeometry(g.rect);
    } else {
        if (m_grid) {
            m_grid->setColumns(0);
            m_grid->setIconSize(m_settings.iconSize);
        }
        if (m_sidebar)
            m_sidebar->setHorizontal(m_settings.horizontalGroups);
        setMinimumSize(primary ? QSize(std::min(avail.width(), 680), std::min(avail.height(), 460)) : QSize(680, 460));
        QRect target = m_landscapeGeometry.isValid() ? m_landscapeGeometry : current;
        const QList<QScreen*> screens = QGuiApplication::screens();
        const bool onScreen = std::any_of(screens.cbegin(), screens.cend(), [&target](const QScreen* s) {
            return s->availableGeometry().intersects(target);
        });
        if (!onScreen) {
            QScreen* under = QGuiApplication::screenAt(QCursor::pos());
            if (!under)
                under = primary;
            target.moveCenter(under ? under->availableGeometry().center() : QPoint(959, 539));
        }
        setGeometry(target);
    }
    applyAppearance(m_settings);
    layoutChildren();
    update();
}

void MainWindow::layoutChildren()
{
    const int w = width();
    const int h = height();
    if (m_borderFrame) {
        m_borderFrame->setGeometry(0, 0, w, h);
        m_borderFrame->raise();
        // The frame lies above the lock screen too: its line under the title strip stays out of sight while
        // the lock covers the window, and comes back once it is gone.
        const bool locked = m_lock->covers();
        m_borderFrame->setDividerY(locked ? -100 : kStrip);
    }
    if (m_search)
        m_search->placeIn(w);
    if (m_bottomBar)
        m_bottomBar->setGeometry(0, h - kStrip, w, kStrip);
    if (m_titleBar) {
        const int tw = m_titleBar->width();
        m_titleBar->setGeometry(w - tw, 0, tw, kStrip);
    }
    // The sidebar's own mode: a live preview of the settings switches it before the record changes.
    const bool horizontal = m_sidebar ? m_sidebar->isHorizontal() : (m_portrait || m_settings.horizontalGroups);
    if (m_sidebar) {
        m_sidebar->setGeometry(horizontal ? QRect(0, kStrip, w, kStripHeight)
                                          : QRect(0, kStrip, kSidebarWidth, h - 2 * kStrip));
    }
    if (m_grid) {
        m_grid->setGeometry(horizontal ? QRect(0, kStrip + kStripHeight, w, h - 2 * kStrip - kStripHeight)
                                       : QRect(kSidebarWidth, kStrip, w - kSidebarWidth, h - 2 * kStrip));
        relayoutGrid();
    }
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_winState->edgeDock() && m_winState->edgeDock()->isCollapsed())
        return; // shrunk to its docked strip for a while: nothing is laid out for that size
    layoutChildren();
    m_background->refreshScaled();
    m_lock->fitTo(rect());
    if (m_borderFrame && m_lock->overlay() && m_lock->overlay()->isVisible())
        m_borderFrame->setDividerY(-100);
    m_background->hostResized();
}

// ---- device pixel ratio ---------------------------------------------------------------------------------

void MainWindow::onScreenChanged()
{
    // The ratio may also change on the same screen when its resolution settings change.
    if (QWindow* handle = windowHandle()) {
        if (QScreen* s = handle->screen()) {
            connect(s, &QScreen::logicalDotsPerInchChanged, this, &MainWindow::onScreenChanged, Qt::UniqueConnection);
            connect(s, &QScreen::physicalDotsPerInchChanged, this, &MainWindow::onScreenChanged, Qt::UniqueConnection);
        }
    }
    noteDevicePixelRatio(devicePixelRatioF());
}

void MainWindow::noteDevicePixelRatio(qreal ratio)
{
    if (!m_background->noteRatio(ratio))
        return;
    // The icon cache holds images made for the old ratio: empty it and ask for every icon again, or the
    // grid would stay without icons.
    reloadAllIcons();
    update();
    if (m_constructed)
        m_background->scheduleRatioRefresh();
}

void MainWindow::runRatioRefresh()
{
    applyAppearance(m_settings);
    if (m_grid)
        m_grid->clearCaches();
    relayoutGrid();
    repaintPanels();
    m_lock->reloadBackground();
}

// ---- painting -------------------------------------------------------------------------------------------

void MainWindow::paintEvent(QPaintEvent*)
{
    m_winState->firstPaint()->painted();
    const Theme& theme = currentTheme();
    const int w = width();
    const int h = height();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    QPainterPath outline;
    const int radius = windowCornerRadius(this, m_look.radius);
    outline.addRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), radius, radius);

    p.save();
    p.setClipPath(outline);
    m_background->paintPicture(p);

    // Colour layers. A translucent bar colour is never laid over the middle colour, so each strip shows
    // exactly the colour chosen for it.
    const QColor title = theme.titleBarBackground;
    const QColor bottom = theme.bottomBarBackground;
    const bool titleOpaque = title.alpha() == 255;
    const bool bottomOpaque = bottom.alpha() == 255;
    const QRect titleStrip(0, 0, w, kStrip);
    const QRect bottomStrip(0, h - kStrip, w, kStrip);
    if (titleOpaque && bottomOpaque) {
        p.fillRect(rect(), theme.midBackground);
    } else {
        const int top = titleOpaque ? 0 : kStrip;
        const int last = bottomOpaque ? h - 1 : h - kStrip - 1;
        if (last >= top)
            p.fillRect(QRect(0, top, w, last - top + 1), theme.midBackground);
        if (titleOpaque && !bottomOpaque)
            p.fillRect(titleStrip, theme.windowBackground);
        if (bottomOpaque && !titleOpaque)
            p.fillRect(bottomStrip, theme.windowBackground);
    }
    p.fillRect(titleStrip, title);
    p.restore();

    // Logo, kept in proportion inside its square.
    m_background->paintLogo(p);

    // Title.
    if (m_look.showTitle) {
        QFont font(uiFontFamily());
        font.setPixelSize(13);
        font.setWeight(QFont::Normal);
        p.setFont(font);
        p.setPen(theme.titleBarForeground);
        const int actions = m_titleBar ? m_titleBar->width() : 0;
        const bool logo = m_background->showLogo();
        const int available = std::max(0, w - actions - 47 + (logo ? 0 : 31));
        const QString text = p.fontMetrics().elidedText(m_look.titleText, Qt::ElideRight, available);
        p.drawText(QRect(logo ? 39 : 8, 6, available, 16), Qt::AlignLeft | Qt::AlignVCenter, text);
    }

    // Border.
    QPen pen(m_look.border.isValid() ? m_look.border : theme.border, 1, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(outline);
}

// ---- dropping a bar button on the window ----------------------------------------------------------------

namespace {

// A button payload over the title strip or the bottom strip is taken; anything else is left alone.
void acceptButtonDrag(QDragMoveEvent* event, int height)
{
    const int y = int(std::lround(event->position().y()));
    if (hasUiBtnPayload(event->mimeData()) && (y < kStrip || y >= height - kStrip))
        event->acceptProposedAction();
    else
        event->ignore();
}

} // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_lock->isLocked()) {
        event->ignore();
        return;
    }
    acceptButtonDrag(event, height());
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event)
{
    acceptButtonDrag(event, height());
}

void MainWindow::dropEvent(QDropEvent* event)
{
    if (m_lock->isLocked()) {
        event->ignore();
        return;
    }
    const QPoint pos = event->position().toPoint();
    const int y = int(std::lround(event->position().y()));
    UiBtnBar* bar = nullptr;
    int zone = UiBtn::kZoneTitle;
    if (y < kStrip) {
        bar = m_titleBar;
    } else if (y >= height() - kStrip) {
        bar = m_bottomBar;
        zone = UiBtn::kZoneBottom;
    }
    if (!bar || bar->geometry().contains(pos)) {
        event->ignore();
        return;
    }
    const int ub = readUiBtnPayload(event->mimeData());
    if (!UiBtn::isValid(ub)) {
        event->ignore();
        return;
    }
    const int index = bar->dropIndexAt(bar->mapFrom(this, pos));
    event->acceptProposedAction();
    moveUiButton(ub, zone, index);
}

void MainWindow::moveUiButton(int ub, int toArea, int insertIndex)
{
    if (!UiBtn::isValid(ub))
        return;
    QList<int>& title = m_settings.btnLayoutTitle;
    QList<int>& bottom = m_settings.btnLayoutBottom;
    QList<int>* from = title.contains(ub) ? &title : bottom.contains(ub) ? &bottom : nullptr;
    if (!from)
        return;
    QList<int>* to = toArea == UiBtn::kZoneBottom ? &bottom : &title;
    // The bars count only the buttons they show; hidden ones still hold their place in the list.
    // Clamped before the removal, so a drop past the last button of its own bar lands at the end.
    int index = WindowAppearance::listIndexForShown(*to, m_settings.btnVisible, std::max(0, insertIndex));
    index = std::clamp(index, 0, int(to->size()));
    const int removedAt = int(from->indexOf(ub));
    from->removeAt(removedAt);
    if (to == from && removedAt < index)
        --index;
    to->insert(index, ub);
    normalizeButtonLayouts(title, bottom);
    saveSettings();
    applyAppearance(m_settings);
    m_settingsBridge->followPanel();
}
