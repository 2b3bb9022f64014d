#pragma once

#include "account/authmanager.h"

#include <QDialog>
#include <QRect>
#include <QString>

#include <functional>

class QLineEdit;
class QTimer;

// The painted, frameless login and registration window. It asks its own AuthManager for the captcha
// and the request, runs the device confirmation when the service asks for one and, when exec()
// returns Accepted, holds the token, the user name, the two toggles and the password for its caller.
// Failures are shown in its message line and leave it open.
class LoginDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LoginDialog(QWidget* parent = nullptr);

    // Hit ids of hitTest.
    enum HitId {
        None = 0,
        Submit = 1,
        Switch = 2,
        Close = 3,
        Captcha = 4,
        Terms = 5,
        Agree = 6,
        Remember = 7,
        AutoLogin = 8
    };
    static constexpr int kWidth = 360;
    static constexpr int kLoginHeight = 364;
    static constexpr int kRegisterHeight = 456;
    // After a registration the dialog shows its welcome this long, then closes.
    static constexpr int kRegisterCloseMs = 900;

    // Prefills the user name, the password (only when given) and the remember toggle (off also turns
    // automatic login off).
    void setCredentials(const QString& username, const QString& password, bool remember);
    QString password() const;

    // Results, valid after Accepted.
    QString token() const { return m_token; }
    QString username() const { return m_username; }
    bool remember() const { return m_remember; }
    bool autoLogin() const { return m_autoLogin; }

    void setRegisterMode(bool registerMode);
    bool isLoginMode() const { return m_loginMode; }
    // Checks the fields; on failure the user's message (translated) and false.
    bool validateInput(QString& message) const;
    void submit();
    void doLogin(const QString& user, const QString& password, bool confirm);
    void refreshCaptcha();
    void layoutFields();
    int hitTest(const QPoint& pos) const;

    // The account client (tests point it at their network manager).
    AuthManager& auth() { return m_auth; }
    QLineEdit* userEdit() const { return m_userEdit; }
    QLineEdit* passEdit() const { return m_passEdit; }
    QLineEdit* pass2Edit() const { return m_pass2Edit; }
    QLineEdit* captchaEdit() const { return m_captchaEdit; }
    // The message line as shown (empty = not shown), in the current language.
    QString message() const;
    bool messageIsError() const { return m_messageIsError; }
    bool isBusy() const { return m_busy; }
    bool isCaptchaLoading() const { return m_captchaLoading; }
    bool agreed() const { return m_agree; }
    QString captchaId() const { return m_captchaId; }
    // The question, or "获取中…" / "获取失败 点击刷新" (translated).
    QString captchaText() const;
    int hoverId() const { return m_hoverId; }
    // The timer that closes the dialog after a registration (single shot, kRegisterCloseMs).
    QTimer* closeTimer() const { return m_closeTimer; }

    QRect submitRect() const { return m_submitRect; }
    QRect switchRect() const { return m_switchRect; }
    QRect closeRect() const { return m_closeRect; }
    QRect messageRect() const { return m_messageRect; }
    QRect captchaRect() const { return m_captchaRect; }
    QRect agreeRect() const { return m_agreeRect; }
    QRect userTermsRect() const { return m_userTermsRect; }
    QRect privacyTermsRect() const { return m_privacyTermsRect; }
    QRect rememberRect() const { return m_rememberRect; }
    QRect autoLoginRect() const { return m_autoLoginRect; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    using Text = std::function<QString()>;
    void onReply(const AuthManager::Result& result, const QString& user, const QString& password, bool confirm);
    void setMessage(Text text, bool error);
    // The first failed check of validateInput as a text maker; empty when all pass.
    Text validationText() const;
    void applyPlaceholders();
    // Places the pieces of the terms sentence and stores the two link rectangles.
    struct TermsPiece
    {
        QString text;
        QRect rect;
        bool link = false;
        int pixelSize = 12;
    };
    static constexpr int kTermsPixelSize = 12;
    static constexpr int kTermsMinPixelSize = 9;
    QList<TermsPiece> termsPieces() const;
    void paintRegisterExtras(QPainter& p);

    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passEdit = nullptr;
    QLineEdit* m_pass2Edit = nullptr;
    QLineEdit* m_captchaEdit = nullptr;
    // The login's password while the register mode shows its own empty fields, given back on the way back.
    QString m_loginPassword;
    QRect m_submitRect;
    QRect m_switchRect;
    QRect m_closeRect;
    QRect m_messageRect;
    QRect m_captchaRect;
    QRect m_agreeRect;
    QRect m_userTermsRect;
    QRect m_privacyTermsRect;
    QRect m_rememberRect;
    QRect m_autoLoginRect;
    int m_hoverId = 0;
    int m_pressedId = 0;
    bool m_loginMode = true;
    bool m_busy = false;
    bool m_captchaLoading = false;
    bool m_agree = false;
    bool m_remember = false;
    bool m_autoLogin = false;
    // The message line is made when shown, so it follows a change of language; empty = not shown.
    Text m_message;
    bool m_messageIsError = true;
    QString m_captchaId;
    enum class CaptchaState { Empty, Loading, Failed, Question };
    CaptchaState m_captchaState = CaptchaState::Empty;
    QString m_captchaQuestion;
    QString m_token;
    QString m_username;
    // A registration the user already confirmed (signing other computers out) whose repeat the service
    // refused for its spent captcha: the next submit of the same name and password goes out confirmed,
    // with the new captcha, instead of asking again.
    QString m_confirmedUser;
    QString m_confirmedPassword;
    QTimer* m_closeTimer = nullptr;
    AuthManager m_auth;
};
