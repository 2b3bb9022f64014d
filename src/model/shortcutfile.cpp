#include "model/shortcutfile.h"

#include "ui/lang.h"
#include "ui/savefile.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>

namespace {

// A .desktop file is a few kilobytes; anything this large is not one.
constexpr qint64 kMaxDesktopFileSize = 1024 * 1024;

const char* const kMsgMissing = "快捷方式文件不存在";
const char* const kMsgRead = "无法读取快捷方式（可能被占用）";
const char* const kMsgWrite = "快捷方式写入失败（目标可能被占用）";

const QByteArray kGroupHeader = QByteArrayLiteral("[Desktop Entry]");

bool fail(QString* error, const char* text)
{
    if (error)
        *error = Lang::tr(text);
    return false;
}

// The file as its lines, kept byte for byte so that lines we don't change are written back exactly.
struct EntryFile
{
    QList<QByteArray> lines;
    int groupStart = -1; // the "[Desktop Entry]" line
    int groupEnd = -1;   // one past the group's last line

    static EntryFile parse(const QByteArray& data)
    {
        EntryFile f;
        QByteArray text = data;
        if (text.startsWith("\xEF\xBB\xBF"))
            text.remove(0, 3);
        if (!text.isEmpty()) {
            f.lines = text.split('\n');
            if (text.endsWith('\n'))
                f.lines.removeLast();
        }
        for (QByteArray& line : f.lines)
            if (line.endsWith('\r'))
                line.chop(1);
        f.findGroup();
        return f;
    }

    void findGroup()
    {
        groupStart = groupEnd = -1;
        for (int i = 0; i < lines.size(); ++i) {
            const QByteArray t = lines[i].trimmed();
            if (!t.startsWith('['))
                continue;
            if (groupStart >= 0) {
                groupEnd = i;
                return;
            }
            if (t == kGroupHeader)
                groupStart = i;
        }
        if (groupStart >= 0)
            groupEnd = int(lines.size());
    }

    // The index of the first line of the group holding key (exactly, no locale), or -1.
    int find(const QByteArray& key, QByteArray* value = nullptr) const
    {
        for (int i = groupStart + 1; groupStart >= 0 && i < groupEnd; ++i) {
            const QByteArray& line = lines[i];
            const qsizetype eq = line.indexOf('=');
            if (eq < 0 || line.trimmed().startsWith('#'))
                continue;
            if (line.left(eq).trimmed() != key)
                continue;
            if (value) {
                QByteArray v = line.mid(eq + 1);
                qsizetype s = 0;
                while (s < v.size() && (v[s] == ' ' || v[s] == '\t'))
                    ++s;
                *value = v.mid(s);
            }
            return i;
        }
        return -1;
    }

    bool has(const QByteArray& key) const { return find(key) >= 0; }

    // Sets key in place (later duplicates of the key are dropped) or adds it after the group's last line.
    void set(const QByteArray& key, const QByteArray& escapedValue)
    {
        const QByteArray line = key + '=' + escapedValue;
        const int at = find(key);
        if (at >= 0) {
            lines[at] = line;
            for (int i = groupEnd - 1; i > at; --i) {
                const qsizetype eq = lines[i].indexOf('=');
                if (eq >= 0 && !lines[i].trimmed().startsWith('#') && lines[i].left(eq).trimmed() == key) {
                    lines.removeAt(i);
                    --groupEnd;
                }
            }
            return;
        }
        // Keep the blank lines that separate this group from the next one after the new key.
        int insertAt = groupEnd;
        while (insertAt - 1 > groupStart && lines[insertAt - 1].trimmed().isEmpty())
            --insertAt;
        lines.insert(insertAt, line);
        ++groupEnd;
    }

    QByteArray serialize() const
    {
        QByteArray out;
        for (const QByteArray& line : lines)
            out += line + '\n';
        return out;
    }
};

// The string escapes of desktop entry values: \s \n \t \r \\ (others are kept as written).
QString unescapeValue(const QByteArray& raw)
{
    const QString s = QString::fromUtf8(raw);
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != u'\\' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        const QChar n = s[++i];
        switch (n.unicode()) {
        case 's':
            out += u' ';
            break;
        case 'n':
            out += u'\n';
            break;
        case 't':
            out += u'\t';
            break;
        case 'r':
            out += u'\r';
            break;
        case '\\':
            out += u'\\';
            break;
        default:
            out += u'\\';
            out += n;
        }
    }
    return out;
}

