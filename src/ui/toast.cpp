#include "ui/toast.h"

#include "platform/windowhints.h"
#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QEasingCurve>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QTextBoundaryFinder>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>

namespace {

QColor bubbleFill()
{
    return currentTheme().isDark ? QColor(0x2C, 0x31, 0x3E) : QColor(0x33, 0x39, 0x47);
}

// Chinese characters and full-width punctuation: a line may break between them, and they end a path.
bool isWide(QChar c)
{
    return c.unicode() >= 0x2E80;
}

// What a path is made of: anything but white space and punctuation (Chinese names are part of a path, the
// full-width colon or comma before or after it is not).
bool isPathChar(QChar c)
{
    const char16_t u = c.unicode();
    const bool punctuation =
        (u >= 0x2000 && u <= 0x206F) || (u >= 0x3000 && u <= 0x303F) || (u >= 0xFF00 && u <= 0xFFEF);
    return !c.isSpace() && !punctuation;
}

// Where a line of the paragraph may end: after position i - 1 when allowed[i]. The usual line-break rules,
// except inside a path (a run of path characters holding "/" or "\"): there a break only follows a
// separator, so a name is never split at its "-" or "."; and a path may always start a line, which the
// usual rules refuse before a "/" even after a space (the break that left "…is back): /" + "tmp/…").
// pathStart and pathEnd give, for each position inside a path, where that path begins and ends (-1 else).
struct Breaks
{
    QList<bool> allowed;
    QList<int> pathStart;
    QList<int> pathEnd;
};

Breaks breakOpportunities(const QString& text)
{
    const int n = int(text.size());
    Breaks breaks{QList<bool>(n + 1, false), QList<int>(n + 1, -1), QList<int>(n + 1, -1)};
    QList<bool>& allowed = breaks.allowed;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
    for (qsizetype pos = finder.toNextBoundary(); pos != -1; pos = finder.toNextBoundary())
        if (pos > 0 && pos < n)
            allowed[pos] = true;
    for (int a = 0; a < n;) {
        if (!isPathChar(text.at(a))) {
            ++a;
            continue;
        }
        int b = a;
        bool path = false;
        while (b < n && isPathChar(text.at(b))) {
            path = path || text.at(b) == QLatin1Char('/') || text.at(b) == QLatin1Char('\\');
            ++b;
        }
        if (path) {
            if (a > 0)
                allowed[a] = true;
            for (int i = a + 1; i < b; ++i) {
                const QChar before = text.at(i - 1);
                const bool separator = before == QLatin1Char('/') || before == QLatin1Char('\\');
                // Not after the leading separator (a lone "/" on its line) nor inside "//".
                allowed[i] = separator && i - 1 > a && text.at(i) != before;
                breaks.pathStart[i] = a;
                breaks.pathEnd[i] = b;
            }
        }
        a = b;
    }
    return breaks;
}

QString trimmedRight(const QString& s)
{
    qsizetype end = s.size();
    while (end > 0 && s.at(end - 1).isSpace())
        --end;
    return s.left(end);
}

} // namespace

int Toast::showMsFor(const QString& text)
{
    // About 25 Latin letters or 12 Chinese characters a second, beyond what the first 2.2 s cover.
    int weight = 0;
    for (const QChar c : text)
        weight += isWide(c) ? 2 : 1;
    return std::min(kShowMs + std::max(0, weight - 40) * 40, kMaxShowMs);
}

QStringList Toast::wrapLines(const QString& text, const QFontMetrics& fm, int width)
{
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        const Breaks breaks = breakOpportunities(paragraph);
        const QList<bool>& allowed = breaks.allowed;
        const int n = int(paragraph.size());
        int start = 0;
        while (start < n && paragraph.at(start).isSpace())
            ++start;
        if (start >= n) {
            lines << QString();
            continue;
        }
        while (start < n) {
            int best = -1;
            int first = -1;
            for (int end = start + 1; end <= n; ++end) {
                if (end < n && !allowed[end])
                    continue;
                if (first < 0)
                    first = end;
                if (fm.horizontalAdvance(trimmedRight(paragraph.mid(start, end - start))) > width)
                    break;
                best = end;
            }
            // A path that begins on this line and would fit whole on the next goes there whole.
            if (best > 0 && best < n && breaks.pathStart[best] > start) {
                const int a = breaks.pathStart[best];
                const int b = breaks.pathEnd[best];
                if (fm.horizontalAdvance(paragraph.mid(a, b - a)) <= width)
                    best = a;
            }
            // Nothing fits: the first piece goes whole on its own line, clipped rather than split mid-name.
            const int end = best > 0 ? best : first;
            lines << trimmedRight(paragraph.mid(start, end - start));
            start = end;
            while (start < n && paragraph.at(start).isSpace())
                ++start;
        }
    }
    return lines;
}

