#include "platform/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace ktr::platform {

namespace {

constexpr qint64 kMaxEntrySize = 64 * 1024;

// One argument of an Exec line: double-quoted with the four reserved characters escaped, "%" doubled
// (it starts field codes), then escaped once more as a string value of a desktop entry.
QString execArgument(const QString& arg)
{
    QString quoted;
    for (const QChar ch : arg) {
        if (ch == QLatin1Char('"') || ch == QLatin1Char('`') || ch == QLatin1Char('$') || ch == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (ch == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += ch;
    }
    quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
    QString value;
    for (const QChar ch : std::as_const(quoted)) {
        if (ch == QLatin1Char('\\'))
            value += QLatin1String("\\\\");
        else if (ch == QLatin1Char('\n'))
            value += QLatin1String("\\n");
        else if (ch == QLatin1Char('\r'))
            value += QLatin1String("\\r");
        else if (ch == QLatin1Char('\t'))
            value += QLatin1String("\\t");
        else
            value += ch;
    }
    return value;
}

} // namespace

bool isInstalledProgram(const QString& program)
{
    if (program.isEmpty())
        return false;
    return QFileInfo(QFileInfo(program).absolutePath() + QLatin1Char('/') + QLatin1String(kInstallMarkerName)).isFile();
}

QString autostartFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/KestrunePanel.desktop");
}

QByteArray autostartEntry(const QString& program)
{
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=KestrunePanel\n");
    text += QStringLiteral("Name[zh_CN]=青岚舟面板\n");
    text += QStringLiteral("Exec=") + execArgument(program) + QLatin1Char('\n');
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

QString madeFoldersRecordPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Kestrune/made-folders");
}

QStringList madeFolders()
{
    QFile file(madeFoldersRecordPath());
    QStringList folders;
    if (!file.open(QIODevice::ReadOnly))
        return folders;
    const QStringList lines = QString::fromUtf8(file.read(64 * 1024)).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (QDir::isAbsolutePath(line) && !folders.contains(QDir::cleanPath(line)))
            folders.append(QDir::cleanPath(line));
    }
    return folders;
}

namespace {

// Notes a folder the program has just made, so the uninstall takes it away again.
void recordMadeFolder(const QString& folder)
{
    const QString record = madeFoldersRecordPath();
    if (madeFolders().contains(QDir::cleanPath(folder)) || !QDir().mkpath(QFileInfo(record).absolutePath()))
        return;
    QFile file(record);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QDir::cleanPath(folder).toUtf8() + '\n');
}

} // namespace

int setAutostart(bool on, const QString& program, QString* error)
{
    const QString path = autostartFilePath();
    if (!on) {
        QFile file(path);
        if (!QFileInfo(path).isFile() && !QFileInfo(path).isSymLink())
            return 0;
        if (file.remove())
            return 0;
        if (error)
            *error = QStringLiteral("cannot remove %1: %2").arg(path, file.errorString());
        return int(file.error() != QFileDevice::NoError ? file.error() : QFileDevice::RemoveError);
    }

    const QByteArray entry = autostartEntry(program);
    QFile current(path);
    if (current.size() == entry.size() && current.open(QIODevice::ReadOnly) && current.read(kMaxEntrySize) == entry)
        return 0;
    current.close();

    const QString folder = QFileInfo(path).absolutePath();
    const bool folderWasThere = QFileInfo(folder).isDir();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("cannot create the folder of %1").arg(path);
        return int(QFileDevice::OpenError);
    }
    if (!folderWasThere)
        recordMadeFolder(folder);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return int(file.error() != QFileDevice::NoError ? file.error() : QFileDevice::OpenError);
    }
    if (file.write(entry) != entry.size()) {
        file.cancelWriting();
        if (error)
            *error = QStringLiteral("short write to %1: %2").arg(path, file.errorString());
        return int(QFileDevice::WriteError);
    }
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("cannot commit %1: %2").arg(path, file.errorString());
        return int(file.error() != QFileDevice::NoError ? file.error() : QFileDevice::WriteError);
    }
    return 0;
}

} // namespace ktr::platform
