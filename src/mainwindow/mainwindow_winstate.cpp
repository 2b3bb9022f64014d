// The window's state: the tray and the close/minimise paths, restoring and pinning, the autostart entry,
// edge docking, the frameless move and resize, and the summon hotkey.
#include "mainwindow/mainwindow.h"

#include "mainwindow/edgedock.h"
#include "mainwindow/framedrag.h"
#include "mainwindow/menustyle.h"
#include "mainwindow/summonhotkey.h"
#include "mainwindow/windowbackground.h"
#include "panel/bottombar.h"
#include "panel/icongrid.h"
#include "panel/titlebaractions.h"
#include "platform/autostart.h"
#include "platform/clock.h"
#include "platform/inputactivity.h"
#include "platform/pointerstate.h"
#include "platform/windowhints.h"
#include "ui/lang.h"
#include "ui/uibtn.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <memory>
#include <utility>

void MainWindow::setupWindowState()
{
    EdgeDock::Host host;
    host.geometry = [this] { return geometry(); };
    host.setGeometry = [this](const QRect& r) { setGeometry(r); };
    host.setTaskbarButtonVisible = [this](bool visible) { ktr::platform::setSkipTaskbar(windowHandle(), !visible); };
    host.setTopmost = [this](bool on) { ktr::platform::setKeepAbove(windowHandle(), on); };
    host.isPinned = [this] { return m_pinned; };
    host.modalOpen = [] { return QApplication::activeModalWidget() != nullptr; };
    host.isVisible = [this] { return isVisible(); };
    host.isMinimized = [this] { return isMinimized(); };
    host.unminimize = [this] { setWindowState(windowState() & ~Qt::WindowMinimized); };
    host.activate = [this] {
        show();
        raise();
        activateWindow();
    };
    // Hidden at its edge the window is only as large as the strip it shows; its children keep their places
    // meanwhile (resizeEvent leaves them), so it comes back exactly as it went.
    host.setCollapsed = [this, minimum = std::make_shared<QSize>()](bool on) {
        if (on) {
            *minimum = minimumSize();
            setMinimumSize(1, 1);
        } else {
            setMinimumSize(*minimum);
        }
        // While it is a strip it is a dock: a window manager keeps a part of a normal window on screen
        // (xfwm4 pulls even a 1 px window some 30 px in), a dock stays where it asks to be.
        ktr::platform::setDockType(windowHandle(), on);
    };
    m_dock = new EdgeDock(std::move(host), ktr::platform::PointerState::system(), ktr::platform::Clock::system(), this);
    m_dock->pollTimer()->setObjectName(QStringLiteral("dockPollTimer"));
    // On X11 the pointer's raw events drive the dock, so a resting pointer wakes nothing; the poll stays
    // where they can't be had.
    // (The offscreen platform may open the X display for GL too: only a window on X itself is driven so.)
    // Opening the raw-input connection costs the start a few milliseconds: it waits for the first frame
    // (the dock's poll is not due before then either).
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        afterFirstPaint([this] { m_dock->useRawInput(ktr::platform::InputActivity::system()); });
    refreshDockScreens();
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (QScreen* screen : screens)
        watchScreen(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) { watchScreen(screen); });

    // The end of a move (or resize) handed to the window manager is where docking is decided.
    m_frameDrag = new FrameDrag(ktr::platform::PointerState::system(), this);
    connect(m_frameDrag, &FrameDrag::sizeMoveFinished, this, [this] { m_dock->moveFinished(); });
    // Borders win over the children lying on them, as they do on a window with a system frame.
    qApp->installEventFilter(this);

    m_summonHotkey =
        new SummonHotkey([this](const QString& text, int kind) { showToast(text, Toast::Kind(kind)); }, this);
    connect(m_summonHotkey, &SummonHotkey::summonRequested, this, &MainWindow::summonWindow);
}

void MainWindow::watchScreen(QScreen* screen)
{
    connect(screen, &QScreen::availableGeometryChanged, this, [this] { fitToScreen(); });
}

void MainWindow::refreshDockScreens()
{
    if (!m_dock)
        return;
    QList<QRect> available;
    const QList<QScreen*> screens = QGuiApplication::screens();
    const int primary = int(screens.indexOf(QGuiApplication::primaryScreen()));
    for (QScreen* screen : screens)
        available.append(screen->availableGeometry());
    m_dock->setScreens(available, std::max(primary, 0));
}

// ---- docking ---------------------------------------------------------------------------------------------

