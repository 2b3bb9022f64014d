#include "mainwindow/windowstatecontroller.h"

#include "mainwindow/edgedock.h"
#include "mainwindow/firstpaintsteps.h"
#include "mainwindow/framedrag.h"
#include "mainwindow/summonhotkey.h"
#include "platform/autostart.h"
#include "platform/clock.h"
#include "platform/inputactivity.h"
#include "platform/pointerstate.h"
#include "platform/windowhints.h"
#include "ui/appsettings.h"

#include <QApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <memory>
#include <utility>

WindowStateController::WindowStateController(Host host, QObject* parent)
    : QObject(parent), m_host(std::move(host)), m_firstPaint(new FirstPaintSteps(this))
{
}

void WindowStateController::setup()
{
    QWidget* window = m_host.window;
    EdgeDock::Host host;
    host.geometry = [window] { return window->geometry(); };
    host.setGeometry = [window](const QRect& r) { window->setGeometry(r); };
    host.setTaskbarButtonVisible = [window](bool visible) {
        ktr::platform::setSkipTaskbar(window->windowHandle(), !visible);
    };
    host.setTopmost = [window](bool on) { ktr::platform::setKeepAbove(window->windowHandle(), on); };
    host.isPinned = [this] { return m_pinned; };
    host.modalOpen = [] { return QApplication::activeModalWidget() != nullptr; };
    host.isVisible = [window] { return window->isVisible(); };
    host.isMinimized = [window] { return window->isMinimized(); };
    host.unminimize = [window] { window->setWindowState(window->windowState() & ~Qt::WindowMinimized); };
    host.activate = [window] {
        window->show();
        window->raise();
        window->activateWindow();
    };
    // Hidden at its edge the window is only as large as the strip it shows; its children keep their places
    // meanwhile (the window's resizeEvent leaves them), so it comes back exactly as it went.
    host.setCollapsed = [window, minimum = std::make_shared<QSize>()](bool on) {
        if (on) {
            *minimum = window->minimumSize();
            window->setMinimumSize(1, 1);
        } else {
            window->setMinimumSize(*minimum);
        }
        // While it is a strip it is a dock: a window manager keeps a part of a normal window on screen
        // (xfwm4 pulls even a 1 px window some 30 px in), a dock stays where it asks to be.
        ktr::platform::setDockType(window->windowHandle(), on);
    };
    m_dock = new EdgeDock(std::move(host), ktr::platform::PointerState::system(), ktr::platform::Clock::system(), this);
    m_dock->pollTimer()->setObjectName(QStringLiteral("dockPollTimer"));
    // On X11 the pointer's raw events drive the dock, so a resting pointer wakes nothing; the poll stays
    // where they can't be had.
    // (The offscreen platform may open the X display for GL too: only a window on X itself is driven so.)
    // Opening the raw-input connection costs the start a few milliseconds: it waits for the first frame
    // (the dock's poll is not due before then either).
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        m_firstPaint->add([this] { m_dock->useRawInput(ktr::platform::InputActivity::system()); });
    refreshDockScreens();
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (QScreen* screen : screens)
        watchScreen(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) { watchScreen(screen); });

    // The end of a move (or resize) handed to the window manager is where docking is decided.
    m_frameDrag = new FrameDrag(ktr::platform::PointerState::system(), this);
    connect(m_frameDrag, &FrameDrag::sizeMoveFinished, this, [this] { m_dock->moveFinished(); });
    // Borders win over the children lying on them, as they do on a window with a system frame: the window
    // looks at every press first.
    qApp->installEventFilter(window);

    m_summonHotkey = new SummonHotkey(m_host.toast, this);
    connect(m_summonHotkey, &SummonHotkey::summonRequested, this, &WindowStateController::summonWindow);
}

void WindowStateController::watchScreen(QScreen* screen)
{
    connect(screen, &QScreen::availableGeometryChanged, this, [this] { fitToScreen(); });
}

void WindowStateController::refreshDockScreens()
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

void WindowStateController::applyDockSettings()
{
    if (!m_dock)
        return;
    const AppSettings& s = *m_host.settings;
    m_dock->setSettings(s.edgeSnap, s.snapRevealPx, s.revealMethod);
    if (!s.edgeSnap)
        m_dock->undock(true);
    m_dock->updateDockPollTimer();
}

void WindowStateController::snapToDockEdge()
{
    if (m_dock)
        m_dock->snapToDockEdge();
}

bool WindowStateController::dockRevealedAndSummoned() const
{
    return m_dock && m_dock->dockEdge() != EdgeDock::NotDocked && m_dock->isRevealed() && m_dock->isSummoned();
}

void WindowStateController::fitToScreen()
{
    if (!m_dock || !QGuiApplication::primaryScreen())
        return;
    refreshDockScreens();
    m_dock->fitToScreen();
    Q_EMIT screenFitted();
}

// ---- frameless move and resize -----------------------------------------------------------------------------

FrameHit WindowStateController::frameHitAt(const QPoint& local) const
{
    const bool overChild = m_host.window->childAt(local) != nullptr;
    return frameHitTest(local, m_host.window->size(), m_host.landscape(), overChild);
}

bool WindowStateController::startFrameDrag(const QPoint& globalPos, bool overChild)
{
    const QPoint local = m_host.window->mapFromGlobal(globalPos);
    const FrameHit hit = frameHitTest(local, m_host.window->size(), m_host.landscape(), overChild);
    return m_frameDrag && m_frameDrag->start(m_host.window->windowHandle(), hit);
}

// ---- restore, pin, autostart ------------------------------------------------------------------------------

void WindowStateController::restoreWindow()
{
    QWidget* window = m_host.window;
    window->show();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (QGuiApplication::primaryScreen() && m_dock) {
        refreshDockScreens();
        const QRect avail = m_dock->availableGeometry();
        // Out of the edge at its own size, and a running dock animation ended where the window is, so it
        // can't carry the window off again.
        m_dock->undock();
        m_dock->animateGeometry(window->geometry());
        QRect r = window->geometry();
        r.moveCenter(avail.center());
        window->setGeometry(r);
    }
    window->raise();
    window->activateWindow();
    // Brought above everything, then back among ordinary windows unless the user pinned it.
    ktr::platform::setKeepAbove(window->windowHandle(), true);
    if (!m_pinned)
        ktr::platform::setKeepAbove(window->windowHandle(), false);
    if (m_dock)
        m_dock->updateDockPollTimer();
}

void WindowStateController::setPinned(bool on)
{
    ktr::platform::setKeepAbove(m_host.window->windowHandle(), on);
    m_pinned = on;
    Q_EMIT pinnedChanged(on);
}

int WindowStateController::setAutoStart(bool on)
{
    QString error;
    const int code = ktr::platform::setAutostart(on, QCoreApplication::applicationFilePath(), &error);
    if (code != 0)
        qWarning().noquote() << "[autostart]" << error;
    return code;
}

// ---- hotkey --------------------------------------------------------------------------------------------

void WindowStateController::registerSummonHotkey(bool announce)
{
    if (m_summonHotkey)
        m_summonHotkey->registerSummonHotkey(m_host.settings->summonHotkey, announce);
}

void WindowStateController::unregisterSummonHotkey()
{
    if (m_summonHotkey)
        m_summonHotkey->unregisterSummonHotkey();
}

void WindowStateController::summonWindow()
{
    if (m_dock && m_dock->summonDocked())
        return;
    QWidget* window = m_host.window;
    if (!window->isVisible()) {
        restoreWindow();
        return;
    }
    // A minimised panel comes back too: the keys are meant to bring it forward from anywhere.
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}
