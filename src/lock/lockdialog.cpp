#include "lock/lockdialog.h"

#include "lock/passwordhash.h"
#include "ui/background.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/screenfit.h"
#include "ui/servicehost.h"
#include "ui/settingskit.h"
#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QRadialGradient>
#include <QTimer>

#include <cmath>

namespace {

constexpr int kWidth = 340;

const QImage& logoImage()
{
    static const QImage logo(QStringLiteral(":/res/resources/logo.png"));
    return logo;
}

QFont cardFont(int px, bool bold = false)
{
    QFont f(QStringLiteral("Microsoft YaHei UI"));
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

// Halves away from zero, as the slide and shake offsets are specified.
int roundAway(double v)
{
    return int(std::lround(v));
}

} // namespace

LockDialog::LockDialog(int mode, QWidget* parent) : QDialog(parent), m_mode(mode)
{
    setWindowFlag(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    keepOnScreen(this);
    followCompositing(this, [] { return currentTheme().isDark ? QColor(0x2A, 0x2E, 0x38) : QColor(Qt::white); });
    setModal(true);
    setMouseTracking(true);

    const Theme& t = currentTheme();
    const QString input = t.isDark ? QStringLiteral("#313745") : QStringLiteral("#ffffff");
    const QString sheet =
        QStringLiteral("QLineEdit{border:1px solid %1;border-radius:8px;padding:4px 14px;background:%2;color:%3;"
                       "font-size:14px;font-family:'Microsoft YaHei UI';selection-background-color:%4;"
                       "selection-color:#FFFFFF;}QLineEdit:focus{border:1px solid %5;background:%6;}")
            .arg(t.controlBorder.name(), input, t.itemText.name(), t.accent.name(), t.accent.name(), input);

    auto makeEdit = [&](const char* name, const QString& placeholder) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setEchoMode(QLineEdit::Password);
        e->setStyleSheet(sheet);
        e->setPlaceholderText(placeholder);
        e->installEventFilter(this);
        connect(e, &QLineEdit::returnPressed, this, [this] { tryAccept(false); });
        return e;
    };

    switch (m_mode) {
    case Set:
        m_title = Lang::tr("设置保护密码");
        m_edit = makeEdit("lockPassword", Lang::tr("请输入密码（4~32 位）"));
        m_second = makeEdit("lockSecond", Lang::tr("再次输入密码"));
        setFixedSize(kWidth, 346);
        break;
    case Verify:
        m_title = Lang::tr("验证程序保护密码");
        m_edit = makeEdit("lockPassword", Lang::tr("请输入密码"));
        setFixedSize(kWidth, 300);
        break;
    case Change:
        m_title = Lang::tr("修改保护密码");
        m_edit = makeEdit("lockPassword", Lang::tr("请输入旧密码"));
        m_second = makeEdit("lockSecond", Lang::tr("输入新密码（留空 = 清除密码）"));
        setFixedSize(kWidth, 346);
        break;
    default:
        m_mode = Remove;
        m_title = Lang::tr("移除程序保护密码");
        m_edit = makeEdit("lockPassword", Lang::tr("请输入密码"));
        setFixedSize(kWidth, 292);
        break;
    }
    // A hint longer than the card's width (a translation) wraps, and the card grows by the extra lines.
    if (m_mode == Set || m_mode == Change) {
        const int extra = std::max(0, bottomHintHeight() - 18);
        setFixedSize(kWidth, height() + extra);
    }
    relayout();
    m_edit->setFocus();
}

QString LockDialog::bottomHint() const
{
    switch (m_mode) {
    case Set:
        return Lang::tr("4~32 位密码，用于解锁程序与保护设置");
    case Change:
        return Lang::tr("新密码留空表示清除保护密码");
    case Remove:
        // This card has no new-password field: the change card's hint would point at one.
        return Lang::tr("输入当前密码后即清除保护密码");
    default:
        return QString();
    }
}

int LockDialog::bottomHintHeight() const
{
    const QFontMetrics fm(cardFont(12));
    return fm.boundingRect(QRect(0, 0, kWidth - 32, 1000), Qt::AlignCenter | Qt::TextWordWrap, bottomHint()).height();
}

LockDialog::~LockDialog() = default;

QString LockDialog::password() const
{
    return m_edit->text();
}

QString LockDialog::newPassword() const
{
    return m_second ? m_second->text() : QString();
}

void LockDialog::relayout()
{
    m_edit->setGeometry(28, 120, 284, 42);
    if (m_second) {
        m_second->setGeometry(28, 174, 284, 42);
        m_errorTop = 228;
        m_okRect = QRect(28, 254, 284, 42);
    } else {
        m_errorTop = 174;
        m_okRect = QRect(28, 200, 284, 42);
    }
    m_closeRect = QRect(304, 12, 24, 24);
    if (m_mode == Verify) {
        const QFontMetrics fm(cardFont(12));
        const int e = fm.horizontalAdvance(Lang::tr("移除密码"));
        const int f = fm.horizontalAdvance(Lang::tr("忘记密码"));
        const int g = (314 - e - f) / 2;
        const int b = m_okRect.bottom();
        m_removeRect = QRect(g - 4, b + 17, e + 8, 22);
        m_forgotRect = QRect(g + e + 22, b + 17, f + 8, 22);
    }
}

void LockDialog::setError(const QString& text)
{
    m_error = text;
    m_errorFade = text.isEmpty() ? 1.0 : 0.0;
    update();
    if (!text.isEmpty())
        startTimer();
}

void LockDialog::shakeWith(const QString& text)
{
    setError(text);
    m_shake = 1.0;
    startTimer();
}

void LockDialog::startTimer()
{
    if (!m_timer) {
        m_timer = new QTimer(this);
        m_timer->setObjectName(QStringLiteral("lockDialogAnimation"));
        m_timer->setInterval(33);
        connect(m_timer, &QTimer::timeout, this, &LockDialog::animationTick);
    }
    if (!m_timer->isActive())
        m_timer->start();
}

bool LockDialog::tryAccept(bool verified)
{
    if (m_closing || m_busy)
        return false;
    auto refocus = [](QLineEdit* e) {
        e->selectAll();
        e->setFocus();
    };
    if (!verified && m_mode != Set) {
        if (m_verifier.isEmpty()) {
            shakeWith(Lang::tr("校验器未初始化，操作被拒绝"));
            refocus(m_edit);
            return false;
        }
        m_busy = true;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_edit->setEnabled(false);
        if (m_second)
            m_second->setEnabled(false);
        const QString hash = m_verifier;
        const QString pw = m_edit->text();
        runInBackground(
            this, [hash, pw] { return verifyPasswordHash(hash, pw); },
            [this, pw](bool ok) {
                m_busy = false;
                QApplication::restoreOverrideCursor();
                if (m_closing)
                    return;
                m_edit->setEnabled(true);
                if (m_second)
                    m_second->setEnabled(true);
                if (ok) {
                    if (onVerified)
                        onVerified(pw);
                    tryAccept(true);
                    return;
                }
                shakeWith(m_mode == Remove   ? Lang::tr("密码错误，无法移除")
                          : m_mode == Change ? Lang::tr("旧密码错误，请重试")
                                             : Lang::tr("密码错误，请重试"));
                m_edit->selectAll();
                m_edit->setFocus();
            });
        return false;
    }
    if (m_mode == Verify || m_mode == Remove) {
        done(1);
        return true;
    }
    if (m_mode == Change) {
        const qsizetype n = m_second->text().size();
        if (n == 0 || (n >= 4 && n <= 32)) {
            done(1);
            return true;
        }
        shakeWith(Lang::tr("密码长度需在 4~32 位之间"));
        refocus(m_second);
        return false;
    }
    const QString p = m_edit->text();
    if (p.isEmpty()) {
        shakeWith(Lang::tr("密码不能为空"));
        m_edit->setFocus();
        return false;
    }
    if (p.size() < 4 || p.size() > 32) {
        shakeWith(Lang::tr("密码长度需在 4~32 位之间"));
        refocus(m_edit);
        return false;
    }
    if (m_second->text() != p) {
        shakeWith(Lang::tr("两次输入的密码不一致"));
        refocus(m_second);
        return false;
    }
    done(1);
    return true;
}

void LockDialog::done(int r)
{
    if (m_closing)
        return;
    m_closing = true;
    m_closeResult = r;
    m_edit->setEnabled(false);
    if (m_second)
        m_second->setEnabled(false);
    if (m_fadeIn < 1.0) {
        m_fadeIn = 1.0;
        setWindowOpacity(1.0);
        move(m_basePos);
        if (m_timer)
            m_timer->stop();
        QDialog::done(r);
        return;
    }
    startTimer();
}

void LockDialog::animationTick()
{
    if (m_errorFade < 1.0)
        m_errorFade = std::min(1.0, m_errorFade + 0.22);
    if (m_fadeIn < 1.0) {
        const double x = m_fadeIn + 0.18333333333333335;
        m_fadeIn = std::min(1.0, x);
        const double eased = x > 1.0 ? 1.0 : 1.0 - std::pow(1.0 - x, 3);
        setWindowOpacity(eased);
        move(m_basePos + QPoint(0, roundAway((1.0 - eased) * 14.0)));
        if (m_fadeIn >= 1.0) {
            setWindowOpacity(1.0);
            move(m_basePos);
        }
    } else if (m_shake > 0.0) {
        double d = m_shake - 0.09166666666666667;
        int offset = 0;
        if (d > 0.0)
            offset = roundAway(std::sin((1.0 - d) * 12.5663706) * 6.0 * d);
        else
            d = 0.0;
        m_shake = d;
        move(m_basePos + QPoint(offset, 0));
        if (m_shake == 0.0)
            move(m_basePos);
    }
    if (m_closing) {
        m_closeProgress = std::min(1.0, m_closeProgress + 0.20625);
        setWindowOpacity(std::max(0.0, 1.0 - m_closeProgress));
        if (m_closeProgress >= 1.0) {
            m_timer->stop();
            QDialog::done(m_closeResult);
        }
        return;
    }
    m_phase += 0.0165;
    if (m_phase >= 1.0)
        m_phase -= 1.0;
    update();
}

void LockDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    relayout();
    m_basePos = pos();
    m_fadeIn = 0.0;
    setWindowOpacity(0.0);
    move(m_basePos + QPoint(0, 14));
    startTimer();
}

