// The support chat's message layout and painting.

#include "support/supportchatdialog.h"

#include "ui/lang.h"
#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QCursor>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

constexpr int kTextWrap = 236;
constexpr int kMaxBubble = 258;

QFont chatFont(int pixelSize, bool bold = false)
{
    QFont f(uiFontFamily());
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

} // namespace

void SupportChatDialog::layoutMessages()
{
    const QFontMetrics fm(chatFont(12));
    const QFontMetricsF fmf(chatFont(12));
    const int n = int(m_messages.size());
    m_bubbleRects.resize(n);
    m_pictureRects.resize(n);
    int y = 54;
    for (int i = 0; i < n; ++i) {
        const ChatMessage& m = m_messages[i];
        const int th =
            m.text.isEmpty()
                ? 0
                : fm.boundingRect(QRect(0, 0, kTextWrap, 100000), Qt::TextWordWrap | Qt::AlignLeft, m.text).height();
        // Rounded up: a bubble cut to the rounded-down advance would wrap its one line.
        const int a = int(std::ceil(fmf.horizontalAdvance(m.text))) + 22;
        int bw = 0;
        int bh = 0;
        QRect picture;
        if (!m.img.isEmpty()) {
            const auto it = m_pictures.constFind(m.img);
            int w = it != m_pictures.constEnd() ? it->width() : 160;
            int h = it != m_pictures.constEnd() ? it->height() : 120;
            bool flat = false;
            if (w > 190) {
                h = h * 190 / w;
                w = 190;
                if (h < 25) {
                    h = 24;
                    flat = true;
                }
            }
            if (!flat && h > 140) {
                w = std::max(40, w * 140 / h);
                h = 140;
            }
            if (m.text.isEmpty()) {
                bh = h + 16;
                bw = w + 16;
            } else {
                bh = th + h + 24;
                bw = w + 16 >= a ? w + 16 : std::min(a, kMaxBubble);
            }
            picture = QRect(m.mine ? 412 - bw : 24, y + 8, w, h);
        } else {
            bh = std::max(th + 20, 34);
            bw = std::min(a, kMaxBubble);
        }
        m_bubbleRects[i] = QRect(m.mine ? 404 - bw : 16, y, bw, bh);
        m_pictureRects[i] = picture;
        y += bh + 10;
    }
    m_contentHeight = y;
    m_layoutDirty = false;
}

