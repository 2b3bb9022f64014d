#include "panelprocess.h"

#include "testenv.h"

#include <QDir>
#include <QDirIterator>

namespace ktr::test {

QString panelDataDir()
{
    return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Kestrune/KestrunePanel");
}

QString panelLogText()
{
    QStringList files;
    QDirIterator it(panelDataDir() + QStringLiteral("/logs"), {QStringLiteral("app.log")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    QString out;
    for (const QString& f : files)
        out += QString::fromUtf8(readFile(f));
    return out;
}

QStringList panelLogLines()
{
    return panelLogText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace ktr::test
