#include "account/logindialog.h"

#include "account/accountlinks.h"
#include "account/accountpaint.h"
#include "account/kickconfirmdialog.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/screenfit.h"
#include "ui/theme.h"
#include "ui/uisignals.h"
#include "ui/windowcorners.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>

namespace {

const QColor kErrorRed(0xE8, 0x11, 0x23);
const QColor kOkGreen(0x2E, 0xB3, 0x5C);

// The fields follow the theme as the card does: white fields on the light card, dark ones on the dark card.
QString fieldStyle()
{
    if (currentTheme().isDark)
        return QStringLiteral(
                   "QLineEdit{border:1px solid #3A4150;border-radius:10px;padding:4px 14px;background:#1C2027;"
                   "color:#E6E9EF;font-size:14px;font-family:'%1';selection-background-color:#4C7DF0;}"
                   "QLineEdit:focus{border:1px solid #4C7DF0;background:#20252D;}")
            .arg(uiFontFamily());
    return QStringLiteral("QLineEdit{border:1px solid #D3D8E2;border-radius:10px;padding:4px 14px;background:white;"
                          "color:#39404C;font-size:14px;font-family:'%1';selection-background-color:#4C7DF0;}"
                          "QLineEdit:focus{border:1px solid #4C7DF0;background:#FBFCFF;}")
        .arg(uiFontFamily());
}

const QRegularExpression& userNamePattern()
{
    static const QRegularExpression re(QStringLiteral("^[\\w\\x{4e00}-\\x{9fa5}-]+$"));
    return re;
}

// A refusal of the confirmed repeat that is about the captcha (the service spent it on the pre-check).
bool refusedForCaptcha(const AuthManager::Result& r)
{
    return r.code.contains(QLatin1String("CAPTCHA"), Qt::CaseInsensitive) || r.msg.contains(QStringLiteral("验证码"));
}

} // namespace

LoginDialog::LoginDialog(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    keepOnScreen(this);
    followCompositing(this, [] { return AccountRoles::of(currentTheme()).background; });
    setModal(true);
    setFixedSize(kWidth, kLoginHeight);
    setAttribute(Qt::WA_MouseTracking);
    setMouseTracking(true);

    const QString style = fieldStyle();
    const auto makeEdit = [&](bool password) {
        auto* edit = new QLineEdit(this);
        if (password)
            edit->setEchoMode(QLineEdit::Password);
        edit->setStyleSheet(style);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::returnPressed, this, [this] {
            if (!m_busy)
                submit();
        });
        return edit;
    };
    m_userEdit = makeEdit(false);
    m_passEdit = makeEdit(true);
    m_pass2Edit = makeEdit(true);
    m_captchaEdit = makeEdit(false);
    applyPlaceholders();

    m_closeTimer = new QTimer(this);
    m_closeTimer->setObjectName(QStringLiteral("registerCloseTimer"));
    m_closeTimer->setSingleShot(true);
    m_closeTimer->setInterval(kRegisterCloseMs);
    connect(m_closeTimer, &QTimer::timeout, this, [this] {
        m_busy = false;
        accept();
    });

    layoutFields();

    connect(&UiSignals::instance(), &UiSignals::languageChanged, this, [this] {
        applyPlaceholders();
        layoutFields();
        update();
    });
    connect(&UiSignals::instance(), &UiSignals::themeChanged, this, [this] {
        const QString style = fieldStyle();
        for (QLineEdit* edit : {m_userEdit, m_passEdit, m_pass2Edit, m_captchaEdit})
            edit->setStyleSheet(style);
        update();
    });
}

void LoginDialog::applyPlaceholders()
{
    m_userEdit->setPlaceholderText(Lang::tr("用户名"));
    m_passEdit->setPlaceholderText(Lang::tr("密码（至少 6 位）"));
    m_pass2Edit->setPlaceholderText(Lang::tr("再次输入密码"));
    m_captchaEdit->setPlaceholderText(Lang::tr("计算结果"));
}

