#include "mainwindow/windowlock.h"

#include "lock/lockcontroller.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/videobackground.h"
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

WindowLock::WindowLock(Host host, QObject* parent) : QObject(parent), m_host(std::move(host))
{
    UiLockOverlay::setVideoFactory([](const QString& path) -> std::unique_ptr<LockVideoSource> {
        if (!VideoBackground::isVideoFile(path))
            return nullptr;
        return std::make_unique<VideoLockSource>();
    });
    m_lock = new LockController(m_host.window, m_host.settings, this);
    connect(m_lock, &LockController::changed, this, [this] {
        m_host.saveSettings();
        m_lock->refreshButtons();
        // The market follows the lock both ways: hidden and inert while locked, live again after.
        m_host.setMarketLocked(m_lock->isLocked());
        m_host.followSettingsDialog();
    });
    connect(m_lock, &LockController::buttonsChanged, this, [this](bool uiLocked, bool obfuscated) {
        m_host.setButtonActive(UiBtn::Lock, uiLocked);
        m_host.setButtonActive(UiBtn::Obfuscate, obfuscated);
    });
    connect(m_lock, &LockController::engaged, this, &WindowLock::onEngaged);
    connect(m_lock, &LockController::closeSettingsRequested, this, [this] { m_host.closeSettingsDialog(); });
    connect(m_lock, &LockController::coverChanged, this,
            [this](bool covered) { m_host.setDividerY(covered ? -100 : 28); });
    connect(m_lock, &LockController::toastRequested, this,
            [this](const QString& text, int kind) { m_host.toast(text, Toast::Kind(kind)); });
}

void WindowLock::onEngaged()
{
    m_host.closeSettingsDialog();
    // Nothing the lock covers may stay open above it or launch from behind it.
    m_host.hideSearch();
    m_host.setMarketLocked(true);
}
