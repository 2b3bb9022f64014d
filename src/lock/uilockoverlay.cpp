#include "lock/uilockoverlay.h"

#include "lock/passwordhash.h"
#include "platform/fsentry.h"

#include "ui/background.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/servicehost.h"
#include "ui/theme.h"

#include <QApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QImageReader>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMovie>
#include <QPainter>
#include <QRadialGradient>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

UiLockOverlay::VideoFactory& videoFactory()
{
    static UiLockOverlay::VideoFactory factory;
    return factory;
}

const QImage& logoImage()
{
    static const QImage logo(QStringLiteral(":/res/resources/logo.png"));
    return logo;
}

QImage makeGlow(QColor colour, int alpha)
{
    QImage img(256, 256, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(128, 128), 128);
    colour.setAlpha(alpha);
    g.setColorAt(0, colour);
    colour.setAlpha(alpha / 3);
    g.setColorAt(0.55, colour);
    colour.setAlpha(0);
    g.setColorAt(1, colour);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(QRectF(0, 0, 256, 256));
    return img;
}

// The two background glows of a theme, made once per process.
const QImage& glow(bool dark, int which)
{
    static const QImage lightA = makeGlow(QColor(91, 141, 240), 104);
    static const QImage lightB = makeGlow(QColor(134, 186, 255), 92);
    static const QImage darkA = makeGlow(QColor(44, 95, 190), 138);
    static const QImage darkB = makeGlow(QColor(74, 138, 230), 112);
    if (dark)
        return which == 0 ? darkA : darkB;
    return which == 0 ? lightA : lightB;
}

QFont overlayFont(double px, int weight = QFont::Normal)
{
    QFont f(uiFontFamily());
    f.setPixelSize(std::max(1, int(std::lround(px))));
    f.setWeight(QFont::Weight(weight));
    return f;
}

// The centred part of a source with the target's aspect ratio.
QRectF coverSource(QSizeF source, QSizeF target)
{
    if (source.isEmpty() || target.isEmpty())
        return QRectF(QPointF(0, 0), source);
    const double scale = std::max(target.width() / source.width(), target.height() / source.height());
    const QSizeF part(target.width() / scale, target.height() / scale);
    return QRectF(QPointF((source.width() - part.width()) / 2, (source.height() - part.height()) / 2), part);
}

} // namespace

void UiLockOverlay::setVideoFactory(VideoFactory factory)
{
    videoFactory() = std::move(factory);
}

bool UiLockOverlay::isAnimatedImageUsable(const QString& path)
{
    if (!ktr::platform::isRegularFile(path))
        return false;
    QImageReader reader(path, "gif");
    const QSize size = reader.size();
    const int frames = reader.imageCount();
    if (!size.isValid() || size.isEmpty() || frames < 1)
        return false;
    return qint64(size.width()) * size.height() * frames <= 12'000'000;
}

UiLockOverlay::UiLockOverlay(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    // Drops are taken here and refused, so none reaches the panel through its parent chain.
    setAcceptDrops(true);
}

UiLockOverlay::~UiLockOverlay()
{
    if (m_guarding)
        qApp->removeEventFilter(this);
    if (m_video)
        m_video->stop();
}

QSize UiLockOverlay::devicePixelSize() const
{
    const qreal dpr = devicePixelRatioF();
    return QSize(std::max(1, int(std::lround(width() * dpr))), std::max(1, int(std::lround(height() * dpr))));
}

