#include "ui/uibtn.h"

#include "platform/clock.h"
#include "ui/lang.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPixmapCache>
#include <QSet>
#include <QThread>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <deque>

namespace UiBtn {
QList<int> defaultTitleLayout()
{
    return {0, 1, 2, 3, 4};
}
QList<int> defaultBottomLayout()
{
    return {10, 9, 8, 7, 6, 5};
}
} // namespace UiBtn

namespace {

const char* const kNames[UiBtn::kCount] = {"横竖切换", "设置",     "置顶",     "最小化",   "关闭",    "应用市场",
                                           "主题切换", "反馈中心", "界面锁定", "屏幕监控", "混淆保护"};

// Remembered failures of custom images (GUI thread only, so no lock).
QSet<QString> g_failedKeys;
std::deque<QString> g_failedOrder;
constexpr int kMaxRememberedFailures = 255;

double g_spinPhase = -1.0;
double g_shieldPhase = -1.0;
ktr::platform::Clock* g_clock = nullptr;

QImage g_gearImage;
QColor g_gearColor;
int g_gearRenders = 0;

qint64 nowMs()
{
    ktr::platform::Clock* c = g_clock ? g_clock : ktr::platform::Clock::system();
    return c->now().toMSecsSinceEpoch();
}

// The frozen phase, or the position in a cycle of periodMs taken from the clock.
double phaseOf(double frozen, int periodMs)
{
    if (frozen >= 0.0)
        return frozen;
    return double(nowMs() % periodMs) / periodMs;
}

QPen glyphPen(const QColor& color, qreal width = 1.05, Qt::PenCapStyle cap = Qt::RoundCap,
              Qt::PenJoinStyle join = Qt::RoundJoin)
{
    return QPen(color, width, Qt::SolidLine, cap, join);
}

void fillCircle(QPainter* p, const QPointF& c, qreal diameter, const QColor& color)
{
    p->save();
    p->setPen(Qt::NoPen);
    p->setBrush(color);
    p->drawEllipse(c, diameter / 2, diameter / 2);
    p->restore();
}

// Two screens: the back one faint and cut away around the front one, the front one outlined and filled.
void drawScreens(QPainter* p, const QColor& color, bool portrait)
{
    const QRectF landscape(-5.3, -4.8, 8.8, 5.8);
    const QRectF upright(-0.5, -3.4, 5.8, 8.8);
    const QRectF front = portrait ? upright : landscape;
    const QRectF back = portrait ? landscape : upright;

    QPainterPath clip;
    clip.addRect(-14, -14, 28, 28);
    QPainterPath hole;
    hole.addRoundedRect(front.adjusted(-1.6, -1.6, 1.6, 1.6), 2.4, 2.4);
    p->save();
    p->setClipPath(clip.subtracted(hole), Qt::IntersectClip);
    QColor faint = color;
    faint.setAlpha(70);
    p->setPen(glyphPen(faint, 1.05, Qt::SquareCap, Qt::BevelJoin));
    p->drawRoundedRect(back, 1.5, 1.5);
    p->restore();

    p->drawRoundedRect(front, 1.5, 1.5);
    p->setPen(Qt::NoPen);
    p->setBrush(color);
    p->drawRoundedRect(front.adjusted(2, 2, -2, -2), 0.6, 0.6);
}

void renderGearImage(const QColor& color)
{
    g_gearImage = QImage(128, 128, QImage::Format_ARGB32_Premultiplied);
    g_gearImage.fill(Qt::transparent);
    QPainter p(&g_gearImage);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(4, 4);
    p.translate(16, 16);
    p.scale(0.9, 0.9);

    constexpr double rootRadius = 4.451123453691214;
    constexpr double rootAngle = 14.972875766786919;
    QPainterPath path;
    for (int k = 0; k < 7; ++k) {
        const double a = k * 360.0 / 7 - 90;
        const QPointF u(std::cos(qDegreesToRadians(a)), std::sin(qDegreesToRadians(a)));
        const QPointF side(-u.y() * 1.15, u.x() * 1.15);
        if (k == 0)
            path.moveTo(4.3 * u - side);
        else
            path.lineTo(4.3 * u - side);
        path.lineTo(6.3 * u - side);
        path.lineTo(6.3 * u + side);
        path.lineTo(4.3 * u + side);
        const double from = a + rootAngle;
        const double to = a + 360.0 / 7 - rootAngle;
        for (int i = 1; i <= 8; ++i) {
            const double t = qDegreesToRadians(from + (to - from) * i / 8);
            path.lineTo(rootRadius * std::cos(t), rootRadius * std::sin(t));
        }
    }
    path.closeSubpath();
    QPen pen = glyphPen(color, 1.05, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(2);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.drawEllipse(QPointF(0, 0), 2, 2);
    p.end();
    g_gearColor = color;
    ++g_gearRenders;
}

void drawGear(QPainter* p, const QColor& color, bool animate)
{
    if (g_gearImage.isNull() || g_gearColor != color)
        renderGearImage(color);
    if (animate)
        p->rotate(phaseOf(g_spinPhase, 2200) * 360.0);
    p->setRenderHint(QPainter::SmoothPixmapTransform);
    p->drawImage(QRectF(-16, -16, 32, 32), g_gearImage);
}

void drawPin(QPainter* p, bool pinned)
{
    if (pinned)
        p->rotate(45);
    QPainterPath path;
    path.moveTo(-2.3, -5.83);
    path.lineTo(2.3, -5.83);
    path.lineTo(0.68, -3.55);
    path.quadTo(2.3, -1.3, 3.1, 1.17);
    path.lineTo(-3.1, 1.17);
    path.quadTo(-2.3, -1.3, -0.68, -3.55);
    path.closeSubpath();
    p->drawPath(path);
    p->drawLine(QPointF(0, 1.17), QPointF(0, 5.83));
}

void drawSunOrMoon(QPainter* p, bool moon, bool animate)
{
    if (moon) {
        if (animate)
            p->rotate(12.0 * std::sin(2 * M_PI * phaseOf(g_spinPhase, 1600)));
        p->drawPath(crescentPath(QPointF(0, 0), 5, 3.9, QPointF(1.85, -1.85)));
        return;
    }
    if (animate)
        p->rotate(phaseOf(g_spinPhase, 6000) * 360.0);
    p->drawEllipse(QPointF(0, 0), 2.75, 2.75);
    for (int k = 0; k < 8; ++k) {
        // Painter angles turn counter-clockwise on screen: y goes up for positive angles.
        const double a = qDegreesToRadians(k * 45.0);
        const QPointF u(std::cos(a), -std::sin(a));
        p->drawLine(4.2 * u, 5.5 * u);
    }
}

void drawBubble(QPainter* p, const QColor& color)
{
    const double l = -5.4, t = -4.8, w = 10.8, h = 7.4, d = 5.2;
    QPainterPath path;
    path.moveTo(l + d / 2, t);
    path.lineTo(l + w - d / 2, t);
    path.arcTo(QRectF(l + w - d, t, d, d), 90, -90);
    path.lineTo(l + w, t + h - d / 2);
    path.arcTo(QRectF(l + w - d, t + h - d, d, d), 0, -90);
    path.lineTo(l + 5.4, t + 7.4);
    path.lineTo(l + 2.8, t + 10.4);
    path.lineTo(l + 2.6, t + 7.4);
    path.arcTo(QRectF(l, t + h - d, d, d), 270, -90);
    path.lineTo(l, t + d / 2);
    path.arcTo(QRectF(l, t, d, d), 180, -90);
    path.closeSubpath();
    p->drawPath(path);
    for (double x : {3.2, 5.4, 7.6})
        fillCircle(p, QPointF(l + x, t + 3.7), 1.7, color);
}

void drawPadlock(QPainter* p, const QColor& color)
{
    QPainterPath shackle;
    shackle.moveTo(-2.6, -1.2);
    shackle.lineTo(-2.6, -3.6);
    shackle.arcTo(QRectF(-2.6, -6, 5.2, 4.8), 180, -180);
    shackle.lineTo(2.6, -1.2);
    p->drawPath(shackle);
    p->drawRoundedRect(QRectF(-4.3, -1.2, 8.6, 6.8), 1.8, 1.8);
    fillCircle(p, QPointF(0, 2.2), 2.4, color);
}

void drawCamera(QPainter* p, bool recording)
{
    p->drawRoundedRect(QRectF(-6.2, -4.4, 9.8, 8.8), 1.8, 1.8);
    const QPointF lens[] = {{3.6, -1.5}, {6.8, -3.6}, {6.8, 3.6}, {3.6, 1.5}};
    p->drawPolyline(lens, 4);
    if (recording) {
        QColor dot(0xE8, 0x11, 0x13);
        dot.setAlpha((nowMs() / 500) % 2 == 0 ? 255 : 60);
        fillCircle(p, QPointF(-1.3, 0), 3.5, dot);
    }
}

void drawStaticArrows(QPainter* p)
{
    p->drawLine(QPointF(-2.6, -1.3), QPointF(2.4, -1.3));
    p->drawLine(QPointF(2.4, -1.3), QPointF(1.1, -2.6));
    p->drawLine(QPointF(2.4, -1.3), QPointF(1.1, 0));
    p->drawLine(QPointF(2.6, 1.5), QPointF(-2.4, 1.5));
    p->drawLine(QPointF(-2.4, 1.5), QPointF(-1.1, 0.2));
    p->drawLine(QPointF(-2.4, 1.5), QPointF(-1.1, 2.8));
}

int scaledAlpha(int alpha, double factor)
{
    return std::clamp(int(std::lround(alpha * factor)), 0, 255);
}

// One moving arrow: the line with its head, and a short dash travelling along it.
void drawTravellingArrow(QPainter* p, double x1, double x2, double y, const QColor& color, double strength,
                         double travel)
{
    const double g = x1 < x2 ? 1.0 : -1.0;
    QColor c = color;
    c.setAlpha(scaledAlpha(color.alpha(), strength));
    p->setPen(glyphPen(c));
    p->drawLine(QPointF(x1, y), QPointF(x2, y));
    p->drawLine(QPointF(x2, y), QPointF(x2 - 1.3 * g, y - 1.3));
    p->drawLine(QPointF(x2, y), QPointF(x2 - 1.3 * g, y + 1.3));

    const double length = std::max(std::abs(x2 - x1) - 1.5, 0.0);
    QColor dash = color;
    dash.setAlpha(scaledAlpha(color.alpha(), std::max(std::sin(M_PI * travel), 0.0)));
    p->setPen(glyphPen(dash, 1.25, Qt::RoundCap));
    const double start = x1 + g * travel * length;
    p->drawLine(QPointF(start, y), QPointF(start + 1.5 * g, y));
}

void drawShield(QPainter* p, const QColor& color, bool on, bool animate)
{
    QPainterPath outline;
    outline.moveTo(-5.2, -4.3);
    outline.lineTo(0, -5.8);
    outline.lineTo(5.2, -4.3);
    outline.lineTo(5.2, 0.1);
    outline.quadTo(5.2, 3.7, 0, 6.1);
    outline.quadTo(-5.2, 3.7, -5.2, 0.1);
    outline.closeSubpath();
    p->drawPath(outline);
    if (!animate) {
        drawStaticArrows(p);
        return;
    }
    const double b = phaseOf(g_shieldPhase, 1600);
    const double s = std::sin(2 * M_PI * b);
    const double d = 1.15 * s;
    const QColor upper = on ? QColor(0x4C, 0x7D, 0xF0) : color;
    const QColor lower = on ? QColor(0x1F, 0xB5, 0x8A) : color;
    drawTravellingArrow(p, d - 2.6, d + 2.4, -1.3, upper, 0.6 + 0.4 * (0.5 * s + 0.5), b);
    const double lowerTravel = std::fmod(b + 0.5, 1.0);
    drawTravellingArrow(p, 2.6 - d, -2.4 - d, 1.5, lower, 0.6 + 0.4 * (0.5 - 0.5 * s), lowerTravel);
}

// Painter angle (degrees, counter-clockwise on screen) of point pt seen from o.
double painterAngle(const QPointF& o, const QPointF& pt)
{
    return qRadiansToDegrees(std::atan2(-(pt.y() - o.y()), pt.x() - o.x()));
}

// Of the two sweeps from a to b, the one whose middle lies nearer to the direction f.
double sweepToward(double from, double to, double f)
{
    const double direct = to - from;
    const double other = direct > 0 ? direct - 360 : direct + 360;
    const double dDirect = angleDistance(from + direct / 2, f);
    const double dOther = angleDistance(from + other / 2, f);
    return dOther < dDirect ? other : direct;
}

} // namespace

QString uiBtnName(int id)
{
    if (!UiBtn::isValid(id))
        return QString();
    return Lang::tr(kNames[id]);
}

bool uiBtnGuiThreadCheck(const char* tag)
{
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        return true;
    qWarning().noquote() << "[UiBtn]" << tag << "called off GUI thread, ignored";
    return false;
}

QPixmap loadUiBtnCustomIcon(const QString& path, int logicalSize, qreal devicePixelRatio)
{
    if (!uiBtnGuiThreadCheck("customIcon") || path.isEmpty() || logicalSize <= 0)
        return QPixmap();

    // Called while painting: only a regular file is read (opening a named pipe would wait for a writer).
    const QFileInfo info(path);
    if (!info.isFile())
        return QPixmap();
    const QString stamp = QStringLiteral("%1:%2").arg(info.lastModified().toMSecsSinceEpoch()).arg(info.size());
    // One pass over the template, so a '%' in the path can't be taken for a placeholder.
    const QString key = QStringLiteral("%1#%2#%3#%4")
                            .arg(path, QString::number(logicalSize), QString::number(devicePixelRatio, 'g'), stamp);

    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;
    if (g_failedKeys.contains(key))
        return QPixmap();

    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull()) {
        g_failedKeys.insert(key);
        g_failedOrder.push_back(key);
        if (g_failedOrder.size() > size_t(kMaxRememberedFailures)) {
            g_failedKeys.remove(g_failedOrder.front());
            g_failedOrder.pop_front();
        }
        return QPixmap();
    }
    const int side = std::max(1, int(std::lround(logicalSize * devicePixelRatio)));
    QPixmap pm = QPixmap::fromImage(image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pm.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, pm);
    return pm;
}

