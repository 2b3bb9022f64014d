#pragma once

#include <QImage>
#include <QPoint>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QLineEdit;
class QMovie;
class QTimer;

// A video behind the lock screen. The lock screen knows no decoder of its own: the window that owns it
// installs a factory (UiLockOverlay::setVideoFactory) that wraps the program's video background.
class LockVideoSource
{
public:
    virtual ~LockVideoSource() = default;
    virtual void setTargetSize(QSize size) = 0;
    virtual void start(const QString& path) = 0;
    // Blocks until decoding has ended.
    virtual void stop() = 0;
    // A copy of the newest frame (null before the first) and, when asked, a number that changes with each frame.
    virtual QImage currentFrame(quint64* frameNumber) const = 0;
};

// The lock screen: covers the whole main window while the interface is locked, paints its own background,
// logo, title, password field and window buttons, and keeps every key, shortcut, focus move and drop away
// from the panel below while it shows. It holds no policy: the owner installs the callbacks and deletes it
// once onUnlockFinished has run.
class UiLockOverlay : public QWidget
{
    Q_OBJECT
public:
    // What a correct password does: unlock the panel, or confirm removing the protection password.
    enum class Mode { Unlock = 0, RemoveProtection = 1 };

    explicit UiLockOverlay(QWidget* parent = nullptr);
    ~UiLockOverlay() override;

    // A check on the GUI thread, used when no stored hash is set with setVerifier.
    std::function<bool(const QString&)> checkPassword;
    // After a password matched the hash of setVerifier (on the GUI thread), before the unlock or removal.
    std::function<void(const QString&)> onPasswordVerified;
    std::function<void()> onUnlocked;
    std::function<void()> onRemovePassword;
    std::function<void()> onUnlockFinished;

    // Returns a video source for a path it can play, or null for any other file.
    using VideoFactory = std::function<std::unique_ptr<LockVideoSource>(const QString& path)>;
    static void setVideoFactory(VideoFactory factory);

    // Enters input mode: the password field, the main button and the links show.
    void setMode(bool removeMode);
    void setMode(Mode mode) { setMode(mode == Mode::RemoveProtection); }
    Mode mode() const { return m_removeMode ? Mode::RemoveProtection : Mode::Unlock; }
    void setBackgroundPath(const QString& path);
    QString backgroundPath() const { return m_backgroundPath; }
    // Checks the entry: against the stored hash on a pool thread (the lock screen keeps painting and
    // answering meanwhile; a second submit waits for the first), else through checkPassword.
    void submitPassword();
    // The stored hash the entry is checked against; empty: checkPassword decides.
    void setVerifier(const QString& hash) { m_verifier = hash; }
    bool isChecking() const { return m_checking; }
    // Plays the unlock animation without a check (the owner unlocked by itself).
    void beginUnlock();
    void animationTick();
    void updateAnimationTimer();

    bool isInputMode() const { return m_inputMode; }
    bool isUnlocking() const { return m_unlocking; }
    bool isMoving() const { return m_moving; }
    QString errorText() const { return m_error; }
    double shake() const { return m_shake; }
    double unlockProgress() const { return m_unlockProgress; }
    QLineEdit* passwordEdit() const { return m_edit; }
    // As the last paint placed them (empty before it).
    QRectF mainButtonRect() const { return m_mainRect; }
    QRectF secondaryLinkRect() const { return m_secondaryRect; }
    QRectF forgotLinkRect() const { return m_forgotRect; }
    QRectF minimiseButtonRect() const { return m_minRect; }
    QRectF closeButtonRect() const { return m_closeRect; }

    // Whether the file is a GIF small enough to keep all its frames in memory.
    static bool isAnimatedImageUsable(const QString& path);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void finishSubmit(bool accepted);
    void leaveInputMode();
    QImage backgroundImage();
    void paintContent(QPainter& p, bool pictureStyle);
    int elementAt(const QPointF& pos) const;
    int titleButtonAt(const QPointF& pos) const;
    // An event meant for the covered panel (not for the lock screen itself).
    bool isForPanel(QObject* watched) const;
    QSize devicePixelSize() const;

    QString m_backgroundPath;
    QString m_verifier;
    bool m_checking = false;
    QLineEdit* m_edit = nullptr;
    bool m_inputMode = false;
    bool m_removeMode = false;
    QString m_error;
    QRectF m_mainRect;
    int m_hovered = 0;
    int m_pressed = 0;
    QRectF m_secondaryRect;
    QRectF m_forgotRect;
    QRectF m_minRect;
    QRectF m_closeRect;
    int m_hoveredTitle = 0;
    int m_pressedTitle = 0;
    QTimer* m_holdTimer = nullptr;
    QTimer* m_resizeTimer = nullptr;
    QPoint m_pressPos;
    bool m_moving = false;
    double m_fade = 1.0;
    double m_shake = 0.0;
    double m_unlockProgress = 0.0;
    bool m_unlocking = false;
    QImage m_picture;
    bool m_pictureLoaded = false;
    QImage m_cover;
    int m_coverW = -1;
    int m_coverH = -1;
    QMovie* m_movie = nullptr;
    std::unique_ptr<LockVideoSource> m_video;
    QImage m_videoFrame;
    quint64 m_videoFrameNumber = 0;
    QTimer* m_animTimer = nullptr;
    double m_clock = 0.0;
    bool m_guarding = false;
};
