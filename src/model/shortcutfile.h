#pragma once

#include <QString>
#include <QStringList>

#include <utility>

// The fields of a desktop shortcut. On a freedesktop desktop a shortcut is a .desktop entry: `Exec` holds the
// target and its arguments (with a "pkexec" in front when it runs as administrator), `Path` the working folder,
// `Icon` the icon. `arguments` is one command-line string, split by the rules of QProcess::splitCommand.
struct ShortcutInfo
{
    QString target;
    QString workingDir;
    QString arguments;
    QString iconPath;
    int iconIndex = 0; // .desktop icons have no index: read as 0, not written
    bool runAsAdmin = false;
};

// Reads the [Desktop Entry] group of a .desktop file. On failure `info` holds the default record and `error` a
// translated message; on success `error` is left untouched.
bool readShortcut(const QString& path, ShortcutInfo* info = nullptr, QString* error = nullptr);

// Writes the fields into the .desktop file at path, creating it when missing. An existing file is read first and
// keeps every line, key, comment and group that the fields do not change. An empty working folder or icon keeps
// the file's own; the arguments are always written. UTF-8, written whole and atomically.
bool writeShortcut(const QString& path, const ShortcutInfo& info, QString* error = nullptr);

// The argument vector of a desktop entry's Exec value (already unescaped from the file's string escapes), with
// field codes (%f, %U, %i, ...) removed and %% turned into %. Accepts double quotes with their backslash escapes,
// and single quotes as the common launchers do. fieldCodes, when given, receives each argument that was nothing
// but field codes, as written ("%U"), with the number of arguments returned before it.
QStringList desktopExecArguments(const QString& exec, QList<std::pair<qsizetype, QString>>* fieldCodes = nullptr);

// The Exec value for an argument vector, each argument quoted when it must be, % written as %%.
QString desktopExecString(const QStringList& arguments);

// An entry's arguments string (QProcess::splitCommand rules, as entries and shortcuts hold it) written as an
// Exec line quotes its arguments: double quotes with \" \` \$ \\ escapes, where needed. The shortcut dialog shows
// this form and reads it back with commandLineFromExecQuoted, which also takes single quotes; a % is a plain
// character here (field codes are kept by writeShortcut, not typed).
QString execQuotedArguments(const QString& commandLine);
QString commandLineFromExecQuoted(const QString& text);

// What opening a desktop entry without files or URLs runs: its Exec line split as desktopExecArguments does,
// with the codes that describe the entry itself expanded: %i to "--icon" and the entry's Icon as two
// arguments (nothing when Icon is unset), %c to its name for locale (desktopEntryName), %k to the entry
// file's path. The file and URL codes go away, %% is %. A leading pkexec becomes runAsAdmin; an
// "env NAME=value" prefix stays part of the command. False when the file can't be read or runs nothing.
struct DesktopEntryLaunch
{
    QString program;
    QStringList arguments;
    QString workingDir; // Path=
    bool runAsAdmin = false;
};
bool desktopEntryLaunch(const QString& path, const QString& locale, DesktopEntryLaunch* launch);

// The name a desktop entry gives itself, as launchers show it: Name[lang_COUNTRY], then Name[lang], then Name of
// its [Desktop Entry] group, for a locale such as "zh_CN" (an encoding or modifier is ignored). Empty when the
// file can't be read or names nothing.
QString desktopEntryName(const QString& path, const QString& locale);

// The locale desktop entries are named in: the panel's language ("zh_CN" or "en_US").
QString desktopEntryLocale();