void UiLockOverlay::setMode(bool removeMode)
{
    if (!m_edit) {
        m_edit = new QLineEdit(this);
        m_edit->setObjectName(QStringLiteral("lockOverlayPassword"));
        m_edit->setEchoMode(QLineEdit::Password);
        m_edit->setStyleSheet(
            QStringLiteral("QLineEdit{border:1px solid #D3D8E2;border-radius:10px;padding:4px 14px;background:white;"
                           "color:#39404C;font-size:14px;font-family:'%1';selection-background-color:#4C7DF0;}"
                           "QLineEdit:focus{border:1px solid #4C7DF0;background:#FBFCFF;}")
                .arg(uiFontFamily()));
        m_edit->installEventFilter(this);
        connect(m_edit, &QLineEdit::returnPressed, this, &UiLockOverlay::submitPassword);
        connect(m_edit, &QLineEdit::textChanged, this, [this] {
            if (!m_error.isEmpty()) {
                m_error.clear();
                update();
            }
        });
    }
    m_inputMode = true;
    m_removeMode = removeMode;
    m_error.clear();
    m_fade = 0.0;
    m_edit->clear();
    m_edit->setPlaceholderText(removeMode ? Lang::tr("输入密码以确认移除") : Lang::tr("请输入密码"));
    m_edit->show();
    m_edit->setFocus(Qt::OtherFocusReason);
    updateAnimationTimer();
    update();
}

void UiLockOverlay::leaveInputMode()
{
    m_inputMode = false;
    m_removeMode = false;
    m_error.clear();
    m_shake = 0.0;
    m_mainRect = m_secondaryRect = m_forgotRect = QRectF();
    m_hovered = 0;
    m_fade = 1.0;
    if (m_edit)
        m_edit->hide();
    // Keep the keyboard on the lock screen: the hidden field would otherwise hand focus to the panel.
    setFocus(Qt::OtherFocusReason);
    updateAnimationTimer();
    update();
}

void UiLockOverlay::submitPassword()
{
    if (m_unlocking || !m_edit || m_checking)
        return;
    if (!m_verifier.isEmpty()) {
        // A stored hash costs up to 100,000 rounds: checked off the GUI thread, so the lock screen stays alive.
        m_checking = true;
        m_edit->setReadOnly(true);
        const QString password = m_edit->text();
        runInBackground(
            this, [hash = m_verifier, password] { return verifyPasswordHash(hash, password); },
            [this, password](bool ok) {
                m_checking = false;
                if (m_edit)
                    m_edit->setReadOnly(false);
                if (ok && onPasswordVerified)
                    onPasswordVerified(password);
                finishSubmit(ok);
            });
        return;
    }
    finishSubmit(!checkPassword || checkPassword(m_edit->text()));
}

void UiLockOverlay::finishSubmit(bool accepted)
{
    if (m_unlocking || !m_edit)
        return;
    if (!accepted) {
        m_error = Lang::tr("密码错误，请重试");
        m_shake = 1.0;
        m_edit->selectAll();
        m_edit->setFocus(Qt::OtherFocusReason);
        updateAnimationTimer();
        update();
        return;
    }
    m_unlocking = true;
    m_edit->hide();
    setFocus(Qt::OtherFocusReason);
    updateAnimationTimer();
    update();
    if (m_removeMode) {
        if (onRemovePassword)
            onRemovePassword();
    } else if (onUnlocked) {
        onUnlocked();
    }
}

void UiLockOverlay::beginUnlock()
{
    m_unlocking = true;
    if (m_edit)
        m_edit->hide();
    updateAnimationTimer();
    update();
}

void UiLockOverlay::animationTick()
{
    m_clock += 0.033;
    if (m_clock > 1000000.0)
        m_clock = 0.0;
    if (m_fade < 1.0)
        m_fade = std::min(1.0, m_fade + 0.165);
    if (m_shake > 0.0)
        m_shake = std::max(0.0, m_shake - 0.09166666666666667);
    if (m_unlocking) {
        m_unlockProgress += 0.1375;
        if (m_unlockProgress >= 1.0) {
            m_fade = 1.0;
            m_unlocking = false;
            m_unlockProgress = 0.0;
            hide();
            updateAnimationTimer();
            if (onUnlockFinished)
                onUnlockFinished();
            return;
        }
    }
    if (m_video) {
        quint64 number = 0;
        QImage frame = m_video->currentFrame(&number);
        if (!frame.isNull() && number != m_videoFrameNumber) {
            m_videoFrame = std::move(frame);
            m_videoFrameNumber = number;
        }
    }
    update();
}

