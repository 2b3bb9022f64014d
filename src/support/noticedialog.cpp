#include "support/noticedialog.h"

#include "account/deviceid.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/screenfit.h"
#include "ui/servicehost.h"
#include "ui/theme.h"
#include "ui/uisignals.h"
#include "ui/windowcorners.h"

#include <QDebug>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <cmath>

namespace {

QFont pixelFont(const QWidget* w, int px, int weight = QFont::Normal)
{
    QFont f = w->font();
    f.setPixelSize(px);
    f.setWeight(QFont::Weight(weight));
    return f;
}

int rowFor(const QFontMetrics& fm)
{
    return std::max(1, int(std::lround(fm.lineSpacing() * 1.12)));
}

bool isDarkCard()
{
    return currentTheme().surface.lightness() < 128;
}

const QImage& logoImage()
{
    static const QImage logo(QStringLiteral(":/res/resources/logo.png"));
    return logo;
}

} // namespace

NoticeDialog::NoticeDialog(qint64 noticeId, const QString& title, const QString& body, const QString& url,
                           const QString& titleColor, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_noticeId(noticeId),
      m_title(title.left(kMaxTitleChars).trimmed()), m_body(body), m_url(url.trimmed()),
      m_titleColor(titleColor.trimmed())
{
    setAttribute(Qt::WA_TranslucentBackground);
    keepOnScreen(this);
    followCompositing(this, [this] { return cardColor(); });
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Lang::tr("消息"));
    connect(&UiSignals::instance(), &UiSignals::languageChanged, this, [this] {
        setWindowTitle(Lang::tr("消息"));
        update();
    });
    setCursor(Qt::ArrowCursor);
    setMouseTracking(true);

    const QFontMetrics fm(pixelFont(this, 13));
    m_row = rowFor(fm);
    const QScreen* s = screen();
    const int available = s ? s->availableGeometry().height() : 1080;
    // Only what can be shown is laid out: one line past the cap tells capLines to end with an ellipsis.
    m_lines = capLines(wrapBody(m_body, fm, kBodyWidth, maxLinesFor(available, m_row) + 1), available, m_row);
    setFixedSize(kWidth, std::max(bodyHeight(), 118) + 146);
}

QStringList NoticeDialog::wrapBody(const QString& body, const QFontMetrics& fm, int width, int maxLines)
{
    // Each line is measured within a window a little wider than the line can be in characters, and the text
    // is walked by index, so the work grows with the lines made, not with the length of the text; with
    // maxLines it stops there, whatever the size of the notice.
    QStringList out;
    const QStringView all(body);
    const qsizetype window = qsizetype(std::max(width, 1)) + 1;
    const auto full = [&] { return maxLines >= 0 && out.size() >= maxLines; };
    qsizetype start = 0;
    while (!full()) {
        const qsizetype newline = all.indexOf(u'\n', start);
        const qsizetype end = newline < 0 ? all.size() : newline;
        QStringView rest = all.mid(start, end - start);
        if (rest.isEmpty())
            out.append(QString());
        while (!rest.isEmpty() && !full()) {
            const QStringView head = rest.left(window);
            const bool whole = head.size() == rest.size();
            if (whole && fm.horizontalAdvance(head.toString()) <= width) {
                out.append(rest.toString());
                break;
            }
            // The longest prefix that fits, by halving the range.
            qsizetype lo = 1;
            qsizetype hi = whole ? rest.size() - 1 : head.size();
            qsizetype n = 1;
            while (lo <= hi) {
                const qsizetype mid = (lo + hi) / 2;
                if (fm.horizontalAdvance(head.left(mid).toString()) <= width) {
                    n = mid;
                    lo = mid + 1;
                } else {
                    hi = mid - 1;
                }
            }
            // Never between the halves of a surrogate pair: back off one, or take the whole pair.
            if (n < rest.size() && rest.at(n - 1).isHighSurrogate() && rest.at(n).isLowSurrogate())
                n = n > 1 ? n - 1 : 2;
            const qsizetype s = rest.left(n).lastIndexOf(u' ');
            qsizetype cut = (s > 0 && n - s < 12) ? s : n;
            // Closing punctuation never starts a line: the character before it goes down with it.
            static const QString closing = QStringLiteral("。，、；：！？）」』”’》,.;:!?)");
            while (cut > 1 && cut < rest.size() && closing.contains(rest.at(cut)) && !rest.at(cut - 1).isSpace() &&
                   !rest.at(cut - 1).isLowSurrogate())
                --cut;
            out.append(rest.left(cut).toString());
            rest = rest.mid(cut).trimmed();
        }
        if (newline < 0)
            break;
        start = newline + 1;
    }
    if (out.isEmpty())
        out.append(QString());
    return out;
}

int NoticeDialog::maxLinesFor(int availableHeight, int row)
{
    return std::max(1, (availableHeight - 186) / std::max(1, row));
}