QByteArray escapeValue(const QString& value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u'\\')
            out += u"\\\\";
        else if (c == u'\n')
            out += u"\\n";
        else if (c == u'\t')
            out += u"\\t";
        else if (c == u'\r')
            out += u"\\r";
        else if (c == u' ' && i == 0)
            out += u"\\s"; // a leading blank would be taken for the blank after '='
        else
            out += c;
    }
    return out.toUtf8();
}

bool isPkexec(const QString& arg)
{
    return arg == u"pkexec" || arg.endsWith(u"/pkexec");
}

bool isEnv(const QString& arg)
{
    return arg == u"env" || arg == u"/usr/bin/env" || arg == u"/bin/env";
}

bool isAssignment(const QString& arg)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*="));
    return re.match(arg).hasMatch();
}

// An Exec command split into what the shortcut's fields hold and the "env NAME=value" prefix they don't.
struct ExecParts
{
    bool admin = false;
    QStringList envPrefix;
    QString program;
    QStringList arguments;
};

ExecParts splitExec(const QStringList& argv)
{
    ExecParts p;
    qsizetype i = 0;
    auto takeAdmin = [&] {
        // pkexec with options of its own (--user, ...) is not a plain elevation: leave it in the command.
        if (!p.admin && i + 1 < argv.size() && isPkexec(argv[i]) && !argv[i + 1].startsWith(u'-')) {
            p.admin = true;
            ++i;
        }
    };
    takeAdmin();
    if (i < argv.size() && isEnv(argv[i])) {
        qsizetype j = i + 1;
        while (j < argv.size() && isAssignment(argv[j]))
            ++j;
        if (j > i + 1 && j < argv.size()) {
            p.envPrefix = argv.mid(i, j - i);
            i = j;
            takeAdmin();
        }
    }
    if (i < argv.size()) {
        p.program = argv[i];
        p.arguments = argv.mid(i + 1);
    }
    return p;
}

// One command-line string that QProcess::splitCommand turns back into the same arguments (empty ones aside).
QString joinArguments(const QStringList& args)
{
    QStringList parts;
    for (const QString& a : args) {
        if (a.isEmpty())
            continue;
        bool plain = true;
        for (const QChar c : a)
            if (c.isSpace() || c == u'"')
                plain = false;
        if (plain) {
            parts += a;
            continue;
        }
        QString q = a;
        q.replace(QStringLiteral("\""), QStringLiteral("\"\"\""));
        parts += u'"' + q + u'"';
    }
    return parts.join(u' ');
}

} // namespace

namespace {

// What the field codes that describe the entry itself stand for when it is launched.
struct EntryFields
{
    QString icon;     // %i: "--icon" and this, as two arguments; nothing when empty
    QString name;     // %c
    QString location; // %k
};

QStringList execArguments(const QString& exec, bool withFieldCodes, QList<std::pair<qsizetype, QString>>* codesOut,
                          const EntryFields* fields = nullptr);
QString execString(const QStringList& arguments, bool withFieldCodes);

} // namespace

QStringList desktopExecArguments(const QString& exec, QList<std::pair<qsizetype, QString>>* codesOut)
{
    return execArguments(exec, true, codesOut);
}

QString desktopExecString(const QStringList& arguments)
{
    return execString(arguments, true);
}

QString execQuotedArguments(const QString& commandLine)
{
    return execString(QProcess::splitCommand(commandLine), false);
}

QString commandLineFromExecQuoted(const QString& text)
{
    return joinArguments(execArguments(text, false, nullptr));
}