void UiLockOverlay::updateAnimationTimer()
{
    const bool needed =
        isVisible() && (m_backgroundPath.isEmpty() || m_video || m_inputMode || m_unlocking || m_fade < 1.0);
    if (needed) {
        if (!m_animTimer) {
            m_animTimer = new QTimer(this);
            m_animTimer->setObjectName(QStringLiteral("lockOverlayAnimation"));
            m_animTimer->setInterval(33);
            connect(m_animTimer, &QTimer::timeout, this, &UiLockOverlay::animationTick);
        }
        if (!m_animTimer->isActive())
            m_animTimer->start();
    } else if (m_animTimer) {
        m_animTimer->stop();
    }
}

void UiLockOverlay::setBackgroundPath(const QString& path)
{
    if (path == m_backgroundPath)
        return;
    m_backgroundPath = path;
    m_picture = QImage();
    m_pictureLoaded = false;
    m_cover = QImage();
    m_coverW = m_coverH = -1;
    m_videoFrame = QImage();
    m_videoFrameNumber = 0;
    if (m_movie) {
        m_movie->stop();
        m_movie->deleteLater();
        m_movie = nullptr;
    }
    if (m_video) {
        m_video->stop();
        m_video.reset();
    }
    // A named pipe or a device as the background would hold the locked panel's start (and its quit) until
    // someone writes to it: only a regular file is opened.
    if (!path.isEmpty() && ktr::platform::isRegularFile(path)) {
        if (videoFactory())
            m_video = videoFactory()(path);
        if (m_video) {
            m_video->setTargetSize(devicePixelSize());
            m_video->start(path);
        } else if (path.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive)) {
            m_movie = new QMovie(path, "gif", this);
            m_movie->setCacheMode(isAnimatedImageUsable(path) ? QMovie::CacheAll : QMovie::CacheNone);
            m_movie->setScaledSize(devicePixelSize());
            connect(m_movie, &QMovie::frameChanged, this, qOverload<>(&QWidget::update));
            m_movie->start();
        }
    }
    updateAnimationTimer();
    update();
}

QImage UiLockOverlay::backgroundImage()
{
    if (m_video) {
        if (m_videoFrame.isNull())
            m_videoFrame = m_video->currentFrame(&m_videoFrameNumber);
        return m_videoFrame;
    }
    if (m_movie) {
        const QPixmap pm = m_movie->currentPixmap();
        return pm.isNull() ? QImage() : pm.toImage();
    }
    if (!m_pictureLoaded) {
        m_pictureLoaded = true;
        if (!ktr::platform::isRegularFile(m_backgroundPath))
            return QImage();
        QImageReader reader(m_backgroundPath);
        reader.setAutoTransform(true);
        m_picture = reader.read();
        if (!m_picture.isNull() && (m_picture.width() > width() || m_picture.height() > height()))
            m_picture = m_picture.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    if (m_picture.isNull())
        return QImage();
    if (m_coverW != width() || m_coverH != height()) {
        const QRectF src = coverSource(m_picture.size(), size());
        const QRect crop(int(std::lround(src.x())), int(std::lround(src.y())), int(src.width()), int(src.height()));
        m_cover = m_picture.copy(crop).scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        m_coverW = width();
        m_coverH = height();
    }
    return m_cover;
}

void UiLockOverlay::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const Theme& t = currentTheme();
    const QImage bg = m_backgroundPath.isEmpty() ? QImage() : backgroundImage();
    const bool picture = !bg.isNull();
    if (picture) {
        p.drawImage(QRectF(rect()), bg, coverSource(bg.size(), size()));
        p.fillRect(rect(), QColor(8, 12, 22, 92));
        QRadialGradient vignette(QPointF(width() / 2.0, height() / 2.0), 0.74 * std::max(width(), height()));
        vignette.setColorAt(0, QColor(0, 0, 0, 0));
        vignette.setColorAt(1, QColor(0, 0, 0, 132));
        p.fillRect(rect(), vignette);
    } else {
        QLinearGradient g(0, 0, 0.45 * width(), height());
        g.setColorAt(0, t.isDark ? QColor(16, 21, 33) : QColor(245, 248, 253));
        g.setColorAt(1, t.isDark ? QColor(27, 35, 50) : QColor(219, 228, 245));
        p.fillRect(rect(), g);
        const double s = std::max(width(), height()) * 1.15;
        const double c = m_clock;
        const double w = width(), h = height();
        auto drawGlow = [&](int which, double size, QPointF centre, double opacity) {
            p.setOpacity(opacity);
            p.drawImage(QRectF(centre.x() - size / 2, centre.y() - size / 2, size, size), glow(t.isDark, which));
        };
        drawGlow(0, 0.95 * s, QPointF((std::sin(0.42 * c) * 0.22 + 0.5) * w, (std::cos(0.33 * c) * 0.16 + 0.5) * h),
                 t.isDark ? 0.5 : 0.68);
        drawGlow(1, 0.72 * s,
                 QPointF((std::cos(0.27 * c + 1.7) * 0.28 + 0.5) * w, (std::sin(0.38 * c + 0.9) * 0.2 + 0.5) * h),
                 t.isDark ? 0.42 : 0.52);
        p.setOpacity(1.0);
    }
    paintContent(p, picture);
    if (m_unlockProgress > 0.0)
        p.fillRect(rect(), QColor(10, 14, 24, int(std::lround(m_unlockProgress * m_unlockProgress * 235))));
}

