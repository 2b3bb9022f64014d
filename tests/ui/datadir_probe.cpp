// Prints the data folder as the program finds it, from wherever this executable was copied to.
// With the argument "drop-marker" it removes "portable.ini" after the first look and prints it again.
#include "ui/datadir.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KestrunePanel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrune"));
    std::printf("%s\n", appDataDir().toUtf8().constData());
    if (argc > 1 && qstrcmp(argv[1], "drop-marker") == 0) {
        QFile::remove(QCoreApplication::applicationDirPath() + QStringLiteral("/portable.ini"));
        std::printf("%s\n", appDataDir().toUtf8().constData());
    }
    return 0;
}