namespace {

QStringList execArguments(const QString& exec, bool withFieldCodes, QList<std::pair<qsizetype, QString>>* codesOut,
                          const EntryFields* fields)
{
    static const QString fieldCodes = QStringLiteral("fFuUdDnNickvm");
    QStringList out;
    QString cur;
    QString codes;        // the field codes of the current argument, as written
    bool started = false; // an argument has begun (possibly empty, as "")
    bool hadText = false; // it holds more than field codes
    bool icon = false;    // it holds %i
    enum class Quote { None, Double, Single } quote = Quote::None;

    auto flush = [&] {
        // An argument that was nothing but field codes goes away with them; %i standing alone becomes two.
        if (started && hadText)
            out += cur;
        else if (started && icon && fields && !fields->icon.isEmpty())
            out << QStringLiteral("--icon") << fields->icon;
        else if (started && codesOut && !codes.isEmpty())
            codesOut->append({out.size(), codes});
        cur.clear();
        codes.clear();
        started = hadText = icon = false;
    };

    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        const QChar next = i + 1 < exec.size() ? exec[i + 1] : QChar();
        if (withFieldCodes && c == u'%' && quote != Quote::Single) {
            started = true;
            if (next == u'%') {
                cur += u'%';
                hadText = true;
                ++i;
            } else if (!next.isNull() && fieldCodes.contains(next)) {
                codes += c;
                codes += next;
                ++i;
                // The entry's own name and file are text within their argument; %i only counts alone.
                const QString* value = !fields        ? nullptr
                                       : next == u'c' ? &fields->name
                                       : next == u'k' ? &fields->location
                                                      : nullptr;
                if (value && !value->isEmpty()) {
                    cur += *value;
                    hadText = true;
                }
                icon = icon || (fields && next == u'i');
            } else {
                cur += c;
                hadText = true;
            }
            continue;
        }
        switch (quote) {
        case Quote::Double:
            if (c == u'"')
                quote = Quote::None;
            else if (c == u'\\' && (next == u'"' || next == u'`' || next == u'$' || next == u'\\')) {
                cur += next;
                ++i;
            } else
                cur += c;
            break;
        case Quote::Single:
            if (c == u'\'')
                quote = Quote::None;
            else
                cur += c;
            break;
        case Quote::None:
            if (c.isSpace()) {
                flush();
                continue;
            }
            started = hadText = true;
            if (c == u'"')
                quote = Quote::Double;
            else if (c == u'\'')
                quote = Quote::Single;
            else if (c == u'\\' && !next.isNull()) {
                cur += next;
                ++i;
            } else
                cur += c;
            break;
        }
    }
    flush();
    return out;
}

QString execString(const QStringList& arguments, bool withFieldCodes)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QStringList parts;
    for (const QString& a : arguments) {
        bool quote = a.isEmpty();
        for (const QChar c : a)
            if (reserved.contains(c))
                quote = true;
        QString s;
        if (quote) {
            s += u'"';
            for (const QChar c : a) {
                if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                    s += u'\\';
                s += c;
            }
            s += u'"';
        } else
            s = a;
        if (withFieldCodes)
            s.replace(QStringLiteral("%"), QStringLiteral("%%"));
        parts += s;
    }
    return parts.join(u' ');
}

} // namespace

bool readShortcut(const QString& path, ShortcutInfo* info, QString* error)
{
    if (info)
        *info = ShortcutInfo();
    if (!QFileInfo::exists(path))
        return fail(error, kMsgMissing);
    QByteArray data;
    if (ktr::readFileCapped(path, kMaxDesktopFileSize, &data) != ktr::ReadStatus::Ok)
        return fail(error, kMsgRead);
    const EntryFile f = EntryFile::parse(data);
    if (f.groupStart < 0)
        return fail(error, kMsgRead);
    if (!info)
        return true;

    QByteArray raw;
    if (f.find("Exec", &raw) >= 0) {
        const ExecParts p = splitExec(desktopExecArguments(unescapeValue(raw)));
        info->target = p.program;
        info->arguments = joinArguments(p.arguments);
        info->runAsAdmin = p.admin;
    }
    if (f.find("Path", &raw) >= 0)
        info->workingDir = unescapeValue(raw);
    if (f.find("Icon", &raw) >= 0)
        info->iconPath = unescapeValue(raw);
    return true;
}

QString desktopEntryLocale()
{
    return Lang::language() == 0 ? QStringLiteral("zh_CN") : QStringLiteral("en_US");
}

bool desktopEntryLaunch(const QString& path, const QString& locale, DesktopEntryLaunch* launch)
{
    QByteArray data;
    if (ktr::readFileCapped(path, kMaxDesktopFileSize, &data) != ktr::ReadStatus::Ok)
        return false;
    const EntryFile f = EntryFile::parse(data);
    QByteArray raw;
    if (f.groupStart < 0 || f.find("Exec", &raw) < 0)
        return false;
    EntryFields fields;
    QByteArray icon;
    if (f.find("Icon", &icon) >= 0)
        fields.icon = unescapeValue(icon).trimmed();
    fields.name = desktopEntryName(path, locale);
    fields.location = QFileInfo(path).absoluteFilePath();
    const ExecParts p = splitExec(execArguments(unescapeValue(raw), true, nullptr, &fields));
    if (p.program.isEmpty())
        return false;
    if (launch) {
        *launch = DesktopEntryLaunch();
        launch->program = p.envPrefix.isEmpty() ? p.program : p.envPrefix.first();
        launch->arguments = p.envPrefix.mid(1);
        if (!p.envPrefix.isEmpty())
            launch->arguments += p.program;
        launch->arguments += p.arguments;
        launch->runAsAdmin = p.admin;
        if (f.find("Path", &raw) >= 0)
            launch->workingDir = unescapeValue(raw);
    }
    return true;
}

