// The main window's side of the interface lock and the obfuscation protection: its entry points call the lock
// controller, whose signals come back here to save, set the bar buttons, close dialogs and toast.

#include "mainwindow/mainwindow.h"

#include "lock/lockcontroller.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/borderframe.h"
#include "mainwindow/videobackground.h"
#include "mainwindow/windowsearch.h"
#include "market/appmarketdialog.h"
#include "panel/bottombar.h"
#include "panel/titlebaractions.h"
#include "settings/settingsdialog.h"
#include "ui/uibtn.h"

#include <memory>

namespace {

// The lock screen plays a video through the same decoder as the window's background.
class VideoLockSource : public LockVideoSource
{
public:
    void setTargetSize(QSize size) override { m_video.setTargetSize(size); }
    void start(const QString& path) override { m_video.start(path); }
    void stop() override { m_video.stop(); }
    QImage currentFrame(quint64* frameNumber) const override { return m_video.currentFrame(frameNumber); }

private:
    VideoBackground m_video;
};

} // namespace

void MainWindow::buildLockController()
{
    UiLockOverlay::setVideoFactory([](const QString& path) -> std::unique_ptr<LockVideoSource> {
        if (!VideoBackground::isVideoFile(path))
            return nullptr;
        return std::make_unique<VideoLockSource>();
    });
    m_lock = new LockController(this, &m_settings, this);
    connect(m_lock, &LockController::changed, this, [this] {
        saveSettings();
        refreshLockButtons();
        // The market follows the lock both ways: hidden and inert while locked, live again after.
        if (m_appMarket)
            m_appMarket->setLocked(m_lock->isLocked());
        m_settingsBridge->followPanel();
    });
    connect(m_lock, &LockController::engaged, this, &MainWindow::onLockEngaged);
    connect(m_lock, &LockController::closeSettingsRequested, this, [this] {
        if (SettingsDialog* dialog = m_settingsBridge->dialog())
            dialog->close();
    });
    connect(m_lock, &LockController::coverChanged, this, [this](bool covered) {
        if (m_borderFrame)
            m_borderFrame->setDividerY(covered ? -100 : 28);
    });
    connect(m_lock, &LockController::toastRequested, this,
            [this](const QString& text, int kind) { showToast(text, Toast::Kind(kind)); });
}

void MainWindow::refreshLockButtons()
{
    if (!m_titleBar || !m_bottomBar)
        return;
    m_titleBar->setButtonActive(UiBtn::Lock, m_settings.uiLocked);
    m_bottomBar->setButtonActive(UiBtn::Lock, m_settings.uiLocked);
    m_titleBar->setButtonActive(UiBtn::Obfuscate, m_settings.obfuscateEnabled);
    m_bottomBar->setButtonActive(UiBtn::Obfuscate, m_settings.obfuscateEnabled);
}

void MainWindow::onLockEngaged()
{
    if (SettingsDialog* dialog = m_settingsBridge->dialog())
        dialog->close();
    // Nothing the lock covers may stay open above it or launch from behind it.
    if (m_search)
        m_search->hide();
    if (m_appMarket)
        m_appMarket->setLocked(true);
}

void MainWindow::toggleUiLock()
{
    m_lock->toggleUiLock();
}

void MainWindow::engageUiLock()
{
    m_lock->engageUiLock();
}

void MainWindow::unlockUi()
{
    m_lock->unlockUi();
}

void MainWindow::toggleObfuscation()
{
    m_lock->toggleObfuscation();
}

void MainWindow::onProtectCommitted(const QString& hash, const QMap<QString, QString>& obfuscateMap)
{
    m_lock->onProtectCommitted(hash, obfuscateMap);
}

void MainWindow::onLockBackgroundChosen(const QString& path)
{
    m_lock->onLockBackgroundChosen(path);
}

UiLockOverlay* MainWindow::lockOverlay() const
{
    return m_lock->overlay();
}
