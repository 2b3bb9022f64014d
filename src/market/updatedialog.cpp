#include "market/updatedialog.h"

#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/screenfit.h"
#include "ui/servicehost.h"
#include "ui/settingskit.h"
#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace {

QFont cardFont(int pixelSize, bool bold = false)
{
    return pixelFont(uiFontFamily(), pixelSize, bold ? QFont::Bold : QFont::Normal);
}

const QImage& logoImage()
{
    static const QImage logo(QStringLiteral(":/res/resources/logo.png"));
    return logo;
}

void fillRounded(QPainter& p, const QRectF& r, qreal radius, const QColor& fill, const QColor& outline = QColor())
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    p.fillPath(path, fill);
    if (outline.isValid()) {
        p.setPen(QPen(outline, 1));
        p.drawPath(path);
    }
}

} // namespace

UpdateDialog::UpdateDialog(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_TranslucentBackground, true);
    keepOnScreen(this);
    followCompositing(this, [] { return currentTheme().windowBackground; });
    setAttribute(Qt::WA_MouseTracking, true);
    setMouseTracking(true);
    setFixedSize(440, 236);
    setWindowTitle(Lang::tr("版本更新"));
}

QStringList UpdateDialog::splitNotes(const QString& notes)
{
    QString copy = notes;
    for (char16_t c = 0x2460; c <= 0x2473; ++c) {
        const int at = copy.indexOf(QChar(c));
        if (at > 0)
            copy.insert(at, QLatin1Char('\n'));
    }
    QStringList lines;
    const QStringList parts = copy.split(QLatin1Char('\n'));
    for (const QString& raw : parts) {
        QString part = raw.trimmed();
        if (part.isEmpty())
            continue;
        while (!part.isEmpty() &&
               (part.endsWith(u'；') || part.endsWith(u';') || part.endsWith(u'，') || part.endsWith(u',')))
            part.chop(1);
        lines << part;
    }
    return lines;
}

void UpdateDialog::setUpdateInfo(const QString& version, const QString& notes, const QString& third)
{
    m_version = version;
    m_title = third.trimmed();
    m_notes = notes;
    m_noteLines = splitNotes(notes);
    m_statusText.clear();
    m_progress = -1;
    relayout();
    bringBack();
}