Toast::Toast(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    followCompositing(this, bubbleFill);

    m_hideTimer = new QTimer(this);
    m_hideTimer->setObjectName(QStringLiteral("toastHideTimer"));
    m_hideTimer->setSingleShot(true);
    // A coarse timer may end up to 5 % early: a message is promised at least its time.
    m_hideTimer->setTimerType(Qt::PreciseTimer);
    m_hideTimer->setInterval(kShowMs);

    m_fade = new QVariantAnimation(this);
    m_fade->setObjectName(QStringLiteral("toastFade"));
    m_fade->setDuration(kFadeMs);
    m_fade->setEasingCurve(QEasingCurve::InQuad);
    m_fade->setStartValue(1.0);
    m_fade->setEndValue(0.0);

    m_followTimer = new QTimer(this);
    m_followTimer->setObjectName(QStringLiteral("toastFollowTimer"));
    m_followTimer->setInterval(kFollowMs);

    connect(m_hideTimer, &QTimer::timeout, this, [this] {
        m_hideTimer->stop(); // the message has had its time: a new one shows at once from here on
        if (!m_pending.isEmpty()) {
            const Pending next = m_pending.takeFirst();
            display(next.text, next.kind);
            return;
        }
        m_followTimer->stop();
        m_fade->stop();
        m_fade->start();
    });
    connect(m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        const double opacity = v.toDouble();
        setWindowOpacity(opacity);
        if (opacity <= 0.01)
            hide();
    });
    connect(m_followTimer, &QTimer::timeout, this, &Toast::reposition);
    hide();
}

QRect Toast::linesRect(const QFontMetrics& fm) const
{
    return fm.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignLeft | Qt::AlignTop, m_lines.join(QLatin1Char('\n')));
}

QFont Toast::bubbleFont() const
{
    QFont f(uiFontFamily());
    f.setPixelSize(13);
    return f;
}

void Toast::showMessage(const QString& text, int kind)
{
    // The message shown has not had its time yet: the new one follows it (once, however often it is sent).
    if (m_hideTimer->isActive() && isVisible()) {
        const bool error = kind != 0;
        if (text == m_text && error == m_error)
            return;
        for (const Pending& p : std::as_const(m_pending))
            if (p.text == text && (p.kind != 0) == error)
                return;
        if (m_pending.size() >= kMaxPending)
            m_pending.removeFirst();
        m_pending.append({text, kind});
        return;
    }
    display(text, kind);
}

void Toast::display(const QString& text, int kind)
{
    m_text = text;
    m_error = kind != 0;
    const QFontMetrics fm(bubbleFont());
    const int advance = fm.horizontalAdvance(m_text);
    const int maxWidth = parentWidget() ? parentWidget()->width() - 40 : 620;
    const int w = std::max(std::min(advance + 52, maxWidth), 120);
    // A text wider than the bubble can be wraps onto more lines (long English sentences), so it is read whole.
    m_lines = advance + 52 > w ? wrapLines(m_text, fm, w - 52) : QStringList{m_text};
    // The lines' height as the text layout sets them (the drawing below uses the same layout).
    const int h = m_lines.size() > 1 ? std::max(kHeight, linesRect(fm).height() + 2 * kWrapPadding) : kHeight;
    resize(w, h);
    reposition();

    m_fade->stop();
    setWindowOpacity(1.0);
    if (!isVisible()) {
        // A bubble is no window to switch to: without asking, it gets a taskbar button of its own under
        // fluxbox or icewm for as long as it shows. Asked before every showing, as a window manager drops
        // the hints of a window it has stopped managing. create(), not winId(): winId() marks the bubble a
        // native window, and Qt then makes every other child of the panel native too, its transparent border
        // overlay among them, which from then on takes every click meant for the panel.
        create();
        ktr::platform::setSkipTaskbar(windowHandle(), true);
    }
    show();
    raise();
    update();
    m_hideTimer->start(showMsFor(m_text));
    m_followTimer->start();
}

void Toast::reposition()
{
    QWidget* p = parentWidget();
    if (!p)
        return;
    // The bubble is a window of its own: place it in screen coordinates over the parent.
    const QPoint origin = p->mapToGlobal(QPoint(0, 0));
    move(origin.x() + (p->width() - width()) / 2, origin.y() + 38);
}

void Toast::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = windowCornerRadius(std::min(shape.height(), qreal(kHeight)) / 2.0);
    p.setPen(Qt::NoPen);
    p.setBrush(bubbleFill());
    p.drawRoundedRect(shape, radius, radius);

    QPen outline(QColor(255, 255, 255, 28), 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    p.setPen(outline);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(shape, radius, radius);

    const QFont f = bubbleFont();
    p.setFont(f);
    const QFontMetrics fm(f);
    if (height() > kHeight) {
        // Wrapped: the dot beside the first line, the lines from the usual padding.
        const int top = kWrapPadding;
        p.setPen(Qt::NoPen);
        p.setBrush(m_error ? QColor(0xE8, 0x11, 0x23) : currentTheme().accent);
        p.drawEllipse(QRectF(18, top + (fm.height() - 7) / 2.0, 7, 7));
        p.setPen(Qt::white);
        p.setClipRect(QRect(0, 0, width() - 18, height()));
        p.drawText(QRect(QPoint(34, top), linesRect(fm).size()), Qt::AlignLeft | Qt::AlignTop,
                   m_lines.join(QLatin1Char('\n')));
        return;
    }
    const int advance = fm.horizontalAdvance(m_text);
    // A text that fits is centred with the dot; one that does not starts at the usual 18 px padding so
    // its beginning stays readable and only its end is cut off.
    const int left = std::max((width() - advance - 16) / 2, 18);

    p.setPen(Qt::NoPen);
    p.setBrush(m_error ? QColor(0xE8, 0x11, 0x23) : currentTheme().accent);
    p.drawEllipse(QRectF(left, (height() - 7) / 2.0, 7, 7));

    // One line; a text wider than the bubble is clipped by the bubble, never wrapped.
    p.setPen(Qt::white);
    p.setClipRect(QRect(0, 0, width() - 18, height()));
    p.drawText(QRect(left + 16, 0, std::max(advance, width()), height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_text);
}
