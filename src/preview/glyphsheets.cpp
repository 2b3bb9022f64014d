#include "preview/previewgenerators.h"

#include "ui/theme.h"
#include "ui/uibtn.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cstdlib>

namespace {

// A glyph scaled by `factor` about its centre.
void drawScaledGlyph(QPainter& p, int id, const QPointF& centre, double factor, const QColor& colour, bool state,
                     bool animate)
{
    p.save();
    p.translate(centre);
    p.scale(factor, factor);
    p.translate(-centre);
    drawUiBtnGlyph(&p, id, centre, colour, state, animate);
    p.restore();
}

void writeText(const QString& path, const QString& text)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate))
        f.write(text.toUtf8());
}

QString phaseText(double phase)
{
    return QStringLiteral("t=%1").arg(phase, 0, 'f', 2);
}

// The eleven glyphs twice, one row under the other, and whether the rows came out alike.
void glyphSheet(const QString& folder)
{
    QPixmap sheet(632, 180);
    sheet.fill(Qt::white);
    {
        QPainter p(&sheet);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor colour = currentTheme().bottomBarForeground;
        for (int k = 0; k < UiBtn::kCount; ++k) {
            const double x = 28 + 56 * k;
            drawScaledGlyph(p, k, QPointF(x, 30), 1.25, colour, false, false);
            drawScaledGlyph(p, k, QPointF(x, 86), 1.25, colour, false, false);
        }
    }
    sheet.save(folder + QStringLiteral("/uibtn-glyphs.png"));

    const QImage img = sheet.toImage().convertToFormat(QImage::Format_ARGB32);
    int diff = 0;
    for (int k = 0; k < UiBtn::kCount; ++k) {
        for (int x = 6 + 56 * k; x <= 50 + 56 * k; ++x) {
            for (int y = 14; y <= 46; ++y) {
                const QRgb a = img.pixel(x, y);
                const QRgb b = img.pixel(x, y + 56);
                diff = std::max({diff, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                 std::abs(qBlue(a) - qBlue(b))});
            }
        }
    }
    writeText(folder + QStringLiteral("/uibtn-glyphs-check.txt"),
              QStringLiteral("max_channel_diff=%1\nresult=%2\n")
                  .arg(diff)
                  .arg(diff == 0 ? QStringLiteral("PASS") : QStringLiteral("FAIL")));
}

// The orientation glyph in both states, large, on green.
void rotateIcon(const QString& folder)
{
    QPixmap pm(240, 130);
    pm.fill(QColor(0x1E, 0x7A, 0x3C));
    {
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor ink(0x22, 0x22, 0x22);
        drawScaledGlyph(p, UiBtn::Orientation, QPointF(62, 65), 5, ink, false, false);
        drawScaledGlyph(p, UiBtn::Orientation, QPointF(178, 65), 5, ink, true, false);
    }
    pm.save(folder + QStringLiteral("/rotate-icon-green.png"));
}

QImage shieldFrame(bool animate)
{
    QImage img(64, 64, QImage::Format_ARGB32);
    img.fill(QColor(0xF7, 0xF8, 0xFC));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawScaledGlyph(p, UiBtn::Obfuscate, QPointF(32, 32), 3, QColor(0x2F, 0x6B, 0xF5), true, animate);
    return img;
}

// Largest sum of the RGB differences of one pixel between consecutive frames.
int largestFrameStep(const QList<QImage>& frames)
{
    int largest = 0;
    for (int k = 0; k + 1 < frames.size(); ++k) {
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                const QRgb a = frames.at(k).pixel(x, y);
                const QRgb b = frames.at(k + 1).pixel(x, y);
                largest = std::max(largest, std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                                                std::abs(qBlue(a) - qBlue(b)));
            }
        }
    }
    return largest;
}

