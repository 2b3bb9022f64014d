#include "account/kickconfirmdialog.h"

#include "account/accountlinks.h"
#include "account/accountpaint.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

const char* const kWarning = "继续登录后，以上电脑会退出该账户，正在运行的应用市场程序也会被关闭，需要重新登录。";
const QColor kRed(0xE5, 0x48, 0x4D);

int advance(int pixelSize, const QString& text)
{
    return QFontMetrics(uiFont(pixelSize)).horizontalAdvance(text);
}

} // namespace

KickConfirmDialog::KickConfirmDialog(const QList<AuthManager::KickDevice>& devices, int maxDevices, QWidget* parent)
    : AccountCardDialog(parent), m_maxDevices(maxDevices)
{
    setWindowModality(Qt::ApplicationModal);
    setModal(true);

    if (devices.isEmpty()) {
        m_rows.append(Row{AuthManager::KickDevice{}, 0, true});
    } else {
        for (int i = 0; i < devices.size() && i < kMaxRows; ++i)
            m_rows.append(Row{devices[i], 0, false});
        if (devices.size() > kMaxRows)
            m_rows.append(Row{AuthManager::KickDevice{}, int(devices.size()) - kMaxRows, false});
    }
    layoutRows();
}

QString KickConfirmDialog::rowName(const Row& row) const
{
    if (row.more > 0)
        return Lang::tr("…另有 %1 台").arg(row.more);
    if (row.generic)
        return Lang::tr("另一台电脑");
    return row.device.name;
}

QList<AuthManager::KickDevice> KickConfirmDialog::devices() const
{
    QList<AuthManager::KickDevice> out;
    for (const Row& r : m_rows) {
        AuthManager::KickDevice d = r.device;
        d.name = rowName(r);
        out.append(d);
    }
    return out;
}

QString KickConfirmDialog::quotaText() const
{
    if (m_maxDevices <= 0)
        return Lang::tr("不限设备数");
    // English words one device apart from several: the singular has its own text.
    return m_maxDevices == 1 ? Lang::tr("授权 1 台设备") : Lang::tr("授权 %1 台设备").arg(m_maxDevices);
}

void KickConfirmDialog::layoutRows()
{
    m_logoRect = QRect(28, 22, 28, 28);
    m_closeRect = QRect(512, 20, 28, 28);

    const int d = advance(11, quotaText());
    m_quotaRect = QRect(472 - d, 24, d + 26, 22);
    m_titleRect = QRect(69, 20, std::max(512 - d - 121, 140), 32);

    const int rows = int(m_rows.size());
    m_listRect = QRect(28, 68, 504, 46 * rows + 20);
    m_rowRects.clear();
    for (int i = 0; i < rows; ++i)
        m_rowRects.append(QRect(44, 76 + 46 * i, 472, 46));

    const int warningTop = 46 * rows + 105;
    const int h =
        QFontMetrics(uiFont(13)).boundingRect(QRect(0, 0, 504, 100000), Qt::TextWordWrap, Lang::tr(kWarning)).height();
    m_warningRect = QRect(28, warningTop, 504, std::max(h + 4, 20));
    const int l = m_warningRect.top() + m_warningRect.height();

    const int buttonsTop = l + 21;
    const int devicesWidth = std::max(advance(13, Lang::tr("增加授权设备数")) + 60, 150);
    m_devicesRect = QRect(28, buttonsTop, devicesWidth, 40);
    const int confirmWidth = std::max(advance(13, Lang::tr("继续登录")) + 56, 112);
    m_confirmRect = QRect(532 - confirmWidth, buttonsTop, confirmWidth, 40); // right edge at x = 531

    setFixedSize(kWidth, l + 83);
}

QRect KickConfirmDialog::nameBox(int row) const
{
    if (row < 0 || row >= m_rowRects.size())
        return QRect();
    const QRect r = m_rowRects[row];
    const int available = r.right() + 1 - (r.x() + 24);
    const QString& ip = m_rows[row].device.ip;
    const int width = ip.isEmpty() ? available : std::max(available - (advance(12, ip) + 8), 40);
    return QRect(r.x() + 24, r.y() + 5, width, 20);
}

QRect KickConfirmDialog::ipBox(int row) const
{
    if (row < 0 || row >= m_rowRects.size() || m_rows[row].device.ip.isEmpty())
        return QRect();
    const QRect name = nameBox(row);
    return QRect(name.right() + 1, name.y(), advance(12, m_rows[row].device.ip) + 8, name.height());
}

KickConfirmDialog::TitleLayout KickConfirmDialog::titleLayout() const
{
    // The title is read whole: a longer translation first gets a smaller size, then a second line in the
    // room above the list, and is elided only past that.
    const QString title = Lang::tr("该账户已在其他电脑登录");
    const QFont font = fittedUiFont(title, m_titleRect.width(), 17, 13, true);
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(title) <= m_titleRect.width())
        return {font, m_titleRect, Qt::AlignLeft | Qt::AlignVCenter};
    const int top = m_titleRect.top() - 6;
    const QRect twoLines(m_titleRect.left(), top, m_titleRect.width(), m_listRect.top() - 2 - top);
    if (metrics.boundingRect(QRect(0, 0, twoLines.width(), 100000), Qt::TextWordWrap, title).height() <=
        twoLines.height())
        return {font, twoLines, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap};
    return {font, m_titleRect, Qt::AlignLeft | Qt::AlignVCenter};
}

