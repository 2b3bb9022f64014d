#include "account/sessionkickeddialog.h"

#include "account/accountlinks.h"
#include "account/accountpaint.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QThread>

#include <algorithm>

namespace {

const QColor kRed(0xE5, 0x48, 0x4D);

int wrappedHeight(const QFont& font, int width, const QString& text)
{
    return QFontMetrics(font).boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, text).height();
}

int advance(int pixelSize, const QString& text)
{
    return QFontMetrics(uiFont(pixelSize)).horizontalAdvance(text);
}

} // namespace

SessionKickedDialog::SessionKickedDialog(const QString& reasonText, const QStringList& killedApps, QWidget* parent)
    : AccountCardDialog(parent), m_reason(reasonFor(reasonText)), m_reasonText(reasonText), m_killedApps(killedApps)
{
    setWindowModality(Qt::NonModal);
    setModal(false);
    relayout();
}

SessionKickedDialog::Reason SessionKickedDialog::reasonFor(const QString& text)
{
    if (text.contains(QStringLiteral("管理员")))
        return Reason::Admin;
    if (text.contains(QStringLiteral("其他设备")) || text.contains(QStringLiteral("其他电脑")) ||
        text.contains(QStringLiteral("别处")))
        return Reason::Elsewhere;
    return Reason::Expired;
}

QString SessionKickedDialog::titleText() const
{
    switch (m_reason) {
    case Reason::Elsewhere:
        return Lang::tr("账户已在别处登录");
    case Reason::Admin:
        return Lang::tr("账户已被强制下线");
    case Reason::Expired:
        break;
    }
    return Lang::tr("登录状态已失效");
}

QString SessionKickedDialog::bodyText() const
{
    switch (m_reason) {
    case Reason::Elsewhere:
        return Lang::tr("您的账户已在其他电脑登录，本机已退出该账户。");
    case Reason::Admin:
        return Lang::tr("管理员已结束本机的登录状态，本机已退出该账户。");
    case Reason::Expired:
        break;
    }
    return Lang::tr("本机的登录状态已失效，需要重新登录。");
}

QString SessionKickedDialog::hintText() const
{
    switch (m_reason) {
    case Reason::Elsewhere:
        return Lang::tr("如果不是您本人操作，请立即登录官网修改密码。");
    case Reason::Admin:
        return Lang::tr("如需继续使用请重新登录，有疑问请联系客服。");
    case Reason::Expired:
        break;
    }
    return QString();
}

QString SessionKickedDialog::primaryLabel() const
{
    return m_reason == Reason::Elsewhere ? Lang::tr("去官网改密码") : Lang::tr("我知道了");
}

QString SessionKickedDialog::statusText() const
{
    QStringList lines;
    if (m_pending)
        lines << Lang::tr("正在结束正在运行的应用市场程序…");
    else if (!m_killedApps.isEmpty())
        lines << Lang::tr("已结束正在运行的应用市场程序：%1").arg(m_killedApps.join(QStringLiteral("、")));
    if (!m_reasonText.isEmpty())
        lines << Lang::tr("服务端提示：%1").arg(m_reasonText);
    return lines.join(QLatin1Char('\n'));
}

void SessionKickedDialog::relayout()
{
    m_closeRect = QRect(512, 18, 28, 28);
    m_titleRect = QRect(28, 83, 504, 30);
    m_logoRect = QRect(258, 26, 44, 44);

    const int b = std::max(wrappedHeight(uiFont(14), 504, bodyText()) + 4, 22);
    m_bodyRect = QRect(28, 122, 504, b);
    int y = 122 + b + 15;

    const QString hint = hintText();
    if (!hint.isEmpty()) {
        const int h = wrappedHeight(uiFont(14, true), 464, hint);
        m_hintRect = QRect(28, y, 504, h + 26);
        y = m_hintRect.top() + h + 39;
    } else {
        m_hintRect = QRect();
    }

    const QString status = statusText();
    if (!status.isEmpty()) {
        const int h = wrappedHeight(uiFont(12), 464, status);
        m_statusRect = QRect(48, y, 464, h + 2);
        y = m_statusRect.top() + h + 17;
    } else {
        m_statusRect = QRect();
    }

    const int f = std::max(advance(13, Lang::tr("增加授权设备数")) + 60, 150);
    const int pw = std::max(advance(13, primaryLabel()) + 56, 130);
    const int left = (kWidth - (f + pw + 12)) / 2;
    m_devicesRect = QRect(left, y + 4, f, 40);
    m_primaryRect = QRect(left + f + 12, y + 4, pw, 40);

    setFixedSize(kWidth, y + 68);
}