void UpdateDialog::bringBack()
{
    m_putAway = false;
    setWindowModality(Qt::ApplicationModal);
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void UpdateDialog::setStatusText(const QString& text)
{
    m_statusText = text;
    update();
}

void UpdateDialog::setProgress(int percent)
{
    m_progress = percent;
    m_statusText = Lang::tr("正在下载更新… %1%").arg(percent);
    update();
}

QStringList UpdateDialog::displayLines() const
{
    if (!m_noteLines.isEmpty())
        return m_noteLines;
    return {Lang::tr("本次更新包含新功能与问题修复，建议立即升级。")};
}

void UpdateDialog::relayout()
{
    QScreen* screen = this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    relayoutFor(screen ? screen->availableGeometry() : QRect());
}

void UpdateDialog::relayoutFor(const QRect& available)
{
    const QFontMetrics fm(cardFont(12));
    const int width = available.isValid() ? std::clamp(available.width() - 40, 320, 440) : 440;
    const int availableHeight = available.isValid() ? available.height() : 900;
    int sum = 0;
    for (const QString& line : displayLines())
        sum += fm.boundingRect(QRect(0, 0, width - 49, 9999), Qt::TextWordWrap, line).height() + 4;
    m_notesHeight = sum - 4;
    const int height = std::max(300, std::min(availableHeight - 60, sum + 220));
    setFixedSize(width, height);
    update();
}

void UpdateDialog::computeRects()
{
    const int w = width();
    const int h = height();
    m_updateRect = QRect(QPoint(w - 112, h - 48), QPoint(w - 25, h - 19));
    m_laterRect = QRect(QPoint(w - 192, h - 48), QPoint(w - 121, h - 19));
    m_closeRect = QRect(QPoint(w - 36, 14), QPoint(w - 15, 35));
    m_minimizeRect = QRect(QPoint(w - 64, 14), QPoint(w - 43, 35));
    m_siteRect = QRect(QPoint(24, h - 48), QPoint(103, h - 19));
}

int UpdateDialog::partAt(const QPoint& p) const
{
    if (m_updateRect.contains(p))
        return UpdatePart;
    if (m_laterRect.contains(p))
        return LaterPart;
    if (m_closeRect.contains(p))
        return ClosePart;
    if (m_siteRect.contains(p))
        return SitePart;
    if (m_minimizeRect.contains(p))
        return MinimizePart;
    return None;
}

void UpdateDialog::paintEvent(QPaintEvent*)
{
    const Theme& t = currentTheme();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int w = width();
    const int h = height();
    computeRects();
    const int hovered = partAt(mapFromGlobal(QCursor::pos()));
    const bool busy = !m_statusText.isEmpty();

    fillRounded(p, QRectF(0.5, 0.5, w - 1, h - 1), windowCornerRadius(std::max(4, themeCornerRadius())),
                t.windowBackground, t.border);

    if (!logoImage().isNull()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRect((w - 48) / 2, 18, 48, 48), logoImage());
    }

    p.setFont(cardFont(15, true));
    p.setPen(t.strongText);
    const QString heading = m_title.isEmpty() ? Lang::tr("发现新版本 v%1").arg(m_version) : m_title;
    p.drawText(QRect(QPoint(24, 74), QPoint(w - 25, 97)), Qt::AlignCenter, heading);

    p.setFont(cardFont(12));
    p.setPen(t.hintText);
    int y = 108;
    for (const QString& line : displayLines()) {
        const QRect box =
            p.boundingRect(QRect(24, y, w - 48, 9999), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line);
        p.drawText(QRect(24, y, w - 48, box.height()), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line);
        y += box.height() + 4;
    }

    if (busy) {
        p.setPen(t.labelText);
        p.drawText(QRect(QPoint(24, m_notesHeight + 118), QPoint(w - 25, m_notesHeight + 137)),
                   Qt::AlignLeft | Qt::AlignVCenter, m_statusText);
        if (m_progress >= 0) {
            const QRectF track(24, m_notesHeight + 142, w - 48, 6);
            fillRounded(p, track, 3, t.sliderTrack);
            const qreal bar = std::max<qreal>(3, qreal(w - 48) * m_progress / 100);
            fillRounded(p, QRectF(track.left(), track.top(), std::min(bar, track.width()), 6), 3, t.accent);
        }
    }

    if (!busy) {
        QFont link = cardFont(12);
        link.setUnderline(hovered == SitePart);
        p.setFont(link);
        p.setPen(hovered == SitePart ? t.accent : t.hintText);
        p.drawText(m_siteRect, Qt::AlignLeft | Qt::AlignVCenter, Lang::tr("访问官网"));
    }

    // Later.
    {
        const bool hot = hovered == LaterPart;
        QColor fill = t.cardBackground;
        if (hot)
            fill = m_pressedPart == LaterPart ? fill.darker(115) : fill.lighter(112);
        fillRounded(p, m_laterRect, 7, fill, hot ? t.accent : t.controlBorder);
        p.setFont(cardFont(12));
        p.setPen(hot ? t.accent : t.labelText);
        p.drawText(m_laterRect, Qt::AlignCenter, Lang::tr("稍后再说"));
    }
    // Update.
    {
        QColor fill = t.accent;
        if (busy)
            fill = fill.darker(112);
        else if (hovered == UpdatePart)
            fill = m_pressedPart == UpdatePart ? fill.darker(115) : fill.lighter(112);
        fillRounded(p, m_updateRect, 7, fill);
        p.setFont(cardFont(12, true));
        p.setPen(Qt::white);
        p.drawText(m_updateRect, Qt::AlignCenter, busy ? Lang::tr("下载中…") : Lang::tr("立即更新"));
    }
    // Minimise.
    {
        const bool hot = hovered == MinimizePart;
        if (hot)
            fillRounded(p, m_minimizeRect.adjusted(-4, -4, 4, 4), 7,
                        t.isDark ? QColor(0x33, 0x3B, 0x49) : QColor(0xEE, 0xF3, 0xFA));
        QPen pen(hot ? t.accent : t.hintText, 1.6);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        const qreal my = m_minimizeRect.top() + m_minimizeRect.height() / 2.0;
        p.drawLine(QPointF(m_minimizeRect.left() + 6, my), QPointF(m_minimizeRect.right() - 6, my));
    }
    // Close.
    {
        QPen pen(hovered == ClosePart ? QColor(0xE8, 0x11, 0x23) : t.hintText, 1.5);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        const QRect& c = m_closeRect;
        p.drawLine(QPointF(c.left() + 6, c.top() + 6), QPointF(c.right() - 6, c.bottom() - 6));
        p.drawLine(QPointF(c.right() - 6, c.top() + 6), QPointF(c.left() + 6, c.bottom() - 6));
    }
}

void UpdateDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    computeRects();
    m_pressedPart = partAt(event->position().toPoint());
    update();
}

void UpdateDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    computeRects();
    const int part = partAt(event->position().toPoint());
    const int pressed = m_pressedPart;
    m_pressedPart = 0;
    update();
    if (part == None || part != pressed)
        return;
    switch (part) {
    case LaterPart:
    case ClosePart:
        Q_EMIT dismissed();
        break;
    case MinimizePart:
        // Put away rather than iconified: window managers iconify a dialog together with the window it
        // belongs to, so the panel would go with it. The card has no taskbar entry of its own; "检查更新"
        // brings it back (and a failed download does).
        m_putAway = true;
        hide();
        Q_EMIT minimized();
        break;
    case SitePart:
        if (m_statusText.isEmpty())
            ktr::openServicePage(this, QStringLiteral("/"));
        break;
    case UpdatePart:
        if (!m_statusText.isEmpty())
            return;
        repaint();
        QTimer::singleShot(0, this, [this] { Q_EMIT updateClicked(); });
        break;
    default:
        break;
    }
}

void UpdateDialog::mouseMoveEvent(QMouseEvent* event)
{
    update();
    QWidget::mouseMoveEvent(event);
}

void UpdateDialog::hideEvent(QHideEvent* event)
{
    setWindowModality(Qt::NonModal);
    QWidget::hideEvent(event);
}