void drawUiBtnGlyph(QPainter* painter, int id, const QPointF& centre, const QColor& color, bool state, bool animate)
{
    if (!painter || !UiBtn::isValid(id))
        return;
    QPainter* p = painter;
    p->save();
    p->translate(centre);
    p->setPen(glyphPen(color));
    p->setBrush(Qt::NoBrush);
    switch (id) {
    case UiBtn::Orientation:
        drawScreens(p, color, state);
        break;
    case UiBtn::Settings:
        drawGear(p, color, animate);
        break;
    case UiBtn::Pin:
        drawPin(p, state);
        break;
    case UiBtn::Minimize:
        p->setPen(glyphPen(color, 1.0, Qt::FlatCap));
        p->drawLine(QPointF(-5, 0), QPointF(5, 0));
        break;
    case UiBtn::Close:
        p->setPen(glyphPen(color, 1.0, Qt::FlatCap));
        p->drawLine(QPointF(-4, -4), QPointF(4, 4));
        p->drawLine(QPointF(4, -4), QPointF(-4, 4));
        break;
    case UiBtn::Market: {
        const QPointF hexagon[] = {{0, -5.3}, {4.6, -2.65}, {4.6, 2.65}, {0, 5.3}, {-4.6, 2.65}, {-4.6, -2.65}};
        p->drawPolygon(hexagon, 6);
        p->drawLine(QPointF(0, 0), QPointF(0, -5.3));
        p->drawLine(QPointF(0, 0), QPointF(-4.6, 2.65));
        p->drawLine(QPointF(0, 0), QPointF(4.6, 2.65));
        break;
    }
    case UiBtn::ThemeSwitch:
        drawSunOrMoon(p, state, animate);
        break;
    case UiBtn::Feedback:
        drawBubble(p, color);
        break;
    case UiBtn::Lock:
        drawPadlock(p, color);
        break;
    case UiBtn::Monitor:
        drawCamera(p, state);
        break;
    case UiBtn::Obfuscate:
        drawShield(p, color, state, animate);
        break;
    }
    p->restore();
}