void LoginDialog::setCredentials(const QString& username, const QString& password, bool remember)
{
    m_userEdit->setText(username);
    if (!password.isEmpty())
        m_passEdit->setText(password);
    m_remember = remember;
    if (!remember)
        m_autoLogin = false;
    update();
}

QString LoginDialog::password() const
{
    return m_passEdit ? m_passEdit->text() : QString();
}

QString LoginDialog::message() const
{
    return m_message ? m_message() : QString();
}

void LoginDialog::setMessage(Text text, bool error)
{
    m_message = std::move(text);
    m_messageIsError = error;
}

QString LoginDialog::captchaText() const
{
    switch (m_captchaState) {
    case CaptchaState::Loading:
        return Lang::tr("获取中…");
    case CaptchaState::Failed:
        return Lang::tr("获取失败 点击刷新");
    case CaptchaState::Question:
        return m_captchaQuestion;
    case CaptchaState::Empty:
        break;
    }
    return QString();
}

void LoginDialog::setRegisterMode(bool registerMode)
{
    // A new account starts with a password of its own: the remembered login's one is not offered for it.
    if (registerMode && m_loginMode) {
        m_loginPassword = m_passEdit->text();
        m_passEdit->clear();
        m_pass2Edit->clear();
    } else if (!registerMode && !m_loginMode) {
        m_passEdit->setText(m_loginPassword);
        m_loginPassword.clear();
    }
    m_loginMode = !registerMode;
    if (m_message)
        m_message = nullptr;
    setFixedSize(kWidth, m_loginMode ? kLoginHeight : kRegisterHeight);
    layoutFields();
    if (!m_loginMode)
        refreshCaptcha();
    update();
}

void LoginDialog::layoutFields()
{
    const int w = width();
    const int full = w - 48;
    m_closeRect = QRect(w - 34, 14, 24, 24);
    m_userTermsRect = QRect();
    m_privacyTermsRect = QRect();
    if (m_loginMode) {
        m_userEdit->setGeometry(24, 132, full, 42);
        m_passEdit->setGeometry(24, 182, full, 42);
        // The toggles are 110 px wide, the second ending at W - 25; a longer label (English) widens its
        // toggle so the label stays inside the window.
        const QFontMetrics fm(uiFont(12));
        const int rememberWidth = std::max(110, 22 + fm.horizontalAdvance(Lang::tr("记住密码")));
        const int autoWidth = std::max(110, 22 + fm.horizontalAdvance(Lang::tr("自动登录")));
        m_rememberRect = QRect(24, 234, rememberWidth, 16);
        m_autoLoginRect = QRect(w - 24 - autoWidth, 234, autoWidth, 16);
        m_messageRect = QRect(24, 260, full, 18);
        m_submitRect = QRect(24, 286, full, 44);
        m_switchRect = QRect(24, 340, full, 18);
        m_captchaRect = QRect();
        m_agreeRect = QRect();
    } else {
        m_userEdit->setGeometry(24, 136, full, 40);
        m_passEdit->setGeometry(24, 184, full, 40);
        m_pass2Edit->setGeometry(24, 232, full, 40);
        m_captchaEdit->setGeometry(24, 280, 170, 40);
        m_captchaRect = QRect(w - 154, 280, 130, 40);
        m_agreeRect = QRect(24, 332, 16, 16);
        m_messageRect = QRect(24, 352, full, 18);
        m_submitRect = QRect(24, 374, full, 44);
        m_switchRect = QRect(24, 430, full, 18);
        m_rememberRect = QRect();
        m_autoLoginRect = QRect();
        // The link areas follow the sentence as painted; placing them here too lets a click land before
        // the first paint.
        for (const TermsPiece& piece : termsPieces()) {
            if (!piece.link)
                continue;
            const QRect area(QPoint(piece.rect.left() - 1, m_agreeRect.top() - 4),
                             QPoint(piece.rect.right(), m_agreeRect.bottom() + 4));
            if (m_userTermsRect.isNull())
                m_userTermsRect = area;
            else
                m_privacyTermsRect = area;
        }
    }
    const bool reg = !m_loginMode;
    if (m_pass2Edit->isVisibleTo(this) != reg)
        m_pass2Edit->setVisible(reg);
    if (m_captchaEdit->isVisibleTo(this) != reg)
        m_captchaEdit->setVisible(reg);
}

