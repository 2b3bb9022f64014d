// The floor bench_idle compares the panel with: an empty frameless Qt window of the panel's first size.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.resize(680, 496);
    window.show();
    return app.exec();
}