void MainWindow::applyDockSettings()
{
    if (!m_dock)
        return;
    m_dock->setSettings(m_settings.edgeSnap, m_settings.snapRevealPx, m_settings.revealMethod);
    if (!m_settings.edgeSnap)
        m_dock->undock(true);
    m_dock->updateDockPollTimer();
}

void MainWindow::pollDockCursor()
{
    if (m_dock)
        m_dock->pollDockCursor();
}

void MainWindow::snapToDockEdge()
{
    if (m_dock)
        m_dock->snapToDockEdge();
}

bool MainWindow::dockRevealedAndSummoned() const
{
    return m_dock && m_dock->dockEdge() != EdgeDock::NotDocked && m_dock->isRevealed() && m_dock->isSummoned();
}

void MainWindow::fitToScreen()
{
    if (!m_dock || !QGuiApplication::primaryScreen())
        return;
    refreshDockScreens();
    m_dock->fitToScreen();
    if (m_grid)
        m_grid->clearCaches();
    update();
    repaintPanels();
}

// ---- frameless move and resize -----------------------------------------------------------------------------

FrameHit MainWindow::frameHitAt(const QPoint& local) const
{
    const bool overChild = childAt(local) != nullptr;
    return frameHitTest(local, size(), !m_portrait, overChild);
}

bool MainWindow::startFrameDrag(const QPoint& globalPos, bool overChild)
{
    const QPoint local = mapFromGlobal(globalPos);
    const FrameHit hit = frameHitTest(local, size(), !m_portrait, overChild);
    return m_frameDrag && m_frameDrag->start(windowHandle(), hit);
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const QPoint global = event->globalPosition().toPoint();
        if (startFrameDrag(global, childAt(mapFromGlobal(global)) != nullptr)) {
            event->accept();
            return;
        }
    }
    QWidget::mousePressEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The gear menu opens without taking the keyboard: Escape pressed anywhere in the panel closes it, before
    // the grid or the search field use the key for themselves.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this) {
        GearMenuPopup* gear = m_titleBar ? m_titleBar->gearMenu() : nullptr;
        if (gear && gear->isVisible()) {
            gear->hide();
            return true;
        }
    }
    if (event->type() == QEvent::MouseButtonPress && watched != this && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        auto* mouse = static_cast<QMouseEvent*>(event);
        // A child covers the point: only the borders take the press from it.
        if (mouse->button() == Qt::LeftButton && widget->window() == this &&
            startFrameDrag(mouse->globalPosition().toPoint(), true))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- tray, close and minimise ------------------------------------------------------------------------------

QIcon MainWindow::appIcon() const
{
    // The pictures the appearance last applied, not the paths in the record: a live preview applies paths
    // the record does not hold yet, and the icon has to show what is previewed.
    const QPixmap source = !m_look.appIcon.isNull() ? m_look.appIcon : m_background->logo();
    QIcon icon;
    if (!source.isNull()) {
        for (int side : {16, 20, 24, 32, 48, 64, 128, 256})
            icon.addPixmap(source.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        icon.addPixmap(source);
    }
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_DesktopIcon);
    return icon;
}

void MainWindow::createTrayIcon()
{
    if (m_tray)
        return;
    m_tray = new QSystemTrayIcon(appIcon(), this);
    m_tray->setToolTip(Lang::tr("青岚舟面板"));
    m_trayMenu = new QMenu(this);
    applyMenuStyle(m_trayMenu);
    QAction* show = m_trayMenu->addAction(QString());
    QAction* settings = m_trayMenu->addAction(QString());
    m_trayMenu->addSeparator();
    QAction* quit = m_trayMenu->addAction(QString());
    // The texts follow the language in force when the menu opens.
    auto retranslate = [show, settings, quit] {
        show->setText(Lang::tr("显示面板"));
        settings->setText(Lang::tr("设置..."));
        quit->setText(Lang::tr("退出"));
    };
    retranslate();
    connect(m_trayMenu, &QMenu::aboutToShow, this, retranslate);
    connect(show, &QAction::triggered, this, &MainWindow::restoreWindow);
    connect(settings, &QAction::triggered, this, [this] {
        restoreWindow();
        openSettings();
    });
    connect(quit, &QAction::triggered, this, &MainWindow::quitFromTray);
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            restoreWindow();
    });
}

void MainWindow::updateTrayVisibility()
{
    if (m_settings.closeToTray || m_settings.minimizeToTray) {
        createTrayIcon();
        m_tray->show();
    } else if (m_tray) {
        m_tray->hide();
    }
}

void MainWindow::takeDeferredTray()
{
    if (!m_trayAfterFirstPaint)
        return;
    m_trayAfterFirstPaint = false;
    updateTrayVisibility();
    if (m_tray)
        m_tray->setToolTip(m_look.titleText);
}

