#include "app/qmain.h"

#include <QApplication>
#include <QWidget>

int qMain(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget w;
    w.resize(800, 600);
    w.show();
    return app.exec();
}