QList<LoginDialog::TermsPiece> LoginDialog::termsPieces() const
{
    const QList<QPair<QString, bool>> texts = {{Lang::tr("我已阅读并同意"), false},
                                               {Lang::tr("《用户协议》"), true},
                                               {Lang::tr("和"), false},
                                               {Lang::tr("《隐私政策》"), true}};
    // In English the pieces are words of one sentence and need the spaces Chinese does without; the
    // English sentence is also longer than the line, so its font gets smaller until it fits.
    const bool spaced = Lang::isEnglish();
    const int start = m_agreeRect.left() + 16 + 8;
    const int room = width() - 24 - start;
    int pixelSize = kTermsPixelSize;
    for (; pixelSize > kTermsMinPixelSize; --pixelSize) {
        const QFontMetrics fm(uiFont(pixelSize));
        int total = 0;
        for (const auto& t : texts)
            total += fm.horizontalAdvance(t.first) + (spaced ? fm.horizontalAdvance(QLatin1Char(' ')) : 0);
        if (total <= room)
            break;
    }
    const QFontMetrics fm(uiFont(pixelSize));
    const int gap = spaced ? fm.horizontalAdvance(QLatin1Char(' ')) : 0;
    QList<TermsPiece> out;
    int x = start;
    const int top = m_agreeRect.top() - 3;
    const int height = m_agreeRect.height() + 6;
    for (const auto& t : texts) {
        const int advance = fm.horizontalAdvance(t.first);
        out.append(TermsPiece{t.first, QRect(x, top, advance, height), t.second, pixelSize});
        x += advance + gap;
    }
    return out;
}

int LoginDialog::hitTest(const QPoint& pos) const
{
    if (m_submitRect.contains(pos))
        return Submit;
    if (m_switchRect.contains(pos))
        return Switch;
    if (m_closeRect.contains(pos))
        return Close;
    if (!m_loginMode) {
        if (m_captchaRect.contains(pos))
            return Captcha;
        if (m_userTermsRect.contains(pos) || m_privacyTermsRect.contains(pos))
            return Terms;
        if (m_agreeRect.adjusted(-4, -4, 4, 4).contains(pos))
            return Agree;
        return None;
    }
    if (m_rememberRect.contains(pos))
        return Remember;
    if (m_autoLoginRect.contains(pos))
        return AutoLogin;
    return None;
}

LoginDialog::Text LoginDialog::validationText() const
{
    const QString user = m_userEdit->text().trimmed();
    const QString pass = m_passEdit->text();
    if (user.isEmpty() || pass.isEmpty())
        return [] { return Lang::tr("请输入用户名和密码"); };
    if (user.size() < 2 || user.size() > 24)
        return [] { return Lang::tr("用户名需 2~24 个字符"); };
    if (!userNamePattern().match(user).hasMatch())
        return [] { return Lang::tr("用户名仅支持中文、字母、数字、下划线、中划线"); };
    if (pass.size() < 6 || pass.size() > 64)
        return [] { return Lang::tr("密码需 6~64 位"); };
    if (!m_loginMode) {
        if (m_pass2Edit->text().isEmpty())
            return [] { return Lang::tr("请再次输入密码"); };
        if (m_pass2Edit->text() != pass)
            return [] { return Lang::tr("两次输入的密码不一致"); };
        if (m_captchaEdit->text().trimmed().isEmpty())
            return [] { return Lang::tr("请输入验证码计算结果"); };
        if (!m_agree)
            return [] { return Lang::tr("请先阅读并同意《用户协议》与《隐私政策》"); };
    }
    return nullptr;
}

