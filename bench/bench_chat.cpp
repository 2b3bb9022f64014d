// Scrolls the support chat through a conversation of 500 messages with 120 pictures, one wheel step per
// repaint, from the newest message to the oldest and back: the mean and the slowest repaint, and the first
// layout of the column. The worst repaint follows the machine's load; the 99th percentile much less.
#include "support/supportchatdialog.h"
#include "ui/theme.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QWheelEvent>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installUiFontSubstitutions();

    SupportChatDialog dlg;
    QList<SupportChatDialog::ChatMessage> list;
    const QStringList texts{"你好，我的面板打不开了", "请问是哪个版本？",
                            "Version 1.0.0 on Debian 12 with an X11 session",
                            "收到，我们会尽快处理。这是一条较长的消息，用来看看换行是否正确，也让布局多算几行。", ""};
    int pictures = 0;
    for (int i = 0; i < 500; ++i) {
        SupportChatDialog::ChatMessage m;
        m.mine = i % 2 == 0;
        m.text = texts[i % texts.size()];
        if (i % 4 == 0 && pictures < 120) {
            m.img = QStringLiteral("local:%1").arg(pictures++);
            QImage pic(i % 8 ? QSize(600, 400) : QSize(200, 700), QImage::Format_RGB32);
            pic.fill(QColor::fromHsv((i * 37) % 360, 140, 220));
            dlg.cachePicture(m.img, QPixmap::fromImage(SupportChatDialog::fitPicture(pic, 1.0)));
        }
        if (m.text.isEmpty() && m.img.isEmpty())
            m.text = QStringLiteral("ok");
        list.append(m);
    }
    dlg.setMessages(list);

    QImage target(dlg.size(), QImage::Format_ARGB32_Premultiplied);
    QElapsedTimer layout;
    layout.start();
    dlg.layoutMessages();
    const double layoutMs = double(layout.nsecsElapsed()) / 1e6;
    dlg.render(&target);

    const auto step = [&](int delta) {
        QWheelEvent e(QPointF(200, 200), QPointF(200, 200), {}, QPoint(0, delta), Qt::NoButton, {}, Qt::NoScrollPhase,
                      false);
        QApplication::sendEvent(&dlg, &e);
        QElapsedTimer t;
        t.start();
        dlg.render(&target);
        return t.nsecsElapsed();
    };
    qint64 total = 0;
    qint64 worst = 0;
    int frames = 0;
    std::vector<qint64> all;
    const int steps = dlg.maxScroll() / 48 + 1;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < steps; ++i) {
            const qint64 up = step(120);
            total += up;
            all.push_back(up);
            worst = std::max(worst, up);
            ++frames;
        }
        for (int i = 0; i < steps; ++i) {
            const qint64 down = step(-120);
            total += down;
            all.push_back(down);
            worst = std::max(worst, down);
            ++frames;
        }
    }
    std::printf("messages: %d\n", int(dlg.messages().size()));
    std::printf("pictures: %d\n", int(dlg.pictures().size()));
    std::printf("layout of the column: %.2f ms\n", layoutMs);
    std::printf("scroll repaint mean: %.3f ms\n", double(total) / frames / 1e6);
    std::sort(all.begin(), all.end());
    std::printf("scroll repaint p99: %.3f ms\n", double(all[all.size() * 99 / 100]) / 1e6);
    std::printf("scroll repaint worst: %.3f ms\n", double(worst) / 1e6);
    std::printf("frames: %d\n", frames);
    return 0;
}
