#include "ui/appsettings.h"

#include <QGuiApplication>

int defaultRevealMethod(const QString& platform)
{
    return platform == QLatin1String("xcb") ? 3 : 1;
}

int defaultRevealMethod()
{
    return defaultRevealMethod(QGuiApplication::platformName());
}
