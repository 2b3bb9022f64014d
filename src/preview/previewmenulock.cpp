#include "preview/previewgenerators.h"

#include "lock/uilockoverlay.h"
#include "preview/uipreview.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>

#include <memory>

void previewItemMenu(const QString& folder, const UiPreviewKit& kit)
{
    if (!kit.styleMenu || !kit.menuIcon)
        return;
    QMenu menu;
    kit.styleMenu(&menu);
    const bool dark = currentTheme().isDark;
    const QColor normal = dark ? QColor(0xC7, 0xCE, 0xDB) : QColor(0x4A, 0x51, 0x5E);
    const QColor muted = dark ? QColor(0x9A, 0xA2, 0xB2) : QColor(0x6C, 0x75, 0x84);
    auto add = [&](const char* text, int kind, const QColor& colour, bool enabled = true) {
        QAction* a = menu.addAction(kit.menuIcon(kind, colour), Lang::tr(text));
        a->setEnabled(enabled);
        return a;
    };
    add("打开", 0, normal);
    add("以管理员身份运行", 1, normal, false);
    add("打开所在位置", 2, normal);
    menu.addSeparator();
    add("编辑...", 11, normal);
    add("重新定位...", 2, normal);
    add("恢复默认图标", 10, muted, false);
    add("复制完整路径", 12, normal);
    add("创建桌面快捷方式", 13, normal);
    menu.addSeparator();
    QMenu* move = menu.addMenu(kit.menuIcon(3, normal), Lang::tr("移动到分组"));
    move->addAction(Lang::tr("常用"));
    add("悬浮", 5, normal);
    menu.addSeparator();
    add("从面板移除", 14, QColor(0xD9, 0x53, 0x4F));

    const QString floating = Lang::tr("悬浮");
    for (QAction* a : menu.actions()) {
        if (!a->isSeparator() && a->text() == floating) {
            menu.setActiveAction(a);
            break;
        }
    }
    menu.ensurePolished();
    menu.adjustSize();
    menu.show();
    QApplication::processEvents();
    const QPixmap grab = menu.grab();
    menu.hide();

    // The menu's translucent corners come out white.
    QImage out(grab.size(), QImage::Format_ARGB32);
    out.fill(Qt::white);
    {
        QPainter p(&out);
        p.drawPixmap(0, 0, grab);
    }
    out.save(folder + QStringLiteral("/item-menu.png"));
}

void renderLockOverlayPng(const QString& folder, const QString& name, const QSize& size, const QString& backgroundPath)
{
    UiLockOverlay overlay;
    overlay.resize(size);
    if (!backgroundPath.isEmpty())
        overlay.setBackgroundPath(backgroundPath);
    overlay.grab().save(folder + QLatin1Char('/') + name);
}

void previewLockOverlay(const QString& folder)
{
    renderLockOverlayPng(folder, QStringLiteral("lock-overlay-landscape.png"), QSize(900, 520));
    renderLockOverlayPng(folder, QStringLiteral("lock-overlay-portrait.png"), QSize(420, 700));
    const bool wasDark = currentTheme().isDark;
    setDarkTheme(true);
    renderLockOverlayPng(folder, QStringLiteral("lock-overlay-dark.png"), QSize(900, 520));
    setDarkTheme(wasDark);

    {
        UiLockOverlay overlay;
        overlay.resize(900, 520);
        overlay.setMode(UiLockOverlay::Mode::Unlock);
        // Entering the mode starts a fade; run it to its end so the card shows at full strength.
        for (int i = 0; i < 8; ++i)
            overlay.animationTick();
        if (QLineEdit* edit = overlay.passwordEdit())
            edit->show();
        overlay.update();
        overlay.grab().save(folder + QStringLiteral("/lock-overlay-unlock.png"));
    }

    const QString sample = folder + QStringLiteral("/_lockbg-sample.png");
    {
        QImage bg(1200, 760, QImage::Format_ARGB32);
        QPainter p(&bg);
        QLinearGradient gradient(0, 0, 1200, 760);
        gradient.setColorAt(0, QColor(0x2F, 0x6D, 0xD6));
        gradient.setColorAt(0.5, QColor(0x8E, 0x54, 0xC8));
        gradient.setColorAt(1, QColor(0xE0, 0x8A, 0x4A));
        p.fillRect(bg.rect(), gradient);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 46));
        p.drawEllipse(QRect(60, -20, 440, 440));
        p.drawEllipse(QRect(680, 320, 600, 600));
        p.end();
        bg.save(sample);
    }
    renderLockOverlayPng(folder, QStringLiteral("lock-overlay-photo.png"), QSize(900, 520), sample);
    QFile::remove(sample);
}
