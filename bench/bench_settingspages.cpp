// The settings dialog's icon management and protection pages with 2,000 items (20 groups of 100): the repaint
// after one wheel step, the repaint after the pointer moves onto another row's button, and the relayout a row
// click costs. Each figure is the median, the 95th percentile and the worst of many runs over the whole page. With
// "--png <folder>" it also saves both pages, scrolled halfway, in both themes.
#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "model/panelmodel.h"
#include "settings/settingsdialog.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QPixmap makeIcon(int i)
{
    QImage img(48, 48, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor::fromHsv((i * 37) % 360, 160, 230));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(4, 4, 40, 40), 9, 9);
    return QPixmap::fromImage(img);
}

struct Figures
{
    double median = 0;
    double p95 = 0;
    double worst = 0;
};

Figures summarise(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back()};
}

void wheel(SettingsDialog& d, int delta)
{
    QWheelEvent e(QPointF(400, 300), d.mapToGlobal(QPointF(400, 300)), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&d, &e);
}

void move(SettingsDialog& d, const QPoint& at)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(at), d.mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(&d, &e);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installUiFontSubstitutions();
    QString pngDir;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--png")
            pngDir = QString::fromLocal8Bit(argv[i + 1]);

    QList<Group> groups;
    for (int g = 0; g < 20; ++g) {
        Group group;
        group.name = QStringLiteral("分组 %1").arg(g + 1);
        for (int i = 0; i < 100; ++i) {
            Item item;
            item.name = QStringLiteral("应用程序 %1-%2").arg(g + 1).arg(i + 1);
            item.path = QStringLiteral("/usr/share/applications/bench-%1-%2.desktop").arg(g).arg(i);
            item.hidden = i % 9 == 0;
            group.items.append(item);
        }
        groups.append(group);
    }
    // No extraction on the icon pool while the figures are taken: the paths are made up.
    setIconExtractorForTesting([](const QString&) { return QImage(); });
    // The icon cache keeps a few hundred icons; the rest show their outline, as on a real panel of this size.
    for (int i = 0; i < 2000; ++i)
        cacheIconPixmap(groups[i / 100].items[i % 100].path, makeIcon(i));

    AppSettings settings;
    SettingsDialog dialog(&settings, QStringLiteral("/tmp"), {}, {}, {}, {}, {}, {}, {}, &groups, {}, {}, {}, {});
    dialog.showProtectPage(); // no password here: the page opens without asking
    QImage canvas(dialog.size(), QImage::Format_ARGB32_Premultiplied);
    const auto paint = [&] { dialog.render(&canvas); };

    for (const int page : {3, 5}) {
        if (page == 3)
            dialog.setPage(3);
        else
            dialog.showProtectPage();
        const int rows = page == 3 ? int(dialog.iconRows().size()) : int(dialog.protectRows().size());
        if (rows != 2000)
            return 2;
        paint();
        std::vector<double> scroll, hover, relayout;
        QElapsedTimer t;
        for (int i = 0; i < 200; ++i) {
            t.start();
            wheel(dialog, i < 100 ? -120 : 120);
            paint();
            scroll.push_back(t.nsecsElapsed() / 1e6);
        }
        // Scrolled into the middle of the list, the pointer walks over the rows' buttons.
        for (int i = 0; i < 60; ++i)
            wheel(dialog, -120);
        for (int i = 0; i < 200; ++i) {
            const int y = 80 + (i * 23) % (dialog.height() - 160);
            const int x = i % 2 ? dialog.width() - 60 : dialog.width() / 2;
            t.start();
            move(dialog, QPoint(x, y));
            paint();
            hover.push_back(t.nsecsElapsed() / 1e6);
        }
        for (int i = 0; i < 20; ++i) {
            t.start();
            dialog.relayout();
            relayout.push_back(t.nsecsElapsed() / 1e6);
        }
        const char* name = page == 3 ? "icon page" : "protection page";
        const Figures s = summarise(scroll), h = summarise(hover), r = summarise(relayout);
        std::printf("%s scroll repaint median (2000 items): %.3f ms\n", name, s.median);
        std::printf("%s scroll repaint p95 (2000 items): %.3f ms\n", name, s.p95);
        std::printf("%s scroll repaint worst (2000 items): %.3f ms\n", name, s.worst);
        std::printf("%s hover repaint median (2000 items): %.3f ms\n", name, h.median);
        std::printf("%s hover repaint p95 (2000 items): %.3f ms\n", name, h.p95);
        std::printf("%s hover repaint worst (2000 items): %.3f ms\n", name, h.worst);
        std::printf("%s relayout median (2000 items): %.3f ms\n", name, r.median);

        if (!pngDir.isEmpty()) {
            for (const bool dark : {false, true}) {
                setDarkTheme(dark);
                QImage shot(dialog.size(), QImage::Format_ARGB32_Premultiplied);
                shot.fill(Qt::gray);
                dialog.render(&shot);
                shot.save(
                    QStringLiteral("%1/settings-page%2-%3.png").arg(pngDir).arg(page).arg(dark ? "dark" : "light"));
            }
            setDarkTheme(false);
        }
    }
    return 0;
}
