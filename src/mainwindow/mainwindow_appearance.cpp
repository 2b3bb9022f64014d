// The main window's appearance: applying the settings, the layout of its children, the two orientations,
// the window's own painting with its backgrounds, and dropping a bar button onto the window.

#include "mainwindow/mainwindow.h"

#include "icons/iconcache.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/borderframe.h"
#include "model/buttonlayout.h"
#include "mainwindow/edgedock.h"
#include "mainwindow/videobackground.h"
#include "mainwindow/windowappearance.h"
#include "panel/bottombar.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "panel/titlebaractions.h"
#include "panel/uibtndrag.h"
#include "ui/lang.h"
#include "ui/theme.h"

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
constexpr int kDebounceMs = 200;

bool sameRatio(qreal a, qreal b)
{
    return std::abs(a - b) <= 1e-12 * std::max({1.0, std::abs(a), std::abs(b)});
}

QPixmap loadPixmap(const QString& path)
{
    if (path.isEmpty())
        return QPixmap();
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return QPixmap::fromImage(reader.read());
}

} // namespace

// ---- applying settings ----------------------------------------------------------------------------------

void MainWindow::applySettings()
{
    setAutoStart(m_settings.autoStart);
    setPinned(m_settings.startPinned);
    applyAppearance(m_settings);
    applyDockSettings(); // leaves the edge, animated back, when docking is off; then the cursor poll
    if (m_supportUnreadTimer && !m_supportUnreadTimer->isActive()) {
        m_supportUnreadTimer->start();
        pollSupportUnread();
    }
    updateTrayVisibility();
    if (m_tray)
        m_tray->setToolTip(m_titleText); // a tray icon made just now carries the default text
    registerSummonHotkey(false);
    update();
    qInfo().noquote() << "settings applied: iconSize" << m_settings.iconSize << "radius" << m_settings.cornerRadius
                      << "opacity" << m_settings.opacity << "theme" << (m_settings.darkTheme ? "dark" : "light")
                      << "layout" << (m_settings.horizontalGroups ? "horizontal" : "vertical") << "edgeSnap"
                      << (m_settings.edgeSnap ? "true" : "false") << "autoStart"
                      << (m_settings.autoStart ? "true" : "false");
}

void MainWindow::applyAppearance(const AppSettings& s)
{
    // 1-2. Palette and corner radius.
    setDarkTheme(s.darkTheme);
    m_windowRadius = std::clamp(s.cornerRadius, 0, 24);
    setThemeCornerRadius(m_windowRadius);
    if (m_sidebar)
        m_sidebar->setCornerRadius(m_windowRadius);
    if (m_grid)
        m_grid->setCornerRadius(m_windowRadius);
    m_bottomBar->setCornerRadius(m_windowRadius);

    // 3. The buttons of both bars.
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
    m_bottomBar->setButtonState(UiBtn::Obfuscate, s.obfuscateEnabled);
    m_titleBar->setButtonActive(UiBtn::Orientation, m_portrait);
    m_bottomBar->setButtonState(UiBtn::Orientation, m_portrait);
    m_titleBar->setButtonActive(UiBtn::Pin, m_pinned);

    // 4-5.
    layoutChildren();
    if (m_borderFrame)
        m_borderFrame->setCornerRadius(m_windowRadius);
    applyWindowOpacity(s);

    // 6-7. Logo and program icon.
    if (s.customLogoPath != m_lastLogoPath) {
        m_lastLogoPath = s.customLogoPath;
        m_customLogo = loadPixmap(s.customLogoPath);
        m_scaledLogo = QPixmap();
        setWindowIcon(appIcon());
        updateTrayIcon();
    }
    if (s.appIconPath != m_lastAppIconPath) {
        m_lastAppIconPath = s.appIconPath;
        m_appIconImage = loadPixmap(s.appIconPath);
        setWindowIcon(appIcon());
        updateTrayIcon();
    }

    // 8. Background.
    const WindowAppearance::Background background =
        WindowAppearance::chooseBackground(s, m_portrait, m_nearlyInvisible);
    m_bgOpacity = background.opacity;
    applyBackground(background.path);

    // 9. Title.
    m_titleText = s.customTitle.isEmpty() ? Lang::tr("青岚舟面板") : s.customTitle;
    m_showTitle = s.showTitle;
    m_showLogo = s.showLogo;

    // 10. Colours and font.
    const WindowAppearance::Opacity opacity = WindowAppearance::opacityFor(s.opacity, s.clickThroughAtZero);
    const bool backgroundInForce = m_videoPlaying || !m_still.isNull();
    const WindowAppearance::Extras extras = WindowAppearance::applyThemeColors(s, backgroundInForce, opacity);
    QFont appFont = QApplication::font();
    if (appFont.family() != uiFontFamily()) {
        appFont.setFamily(uiFontFamily());
        QApplication::setFont(appFont);
    }
    if (m_grid)
        m_grid->setHoverStyle(s.hoverMode, extras.hover, std::clamp(s.hoverOpacity, 0, 100));

    // 11-12. Sidebar and grid.
    if (m_sidebar)
        m_sidebar->setHorizontal(m_portrait || s.horizontalGroups);
    layoutChildren();
    if (m_grid) {
        m_grid->setIconSize(m_portrait ? s.iconSizePortrait : s.iconSize);
        m_grid->setShowNames(s.showItemNames);
        m_grid->setSingleClickOpen(s.singleClickOpen);
    }
    if (m_sidebar)
        m_sidebar->setShowNewGroupButton(s.showNewGroupBtn);

    // 13-14. Border, window title and tray tooltip.
    m_borderColor = extras.border;
    if (m_borderFrame)
        m_borderFrame->setBorderColor(m_borderColor);
    if (windowTitle() != m_titleText)
        setWindowTitle(m_titleText);
    if (m_tray)
        m_tray->setToolTip(m_titleText);

    // 15.
    refreshScaledPixmaps();
    refreshTheme();
}