void KickConfirmDialog::paintEvent(QPaintEvent*)
{
    const Theme& theme = currentTheme();
    const AccountRoles roles = AccountRoles::of(theme);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    drawAccountCard(p, rect(), theme);
    drawAccountLogo(p, m_logoRect);

    const TitleLayout title = titleLayout();
    const QString titleText = Lang::tr("该账户已在其他电脑登录");
    p.setFont(title.font);
    p.setPen(roles.titleText);
    p.drawText(
        title.box, title.flags,
        QFontMetrics(title.font)
            .elidedText(titleText, Qt::ElideRight, (title.flags & Qt::TextWordWrap) ? 100000 : title.box.width()));

    p.setPen(Qt::NoPen);
    p.setBrush(roles.dark ? QColor(0x3B, 0x2C, 0x31) : QColor(0xFD, 0xED, 0xED));
    p.drawRoundedRect(QRectF(m_quotaRect), 11, 11);
    p.setFont(uiFont(11));
    p.setPen(kRed);
    p.drawText(m_quotaRect, Qt::AlignCenter, quotaText());

    drawCloseButton(p, theme, m_closeRect, hoverId() == 3);

    const QColor listLine = roles.dark ? QColor(0x3E, 0x44, 0x52) : QColor(0xE6, 0xEB, 0xF2);
    p.setPen(QPen(listLine, 1));
    p.setBrush(roles.dark ? QColor(0x33, 0x38, 0x44) : QColor(0xF6, 0xF8, 0xFB));
    p.drawRoundedRect(QRectF(m_listRect).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);

    for (int i = 0; i < m_rowRects.size(); ++i) {
        const QRect r = m_rowRects[i];
        const qreal x = r.x();
        const qreal y = r.y();
        if (i > 0) {
            p.setPen(QPen(listLine, 1));
            p.drawLine(QPointF(x + 26, y + 0.5), QPointF(r.right() + 1, y + 0.5));
        }
        // The monitor glyph: a screen, its stem and a foot.
        p.setPen(QPen(roles.mutedText, 1.2));
        p.setBrush(Qt::NoBrush);
        const QRectF screen(x + 0.5, y + 13.5, 14, 10);
        p.drawRoundedRect(screen, 2, 2);
        const qreal cx = screen.center().x();
        const qreal bottom = screen.bottom();
        p.drawLine(QPointF(cx, bottom + 1), QPointF(cx, bottom + 4));
        p.drawLine(QPointF(cx - 4, bottom + 4.5), QPointF(cx + 4, bottom + 4.5));

        const QRect name = nameBox(i);
        const QFont nameFont = uiFont(13, true);
        p.setFont(nameFont);
        p.setPen(roles.text);
        p.drawText(name, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(nameFont).elidedText(rowName(m_rows[i]), Qt::ElideRight, name.width()));
        const QRect ip = ipBox(i);
        if (!ip.isEmpty()) {
            p.setFont(uiFont(12));
            p.setPen(roles.mutedText);
            p.drawText(ip, Qt::AlignLeft | Qt::AlignVCenter, m_rows[i].device.ip);
        }
        const QString& lastSeen = m_rows[i].device.lastSeen;
        if (!lastSeen.isEmpty()) {
            p.setFont(uiFont(11));
            p.setPen(roles.mutedText);
            p.drawText(QRect(QPoint(r.x() + 24, r.y() + 23), QPoint(r.right(), r.y() + 39)),
                       Qt::AlignLeft | Qt::AlignVCenter, Lang::tr("最后活跃 %1").arg(lastSeen));
        }
    }

    p.setFont(uiFont(13));
    p.setPen(roles.mutedText);
    p.drawText(m_warningRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, Lang::tr(kWarning));

    drawDialogButton(p, theme, m_devicesRect, Lang::tr("增加授权设备数"), false, hoverId() == 2, pressedId() == 2,
                     true);

    QColor confirm = kRed;
    if (pressedId() == 1)
        confirm = confirm.darker(112);
    else if (hoverId() == 1)
        confirm = confirm.lighter(110);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(m_confirmRect).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    p.setPen(QPen(confirm, 1));
    p.setBrush(confirm);
    p.drawPath(shape);
    p.setFont(uiFont(13));
    p.setPen(Qt::white);
    p.drawText(m_confirmRect, Qt::AlignCenter, Lang::tr("继续登录"));
}

QList<QRect> KickConfirmDialog::buttonRects() const
{
    return {m_confirmRect, m_devicesRect, m_closeRect};
}

void KickConfirmDialog::activate(int id)
{
    switch (id) {
    case 1:
        accept();
        break;
    case 2:
        ktr::dialogs::openUrl(accountlinks::devicesPageUrl());
        break;
    case 3:
        reject();
        break;
    }
}