QStringList NoticeDialog::capLines(const QStringList& lines, int availableHeight, int row)
{
    const int max = maxLinesFor(availableHeight, row);
    if (lines.size() <= max)
        return lines;
    QStringList kept = lines.mid(0, max);
    kept.last().append(QChar(0x2026));
    return kept;
}

QColor NoticeDialog::cardColor()
{
    return isDarkCard() ? currentTheme().surface.lighter(112) : QColor(Qt::white);
}

QColor NoticeDialog::titleColorOn(const QString& requested, const QColor& card, const QColor& fallback)
{
    if (requested.isEmpty())
        return fallback;
    QColor c = QColor::fromString(requested);
    if (!c.isValid())
        return fallback;
    if (std::abs(c.lightness() - card.lightness()) < 60)
        c = card.lightness() > 128 ? c.darker(170) : c.lighter(170);
    return c;
}

QColor NoticeDialog::titlePen() const
{
    return titleColorOn(m_titleColor, cardColor(), currentTheme().text);
}

bool NoticeDialog::isOpenableLink(const QString& url)
{
    const QUrl u(url, QUrl::TolerantMode);
    const QString scheme = u.scheme().toLower();
    return u.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !u.host().isEmpty();
}

QRect NoticeDialog::primaryButtonRect() const
{
    const int h = height();
    return m_url.isEmpty() ? QRect(QPoint(356, h - 54), QPoint(447, h - 21))
                           : QRect(QPoint(348, h - 54), QPoint(447, h - 21));
}

QRect NoticeDialog::secondaryButtonRect() const
{
    const int h = height();
    return m_url.isEmpty() ? QRect() : QRect(QPoint(266, h - 54), QPoint(337, h - 21));
}

bool NoticeDialog::onClose(const QPoint& p) const
{
    return QRect(QPoint(432, 12), QPoint(447, 27)).contains(p);
}

void NoticeDialog::setDate(const QString& date)
{
    m_date = date.trimmed().left(64);
    update();
}

void NoticeDialog::showCentered()
{
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect a = s->availableGeometry();
        move(a.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    activateWindow();
}

void NoticeDialog::dismiss()
{
    reportAction(QStringLiteral("closed"));
    Q_EMIT dismissed();
    close();
}

void NoticeDialog::openLink()
{
    reportAction(QStringLiteral("opened"));
    if (isOpenableLink(m_url))
        ktr::dialogs::openUrl(QUrl(m_url, QUrl::TolerantMode));
    // The notice is done with once its details are open, as with the other button: it goes, and counts as seen.
    Q_EMIT dismissed();
    close();
}

void NoticeDialog::reportAction(const QString& action)
{
    if (m_noticeId <= 0)
        return;
    // One manager for every report of the process, kept to its end; reports run on the GUI thread.
    static QNetworkAccessManager* const manager = new QNetworkAccessManager;
    QNetworkRequest request(ktr::serviceUrl(QStringLiteral("/api/notice.php"), QStringLiteral("action=report")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json; charset=utf-8"));
    request.setTransferTimeout(8000);
    const QJsonObject body{{QStringLiteral("notice_id"), double(m_noticeId)},
                           {QStringLiteral("device"), deviceId()},
                           {QStringLiteral("action"), action}};
    QNetworkReply* reply = manager->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool transportError = reply->error() != QNetworkReply::NoError;
        if (transportError || status < 200 || status > 299) {
            qWarning().noquote() << "notice ack failed: http =" << status
                                 << "transportError =" << (transportError ? "true" : "false")
                                 << "err =" << reply->errorString();
        }
        reply->deleteLater();
    });
}

void NoticeDialog::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_deliveredScheduled)
        return;
    m_deliveredScheduled = true;
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            reportAction(QStringLiteral("delivered"));
    });
}

void NoticeDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    const QPoint p = event->position().toPoint();
    if (onClose(p) || primaryButtonRect().contains(p) || secondaryButtonRect().contains(p))
        return;
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - pos();
}

void NoticeDialog::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    const bool close = onClose(p);
    const bool primary = primaryButtonRect().contains(p);
    const bool secondary = secondaryButtonRect().contains(p);
    if (close != m_closeHover || primary != m_primaryHover || secondary != m_secondaryHover) {
        m_closeHover = close;
        m_primaryHover = primary;
        m_secondaryHover = secondary;
        setCursor(close || primary || secondary ? Qt::PointingHandCursor : Qt::ArrowCursor);
        update();
    }
    if (m_dragging) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void NoticeDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    const QPoint p = event->position().toPoint();
    if (onClose(p)) {
        dismiss();
    } else if (!m_url.isEmpty() && secondaryButtonRect().contains(p)) {
        dismiss();
    } else if (primaryButtonRect().contains(p)) {
        if (m_url.isEmpty())
            dismiss();
        else
            openLink();
    }
}

void NoticeDialog::mouseDoubleClickEvent(QMouseEvent*)
{
}

void NoticeDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

