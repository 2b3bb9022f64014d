#include "lock/lockcontroller.h"

#include "lock/uilockoverlay.h"
#include "ui/appsettings.h"

#include <QTimer>
#include <QWidget>

LockController::LockController(QWidget* host, AppSettings* settings, QObject* parent)
    : QObject(parent), m_host(host), m_settings(settings)
{
}

bool LockController::isLocked() const
{
    return m_settings->uiLocked;
}

bool LockController::covers() const
{
    return m_overlay && m_overlay->isVisibleTo(m_host);
}

void LockController::restoreAtStart()
{
    if (!m_settings->uiLocked)
        return;
    if (!m_settings->protectPasswordHash.isEmpty())
        QTimer::singleShot(0, this, [this] { showOverlay(); });
    else
        m_settings->uiLocked = false;
}

bool LockController::blocks()
{
    if (!m_settings->uiLocked)
        return false;
    showOverlay();
    m_overlay->setMode(UiLockOverlay::Mode::Unlock);
    return true;
}

void LockController::showOverlay()
{
    if (!m_overlay) {
        m_overlay = new UiLockOverlay(m_host);
        m_overlay->setBackgroundPath(m_settings->lockBgPath);
    }
    m_overlay->setGeometry(m_host->rect());
    m_overlay->show();
    m_overlay->raise();
    m_overlay->setFocus();
    m_host->update();
}

void LockController::lockAction()
{
    // Setting a protection password needs the lock subsystem's password dialog; a stored one engages the lock.
    if (!m_settings->uiLocked && m_settings->protectPasswordHash.isEmpty())
        return;
    if (!m_settings->uiLocked) {
        m_settings->uiLocked = true;
        emit engaged();
    }
    showOverlay();
    m_overlay->setMode(UiLockOverlay::Mode::Unlock);
}

void LockController::setBackgroundPath(const QString& path)
{
    if (m_overlay)
        m_overlay->setBackgroundPath(path);
}

void LockController::reloadBackground()
{
    if (!m_overlay)
        return;
    m_overlay->setBackgroundPath(QString());
    m_overlay->setBackgroundPath(m_settings->lockBgPath);
}

void LockController::fitTo(const QRect& rect)
{
    if (m_overlay)
        m_overlay->setGeometry(rect);
}
