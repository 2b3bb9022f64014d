// The window's side of its state: the events of the frameless window that reach the tray, the frame drags
// and the close and minimise paths (the work is done by WindowStateController and TrayController).
#include "mainwindow/mainwindow.h"

#include "mainwindow/firstpaintsteps.h"
#include "mainwindow/traycontroller.h"
#include "mainwindow/windowstatecontroller.h"
#include "panel/titlebaractions.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>

void MainWindow::restoreWindow()
{
    m_winState->restoreWindow();
}

void MainWindow::afterFirstPaint(std::function<void()> step)
{
    m_winState->firstPaint()->add(std::move(step));
}

// ---- frameless move and resize -----------------------------------------------------------------------------

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const QPoint global = event->globalPosition().toPoint();
        if (m_winState->startFrameDrag(global, childAt(mapFromGlobal(global)) != nullptr)) {
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
            m_winState->startFrameDrag(mouse->globalPosition().toPoint(), true))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- close and minimise ------------------------------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_tray->closeToTray()) {
        event->ignore();
        return;
    }
    saveSettings();
    abortNetwork();
    event->accept();
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        m_tray->windowMinimized();
}
