#pragma once

#include <QImage>
#include <QMutex>
#include <QObject>
#include <QSize>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// Plays a video file as the panel's background: a worker thread decodes the frames, paces them by their
// time stamps, fits each to the window's pixel size and leaves the newest one in a hand-over slot that the
// window reads on its own timer. It loops forever and plays no sound. The worker reports nothing: a file
// that gives no frame simply leaves the frame count at 0, and the window decides when to give up.
class VideoBackground : public QObject
{
    Q_OBJECT
public:
    explicit VideoBackground(QObject* parent = nullptr);
    ~VideoBackground() override;

    // By the file name's suffix, in any case.
    static bool isVideoFile(const QString& path);

    // The size frames are delivered in (device pixels); each side below 1 becomes 1. Takes effect from the
    // next decoded frame.
    void setTargetSize(QSize size);
    QSize targetSize() const;

    // Stops any previous worker and forgets its frame; then plays the file when it exists.
    void start(const QString& path);
    // Blocks until the worker has ended (it notices at once, even while it waits for a frame's time).
    void stop();
    // True from a start that launched a worker until stop(), even when the worker gave up by itself.
    bool isRunning() const { return m_running; }
    QString path() const { return m_path; }

    // The newest frame and, when asked, how many frames were published since the last start (0 = none yet).
    QImage currentFrame(quint64* count = nullptr) const;

    // Worker side: replaces the frame in the hand-over slot and counts it.
    void setFrame(QImage frame);

    // The size to ask the decoder for: about 1.5 times the target, so a large video behind a small window is
    // not converted at full size. Invalid when the source needs no reduction.
    static QSize decodeSize(QSize source, QSize target);
    // Scales a frame to cover the target and cuts out its centre; a target side below 1 keeps the frame.
    static QImage fitToTarget(const QImage& frame, QSize target);

private:
    void run(QString path);
    // Waits up to ms, or less when stop() is called; returns false when stopping.
    bool waitFor(qint64 ms);

    QString m_path;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_targetWidth{0};
    std::atomic<int> m_targetHeight{0};
    bool m_running = false;

    std::mutex m_wakeMutex;
    std::condition_variable m_wake;

    mutable QMutex m_frameMutex;
    QImage m_frame;
    quint64 m_frameCount = 0;
};