void setGlyphSpinPhase(double phase)
{
    g_spinPhase = phase;
}

void setGlyphShieldPhase(double phase)
{
    g_shieldPhase = phase;
}

void setGlyphClock(ktr::platform::Clock* clock)
{
    g_clock = clock;
}

QPainterPath crescentPath(const QPointF& centre, double R, double r, const QPointF& biteOffset)
{
    QPainterPath path;
    const QRectF big(centre.x() - R, centre.y() - R, 2 * R, 2 * R);
    const double dx = biteOffset.x(), dy = biteOffset.y();
    const double d = std::hypot(dx, dy);
    if (d < 0.001) {
        path.addEllipse(big);
        return path;
    }
    // Distance from the big centre to the chord through both intersections, along the offset.
    const double t = (d * d + R * R - r * r) / (2 * d);
    const double h2 = R * R - t * t;
    if (h2 <= 0) {
        path.addEllipse(big);
        return path;
    }
    const double h = std::sqrt(h2);
    const QPointF u(dx / d, dy / d);
    const QPointF n(-u.y(), u.x());
    const QPointF base = centre + t * u;
    const QPointF p1 = base + h * n;
    const QPointF p2 = base - h * n;
    const QPointF biteCentre = centre + biteOffset;
    const QRectF bite(biteCentre.x() - r, biteCentre.y() - r, 2 * r, 2 * r);

    const double away = painterAngle(QPointF(0, 0), QPointF(-dx, -dy));
    const double a1 = painterAngle(centre, p1);
    const double a2 = painterAngle(centre, p2);
    const double b1 = painterAngle(biteCentre, p1);
    const double b2 = painterAngle(biteCentre, p2);

    path.moveTo(p1);
    path.arcTo(big, a1, sweepToward(a1, a2, away));
    path.arcTo(bite, b2, sweepToward(b2, b1, away));
    path.closeSubpath();
    return path;
}

double angleDistance(double a, double b)
{
    auto reduce = [](double x) {
        x = std::fmod(x, 360.0);
        return x < 0 ? x + 360.0 : x;
    };
    const double diff = std::abs(reduce(a) - reduce(b));
    return std::min(diff, 360.0 - diff);
}

int uiBtnGearRenderCount()
{
    return g_gearRenders;
}
