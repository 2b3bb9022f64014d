#pragma once

#include "mainwindow/videoframefeed.h"

#include <QObject>
#include <QPixmap>
#include <QSize>
#include <QString>

class QMovie;
class QPainter;
class QTimer;
class QWidget;
class VideoBackground;

// What the main window paints under its strips: a still picture, a GIF or a video, each scaled to cover the
// window at its device pixel ratio, and the logo of the title strip. It owns the scaled caches, the video
// frame pull, the GIF and scaled-picture refresh timers and the debounce of a device pixel ratio change;
// the window applies paths and paints with it.
class WindowBackground : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDebounceMs = 200;

    explicit WindowBackground(QWidget* host);
    ~WindowBackground() override;

    // The picture: a still, GIF or video path (empty = none). The same path again does nothing.
    void apply(const QString& path);
    // Forgets the applied path, so the next apply loads the picture again.
    void forgetPath();
    void setOpacity(int percent) { m_opacity = percent; }
    int opacity() const { return m_opacity; }
    // Whether a picture or a playing video is shown.
    bool inForce() const { return m_videoPlaying || !m_still.isNull(); }
    QPixmap still() const { return m_still; }
    QMovie* movie() const { return m_movie; }
    bool videoPlaying() const { return m_videoPlaying; }
    QString failedVideoPath() const { return m_failedVideoPath; }
    void setVideoClock(const ktr::platform::Clock* clock) { m_videoFeed = VideoFrameFeed(clock); }

    // The logo: the program's own, or the user's picture when it loads. True when the custom path changed.
    void setBuiltInLogo(const QPixmap& logo) { m_logo = logo; }
    bool setCustomLogo(const QString& path);
    const QPixmap& logo() const { return m_customLogo.isNull() ? m_logo : m_customLogo; }
    void setShowLogo(bool show) { m_showLogo = show; }
    bool showLogo() const { return m_showLogo; }

    // Rebuilds the scaled caches that are stale; true when one was rebuilt.
    bool refreshScaled();
    // The window changed size: the video decodes at the new size, a GIF restarts at it after a pause.
    void hostResized();
    // A device pixel ratio seen on the window's screen: true when it differs from the last one (the scaled
    // caches are dropped then).
    bool noteRatio(qreal ratio);
    // After a pause, ratioRefreshDue (not while one runs).
    void scheduleRatioRefresh();
    // Stops every timer and the video.
    void stop();

    // Paints the picture over the whole window (the caller clips to the window's outline).
    void paintPicture(QPainter& p);
    void paintLogo(QPainter& p);

signals:
    void ratioRefreshDue();
    // The video gave no frame in time; failedVideoPath() names it.
    void videoFailed();
    void repaintNeeded();

private:
    QSize deviceSize() const;
    void startGif(const QString& path);
    void restartGifAtHostSize();
    void pullVideoFrame();
    void failVideo();
    void scheduleScaledRefresh();

    QWidget* m_host;
    QString m_path;
    QString m_failedVideoPath;
    int m_opacity = 100;
    QPixmap m_still;
    QPixmap m_scaled;
    QSize m_scaledSize;
    qreal m_scaledRatio = 0;
    QMovie* m_movie = nullptr;
    QPixmap m_movieCache;
    int m_movieCacheFrame = -1;
    QSize m_movieCacheSize;
    qreal m_movieCacheRatio = 0;
    bool m_videoPlaying = false;
    QPixmap m_videoFrame;
    VideoBackground* m_video = nullptr;
    VideoFrameFeed m_videoFeed;
    QPixmap m_logo;
    QPixmap m_customLogo;
    QString m_customLogoPath;
    QPixmap m_scaledLogo;
    qreal m_scaledLogoRatio = 0;
    bool m_showLogo = true;
    qreal m_lastRatio = 0;
    bool m_ratioRefreshBusy = false;
    int m_scaledRefreshRetries = 0;
    QTimer* m_videoTimer = nullptr;
    QTimer* m_resizeDebounce = nullptr;
    QTimer* m_ratioDebounce = nullptr;
    QTimer* m_scaledRefreshTimer = nullptr;
};