bool LockDialog::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == m_edit || watched == m_second) && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        if (!m_closing)
            done(0);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

int LockDialog::hitTest(const QPoint& pos) const
{
    if (m_okRect.contains(pos))
        return 1;
    if (m_closeRect.contains(pos))
        return 3;
    if (m_mode == Verify && m_removeRect.contains(pos))
        return 4;
    if (m_mode == Verify && m_forgotRect.contains(pos))
        return 5;
    return 0;
}

void LockDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (m_closing)
        return;
    const int id = hitTest(event->position().toPoint());
    if (id != m_hovered) {
        m_hovered = id;
        update();
    }
}

void LockDialog::mousePressEvent(QMouseEvent* event)
{
    if (m_closing || event->button() != Qt::LeftButton)
        return;
    m_hovered = m_pressed = hitTest(event->position().toPoint());
    update();
}

void LockDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_closing)
        return;
    const int pressed = m_pressed;
    m_pressed = 0;
    update();
    if (event->button() != Qt::LeftButton)
        return;
    // The pointer may have left the dialog without a move event reaching it: the release position decides.
    m_hovered = hitTest(event->position().toPoint());
    if (pressed == 0 || pressed != m_hovered)
        return;
    switch (pressed) {
    case 1:
        tryAccept(false);
        break;
    case 3:
        reject();
        break;
    case 4:
        runRemoveDialog();
        break;
    case 5:
        ktr::openServicePage(this, QStringLiteral("/forgot-lock.html"));
        break;
    default:
        break;
    }
}