bool LoginDialog::validateInput(QString& message) const
{
    const Text failure = validationText();
    if (!failure)
        return true;
    message = failure();
    return false;
}

void LoginDialog::submit()
{
    if (m_busy)
        return;
    if (Text failure = validationText()) {
        setMessage(std::move(failure), true);
        update();
        return;
    }
    const QString user = m_userEdit->text().trimmed();
    const QString pass = m_passEdit->text();
    m_busy = true;
    setMessage(m_loginMode ? Text([] { return Lang::tr("正在登录…"); }) : Text([] { return Lang::tr("正在注册…"); }),
               false);
    update();
    // A registration confirmed before whose repeat only lacked a fresh captcha goes out confirmed.
    const bool confirmed =
        !m_loginMode && !m_confirmedUser.isEmpty() && user == m_confirmedUser && pass == m_confirmedPassword;
    doLogin(user, pass, confirmed);
}

void LoginDialog::doLogin(const QString& user, const QString& password, bool confirm)
{
    const bool login = m_loginMode;
    QPointer<LoginDialog> self(this);
    m_auth.request(
        login ? QStringLiteral("login") : QStringLiteral("register"), user, password, QString(),
        [self, user, password, confirm](const AuthManager::Result& r) {
            if (self)
                self->onReply(r, user, password, confirm);
        },
        login ? QString() : m_captchaId, login ? QString() : m_captchaEdit->text().trimmed(), login ? false : m_agree,
        confirm);
}

void LoginDialog::onReply(const AuthManager::Result& r, const QString& user, const QString& password, bool confirm)
{
    m_busy = false;
    if (!r.ok) {
        if (!m_loginMode && confirm && refusedForCaptcha(r)) {
            // The service spent the captcha on the pre-check, so the confirmed repeat could not pass it.
            // Keep the user's confirmation for this name and password, fetch a new captcha and say what
            // to do; the next submit goes out confirmed.
            m_confirmedUser = user;
            m_confirmedPassword = password;
            setMessage([] { return Lang::tr("验证码已失效，请计算新的验证码后再次提交"); }, true);
        } else {
            const QString text = r.msg;
            setMessage(text.isEmpty() ? Text([] { return Lang::tr("操作失败"); }) : Text([text] { return text; }),
                       true);
        }
        if (!m_loginMode)
            refreshCaptcha();
        update();
        return;
    }
    if (r.needConfirm) {
        setMessage([] { return Lang::tr("该账户已在其他电脑登录，请确认"); }, true);
        update();
        KickConfirmDialog confirmDialog(r.willKick, r.maxDevices, this);
        const int answer = confirmDialog.exec();
        if (answer == QDialog::Accepted) {
            m_busy = true;
            setMessage([] { return Lang::tr("正在登录…"); }, false);
            update();
            doLogin(user, password, true);
        } else {
            setMessage([] { return Lang::tr("已取消登录，其他电脑不受影响"); }, true);
            update();
        }
        return;
    }
    m_confirmedUser.clear();
    m_confirmedPassword.clear();
    m_token = r.token;
    m_username = r.username;
    if (m_loginMode) {
        accept();
        return;
    }
    const QString name = r.username;
    setMessage([name] { return Lang::tr("注册成功，欢迎你，%1").arg(name); }, false);
    m_busy = true; // the button keeps saying "请稍候…" until the dialog closes
    update();
    m_closeTimer->start();
}