void MainWindow::applyWindowOpacity(const AppSettings& s)
{
    const WindowAppearance::Opacity o = WindowAppearance::opacityFor(s.opacity, s.clickThroughAtZero);
    m_windowAlpha = o.alpha;
    m_nearlyInvisible = o.nearlyInvisible;
    setWindowOpacity(o.windowOpacity);
    if (o.clickThrough != m_clickThrough) {
        m_clickThrough = o.clickThrough;
        // Set on the native window, so a shown window is not hidden and created again.
        if (QWindow* handle = windowHandle())
            handle->setFlag(Qt::WindowTransparentForInput, m_clickThrough);
    }
}

// ---- orientation and layout -----------------------------------------------------------------------------

void MainWindow::toggleOrientation()
{
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect avail = primary ? primary->availableGeometry() : QRect(0, 0, 1920, 1080);
    if (m_dock && (m_dock->dockEdge() != EdgeDock::NotDocked || m_dock->isRevealed()))
        m_dock->undock(false);

    QRect current = geometry();
    if (!WindowAppearance::keepsPosition(current, avail)) {
        current.moveCenter(avail.center());
        move(current.topLeft());
    }

    m_portrait = !m_portrait;
    m_titleBar->setButtonActive(UiBtn::Orientation, m_portrait);
    m_bottomBar->setButtonState(UiBtn::Orientation, m_portrait);

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
        const bool locked = m_lockOverlay && m_lockOverlay->isVisibleTo(this);
        m_borderFrame->setDividerY(locked ? -100 : kStrip);
    }
    if (m_searchPanel)
        m_searchPanel->placeIn(w);
    if (m_bottomBar)
        m_bottomBar->setGeometry(0, h - kStrip, w, kStrip);
    if (m_titleBar) {
        const int tw = m_titleBar->width();
        m_titleBar->setGeometry(w - tw, 0, tw, kStrip);
    }
    // The sidebar's own mode: a live preview of the settings switches it before the record changes.
    const bool horizontal = m_sidebar ? m_sidebar->isHorizontal() : (m_portrait || m_settings.horizontalGroups);
    if (m_sidebarWidget) {
        m_sidebarWidget->setGeometry(horizontal ? QRect(0, kStrip, w, kStripHeight)
                                                : QRect(0, kStrip, kSidebarWidth, h - 2 * kStrip));
    }
    if (m_gridWidget) {
        m_gridWidget->setGeometry(horizontal ? QRect(0, kStrip + kStripHeight, w, h - 2 * kStrip - kStripHeight)
                                             : QRect(kSidebarWidth, kStrip, w - kSidebarWidth, h - 2 * kStrip));
        relayoutGrid();
    }
}