void SupportChatDialog::paintEvent(QPaintEvent*)
{
    layoutControls();
    const Theme& t = currentTheme();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    QPainterPath shape;
    const qreal radius = windowCornerRadius(std::max(4, themeCornerRadius()));
    shape.addRoundedRect(QRectF(0.5, 0.5, width() - 1, height() - 1), radius, radius);
    p.setPen(QPen(t.border, 1));
    p.setBrush(t.windowBackground);
    p.drawPath(shape);

    p.save();
    p.setClipPath(shape);
    p.fillRect(QRect(0, 0, width(), 44), t.surface);
    p.restore();
    p.setPen(QPen(t.surfaceAlt, 1));
    p.drawLine(QPointF(1, 44), QPointF(width() - 1, 44));

    // Headset glyph.
    QPen glyph(t.accent, 1.5);
    glyph.setCapStyle(Qt::RoundCap);
    p.setPen(glyph);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(20, 16.5, 12, 11), 0, 180 * 16);
    p.drawLine(QPointF(31.5, 27.4), QPointF(28.2, 27.4));
    p.setPen(Qt::NoPen);
    p.setBrush(t.accent);
    p.drawRoundedRect(QRectF(19, 20.8, 3, 6.6), 1.5, 1.5);
    p.drawRoundedRect(QRectF(30, 20.8, 3, 6.6), 1.5, 1.5);
    p.drawEllipse(QRectF(25.8, 26, 2.8, 2.8));

    p.setFont(chatFont(14, true));
    p.setPen(t.strongText);
    p.drawText(QRect(44, 0, 240, 44), Qt::AlignLeft | Qt::AlignVCenter, title());

    const QPoint cursor = mapFromGlobal(QCursor::pos());
    QPen cross(m_closeRect.contains(cursor) ? QColor(0xE81123) : t.hintText, 1.5);
    cross.setCapStyle(Qt::RoundCap);
    p.setPen(cross);
    const QRectF c = QRectF(m_closeRect).adjusted(7, 7, -7, -7);
    p.drawLine(c.topLeft(), c.bottomRight());
    p.drawLine(c.topRight(), c.bottomLeft());

    paintMessages(p);

    p.setPen(QPen(t.surfaceAlt, 1));
    p.drawLine(QPointF(1, 420 - m_inputHeight), QPointF(width() - 1, 420 - m_inputHeight));

    const int hover = hitTest(cursor);
    p.setPen(Qt::NoPen);
    p.setBrush(hover == 3 ? (t.isDark ? QColor(0x2A3550) : QColor(0xE8F0FE)) : supportBubbleColour());
    p.drawRoundedRect(m_pictureButtonRect, 8, 8);
    QPen plus(hover == 3 ? QColor(0x2F6FED) : QColor(0x8A93A3), 1.4);
    plus.setCapStyle(Qt::RoundCap);
    p.setPen(plus);
    p.setBrush(Qt::NoBrush);
    const QPointF mid = QRectF(m_pictureButtonRect).center();
    p.drawEllipse(mid, 7, 7);
    p.drawLine(mid - QPointF(3.2, 0), mid + QPointF(3.2, 0));
    p.drawLine(mid - QPointF(0, 3.2), mid + QPointF(0, 3.2));

    if (!m_pendingPicture.isNull()) {
        p.drawPixmap(m_pendingRect, m_pendingPicture);
        p.setPen(QPen(QColor(0x2F6FED), 1.4));
        p.drawRect(QRectF(m_pendingRect).adjusted(0.7, 0.7, -0.7, -0.7));
        QPen x(hover == 4 ? QColor(0xE81123) : QColor(0x8A93A3), 1.4);
        x.setCapStyle(Qt::RoundCap);
        p.setPen(x);
        const qreal r = m_pendingRect.x() + m_pendingRect.width();
        const qreal top = m_pendingRect.y();
        p.drawLine(QPointF(r - 9, top + 9), QPointF(r - 3, top + 3));
        p.drawLine(QPointF(r - 3, top + 9), QPointF(r - 9, top + 3));
    }

    p.setPen(Qt::NoPen);
    p.setBrush(hover == 1 ? QColor(0x255FD6) : QColor(0x2F6FED));
    p.drawRoundedRect(m_sendRect, 8, 8);
    p.setFont(chatFont(13, true));
    p.setPen(Qt::white);
    p.drawText(m_sendRect, Qt::AlignCenter, Lang::tr("发送"));
}

void SupportChatDialog::paintMessages(QPainter& p)
{
    if (m_layoutDirty)
        layoutMessages();
    const int maxS = maxScroll();
    m_scrollOffset = std::clamp(m_scrollOffset, 0, maxS);
    p.save();
    p.setClipRect(QRect(1, 48, width() - 2, 372 - m_inputHeight));
    const int shift = maxS - m_scrollOffset;
    p.translate(0, -shift);
    p.setFont(chatFont(12));
    const int n = int(std::min(m_messages.size(), m_bubbleRects.size()));
    // The column is laid out top to bottom: find the first bubble that reaches into view, stop after the
    // last, so a long conversation costs only what is on screen.
    int first = int(std::partition_point(m_bubbleRects.cbegin(), m_bubbleRects.cbegin() + n,
                                         [&](const QRect& r) { return r.y() + r.height() <= shift + 49; }) -
                    m_bubbleRects.cbegin());
    for (int i = first; i < n; ++i) {
        const QRect& b = m_bubbleRects[i];
        if (b.y() > shift + 414 - m_inputHeight)
            break;
        const ChatMessage& m = m_messages[i];
        p.setPen(Qt::NoPen);
        p.setBrush(m.mine ? QColor(0x2F6FED) : supportBubbleColour());
        p.drawRoundedRect(b, 10, 10);
        p.setPen(m.mine ? QColor(Qt::white) : currentTheme().isDark ? QColor(0xE6E9EF) : QColor(0x39404C));
        const QRect& pic = m_pictureRects[i];
        if (pic.isNull()) {
            p.drawText(b.adjusted(11, 8, -11, -8), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, m.text);
            continue;
        }
        notePictureShown(m.img);
        const auto it = m_pictures.constFind(m.img);
        if (it != m_pictures.constEnd())
            p.drawPixmap(pic, *it);
        if (!m.text.isEmpty()) {
            const QRect band(b.x() + 11, pic.y() + pic.height() + 6, b.width() - 22,
                             b.y() + b.height() - 5 - (pic.y() + pic.height() + 6));
            if (band.height() > 0)
                p.drawText(band, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, m.text);
        }
    }
    p.restore();
}
