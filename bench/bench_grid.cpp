// Paints a 1400 x 1000 icon grid of 120 visible cells with warm caches: a full repaint, and the repaint of the
// two cells a hover change touches. With "--png <folder>" it also saves the grid in both themes.
#include "panel/icongrid.h"
#include "ui/theme.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

QPixmap makeIcon(int i)
{
    QImage img(128, 128, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(48, 40), 90);
    g.setColorAt(0, QColor::fromHsv((i * 47) % 360, 120, 255));
    g.setColorAt(1, QColor::fromHsv((i * 47) % 360, 230, 170));
    p.setBrush(g);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(8, 8, 112, 112), 24, 24);
    return QPixmap::fromImage(img);
}

template <typename F> double bestOf(int runs, F&& f)
{
    qint64 best = std::numeric_limits<qint64>::max();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        best = std::min(best, t.nsecsElapsed());
    }
    return double(best) / 1e6;
}

const char* kNames[] = {"终端",
                        "文本编辑器",
                        "系统监视器",
                        "设置",
                        "计算器",
                        "文件管理器",
                        "一个非常非常长的应用程序名称用来测试换行",
                        "Firefox Web Browser",
                        "LibreOffice Writer",
                        "截图",
                        "音乐",
                        "视频"};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installUiFontSubstitutions();
    QApplication::setFont(QFont(uiFontFamily(), 9));
    QString pngDir;
    for (int i = 1; i + 1 < argc; ++i) {
        if (QByteArray(argv[i]) == "--png")
            pngDir = QString::fromLocal8Bit(argv[i + 1]);
    }

    QList<Group> groups{Group{QStringLiteral("常用"), {}}};
    IconCacheMap cache;
    for (int i = 0; i < 120; ++i) {
        Item it;
        it.path = QStringLiteral("/usr/share/applications/app-%1.desktop").arg(i);
        it.name = QString::fromUtf8(kNames[i % std::size(kNames)]);
        groups[0].items.append(it);
        cache.insert(it.path, makeIcon(i));
    }
    int current = 0;
    IconGrid grid;
    grid.attachOwner(&groups, &current);
    grid.setIconCache(&cache);
    grid.resize(1400, 1000);
    grid.setInvalidPaths({groups[0].items[5].path});

    QImage img(grid.size(), QImage::Format_ARGB32_Premultiplied);
    const auto full = [&] { grid.render(&img, QPoint(), QRegion(), QWidget::DrawChildren); };
    full(); // warm the display and label caches
    if (grid.visiblePositions().size() != 120)
        return 2;

    const double fullMs = bestOf(50, full);
    const QRect a = grid.cellRect(20).adjusted(-2, -2, 2, 2);
    const QRect b = grid.cellRect(21).adjusted(-2, -2, 2, 2);
    const double hoverMs =
        bestOf(200, [&] { grid.render(&img, a.topLeft(), QRegion(a) + QRegion(b), QWidget::DrawChildren); });
    std::printf("grid full repaint (1400x1000, 120 cells): %.3f ms\n", fullMs);
    std::printf("grid hover repaint (2 cells): %.3f ms\n", hoverMs);

    if (!pngDir.isEmpty()) {
        for (const bool dark : {false, true}) {
            setDarkTheme(dark);
            for (const int columns : {0, 6}) {
                grid.setColumns(columns);
                grid.setIconSize(48);
                // One hovered cell and the keyboard cursor on another, as a user sees them.
                const QPoint hover = grid.cellRect(2).center();
                QMouseEvent move(QEvent::MouseMove, hover, grid.mapToGlobal(hover), Qt::NoButton, Qt::NoButton,
                                 Qt::NoModifier);
                QApplication::sendEvent(&grid, &move);
                QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
                QApplication::sendEvent(&grid, &home);
                QImage shot(grid.size(), QImage::Format_ARGB32_Premultiplied);
                shot.fill(Qt::gray);
                grid.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
                shot.save(QStringLiteral("%1/grid-%2-%3.png")
                              .arg(pngDir, dark ? QStringLiteral("dark") : QStringLiteral("light"))
                              .arg(columns));
            }
        }
    }
    return 0;
}