void LockDialog::runRemoveDialog()
{
    QPointer<LockDialog> self(this);
    LockDialog remove(Remove, this);
    remove.setVerifier(m_verifier);
    const int result = execCard(remove);
    if (!self || result != 1)
        return;
    if (onRemoveConfirmed)
        onRemoveConfirmed();
    if (!m_closing)
        done(1);
}

void LockDialog::paintEvent(QPaintEvent*)
{
    const Theme& t = currentTheme();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    const qreal radius = windowCornerRadius(std::max(4, themeCornerRadius()));
    p.setPen(QPen(t.border, 1));
    p.setBrush(t.isDark ? QColor(0x2A, 0x2E, 0x38) : QColor(Qt::white));
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);

    if (!logoImage().isNull()) {
        const double s = std::sin(2 * M_PI * m_phase);
        const QPointF c(170, 41 + 1.5 * s);
        const double r = 3 * s + 30;
        QRadialGradient g(c, r);
        QColor a0 = t.accent;
        a0.setAlpha(int(std::lround(30 + 22 * (0.5 * s + 0.5))));
        QColor a1 = t.accent;
        a1.setAlpha(0);
        g.setColorAt(0, a0);
        g.setColorAt(1, a1);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(c, r, r);
        p.drawImage(QRectF(c.x() - 21, c.y() - 21, 42, 42), logoImage());
    }

    const double w = (1 - std::pow(1 - m_fadeIn, 3)) * 114;
    if (w > 0) {
        QLinearGradient lg(170 - w, 0, 170 + w, 0);
        QColor c0 = t.accent;
        c0.setAlpha(0);
        QColor c1 = t.accent;
        c1.setAlpha(170);
        lg.setColorAt(0, c0);
        lg.setColorAt(0.5, c1);
        lg.setColorAt(1, c0);
        p.setPen(QPen(QBrush(lg), 2));
        p.drawLine(QPointF(170 - w, 68), QPointF(170 + w, 68));
    }

    p.setFont(cardFont(15, true));
    p.setPen(t.strongText);
    drawKitText(p, QRectF(-1.5, 72, kWidth, 28), Qt::AlignCenter, m_title);

    if (m_hovered == 3) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xE8, 0x11, 0x23));
        p.drawRoundedRect(m_closeRect, 4, 4);
    }
    p.setPen(QPen(m_hovered == 3 ? QColor(Qt::white) : t.mutedText, 1.5));
    const QRectF cr = QRectF(m_closeRect).adjusted(7, 7, -7, -7);
    p.drawLine(cr.topLeft(), cr.bottomRight());
    p.drawLine(cr.topRight(), cr.bottomLeft());

    if (!m_error.isEmpty()) {
        p.save();
        p.setOpacity(m_errorFade);
        const QFont f = cardFont(12);
        p.setFont(f);
        const int tw = QFontMetrics(f).horizontalAdvance(m_error);
        const int x0 = (width() - 1 - tw - 13) / 2;
        const QColor red(0xD9, 0x30, 0x25);
        p.setPen(Qt::NoPen);
        p.setBrush(red);
        p.drawEllipse(QPointF(x0 + 3, m_errorTop + 13), 3, 3);
        p.setPen(red);
        drawKitText(p, QRect(x0 + 14, m_errorTop, tw + 2, 26), Qt::AlignLeft | Qt::AlignVCenter, m_error);
        p.restore();
    }

    QColor ok = t.accent;
    if (m_pressed == 1)
        ok = ok.darker(115);
    else if (m_hovered == 1)
        ok = ok.lighter(110);
    p.setPen(Qt::NoPen);
    p.setBrush(ok);
    p.drawRoundedRect(m_okRect, 8, 8);
    p.setPen(Qt::white);
    p.setFont(cardFont(14));
    drawKitText(p, m_okRect, Qt::AlignCenter,
                m_mode == Verify   ? Lang::tr("解  锁")
                : m_mode == Change ? Lang::tr("保  存")
                                   : Lang::tr("确  定"));

    p.setFont(cardFont(12));
    const int b = m_okRect.bottom();
    if (m_mode == Verify) {
        p.setPen(m_hovered == 4 ? t.accent : t.mutedText);
        drawKitText(p, m_removeRect, Qt::AlignCenter, Lang::tr("移除密码"));
        p.setPen(t.mutedText);
        p.drawText(QRect(m_removeRect.right() - 1, b + 17, 22, 22), Qt::AlignCenter, QStringLiteral("·"));
        p.setPen(m_hovered == 5 ? t.accent : t.mutedText);
        drawKitText(p, m_forgotRect, Qt::AlignCenter, Lang::tr("忘记密码"));
    } else {
        p.setPen(t.mutedText);
        drawKitText(p, QRect(16, b + 12, kWidth - 32, std::max(18, bottomHintHeight())), Qt::AlignCenter, bottomHint(),
                    TextFit::Wrap);
    }
}