QSize MainWindow::deviceSize() const
{
    const qreal ratio = devicePixelRatioF();
    return QSize(int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
    refreshScaledPixmaps();
    if (m_lockOverlay) {
        m_lockOverlay->setGeometry(rect());
        if (m_borderFrame && m_lockOverlay->isVisible())
            m_borderFrame->setDividerY(-100);
    }
    if (m_videoPlaying && m_video)
        m_video->setTargetSize(deviceSize());
    if (m_movie) {
        if (!m_resizeDebounce) {
            m_resizeDebounce = makeTimer("resizeDebounce", kDebounceMs, true);
            connect(m_resizeDebounce, &QTimer::timeout, this, [this] { restartGifAtWindowSize(); });
        }
        m_resizeDebounce->start();
    }
}

void MainWindow::restartGifAtWindowSize()
{
    if (!m_movie)
        return;
    QImageReader reader(m_movie->fileName(), "gif");
    const QSize wanted = WindowAppearance::coverSize(reader.size(), deviceSize());
    if (m_movie->scaledSize() == wanted)
        return;
    m_movie->stop();
    m_movie->setScaledSize(wanted);
    m_movie->start();
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
    if (sameRatio(ratio, m_lastRatio))
        return;
    m_lastRatio = ratio;
    m_scaledBg = QPixmap();
    m_movieCache = QPixmap();
    m_scaledLogo = QPixmap();
    m_videoFrame = QPixmap();
    // The icon cache holds images made for the old ratio: empty it and ask for every icon again, or the
    // grid would stay without icons.
    reloadAllIcons();
    update();
    if (!m_constructed || m_ratioRefreshBusy)
        return;
    if (!m_ratioDebounce) {
        m_ratioDebounce = makeTimer("ratioDebounce", kDebounceMs, true);
        connect(m_ratioDebounce, &QTimer::timeout, this, [this] { runRatioRefresh(); });
    }
    m_ratioDebounce->start();
}

void MainWindow::runRatioRefresh()
{
    m_ratioRefreshBusy = true;
    m_lastBgPath.clear();
    m_lastBgPath.append(QChar(0)); // no path equals this, so the background is loaded again
    applyAppearance(m_settings);
    if (m_grid)
        m_grid->clearCaches();
    relayoutGrid();
    repaintPanels();
    if (m_lockOverlay) {
        const QString path = m_settings.lockBgPath;
        m_lockOverlay->setBackgroundPath(QString());
        m_lockOverlay->setBackgroundPath(path);
    }
    m_ratioRefreshBusy = false;
}

// ---- backgrounds ----------------------------------------------------------------------------------------

void MainWindow::applyBackground(const QString& path)
{
    if (path == m_lastBgPath)
        return;
    m_lastBgPath = path;

    m_still = QPixmap();
    m_scaledBg = QPixmap();
    if (m_movie) {
        m_movie->disconnect(this);
        m_movie->stop();
        m_movie->deleteLater();
        m_movie = nullptr;
    }
    m_movieCache = QPixmap();
    m_videoFrame = QPixmap();
    m_videoPlaying = false;
    m_videoFeed.restart();
    if (m_videoTimer)
        m_videoTimer->stop();
    if (m_video)
        m_video->stop();

    if (path != m_failedVideoPath)
        m_failedVideoPath.clear();
    if (path.isEmpty())
        return;

    if (VideoBackground::isVideoFile(path) && path != m_failedVideoPath) {
        if (!m_video) {
            m_video = new VideoBackground(this);
            m_videoTimer = makeTimer("videoFrameTimer", VideoFrameFeed::kPollIntervalMs, false);
            m_videoTimer->setTimerType(Qt::PreciseTimer);
            connect(m_videoTimer, &QTimer::timeout, this, [this] { pullVideoFrame(); });
        }
        m_video->setTargetSize(deviceSize());
        m_videoFeed.restart();
        m_video->start(path);
        m_videoPlaying = true;
        m_videoTimer->start();
        return;
    }
    if (path.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive)) {
        startGifBackground(path);
        return;
    }

    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull())
        return;
    QScreen* s = screen();
    const QSize limit = s ? QSize(int(std::lround(s->size().width() * s->devicePixelRatio())),
                                  int(std::lround(s->size().height() * s->devicePixelRatio())))
                          : deviceSize();
    m_still = QPixmap::fromImage(WindowAppearance::fitWithin(image, limit));
}