void UiLockOverlay::paintContent(QPainter& p, bool pictureStyle)
{
    const Theme& t = currentTheme();
    const double w = width(), h = height();
    const bool portrait = width() < height();
    const double v =
        portrait ? std::clamp(w / 420.0, 0.74, 1.1) : std::clamp(std::min(w / 900.0, h / 560.0), 0.82, 1.3);
    const double cardW = std::min(320.0, w - 48);
    const double errorRow = m_error.isEmpty() ? 0.0 : 20 * v;
    const double blockR = 84 * v + 30 * v + 30 * v + 13 * v;
    const double blockP = m_inputMode ? 10 * v + 40 + errorRow + 8 * v + 42 + 12 * v + 22 * v : 20 * v;
    const double top = std::max(12 * v, (portrait ? 0.44 : 0.48) * h - (blockR + blockP) / 2);

    const QColor text = pictureStyle ? QColor(255, 255, 255, 246) : t.itemText;
    const QColor secondary = pictureStyle ? QColor(255, 255, 255, 184)
                             : t.isDark   ? QColor(195, 203, 220)
                                          : QColor(108, 118, 138);

    // Window buttons: the lock screen covers the title bar.
    m_minRect = QRectF(w - 80, 8, 34, 26);
    m_closeRect = QRectF(w - 44, 8, 34, 26);
    for (int id = 1; id <= 2; ++id) {
        const QRectF r = id == 1 ? m_minRect : m_closeRect;
        const bool pressed = m_pressedTitle == id, hovered = m_hoveredTitle == id;
        if (pressed || hovered) {
            p.setPen(Qt::NoPen);
            p.setBrush(pictureStyle ? QColor(255, 255, 255, pressed ? 54 : 34) : QColor(0, 0, 0, pressed ? 30 : 16));
            p.drawRoundedRect(r, 6, 6);
        }
        p.setPen(QPen(pictureStyle ? QColor(255, 255, 255, 232)
                      : t.isDark   ? QColor(221, 227, 238)
                                   : QColor(74, 83, 99),
                      1.2));
        const QPointF c = r.center();
        if (id == 1) {
            p.drawLine(QPointF(c.x() - 5, c.y()), QPointF(c.x() + 5, c.y()));
        } else {
            const double d = 8.8 / 2;
            p.drawLine(QPointF(c.x() - d, c.y() - d), QPointF(c.x() + d, c.y() + d));
            p.drawLine(QPointF(c.x() + d, c.y() - d), QPointF(c.x() - d, c.y() + d));
        }
    }

    // The logo with its pulsing glow.
    const double x = 0.5 + 0.5 * std::sin(0.9 * m_clock);
    const QPointF logoCentre(w / 2, top + 42 * v);
    const double glowR = (0.92 + 0.12 * x) * 84 * v;
    QColor gc = pictureStyle ? QColor(Qt::white) : t.accent;
    QRadialGradient g(logoCentre, glowR);
    gc.setAlpha(int(pictureStyle ? 18 * x + 30 : 18 * x + 40));
    g.setColorAt(0, gc);
    gc.setAlpha(int(pictureStyle ? 8 * x + 12 : 8 * x + 16));
    g.setColorAt(0.42, gc);
    gc.setAlpha(0);
    g.setColorAt(1, gc);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(logoCentre, glowR, glowR);
    if (!logoImage().isNull())
        p.drawImage(QRectF(w / 2 - 42 * v, top, 84 * v, 84 * v), logoImage());

    // The title.
    QFont titleFont = overlayFont(21 * v);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, 3 * v);
    p.setFont(titleFont);
    const QRectF titleRow(-1.5 * v, top + 114 * v, w, 30 * v);
    if (pictureStyle) {
        p.setPen(QColor(0, 0, 0, 96));
        p.drawText(titleRow.translated(0, 1.2), Qt::AlignCenter, Lang::tr("程序被锁定"));
    }
    p.setPen(text);
    p.drawText(titleRow, Qt::AlignCenter, Lang::tr("程序被锁定"));

    if (!m_inputMode || !m_edit)
        return;

    const double opacity = 1 - std::pow(1 - m_fade, 3);
    const double dx = std::sin((1 - m_shake) * 4 * M_PI) * 7 * m_shake;
    const double dy = (1 - opacity) * 16 * v;
    const double left = (w - cardW) / 2 + dx;
    const double editTop = titleRow.top() + 43 * v + dy;
    m_edit->setGeometry(int(std::lround(left)), int(std::lround(editTop)), int(cardW), 40);

    p.save();
    p.setOpacity(opacity);
    double y = editTop + 40 + 10 * v;
    if (!m_error.isEmpty()) {
        const QFont ef = overlayFont(12 * v);
        const double tw = QFontMetricsF(ef).horizontalAdvance(m_error);
        const double dot = 6 * v;
        const double x0 = (w - (dot + 8 * v + tw)) / 2 + dx;
        const QColor red = pictureStyle ? QColor(255, 138, 147) : QColor(232, 17, 35);
        p.setPen(Qt::NoPen);
        p.setBrush(red);
        p.drawEllipse(QRectF(x0, y + (20 * v - dot) / 2, dot, dot));
        p.setFont(ef);
        p.setPen(red);
        p.drawText(QRectF(x0 + dot + 8 * v, y, tw + 2, 20 * v), Qt::AlignLeft | Qt::AlignVCenter, m_error);
        y += 28 * v;
    }
    m_mainRect = QRectF(left, y, cardW, 42);
    QColor button = pictureStyle ? QColor(58, 102, 216) : t.accent;
    if (m_pressed == 1)
        button = button.darker(110);
    else if (m_hovered == 1)
        button = button.lighter(105);
    p.setPen(Qt::NoPen);
    p.setBrush(button);
    p.drawRoundedRect(m_mainRect, 8, 8);
    p.setPen(Qt::white);
    p.setFont(overlayFont(16 * v, 600));
    p.drawText(m_mainRect, Qt::AlignCenter, m_removeMode ? Lang::tr("移除并解锁") : Lang::tr("解  锁"));

    // The links row, inside one capsule.
    const QFont lf = overlayFont(13 * v);
    const QFontMetricsF lfm(lf);
    const double linkTop = m_mainRect.bottom() + 12 * v;
    const double linkH = 22 * v + 4 * v;
    const QString first = m_removeMode ? Lang::tr("返回解锁") : Lang::tr("移除密码");
    const double w1 = lfm.horizontalAdvance(first) + 16 * v;
    const QString second = Lang::tr("忘记密码");
    const double w2 = m_removeMode ? 0.0 : lfm.horizontalAdvance(second) + 16 * v;
    const double gap = m_removeMode ? 0.0 : 26 * v;
    const double rowLeft = (w - (w1 + gap + w2)) / 2 + dx;
    m_secondaryRect = QRectF(rowLeft, linkTop, w1, linkH);
    m_forgotRect = m_removeMode ? QRectF() : QRectF(rowLeft + w1 + gap, linkTop, w2, linkH);
    const QRectF capsule(rowLeft, linkTop, w1 + gap + w2, linkH);
    const bool linkHovered = m_hovered == 2 || m_hovered == 3;
    const int capsuleAlpha = pictureStyle ? (linkHovered ? 104 : 72) : t.isDark ? (linkHovered ? 96 : 64) : 30;
    p.setBrush(QColor(0, 0, 0, capsuleAlpha));
    p.drawRoundedRect(capsule, linkH / 2, linkH / 2);
    p.setFont(lf);
    auto linkColour = [&](bool hovered) {
        if (hovered)
            return pictureStyle ? QColor(Qt::white) : t.accent;
        return pictureStyle ? QColor(255, 255, 255, 244) : secondary;
    };
    p.setPen(linkColour(m_hovered == 2));
    p.drawText(m_secondaryRect.adjusted(8 * v, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, first);
    if (!m_removeMode) {
        p.setPen(pictureStyle ? QColor(255, 255, 255, 150) : secondary);
        p.drawText(QRectF(m_secondaryRect.right(), linkTop, gap, linkH), Qt::AlignCenter, QStringLiteral("·"));
        p.setPen(linkColour(m_hovered == 3));
        p.drawText(m_forgotRect.adjusted(8 * v, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, second);
    }
    p.restore();
}

int UiLockOverlay::titleButtonAt(const QPointF& pos) const
{
    if (m_closeRect.contains(pos))
        return 2;
    if (m_minRect.contains(pos))
        return 1;
    return 0;
}

int UiLockOverlay::elementAt(const QPointF& pos) const
{
    if (!m_inputMode)
        return 0;
    if (m_mainRect.contains(pos))
        return 1;
    if (m_secondaryRect.contains(pos))
        return 2;
    if (m_forgotRect.contains(pos))
        return 3;
    return 0;
}

void UiLockOverlay::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton || m_unlocking)
        return;
    const QPointF pos = event->position();
    if (const int title = titleButtonAt(pos)) {
        m_pressedTitle = title;
        update();
        return;
    }
    if (const int element = elementAt(pos)) {
        m_pressed = element;
        update();
        return;
    }
    m_pressPos = pos.toPoint();
    m_moving = false;
    if (!m_holdTimer) {
        m_holdTimer = new QTimer(this);
        m_holdTimer->setObjectName(QStringLiteral("lockOverlayHold"));
        m_holdTimer->setSingleShot(true);
        m_holdTimer->setInterval(260);
        connect(m_holdTimer, &QTimer::timeout, this, [this] {
            if (QWindow* handle = window()->windowHandle()) {
                m_moving = true;
                handle->startSystemMove();
            }
        });
    }
    m_holdTimer->start();
}