void LoginDialog::refreshCaptcha()
{
    if (m_captchaLoading)
        return;
    m_captchaLoading = true;
    m_captchaState = CaptchaState::Loading;
    update();
    QPointer<LoginDialog> self(this);
    m_auth.fetchCaptcha([self](bool ok, const QString& id, const QString& question, const QString& message) {
        if (!self)
            return;
        self->m_captchaLoading = false;
        if (ok) {
            self->m_captchaId = id;
            self->m_captchaQuestion = question;
            self->m_captchaState = CaptchaState::Question;
            self->m_captchaEdit->clear();
        } else {
            self->m_captchaId.clear();
            self->m_captchaState = CaptchaState::Failed;
            if (!message.isEmpty())
                self->m_message = [message] { return message; }; // the colour stays as it was
        }
        self->update();
    });
}

bool LoginDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        (watched == m_userEdit || watched == m_passEdit || watched == m_pass2Edit || watched == m_captchaEdit)) {
        reject();
        return true; // handled here, so the dialog does not reject a second time
    }
    return QDialog::eventFilter(watched, event);
}

void LoginDialog::mouseMoveEvent(QMouseEvent* event)
{
    const int id = hitTest(event->position().toPoint());
    if (id != m_hoverId) {
        m_hoverId = id;
        update();
    }
    setCursor(id > 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void LoginDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressedId = hitTest(event->position().toPoint());
    QDialog::mousePressEvent(event);
}

void LoginDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QDialog::mouseReleaseEvent(event);
    const QPoint pos = event->position().toPoint();
    const int id = hitTest(pos);
    const int pressed = m_pressedId;
    m_pressedId = 0;
    if (id <= 0 || id != pressed)
        return;
    switch (id) {
    case Submit:
        submit();
        break;
    case Switch:
        setRegisterMode(m_loginMode);
        break;
    case Close:
        reject();
        break;
    case Captcha:
        refreshCaptcha();
        break;
    case Terms:
        ktr::dialogs::openUrl(accountlinks::termsPageUrl(m_privacyTermsRect.contains(pos)));
        break;
    case Agree:
        m_agree = !m_agree;
        update();
        break;
    case Remember:
        m_remember = !m_remember;
        if (!m_remember)
            m_autoLogin = false;
        update();
        break;
    case AutoLogin:
        m_autoLogin = !m_autoLogin;
        if (m_autoLogin)
            m_remember = true;
        update();
        break;
    }
}