void MainWindow::startGifBackground(const QString& path)
{
    m_movie = new QMovie(path, "gif", this);
    m_movie->setCacheMode(WindowAppearance::isAnimatedImageUsable(path) ? QMovie::CacheAll : QMovie::CacheNone);
    // Decoded at the size that covers the window, keeping the picture's proportions.
    QImageReader reader(path, "gif");
    m_movie->setScaledSize(WindowAppearance::coverSize(reader.size(), deviceSize()));
    connect(m_movie, &QMovie::frameChanged, this, [this] {
        if (!m_movie)
            return;
        if (m_still.isNull())
            m_still = m_movie->currentPixmap();
        refreshScaledPixmaps();
        update();
    });
    m_movie->start();
}

void MainWindow::pullVideoFrame()
{
    if (!m_videoPlaying || !m_video)
        return;
    QImage frame;
    switch (m_videoFeed.poll(*m_video, &frame)) {
    case VideoFrameFeed::Poll::NewFrame:
        m_videoFrame = QPixmap::fromImage(frame);
        m_videoFrame.setDevicePixelRatio(devicePixelRatioF());
        update();
        break;
    case VideoFrameFeed::Poll::Failed:
        videoFailed();
        break;
    case VideoFrameFeed::Poll::Nothing:
        break;
    }
}

void MainWindow::videoFailed()
{
    m_failedVideoPath = m_lastBgPath;
    m_videoPlaying = false;
    m_videoFrame = QPixmap();
    if (m_video)
        m_video->stop();
    if (m_videoTimer)
        m_videoTimer->stop();
    qWarning().noquote() << "[background] video gave no frame:" << m_failedVideoPath;
    showToast(Lang::tr("该视频无法播放，请更换格式（MP4 / WMV / AVI）"), 1);
    applyAppearance(m_settings);
}