void MainWindow::afterFirstPaint(std::function<void()> step)
{
    if (m_firstPaintDone) {
        step();
        return;
    }
    if (m_afterFirstPaint.isEmpty())
        QTimer::singleShot(1000, this, [this] { runAfterFirstPaint(); }); // a window that never paints
    m_afterFirstPaint.append(std::move(step));
}

void MainWindow::runAfterFirstPaint()
{
    // The frame is queued for the display server only; without this it would wait for these steps.
    if (m_firstPaintDone && !std::exchange(m_firstFrameLogged, true))
        qInfo().noquote() << "first frame shown";
    ktr::platform::flushDisplay();
    const QList<std::function<void()>> steps = std::exchange(m_afterFirstPaint, {});
    for (const std::function<void()>& step : steps)
        step();
}

void MainWindow::updateTrayIcon()
{
    if (m_tray)
        m_tray->setIcon(appIcon());
}

bool MainWindow::trayUsable() const
{
    // A tray icon only counts when a tray shows it: without a tray host, hiding the window would leave
    // the user nothing to bring it back with.
    return m_tray && m_tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void MainWindow::quitFromTray()
{
    if (m_tray)
        m_tray->hide();
    m_quitRequested = true;
    close();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_quitRequested) {
        m_quitRequested = false;
    } else if (m_settings.closeToTray && trayUsable()) {
        event->ignore();
        hide();
        return;
    }
    saveSettings();
    abortNetwork();
    event->accept();
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !(windowState() & Qt::WindowMinimized))
        return;
    if (!m_settings.minimizeToTray || !trayUsable())
        return;
    // Hidden from the next turn of the loop with the minimised state cleared, so a restore shows it as
    // a normal window.
    QTimer::singleShot(0, this, [this] {
        hide();
        setWindowState(windowState() & ~Qt::WindowMinimized);
    });
}

void MainWindow::showTrayAndHide()
{
    createTrayIcon();
    m_tray->show();
    if (trayUsable())
        hide();
    else
        showMinimized(); // nothing would show a hidden window again
}

// ---- restore, pin, autostart ------------------------------------------------------------------------------

void MainWindow::restoreWindow()
{
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    if (QGuiApplication::primaryScreen() && m_dock) {
        refreshDockScreens();
        const QRect avail = m_dock->availableGeometry();
        // Out of the edge at its own size, and a running dock animation ended where the window is, so it
        // can't carry the window off again.
        m_dock->undock();
        m_dock->animateGeometry(geometry());
        QRect r = geometry();
        r.moveCenter(avail.center());
        setGeometry(r);
    }
    raise();
    activateWindow();
    // Brought above everything, then back among ordinary windows unless the user pinned it.
    ktr::platform::setKeepAbove(windowHandle(), true);
    if (!m_pinned)
        ktr::platform::setKeepAbove(windowHandle(), false);
    if (m_dock)
        m_dock->updateDockPollTimer();
}

void MainWindow::setPinned(bool on)
{
    ktr::platform::setKeepAbove(windowHandle(), on);
    m_pinned = on;
    if (m_titleBar)
        m_titleBar->setButtonActive(UiBtn::Pin, on);
    if (m_bottomBar)
        m_bottomBar->setButtonActive(UiBtn::Pin, on);
    update();
}

int MainWindow::setAutoStart(bool on)
{
    QString error;
    const int code = ktr::platform::setAutostart(on, QCoreApplication::applicationFilePath(), &error);
    if (code != 0)
        qWarning().noquote() << "[autostart]" << error;
    return code;
}

// ---- hotkey --------------------------------------------------------------------------------------------

void MainWindow::registerSummonHotkey(bool announce)
{
    if (m_summonHotkey)
        m_summonHotkey->registerSummonHotkey(m_settings.summonHotkey, announce);
}

void MainWindow::unregisterSummonHotkey()
{
    if (m_summonHotkey)
        m_summonHotkey->unregisterSummonHotkey();
}

void MainWindow::summonWindow()
{
    if (m_dock && m_dock->summonDocked())
        return;
    if (!isVisible()) {
        restoreWindow();
        return;
    }
    // A minimised panel comes back too: the keys are meant to bring it forward from anywhere.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

// ---- notices ---------------------------------------------------------------------------------------------

void MainWindow::showDiskFullNotice()
{
    // The recorder is paused, not stopped: it goes on by itself and the button's next press stops it, so
    // the button keeps showing it runs.
    showToast(Lang::tr("磁盘剩余空间不足，录屏已暂停（腾出空间后会自动继续）"), Toast::Error);
}
