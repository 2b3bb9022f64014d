#include "ui/toast.h"

#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QEasingCurve>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>

namespace {

QColor bubbleFill()
{
    return currentTheme().isDark ? QColor(0x2C, 0x31, 0x3E) : QColor(0x33, 0x39, 0x47);
}

} // namespace

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

QRect Toast::wrappedTextRect(const QFontMetrics& fm, int width) const
{
    return fm.boundingRect(QRect(0, 0, std::max(width - 52, 1), 100000), Qt::TextWordWrap, m_text);
}

QFont Toast::bubbleFont() const
{
    QFont f(uiFontFamily());
    f.setPixelSize(13);
    return f;
}

void Toast::showMessage(const QString& text, int kind)
{
    m_text = text;
    m_error = kind != 0;
    const QFontMetrics fm(bubbleFont());
    const int advance = fm.horizontalAdvance(m_text);
    const int maxWidth = parentWidget() ? parentWidget()->width() - 40 : 620;
    const int w = std::max(std::min(advance + 52, maxWidth), 120);
    // A text wider than the bubble can be wraps onto more lines (long English sentences), so it is read whole.
    int h = kHeight;
    if (advance + 52 > w)
        h = std::max(kHeight, wrappedTextRect(fm, w).height() + 2 * kWrapPadding);
    resize(w, h);
    reposition();

    m_fade->stop();
    setWindowOpacity(1.0);
    show();
    raise();
    update();
    m_hideTimer->start();
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
        p.drawText(QRect(34, top, width() - 52, height() - 2 * top), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                   m_text);
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