void UiLockOverlay::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!(event->buttons() & Qt::LeftButton))
        m_moving = false;
    if (m_holdTimer && m_holdTimer->isActive() && (event->position().toPoint() - m_pressPos).manhattanLength() > 4)
        m_holdTimer->stop();
    const int title = titleButtonAt(event->position());
    const int element = elementAt(event->position());
    if (title != m_hoveredTitle || element != m_hovered) {
        m_hoveredTitle = title;
        m_hovered = element;
        update();
    }
}

void UiLockOverlay::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (m_holdTimer)
        m_holdTimer->stop();
    const QPointF pos = event->position();
    if (m_pressedTitle) {
        const int pressed = m_pressedTitle;
        m_pressedTitle = 0;
        update();
        if (titleButtonAt(pos) == pressed) {
            if (pressed == 1)
                window()->showMinimized();
            else
                window()->close();
        }
        return;
    }
    if (m_moving) {
        m_moving = false;
        return;
    }
    if (event->button() != Qt::LeftButton || m_unlocking)
        return;
    if (m_inputMode) {
        const int pressed = m_pressed;
        m_pressed = 0;
        update();
        if (pressed == 0 || elementAt(pos) != pressed)
            return;
        if (pressed == 1)
            submitPassword();
        else if (pressed == 2)
            setMode(!m_removeMode);
        else
            ktr::openServicePage(this, QStringLiteral("/forgot-lock.html"));
        return;
    }
    setMode(false);
}

