// The floor bench_startup measures the panel against: an empty frameless Qt widget window, linked against
// Qt Widgets alone. It prints the wall-clock time (milliseconds since the epoch) of the loop turn right after
// its first paint, then quits.
#include <QApplication>
#include <QDateTime>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class EmptyWindow : public QWidget
{
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(36, 40, 48));
        if (m_painted)
            return;
        m_painted = true;
        QTimer::singleShot(0, this, [] {
            std::printf("painted %.3f\n", QDateTime::currentMSecsSinceEpoch() * 1.0);
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    }

private:
    bool m_painted = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    EmptyWindow window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.resize(680, 496);
    window.show();
    return QApplication::exec();
}