void NoticeDialog::paintButton(QPainter& p, const QRect& r, const QString& label, bool primary, bool hover)
{
    const Theme& t = currentTheme();
    const QRectF rf(r.x(), r.y(), r.width(), r.height());
    if (primary) {
        p.setPen(Qt::NoPen);
        p.setBrush(hover ? t.accent.darker(108) : t.accent);
        p.drawRoundedRect(rf, 8, 8);
        p.setPen(Qt::white);
    } else {
        p.setBrush(hover ? t.itemHover : QColor(Qt::transparent));
        p.setPen(QPen(t.controlBorder, 1));
        p.drawRoundedRect(rf.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        p.setPen(t.mutedText);
    }
    p.setFont(pixelFont(this, 13));
    p.drawText(r, Qt::AlignCenter, label);
}

void NoticeDialog::paintEvent(QPaintEvent*)
{
    const Theme& t = currentTheme();
    const bool dark = isDarkCard();
    const int W = width();
    const int H = height();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    const qreal radius = windowCornerRadius(16.0);
    if (windowsComposited()) {
        // The soft edge only shows over what lies behind the window.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, dark ? 30 : 14));
        p.drawRoundedRect(QRectF(2, 2, W - 4, H - 6), radius, radius);
        p.drawRoundedRect(QRectF(1, 1, W - 2, H - 3), radius, radius);
    }
    const QColor card = cardColor();
    p.setBrush(card);
    p.setPen(QPen(t.separatorLine, 1));
    p.drawRoundedRect(QRectF(0.5, 0.5, W - 1, H - 1), radius, radius);

    const QImage& logo = logoImage();
    if (!logo.isNull()) {
        p.setOpacity(dark ? 0.1 : 0.07);
        p.drawImage(QRect((W - 216) / 2, (H - 216) / 2 - 6, 216, 216),
                    logo.scaled(216, 216, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        p.setOpacity(1.0);
    }

    const QFont titleFont = pixelFont(this, 16, 600);
    p.setFont(titleFont);
    const QFontMetrics tfm(titleFont);
    const QString title = tfm.elidedText(m_title, Qt::ElideRight, 404);
    const int tw = tfm.horizontalAdvance(title);
    const int x = (448 - tw) / 2;
    if (!logo.isNull()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setOpacity(dark ? 0.95 : 1.0);
        p.drawImage(QRect(x, 19, 16, 16), logo);
        p.setOpacity(1.0);
    }
    p.setPen(titlePen());
    p.drawText(QRect(QPoint(x + 22, 15), QPoint(x + tw + 21, 38)), Qt::AlignLeft | Qt::AlignVCenter, title);

    if (m_closeHover) {
        p.setPen(Qt::NoPen);
        p.setBrush(t.itemHover);
        p.drawEllipse(QRect(428, 8, 24, 24));
    }
    p.setPen(QPen(m_closeHover ? t.accent : t.mutedText, 1.6));
    p.drawLine(QPoint(435, 15), QPoint(443, 23));
    p.drawLine(QPoint(443, 15), QPoint(435, 23));

    // The separator carries the notice's date in a gap; a notice without one gets an unbroken line.
    const QFont small = pixelFont(this, 11);
    p.setFont(small);
    QColor line = t.separatorLine;
    line.setAlpha(dark ? 200 : 160);
    if (m_date.isEmpty()) {
        p.setPen(QPen(line, 1));
        p.drawLine(QPointF(74, 52.5), QPointF(396, 52.5));
    } else {
        const int hw = QFontMetrics(small).horizontalAdvance(m_date);
        const int hx = (470 - hw) / 2;
        p.setPen(t.mutedText);
        p.drawText(QRect(QPoint(0, 44), QPoint(469, 59)), Qt::AlignCenter, m_date);
        p.setPen(QPen(line, 1));
        if (hx - 12 > 74)
            p.drawLine(QPointF(74, 52.5), QPointF(hx - 12, 52.5));
        if (hx + hw + 12 < 396)
            p.drawLine(QPointF(hx + hw + 12, 52.5), QPointF(396, 52.5));
    }

    const QFont bodyFont = pixelFont(this, 13);
    p.setFont(bodyFont);
    QColor bodyPen = t.text;
    if (!t.isDark)
        bodyPen.setAlpha(235);
    p.setPen(bodyPen);
    const qreal lineHeight = QFontMetrics(bodyFont).lineSpacing() * 1.12;
    int y = kBodyTop;
    for (const QString& l : m_lines) {
        p.drawText(QRectF(25, y, kBodyWidth, lineHeight), Qt::AlignLeft | Qt::AlignVCenter, l);
        y += m_row;
    }

    if (!m_url.isEmpty()) {
        paintButton(p, secondaryButtonRect(), Lang::tr("关闭"), false, m_secondaryHover);
        paintButton(p, primaryButtonRect(), Lang::tr("查看详情"), true, m_primaryHover);
    } else {
        paintButton(p, primaryButtonRect(), Lang::tr("我知道了"), true, m_primaryHover);
    }
}