void UiLockOverlay::wheelEvent(QWheelEvent* event)
{
    event->accept();
}

void UiLockOverlay::keyPressEvent(QKeyEvent* event)
{
    // Every key ends here: the base class would hand it on to the panel, where keys launch items.
    event->accept();
    const int key = event->key();
    if (key == Qt::Key_Escape) {
        if (m_inputMode)
            leaveInputMode();
    } else if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !m_inputMode) {
        setMode(false);
    }
}

bool UiLockOverlay::focusNextPrevChild(bool)
{
    // Tab stays on the lock screen instead of walking into the covered grid.
    if (m_inputMode && m_edit)
        m_edit->setFocus(Qt::TabFocusReason);
    else
        setFocus(Qt::TabFocusReason);
    return true;
}

void UiLockOverlay::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    if (m_hoveredTitle || m_hovered) {
        m_hoveredTitle = m_hovered = 0;
        update();
    }
}

void UiLockOverlay::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_video)
        m_video->setTargetSize(devicePixelSize());
    if (m_movie) {
        if (!m_resizeTimer) {
            m_resizeTimer = new QTimer(this);
            m_resizeTimer->setObjectName(QStringLiteral("lockOverlayResize"));
            m_resizeTimer->setSingleShot(true);
            m_resizeTimer->setInterval(200);
            connect(m_resizeTimer, &QTimer::timeout, this, [this] {
                if (m_movie && m_movie->scaledSize() != devicePixelSize()) {
                    m_movie->stop();
                    m_movie->setScaledSize(devicePixelSize());
                    m_movie->start();
                }
            });
        }
        m_resizeTimer->start();
    }
    m_coverW = m_coverH = -1;
}