bool MainWindow::refreshScaledPixmaps()
{
    const qreal ratio = devicePixelRatioF();
    const QSize target = deviceSize();
    bool rebuilt = false;
    if (m_movie) {
        const int frame = m_movie->currentFrameNumber();
        if (frame != m_movieCacheFrame || target != m_movieCacheSize || !sameRatio(ratio, m_movieCacheRatio) ||
            m_movieCache.isNull()) {
            const QPixmap current = m_movie->currentPixmap();
            if (!current.isNull() && !target.isEmpty()) {
                m_movieCache = current.scaled(target, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
                m_movieCache.setDevicePixelRatio(ratio);
                m_movieCacheFrame = frame;
                m_movieCacheSize = target;
                m_movieCacheRatio = ratio;
                rebuilt = true;
            }
        }
    } else if (!m_still.isNull()) {
        if (target != m_scaledBgSize || !sameRatio(ratio, m_scaledBgRatio) || m_scaledBg.isNull()) {
            if (!target.isEmpty()) {
                m_scaledBg = m_still.scaled(target, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
                m_scaledBg.setDevicePixelRatio(ratio);
                m_scaledBgSize = target;
                m_scaledBgRatio = ratio;
                rebuilt = true;
            }
        }
    }
    if (m_showLogo && (m_scaledLogo.isNull() || !sameRatio(ratio, m_scaledLogoRatio))) {
        const QPixmap& source = m_customLogo.isNull() ? m_logo : m_customLogo;
        if (!source.isNull()) {
            const int side = std::max(1, int(std::lround(24 * ratio)));
            m_scaledLogo = source.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            m_scaledLogo.setDevicePixelRatio(ratio);
            m_scaledLogoRatio = ratio;
            rebuilt = true;
        }
    }
    return rebuilt;
}

void MainWindow::scheduleScaledPixmapRefresh()
{
    if (!m_scaledRefreshTimer) {
        m_scaledRefreshTimer = makeTimer("scaledRefreshTimer", 16, true);
        m_scaledRefreshTimer->setTimerType(Qt::PreciseTimer);
        connect(m_scaledRefreshTimer, &QTimer::timeout, this, [this] {
            if (refreshScaledPixmaps()) {
                m_scaledRefreshRetries = 0;
                m_scaledRefreshTimer->setInterval(16);
                update();
                return;
            }
            if (++m_scaledRefreshRetries <= 2)
                m_scaledRefreshTimer->start(kDebounceMs);
        });
    }
    if (m_scaledRefreshTimer->isActive())
        return;
    if (m_scaledRefreshRetries == 0)
        m_scaledRefreshTimer->setInterval(16);
    m_scaledRefreshTimer->start();
}

// ---- painting -------------------------------------------------------------------------------------------

void MainWindow::paintEvent(QPaintEvent*)
{
    const Theme& theme = currentTheme();
    const int w = width();
    const int h = height();
    const qreal ratio = devicePixelRatioF();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), m_windowRadius, m_windowRadius);

    // Background picture.
    p.save();
    p.setClipPath(outline);
    p.setOpacity(std::max(m_bgOpacity, 1) / 100.0);
    if (m_videoPlaying && !m_videoFrame.isNull()) {
        p.drawPixmap(QPointF(0, 0), m_videoFrame);
    } else if (!m_still.isNull()) {
        const QPixmap* cache = nullptr;
        if (m_movie) {
            if (m_movie->currentFrameNumber() != m_movieCacheFrame || m_movieCacheSize != deviceSize() ||
                !sameRatio(ratio, m_movieCacheRatio) || m_movieCache.isNull())
                scheduleScaledPixmapRefresh();
            cache = &m_movieCache;
        } else {
            if (m_scaledBgSize != deviceSize() || !sameRatio(ratio, m_scaledBgRatio) || m_scaledBg.isNull())
                scheduleScaledPixmapRefresh();
            cache = &m_scaledBg;
        }
        if (!cache->isNull()) {
            const QRectF source = WindowAppearance::coverSourceRect(cache->size(), cache->devicePixelRatio(), size());
            p.drawPixmap(QRectF(0, 0, w, h), *cache, source);
        }
    }
    p.setOpacity(1.0);

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
    if (m_showLogo) {
        if (m_scaledLogo.isNull() || !sameRatio(ratio, m_scaledLogoRatio))
            scheduleScaledPixmapRefresh();
        if (!m_scaledLogo.isNull()) {
            const QSizeF logical = m_scaledLogo.deviceIndependentSize();
            const QRectF box(8, 2, 24, 24);
            p.drawPixmap(QRectF(box.center().x() - logical.width() / 2, box.center().y() - logical.height() / 2,
                                logical.width(), logical.height()),
                         m_scaledLogo, QRectF(m_scaledLogo.rect()));
        }
    }

    // Title.
    if (m_showTitle) {
        QFont font(uiFontFamily());
        font.setPixelSize(13);
        font.setWeight(QFont::Normal);
        p.setFont(font);
        p.setPen(theme.titleBarForeground);
        const int actions = m_titleBar ? m_titleBar->width() : 0;
        const int available = std::max(0, w - actions - 47 + (m_showLogo ? 0 : 31));
        const QString text = p.fontMetrics().elidedText(m_titleText, Qt::ElideRight, available);
        p.drawText(QRect(m_showLogo ? 39 : 8, 6, available, 16), Qt::AlignLeft | Qt::AlignVCenter, text);
    }

    // Border.
    QPen pen(m_borderColor.isValid() ? m_borderColor : theme.border, 1, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin);
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
    acceptButtonDrag(event, height());
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event)
{
    acceptButtonDrag(event, height());
}

void MainWindow::dropEvent(QDropEvent* event)
{
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
    if (ub < 0 || ub > 10) {
        event->ignore();
        return;
    }
    const int index = bar->dropIndexAt(bar->mapFrom(this, pos));
    event->acceptProposedAction();
    moveUiButton(ub, zone, index);
}

void MainWindow::moveUiButton(int ub, int toArea, int insertIndex)
{
    if (ub < 0 || ub > 10)
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
}
