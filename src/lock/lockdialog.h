#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>

class QLineEdit;
class QTimer;

// The small painted card that sets, checks, changes or removes the protection password. The checking modes
// verify the entry against the stored hash on a pool thread; the owner reads the result code and the texts
// after exec(), and learns the entered password through onVerified (to upgrade an older hash).
class LockDialog : public QDialog
{
    Q_OBJECT
public:
    enum Mode { Set = 0, Verify = 1, Change = 2, Remove = 3 };

    explicit LockDialog(int mode, QWidget* parent = nullptr);
    ~LockDialog() override;

    std::function<void(const QString&)> onVerified;
    std::function<void()> onRemoveConfirmed;

    void setVerifier(QString hash) { m_verifier = std::move(hash); }
    QString password() const;
    QString newPassword() const;
    void setError(const QString& text);
    QString errorText() const { return m_error; }
    // Checks the input; false while it is refused or a check still runs, true once the card closes accepted.
    bool tryAccept(bool verified);
    bool isBusy() const { return m_busy; }
    bool isClosing() const { return m_closing; }
    int mode() const { return m_mode; }
    void done(int r) override;

    // One step of the fade, shake, close and glow animations (the 33 ms timer's slot; tests call it).
    void animationTick();

    QRect okRect() const { return m_okRect; }
    QRect closeRect() const { return m_closeRect; }
    QRect removeLinkRect() const { return m_removeRect; }
    QRect forgotLinkRect() const { return m_forgotRect; }
    // The muted line under the button (empty in the verify mode, which shows its two links there).
    QString bottomHint() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    int bottomHintHeight() const;
    void relayout();
    int hitTest(const QPoint& pos) const;
    void shakeWith(const QString& text);
    void startTimer();
    void runRemoveDialog();

    int m_mode;
    QLineEdit* m_edit = nullptr;
    QLineEdit* m_second = nullptr;
    QString m_title;
    QString m_error;
    int m_errorTop = 0;
    QRect m_okRect;
    QRect m_closeRect;
    int m_hovered = 0;
    QRect m_removeRect;
    QRect m_forgotRect;
    int m_pressed = 0;
    QString m_verifier;
    QTimer* m_timer = nullptr;
    double m_fadeIn = 1.0;
    double m_shake = 0.0;
    bool m_closing = false;
    bool m_busy = false;
    double m_closeProgress = 0.0;
    int m_closeResult = 0;
    QPoint m_basePos;
    double m_errorFade = 1.0;
    double m_phase = 0.0;
};