QString desktopEntryName(const QString& path, const QString& locale)
{
    QByteArray data;
    if (ktr::readFileCapped(path, kMaxDesktopFileSize, &data) != ktr::ReadStatus::Ok)
        return {};
    const EntryFile f = EntryFile::parse(data);
    if (f.groupStart < 0)
        return {};
    QByteArray lang = locale.toUtf8();
    for (const char cut : {'.', '@'}) {
        const qsizetype at = lang.indexOf(cut);
        if (at >= 0)
            lang.truncate(at);
    }
    QList<QByteArray> keys;
    if (!lang.isEmpty()) {
        keys << "Name[" + lang + ']';
        const qsizetype underscore = lang.indexOf('_');
        if (underscore > 0)
            keys << "Name[" + lang.left(underscore) + ']';
    }
    keys << "Name";
    QByteArray raw;
    for (const QByteArray& key : std::as_const(keys)) {
        if (f.find(key, &raw) < 0)
            continue;
        const QString name = unescapeValue(raw).trimmed();
        if (!name.isEmpty())
            return name;
    }
    return {};
}

bool writeShortcut(const QString& path, const ShortcutInfo& info, QString* error)
{
    // Read what is there first: a rewrite keeps every key, comment and group it does not set.
    QByteArray data;
    const ktr::ReadStatus status = ktr::readFileCapped(path, kMaxDesktopFileSize, &data);
    if (status != ktr::ReadStatus::Ok && status != ktr::ReadStatus::Missing)
        return fail(error, kMsgWrite);
    EntryFile f = EntryFile::parse(data);
    if (f.groupStart < 0) {
        // Never replace a file that holds something other than a desktop entry.
        for (const QByteArray& line : f.lines) {
            const QByteArray t = line.trimmed();
            if (!t.isEmpty() && !t.startsWith('#'))
                return fail(error, kMsgWrite);
        }
        f.lines.append(kGroupHeader);
        f.findGroup();
    }

    QByteArray raw;
    ExecParts old;
    QList<std::pair<qsizetype, QString>> codes;
    qsizetype oldFirstArgument = 0;
    if (f.find("Exec", &raw) >= 0) {
        const QStringList oldArgv = desktopExecArguments(unescapeValue(raw), &codes);
        old = splitExec(oldArgv);
        oldFirstArgument = oldArgv.size() - old.arguments.size();
    }

    QStringList argv;
    if (info.runAsAdmin)
        argv += QStringLiteral("pkexec");
    argv += old.envPrefix;
    if (!info.target.isEmpty())
        argv += info.target;
    const qsizetype firstArgument = argv.size();
    const QStringList arguments = QProcess::splitCommand(info.arguments);
    argv += arguments;

    // The field codes say where the launcher puts the files and URLs the entry is opened with (%U, %f ...):
    // they are not fields of the shortcut, so they stay. With the arguments unchanged each one keeps its place
    // among them, otherwise they follow the new arguments.
    QStringList pieces;
    for (const QString& a : std::as_const(argv))
        pieces += desktopExecString({a});
    if (arguments == old.arguments) {
        // From the last to the first, so each place still counts the arguments before it.
        for (auto it = codes.crbegin(); it != codes.crend(); ++it) {
            const qsizetype at = firstArgument + std::max<qsizetype>(it->first - oldFirstArgument, 0);
            pieces.insert(std::min(at, pieces.size()), it->second);
        }
    } else {
        for (const auto& code : std::as_const(codes))
            pieces += code.second;
    }

    if (f.find("Type", &raw) < 0 || raw.trimmed() != "Application")
        f.set("Type", "Application");
    if (!f.has("Name")) {
        QString name = QFileInfo(path).completeBaseName();
        if (name.isEmpty())
            name = QFileInfo(info.target).completeBaseName();
        f.set("Name", escapeValue(name));
    }
    f.set("Exec", escapeValue(pieces.join(u' ')));
    // TryExec names the program that must exist for the entry to show: it follows a changed target.
    if (f.has("TryExec") && old.program != info.target && !info.target.isEmpty())
        f.set("TryExec", escapeValue(info.target));
    if (!info.workingDir.isEmpty())
        f.set("Path", escapeValue(info.workingDir));
    if (!info.iconPath.isEmpty())
        f.set("Icon", escapeValue(info.iconPath));

    if (!ktr::saveFileAtomic(path, f.serialize()))
        return fail(error, kMsgWrite);
    return QFileInfo::exists(path);
}