// The protection glyph at eight phases of its animation over the same glyph held still, and whether only
// the animated row moves.
void shieldFrames(const QString& folder)
{
    QList<QImage> animated;
    QList<QImage> still;
    for (int k = 0; k < 8; ++k) {
        setGlyphShieldPhase(k * 0.125);
        animated.append(shieldFrame(true));
        still.append(shieldFrame(false));
    }
    setGlyphShieldPhase(-1);

    QPixmap sheet(512, 150);
    sheet.fill(Qt::white);
    {
        QPainter p(&sheet);
        p.setPen(QColor(0x33, 0x33, 0x33));
        for (int k = 0; k < 8; ++k) {
            p.drawImage(QPoint(64 * k, 0), animated.at(k));
            p.drawImage(QPoint(64 * k, 86), still.at(k));
            p.drawText(QRect(64 * k, 0, 64, 64), Qt::AlignBottom | Qt::AlignHCenter, phaseText(k * 0.125));
        }
        p.drawText(QPoint(6, 81), QStringLiteral("animated (8 phases)   /   below: static reference"));
    }
    sheet.save(folder + QStringLiteral("/uibtn-obfuscate-frames.png"));

    const int a = largestFrameStep(animated);
    const int s = largestFrameStep(still);
    writeText(folder + QStringLiteral("/uibtn-obfuscate-anim-check.txt"),
              QStringLiteral("animated_max_diff=%1\nstatic_max_diff=%2\nresult=%3\n")
                  .arg(a)
                  .arg(s)
                  .arg(a >= 1 && s == 0 ? QStringLiteral("PASS") : QStringLiteral("FAIL")));
}

// Gear, sun and moon at four phases of their hover animation.
void hoverSheet(const QString& folder)
{
    struct Row
    {
        int id;
        bool state;
        const char* label;
    };
    const Row rows[] = {{UiBtn::Settings, false, "gear (hover spin)"},
                        {UiBtn::ThemeSwitch, false, "sun  (hover spin)"},
                        {UiBtn::ThemeSwitch, true, "moon (hover rock)"}};
    QPixmap sheet(406, 192);
    sheet.fill(Qt::white);
    {
        QPainter p(&sheet);
        p.setPen(QColor(0x33, 0x33, 0x33));
        for (int r = 0; r < 3; ++r) {
            for (int ph = 0; ph < 4; ++ph) {
                setGlyphSpinPhase(ph * 0.25);
                QImage cell(64, 64, QImage::Format_ARGB32);
                cell.fill(Qt::white);
                {
                    QPainter c(&cell);
                    c.setRenderHint(QPainter::Antialiasing);
                    drawScaledGlyph(c, rows[r].id, QPointF(32, 32), 3, QColor(0x3A, 0x44, 0x55), rows[r].state, true);
                }
                p.drawImage(QPoint(64 * ph, 64 * r), cell);
                p.drawText(QRect(64 * ph, 64 * r, 64, 64), Qt::AlignBottom | Qt::AlignHCenter, phaseText(ph * 0.25));
            }
            p.drawText(QPoint(266, 64 * r + 36), QString::fromLatin1(rows[r].label));
        }
        setGlyphSpinPhase(-1);
    }
    sheet.save(folder + QStringLiteral("/uibtn-hover-anim.png"));
}

// How far each glyph reaches, in glyph units, measured at ten times its size.
void inkMeasurement(const QString& folder)
{
    QString out;
    for (int id = 0; id < UiBtn::kCount; ++id) {
        QImage img(400, 400, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        {
            QPainter p(&img);
            p.setRenderHint(QPainter::Antialiasing);
            drawScaledGlyph(p, id, QPointF(200, 200), 10, QColor(0, 0, 0), false, false);
        }
        int left = img.width(), top = img.height(), right = -1, bottom = -1;
        for (int y = 0; y < img.height(); ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
            for (int x = 0; x < img.width(); ++x) {
                if (qAlpha(line[x]) > 8) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        }
        if (right < 0)
            out += QStringLiteral("%1: EMPTY\n").arg(id);
        else
            out += QStringLiteral("%1(%2): ink w=%3 h=%4\n")
                       .arg(id)
                       .arg(uiBtnName(id))
                       .arg((right - left + 1) / 10.0, 0, 'f', 2)
                       .arg((bottom - top + 1) / 10.0, 0, 'f', 2);
    }
    writeText(folder + QStringLiteral("/uibtn-ink.txt"), out);
}

} // namespace

void previewGlyphSheets(const QString& folder)
{
    glyphSheet(folder);
    rotateIcon(folder);
    shieldFrames(folder);
    hoverSheet(folder);
    inkMeasurement(folder);
}