void LoginDialog::paintEvent(QPaintEvent*)
{
    layoutFields();
    const Theme& theme = currentTheme();
    const AccountRoles roles = AccountRoles::of(theme);
    const int w = width();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    const qreal radius = windowCornerRadius(std::max(themeCornerRadius(), 4));
    p.setPen(QPen(roles.border, 1));
    p.setBrush(roles.background);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);

    const int logoSize = m_loginMode ? 48 : 52;
    drawAccountLogo(p, QRect((w - logoSize) / 2, m_loginMode ? 20 : 16, logoSize, logoSize));

    p.setFont(uiFont(18, true));
    p.setPen(roles.titleText);
    p.drawText(QRect(24, 76, w - 48, 26), Qt::AlignCenter,
               m_loginMode ? Lang::tr("登录青岚舟面板") : Lang::tr("注册账号"));
    const QString subtitle =
        m_loginMode ? Lang::tr("欢迎回来，请登录你的账户") : Lang::tr("创建一个新账户，开启云同步与应用市场");
    p.setFont(fittedUiFont(subtitle, w - 48, 12, 9));
    p.setPen(roles.mutedText);
    p.drawText(QRect(24, 104, w - 48, 18), Qt::AlignCenter, subtitle);

    p.setPen(QPen(m_hoverId == Close ? kErrorRed : roles.mutedText, 1.5, Qt::SolidLine, Qt::RoundCap));
    const QRectF cross = QRectF(m_closeRect).adjusted(7, 7, -7, -7);
    p.drawLine(cross.topLeft(), cross.bottomRight());
    p.drawLine(cross.topRight(), cross.bottomLeft());

    const QString text = message();
    if (!text.isEmpty()) {
        const QFont font = uiFont(12);
        p.setFont(font);
        const int k = QFontMetrics(font).horizontalAdvance(text);
        const int dotX = (w - 1 - k - 13) / 2;
        const QColor colour = m_messageIsError ? kErrorRed : kOkGreen;
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(QRectF(dotX, m_messageRect.center().y() + 0.5 - 3, 6, 6));
        p.setPen(colour);
        p.drawText(QRect(dotX + 14, m_messageRect.y(), k + 2, m_messageRect.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   text);
    }

    QColor submitFill = roles.accent;
    if (m_busy)
        submitFill = submitFill.darker(110);
    else if (m_hoverId == Submit)
        submitFill = submitFill.lighter(105);
    QPainterPath submitShape;
    submitShape.addRoundedRect(QRectF(m_submitRect), 12, 12);
    p.fillPath(submitShape, submitFill);
    p.setFont(uiFont(15, true));
    p.setPen(Qt::white);
    p.drawText(m_submitRect, Qt::AlignCenter,
               m_busy        ? Lang::tr("请稍候…")
               : m_loginMode ? Lang::tr("登 录")
                             : Lang::tr("注 册"));

    p.setFont(uiFont(12));
    p.setPen(m_hoverId == Switch ? roles.accent : roles.mutedText);
    p.drawText(m_switchRect, Qt::AlignCenter,
               m_loginMode ? Lang::tr("还没有账号？点此注册") : Lang::tr("已有账号？返回登录"));

    if (!m_loginMode) {
        paintRegisterExtras(p);
    } else {
        drawCheckBox(p, m_rememberRect, m_remember, Lang::tr("记住密码"), m_hoverId == Remember, theme);
        drawCheckBox(p, m_autoLoginRect, m_autoLogin, Lang::tr("自动登录"), m_hoverId == AutoLogin, theme);
    }
}

void LoginDialog::paintRegisterExtras(QPainter& p)
{
    const Theme& theme = currentTheme();
    const AccountRoles roles = AccountRoles::of(theme);
    const bool hovered = m_hoverId == Captcha;
    const QRect box = m_captchaRect;

    // Drawn like the fields beside it, in the theme's colours.
    p.setPen(QPen(theme.isDark ? QColor(0x3A, 0x41, 0x50) : QColor(0xD3, 0xD8, 0xE2), 1));
    p.setBrush(hovered ? roles.hoverFill : theme.isDark ? QColor(0x1C, 0x20, 0x27) : QColor(0xF4, 0xF6, 0xFA));
    p.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    p.setFont(uiFont(13, true));
    p.setPen(theme.isDark ? QColor(0xE6, 0xE9, 0xEF) : QColor(0x39, 0x40, 0x4C));
    p.drawText(QRect(QPoint(box.left() + 10, box.top()), QPoint(box.right() - 24, box.bottom())), Qt::AlignCenter,
               captchaText());
    // The refresh glyph: an open circle with an arrow head.
    const qreal cx = box.right() - 14;
    const qreal middle = box.center().y() + 0.5;
    p.setPen(QPen(hovered ? roles.accent : roles.mutedText, 1.3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(cx - 4.5, middle - 4.5, 9, 9), 40 * 16, 260 * 16);
    const QPointF head[] = {{cx + 4.6, middle - 2.2}, {cx + 4.6, middle + 0.6}, {cx + 1.8, middle + 0.6}};
    p.drawPolyline(head, 3);

    drawCheckBox(p, m_agreeRect, m_agree, QString(), m_hoverId == Agree, theme);
    for (const TermsPiece& piece : termsPieces()) {
        p.setFont(uiFont(piece.pixelSize));
        p.setPen(piece.link ? roles.accent : roles.mutedText);
        p.drawText(piece.rect.adjusted(0, 0, 2, 0), Qt::AlignLeft | Qt::AlignVCenter, piece.text);
    }
}
