#include "mainwindow/traycontroller.h"

#include "mainwindow/firstpaintsteps.h"
#include "mainwindow/menustyle.h"
#include "ui/appsettings.h"
#include "ui/lang.h"

#include <QCoreApplication>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <utility>

TrayController::TrayController(Host host, QObject* parent) : QObject(parent), m_host(std::move(host))
{
}

QIcon TrayController::appIcon() const
{
    // The pictures the appearance last applied, not the paths in the record: a live preview applies paths
    // the record does not hold yet, and the icon has to show what is previewed.
    const QPixmap source = m_host.picture();
    QIcon icon;
    if (!source.isNull()) {
        for (int side : {16, 20, 24, 32, 48, 64, 128, 256})
            icon.addPixmap(source.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        icon.addPixmap(source);
    }
    if (icon.isNull())
        icon = m_host.window->style()->standardIcon(QStyle::SP_DesktopIcon);
    return icon;
}

void TrayController::create()
{
    if (m_tray)
        return;
    m_tray = new QSystemTrayIcon(appIcon(), this);
    m_tray->setToolTip(Lang::tr("青岚舟面板"));
    m_menu = new QMenu(m_host.window);
    applyMenuStyle(m_menu);
    QAction* show = m_menu->addAction(QString());
    QAction* settings = m_menu->addAction(QString());
    m_menu->addSeparator();
    QAction* quit = m_menu->addAction(QString());
    // The texts follow the language in force when the menu opens.
    auto retranslate = [show, settings, quit] {
        show->setText(Lang::tr("显示面板"));
        settings->setText(Lang::tr("设置..."));
        quit->setText(Lang::tr("退出"));
    };
    retranslate();
    connect(m_menu, &QMenu::aboutToShow, this, retranslate);
    connect(show, &QAction::triggered, this, &TrayController::restoreRequested);
    connect(settings, &QAction::triggered, this, &TrayController::settingsRequested);
    connect(quit, &QAction::triggered, this, &TrayController::quitFromTray);
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            Q_EMIT restoreRequested();
    });
}

void TrayController::updateVisibility()
{
    if (m_host.settings->closeToTray || m_host.settings->minimizeToTray) {
        create();
        m_tray->show();
    } else if (m_tray) {
        m_tray->hide();
    }
}

void TrayController::applySettings()
{
    // At start the tray icon (its menu, its scaled icon, the round trips to a tray host) waits for the window's
    // first paint, which does not need it; a later change applies at once.
    if (m_host.firstPaint->done()) {
        updateVisibility();
    } else if (!m_deferred) {
        m_deferred = true;
        m_host.firstPaint->add([this] { takeDeferred(); });
    }
}

void TrayController::takeDeferred()
{
    if (!m_deferred)
        return;
    m_deferred = false;
    updateVisibility();
    setToolTip(m_host.title());
}

void TrayController::updateIcon()
{
    if (m_tray)
        m_tray->setIcon(appIcon());
}

void TrayController::setToolTip(const QString& text)
{
    if (m_tray)
        m_tray->setToolTip(text);
}

bool TrayController::usable() const
{
    // A tray icon only counts when a tray shows it: without a tray host, hiding the window would leave
    // the user nothing to bring it back with.
    return m_tray && m_tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayController::showTrayAndHide()
{
    create();
    m_tray->show();
    if (usable())
        m_host.window->hide();
    else
        m_host.window->showMinimized(); // nothing would show a hidden window again
}

void TrayController::quitFromTray()
{
    if (m_tray)
        m_tray->hide();
    m_quitRequested = true;
    m_host.window->close();
    QCoreApplication::quit();
}

bool TrayController::closeToTray()
{
    if (std::exchange(m_quitRequested, false))
        return false;
    if (!m_host.settings->closeToTray || !usable())
        return false;
    m_host.window->hide();
    return true;
}

void TrayController::windowMinimized()
{
    if (!m_host.settings->minimizeToTray || !usable())
        return;
    // Hidden from the next turn of the loop with the minimised state cleared, so a restore shows it as
    // a normal window.
    QTimer::singleShot(0, this, [this] {
        m_host.window->hide();
        m_host.window->setWindowState(m_host.window->windowState() & ~Qt::WindowMinimized);
    });
}
