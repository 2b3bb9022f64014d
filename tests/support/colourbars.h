#pragma once

#include <QColor>
#include <QImage>
#include <QString>

namespace ktr::test {

// FFmpeg's "testsrc" pattern, used by the clips in tests/data/video: eight vertical bars, left to right.
inline QColor testsrcBar(int index)
{
    static const QRgb bars[8] = {0x000000, 0x00ffff, 0xff00ff, 0x0000ff, 0xffff00, 0x00ff00, 0xff0000, 0xffffff};
    return QColor::fromRgb(bars[index & 7]);
}

// Empty when every bar shows its colour (within the tolerance lossy coding needs) at the centre of its
// column, a third of the way down the picture (`rect` is where the picture lies in `image`); else what differs.
inline QString checkTestsrcBars(const QImage& image, QRect rect = QRect(), int tolerance = 48)
{
    if (rect.isNull())
        rect = image.rect();
    const int y = rect.top() + rect.height() / 3;
    for (int k = 0; k < 8; ++k) {
        const int x = rect.left() + int((k + 0.5) * rect.width() / 8);
        if (!image.rect().contains(x, y))
            continue;
        const QColor got = image.pixelColor(x, y);
        const QColor want = testsrcBar(k);
        if (qAbs(got.red() - want.red()) > tolerance || qAbs(got.green() - want.green()) > tolerance ||
            qAbs(got.blue() - want.blue()) > tolerance) {
            return QStringLiteral("bar %1 at (%2, %3): got %4, want %5")
                .arg(k)
                .arg(x)
                .arg(y)
                .arg(got.name(), want.name());
        }
    }
    return {};
}

} // namespace ktr::test