void SessionKickedDialog::setKilledApps(const QStringList& apps)
{
    if (QThread::currentThread() == thread())
        applyApps(apps);
    else
        QMetaObject::invokeMethod(this, "applyApps", Qt::QueuedConnection, Q_ARG(QStringList, apps));
}

void SessionKickedDialog::setPending(bool pending)
{
    if (QThread::currentThread() == thread())
        applyPending(pending);
    else
        QMetaObject::invokeMethod(this, "applyPending", Qt::QueuedConnection, Q_ARG(bool, pending));
}

void SessionKickedDialog::applyApps(const QStringList& apps)
{
    m_killedApps = apps;
    relayout();
    update();
}

void SessionKickedDialog::applyPending(bool pending)
{
    m_pending = pending;
    relayout();
    update();
}

SessionKickedDialog* SessionKickedDialog::showKicked(const QString& reasonText, const QStringList& killedApps,
                                                     QWidget* parent)
{
    qInfo().noquote() << "session kicked dialog: reason =" << reasonText
                      << "killedApps =" << killedApps.join(QLatin1Char(','));
    QElapsedTimer timer;
    timer.start();
    auto* dialog = new SessionKickedDialog(reasonText, killedApps, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    const qint64 constructed = timer.elapsed();

    dialog->setWindowModality(QApplication::activeModalWidget() ? Qt::ApplicationModal : Qt::NonModal);
    dialog->show();

    QRect reference;
    if (parent && parent->window())
        reference = parent->window()->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        reference = screen->availableGeometry();
    if (!reference.isEmpty()) {
        const int free = reference.height() - dialog->height();
        const int x = reference.x() + (reference.width() - dialog->width()) / 2;
        const int y = reference.top() + (free < 122 ? 60 : free / 2);
        dialog->move(x, y);
    }
    dialog->raise();
    dialog->activateWindow();
    qInfo().noquote() << "session kicked dialog timing: ctor" << constructed << "show"
                      << (timer.elapsed() - constructed) << "ms";
    return dialog;
}

void SessionKickedDialog::paintEvent(QPaintEvent*)
{
    const Theme& theme = currentTheme();
    const AccountRoles roles = AccountRoles::of(theme);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    drawAccountCard(p, rect(), theme);
    drawAccountLogo(p, m_logoRect);

    p.setFont(uiFont(18, true));
    p.setPen(roles.titleText);
    p.drawText(m_titleRect, Qt::AlignCenter, titleText());

    p.setFont(uiFont(14));
    p.setPen(roles.text);
    p.drawText(m_bodyRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, bodyText());

    if (!m_hintRect.isEmpty()) {
        p.setPen(QPen(roles.dark ? QColor(0x5A, 0x3A, 0x40) : QColor(0xF6, 0xCF, 0xCF), 1));
        p.setBrush(roles.dark ? QColor(0x3B, 0x2C, 0x31) : QColor(0xFD, 0xED, 0xED));
        p.drawRoundedRect(QRectF(m_hintRect).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
        p.setFont(uiFont(14, true));
        p.setPen(kRed);
        p.drawText(m_hintRect.adjusted(20, 0, -20, 0), Qt::AlignCenter | Qt::TextWordWrap, hintText());
    }

    if (!m_statusRect.isEmpty()) {
        p.setFont(uiFont(12));
        p.setPen(roles.mutedText);
        p.drawText(m_statusRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, statusText());
    }

    drawDialogButton(p, theme, m_devicesRect, Lang::tr("增加授权设备数"), false, hoverId() == 2, pressedId() == 2,
                     true);
    drawDialogButton(p, theme, m_primaryRect, primaryLabel(), true, hoverId() == 1, pressedId() == 1, false);
    drawCloseButton(p, theme, m_closeRect, hoverId() == 3);
}

QList<QRect> SessionKickedDialog::buttonRects() const
{
    return {m_primaryRect, m_devicesRect, m_closeRect};
}

void SessionKickedDialog::activate(int id)
{
    switch (id) {
    case 1:
        if (m_reason == Reason::Elsewhere)
            ktr::dialogs::openUrl(accountlinks::securityPageUrl());
        accept();
        break;
    case 2:
        ktr::dialogs::openUrl(accountlinks::devicesPageUrl());
        break;
    case 3:
        close();
        break;
    }
}