void UiLockOverlay::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_guarding) {
        qApp->installEventFilter(this);
        m_guarding = true;
    }
    updateAnimationTimer();
}

void UiLockOverlay::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_guarding) {
        qApp->removeEventFilter(this);
        m_guarding = false;
    }
    updateAnimationTimer();
}

bool UiLockOverlay::isForPanel(QObject* watched) const
{
    if (!watched->isWidgetType())
        return false;
    auto* w = static_cast<QWidget*>(watched);
    return w->window() == window() && w != this && !isAncestorOf(w);
}

bool UiLockOverlay::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        static_cast<QDropEvent*>(event)->ignore();
        return true;
    default:
        return QWidget::event(event);
    }
}

bool UiLockOverlay::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == m_edit && type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        leaveInputMode();
        return true;
    }
    if (!isVisible())
        return false;
    const bool ours = watched == this || watched == m_edit;
    switch (type) {
    case QEvent::ShortcutOverride:
        // Claiming the override keeps every window shortcut of the panel (Ctrl+F and the like) from firing;
        // the key then arrives as a plain key press, which the lock screen swallows.
        if (ours || isForPanel(watched)) {
            event->accept();
            return !ours;
        }
        return false;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::Wheel:
        if (isForPanel(watched)) {
            if (type == QEvent::KeyPress && !hasFocus() && !(m_edit && m_edit->hasFocus()))
                QTimer::singleShot(0, this, [this] {
                    if (isVisible())
                        (m_inputMode && m_edit ? static_cast<QWidget*>(m_edit) : this)->setFocus();
                });
            return true;
        }
        return false;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        if (isForPanel(watched)) {
            static_cast<QDropEvent*>(event)->ignore();
            return true;
        }
        return false;
    default:
        return false;
    }
}
