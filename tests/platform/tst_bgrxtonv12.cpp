// The recorder's BGRX-to-NV12 conversion against the BT.601 limited-range formulas, on the shapes a screen
// hands it: flat colours, 2 x 2 blocks of mixed colours, rows wider than the picture and odd edges.
#include "platform/videomodule/bgrxtonv12.h"

#include <QColor>
#include <QImage>
#include <QTest>

#include <cmath>
#include <vector>

using ktr::platform::bgrxToNv12;

namespace {

struct Yuv
{
    double y, u, v;
};

Yuv exact(double r, double g, double b)
{
    return {16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255, 128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255,
            128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255};
}

struct Nv12
{
    int yStride, uvStride;
    std::vector<uint8_t> y, uv;
    Nv12(int width, int height, int pad)
        : yStride(width + pad), uvStride(width + pad), y(size_t(yStride) * height, 0xAB),
          uv(size_t(uvStride) * (height / 2), 0xAB)
    {
    }
};

} // namespace

class TestBgrxToNv12 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Each colour lands within one step of the formula (the tests of the written files allow two).
    void flatColours_data()
    {
        QTest::addColumn<QColor>("colour");
        QTest::newRow("black") << QColor(0, 0, 0);
        QTest::newRow("white") << QColor(255, 255, 255);
        QTest::newRow("red") << QColor(255, 0, 0);
        QTest::newRow("green") << QColor(0, 255, 0);
        QTest::newRow("blue") << QColor(0, 0, 255);
        QTest::newRow("pink") << QColor(200, 50, 100);
        QTest::newRow("teal") << QColor(20, 160, 150);
    }
    void flatColours()
    {
        QFETCH(QColor, colour);
        QImage image(64, 4, QImage::Format_RGB32);
        image.fill(colour);
        Nv12 out(64, 4, 0);
        bgrxToNv12(image.constBits(), int(image.bytesPerLine()), 64, 4, out.y.data(), out.yStride, out.uv.data(),
                   out.uvStride);
        const Yuv want = exact(colour.red(), colour.green(), colour.blue());
        for (int i = 0; i < 64 * 4; ++i)
            QVERIFY2(std::abs(out.y[i] - want.y) <= 1, qPrintable(QString::number(out.y[i])));
        for (int i = 0; i < 64 * 2; i += 2) {
            QVERIFY2(std::abs(out.uv[i] - want.u) <= 1 && std::abs(out.uv[i + 1] - want.v) <= 1,
                     qPrintable(QStringLiteral("U %1 V %2 at %3").arg(out.uv[i]).arg(out.uv[i + 1]).arg(i)));
        }
    }

    // Every pixel keeps its own luma; the chroma of a block is that of its four pixels' mean colour (a black
    // and white checkerboard has none), and neighbouring blocks don't mix.
    void blocksAverageTheirFourPixels()
    {
        const QColor block[2][4] = {{Qt::black, Qt::white, Qt::white, Qt::black},
                                    {QColor(255, 0, 0), QColor(0, 0, 255), QColor(0, 255, 0), QColor(255, 255, 0)}};
        QImage image(4, 2, QImage::Format_RGB32);
        for (int b = 0; b < 2; ++b) {
            image.setPixelColor(2 * b, 0, block[b][0]);
            image.setPixelColor(2 * b + 1, 0, block[b][1]);
            image.setPixelColor(2 * b, 1, block[b][2]);
            image.setPixelColor(2 * b + 1, 1, block[b][3]);
        }
        Nv12 out(4, 2, 0);
        bgrxToNv12(image.constBits(), int(image.bytesPerLine()), 4, 2, out.y.data(), out.yStride, out.uv.data(),
                   out.uvStride);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 4; ++x) {
                const QColor c = image.pixelColor(x, y);
                QVERIFY2(std::abs(out.y[y * 4 + x] - exact(c.red(), c.green(), c.blue()).y) <= 1,
                         qPrintable(QStringLiteral("Y %1 at %2,%3").arg(out.y[y * 4 + x]).arg(x).arg(y)));
            }
        }
        for (int b = 0; b < 2; ++b) {
            double r = 0, g = 0, bl = 0;
            for (const QColor& c : block[b]) {
                r += c.red() / 4.0;
                g += c.green() / 4.0;
                bl += c.blue() / 4.0;
            }
            const Yuv want = exact(r, g, bl);
            QVERIFY2(std::abs(out.uv[2 * b] - want.u) <= 1 && std::abs(out.uv[2 * b + 1] - want.v) <= 1,
                     qPrintable(QStringLiteral("block %1: U %2 V %3, want %4 %5")
                                    .arg(b)
                                    .arg(out.uv[2 * b])
                                    .arg(out.uv[2 * b + 1])
                                    .arg(want.u)
                                    .arg(want.v)));
        }
    }

    // A 5 x 3 screen is encoded as 4 x 2: the last column and row are not read, rows are found by the given
    // strides (a picture's rows may be longer than its width) and nothing past the width is written.
    void oddEdgesAndStridesAreKept()
    {
        QImage image(5, 3, QImage::Format_RGB32);
        image.fill(Qt::gray);
        for (int y = 0; y < 3; ++y)
            image.setPixelColor(4, y, Qt::red);
        for (int x = 0; x < 5; ++x)
            image.setPixelColor(x, 2, Qt::blue);
        Nv12 out(4, 2, 3);
        bgrxToNv12(image.constBits(), int(image.bytesPerLine()), 4, 2, out.y.data(), out.yStride, out.uv.data(),
                   out.uvStride);
        const Yuv grey = exact(160, 160, 164); // Qt::gray is #a0a0a4
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 4; ++x)
                QVERIFY(std::abs(out.y[y * out.yStride + x] - grey.y) <= 1);
            for (int x = 4; x < out.yStride; ++x)
                QCOMPARE(out.y[y * out.yStride + x], uint8_t(0xAB));
        }
        for (int x = 0; x < 4; x += 2)
            QVERIFY(std::abs(out.uv[x] - grey.u) <= 1 && std::abs(out.uv[x + 1] - grey.v) <= 1);
        for (int x = 4; x < out.uvStride; ++x)
            QCOMPARE(out.uv[x], uint8_t(0xAB));
    }
};

QTEST_APPLESS_MAIN(TestBgrxToNv12)
#include "tst_bgrxtonv12.moc"
