#include "model/layoutfile.h"

#include "ui/lang.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

const QString kGroups = QStringLiteral("groups");
const QString kName = QStringLiteral("name");
const QString kItems = QStringLiteral("items");
const QString kKind = QStringLiteral("kind"); // written only for a group the program made for something
const QString kPath = QStringLiteral("path");
const QString kHidden = QStringLiteral("hidden");
const QString kCustomIcon = QStringLiteral("customIcon");
const QString kWorkDir = QStringLiteral("workDir");
const QString kArgs = QStringLiteral("args");
const QString kRunAsAdmin = QStringLiteral("runAsAdmin");

// What every reading of a layout does last: a layout without any group gets one empty group.
void ensureOneGroup(QList<Group>& groups)
{
    if (groups.isEmpty())
        groups.append(Group{Lang::tr("默认分组"), {}});
}

// A strict reader of the saved form: every method returns false where the bytes leave that form.
class SavedLayoutReader
{
public:
    explicit SavedLayoutReader(const QByteArray& bytes) : m_p(bytes.constData()), m_end(m_p + bytes.size()) {}

    bool read(QList<Group>* groups)
    {
        QList<Group> out;
        bool sawGroups = false;
        const bool ok = object([&](const QString& key) {
            if (key != kGroups || sawGroups)
                return false;
            sawGroups = true;
            return array([&] {
                Group g;
                if (!group(&g))
                    return false;
                out.append(std::move(g));
                return true;
            });
        });
        skipSpace();
        if (!ok || !sawGroups || m_p != m_end)
            return false;
        ensureOneGroup(out);
        *groups = std::move(out);
        return true;
    }

private:
    bool group(Group* g)
    {
        bool sawName = false;
        bool sawItems = false;
        bool sawKind = false;
        return object([&](const QString& key) {
            if (key == kKind && !sawKind) {
                sawKind = true;
                return string(&g->kind);
            }
            if (key == kName && !sawName) {
                sawName = true;
                if (!string(&g->name))
                    return false;
                g->name = g->name.left(kMaxGroupNameLength);
                return true;
            }
            if (key == kItems && !sawItems) {
                sawItems = true;
                return array([&] {
                    Item it;
                    if (!item(&it))
                        return false;
                    if (!it.path.isEmpty()) // as layoutFromJson: an item without a path is dropped
                        g->items.append(std::move(it));
                    return true;
                });
            }
            return false;
        });
    }

    bool item(Item* it)
    {
        unsigned seen = 0;
        const auto once = [&seen](unsigned bit) {
            if (seen & bit)
                return false;
            seen |= bit;
            return true;
        };
        const bool ok = object([&](const QString& key) {
            if (key == kPath)
                return once(1) && string(&it->path);
            if (key == kName)
                return once(2) && string(&it->name);
            if (key == kHidden)
                return once(4) && boolean(&it->hidden);
            if (key == kCustomIcon)
                return once(8) && string(&it->customIcon);
            if (key == kWorkDir)
                return once(16) && string(&it->workDir);
            if (key == kArgs)
                return once(32) && string(&it->args);
            if (key == kRunAsAdmin)
                return once(64) && boolean(&it->runAsAdmin);
            return false;
        });
        return ok && (seen & 1); // an item without "path" is for the general reader to judge
    }

    void skipSpace()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    bool take(char c)
    {
        skipSpace();
        if (m_p < m_end && *m_p == c) {
            ++m_p;
            return true;
        }
        return false;
    }

    // open entry, entry, ... close: `entry` reads each one.
    template <typename Entry> bool sequence(char open, char close, Entry entry)
    {
        if (!take(open))
            return false;
        if (take(close))
            return true;
        for (;;) {
            if (!entry())
                return false;
            if (take(close))
                return true;
            if (!take(','))
                return false;
        }
    }

    // {"key": value, ...}: `member` reads the value of each key.
    template <typename Member> bool object(Member member)
    {
        return sequence('{', '}', [&] {
            QString key;
            return string(&key) && take(':') && member(key);
        });
    }

    // [element, ...]: `element` reads each one.
    template <typename Element> bool array(Element element) { return sequence('[', ']', element); }

    bool boolean(bool* value)
    {
        skipSpace();
        const auto word = [this](const char* w, qsizetype n) {
            if (m_end - m_p < n || qstrncmp(m_p, w, size_t(n)) != 0)
                return false;
            m_p += n;
            return true;
        };
        if (word("true", 4)) {
            *value = true;
            return true;
        }
        if (word("false", 5)) {
            *value = false;
            return true;
        }
        return false;
    }

    // Plain bytes are taken as UTF-8, refused unless they are valid (the round trip gives them back).
    static bool appendUtf8(QString* out, const char* begin, const char* end, bool ascii)
    {
        if (ascii) {
            out->append(QLatin1String(begin, end - begin));
            return true;
        }
        const QByteArray raw = QByteArray::fromRawData(begin, end - begin);
        const QString decoded = QString::fromUtf8(raw);
        if (decoded.toUtf8() != raw)
            return false;
        out->append(decoded);
        return true;
    }

    static int hex(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    bool unit(char16_t* u)
    {
        if (m_end - m_p < 4)
            return false;
        int v = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hex(m_p[i]);
            if (h < 0)
                return false;
            v = v * 16 + h;
        }
        m_p += 4;
        *u = char16_t(v);
        return true;
    }

    bool string(QString* out)
    {
        if (!take('"'))
            return false;
        out->clear();
        for (;;) {
            const char* run = m_p;
            bool ascii = true;
            while (m_p < m_end && *m_p != '"' && *m_p != '\\') {
                const auto c = static_cast<unsigned char>(*m_p);
                if (c < 0x20)
                    return false; // a raw control character: damage
                ascii = ascii && c < 0x80;
                ++m_p;
            }
            if (m_p == m_end || !appendUtf8(out, run, m_p, ascii))
                return false;
            if (*m_p++ == '"')
                return true;
            if (m_p == m_end)
                return false;
            const char e = *m_p++;
            switch (e) {
            case '"':
                out->append(QLatin1Char('"'));
                break;
            case '\\':
                out->append(QLatin1Char('\\'));
                break;
            case '/':
                out->append(QLatin1Char('/'));
                break;
            case 'b':
                out->append(QLatin1Char('\b'));
                break;
            case 'f':
                out->append(QLatin1Char('\f'));
                break;
            case 'n':
                out->append(QLatin1Char('\n'));
                break;
            case 'r':
                out->append(QLatin1Char('\r'));
                break;
            case 't':
                out->append(QLatin1Char('\t'));
                break;
            case 'u': {
                char16_t u = 0;
                if (!unit(&u) || u == 0 || QChar::isLowSurrogate(u))
                    return false;
                if (QChar::isHighSurrogate(u)) {
                    char16_t low = 0;
                    if (m_end - m_p < 2 || m_p[0] != '\\' || m_p[1] != 'u')
                        return false;
                    m_p += 2;
                    if (!unit(&low) || !QChar::isLowSurrogate(low))
                        return false;
                    out->append(QChar(u));
                    out->append(QChar(low));
                } else {
                    out->append(QChar(u));
                }
                break;
            }
            default:
                return false;
            }
        }
    }

    const char* m_p;
    const char* m_end;
};

} // namespace

QJsonObject layoutToJson(const QList<Group>& groups)
{
    QJsonArray groupArray;
    for (const Group& g : groups) {
        QJsonArray itemArray;
        for (const Item& it : g.items) {
            itemArray.append(QJsonObject{
                {kPath, it.path},
                {kName, it.name},
                {kHidden, it.hidden},
                {kCustomIcon, it.customIcon},
                {kWorkDir, it.workDir},
                {kArgs, it.args},
                {kRunAsAdmin, it.runAsAdmin},
            });
        }
        QJsonObject group{{kName, g.name}, {kItems, itemArray}};
        if (!g.kind.isEmpty())
            group.insert(kKind, g.kind);
        groupArray.append(group);
    }
    return QJsonObject{{kGroups, groupArray}};
}

namespace {

// The text JSON gives a string, as Qt's own writer spells it: `"`, `\\` and control characters escaped
// (\\b \\f \\n \\r \\t, else \\u00xx), everything else in UTF-8. A string with a lone surrogate is left
// to Qt's writer, which has its own way with those.
void appendJsonString(QByteArray& out, const QString& s)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    const char16_t* p = reinterpret_cast<const char16_t*>(s.utf16());
    const char16_t* const end = p + s.size();
    const qsizetype start = out.size();
    for (; p != end; ++p) {
        const char16_t u = *p;
        if (u >= 0x20 && u < 0x80) {
            if (u == '"' || u == '\\')
                out += '\\';
            out += char(u);
        } else if (u < 0x20) {
            out += '\\';
            switch (u) {
            case 0x8:
                out += 'b';
                break;
            case 0xc:
                out += 'f';
                break;
            case 0xa:
                out += 'n';
                break;
            case 0xd:
                out += 'r';
                break;
            case 0x9:
                out += 't';
                break;
            default:
                out += "u00";
                out += kHex[u >> 4];
                out += kHex[u & 0xf];
            }
        } else if (u < 0x800) {
            out += char(0xc0 | (u >> 6));
            out += char(0x80 | (u & 0x3f));
        } else if (!QChar::isSurrogate(u)) {
            out += char(0xe0 | (u >> 12));
            out += char(0x80 | ((u >> 6) & 0x3f));
            out += char(0x80 | (u & 0x3f));
        } else if (QChar::isHighSurrogate(u) && p + 1 != end && QChar::isLowSurrogate(p[1])) {
            const char32_t c = QChar::surrogateToUcs4(u, p[1]);
            ++p;
            out += char(0xf0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3f));
            out += char(0x80 | ((c >> 6) & 0x3f));
            out += char(0x80 | (c & 0x3f));
        } else {
            out.truncate(start);
            const QByteArray qt = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact); // ["..."]
            out += qt.mid(2, qt.size() - 4);
            break;
        }
    }
    out += '"';
}

void appendMember(QByteArray& out, const char* indentedKey, const QString& value, bool last = false)
{
    out += indentedKey;
    appendJsonString(out, value);
    out += last ? "\n" : ",\n";
}

void appendMember(QByteArray& out, const char* indentedKey, bool value)
{
    out += indentedKey;
    out += value ? "true,\n" : "false,\n";
}

} // namespace

// Written straight from the model, byte for byte what QJsonDocument writes for layoutToJson (indented, keys
// in order): building the JSON tree of a large layout first took most of a save's time.
QByteArray serializeLayout(const QList<Group>& groups)
{
    qsizetype chars = 0;
    for (const Group& g : groups) {
        chars += 64 + g.name.size();
        for (const Item& it : g.items)
            chars += 280 + it.path.size() + it.name.size() + it.customIcon.size() + it.workDir.size() + it.args.size();
    }
    QByteArray out;
    out.reserve(chars + chars / 4);
    out += "{\n    \"groups\": [\n";
    for (qsizetype g = 0; g < groups.size(); ++g) {
        const Group& group = groups[g];
        out += "        {\n            \"items\": [\n";
        for (qsizetype i = 0; i < group.items.size(); ++i) {
            const Item& it = group.items[i];
            out += "                {\n";
            appendMember(out, "                    \"args\": ", it.args);
            appendMember(out, "                    \"customIcon\": ", it.customIcon);
            appendMember(out, "                    \"hidden\": ", it.hidden);
            appendMember(out, "                    \"name\": ", it.name);
            appendMember(out, "                    \"path\": ", it.path);
            appendMember(out, "                    \"runAsAdmin\": ", it.runAsAdmin);
            appendMember(out, "                    \"workDir\": ", it.workDir, true);
            out += i + 1 < group.items.size() ? "                },\n" : "                }\n";
        }
        out += "            ],\n";
        if (!group.kind.isEmpty())
            appendMember(out, "            \"kind\": ", group.kind);
        appendMember(out, "            \"name\": ", group.name, true);
        out += g + 1 < groups.size() ? "        },\n" : "        }\n";
    }
    out += "    ]\n}\n";
    return out;
}

QList<Group> layoutFromJson(const QJsonObject& object)
{
    QList<Group> groups;
    const QJsonArray groupArray = object.value(kGroups).toArray();
    groups.reserve(groupArray.size());
    for (const QJsonValue& gv : groupArray) {
        const QJsonObject go = gv.toObject(); // a non-object counts as an empty group
        Group g;
        g.name = go.value(kName).toString().left(kMaxGroupNameLength);
        g.kind = go.value(kKind).toString();
        const QJsonArray itemArray = go.value(kItems).toArray();
        g.items.reserve(itemArray.size());
        for (const QJsonValue& iv : itemArray) {
            const QJsonObject io = iv.toObject();
            Item it;
            it.path = io.value(kPath).toString();
            if (it.path.isEmpty())
                continue;
            it.name = io.value(kName).toString();
            it.hidden = io.value(kHidden).toBool(false);
            it.customIcon = io.value(kCustomIcon).toString();
            it.workDir = io.value(kWorkDir).toString();
            it.args = io.value(kArgs).toString();
            it.runAsAdmin = io.value(kRunAsAdmin).toBool(false);
            g.items.append(std::move(it));
        }
        groups.append(std::move(g));
    }
    ensureOneGroup(groups);
    return groups;
}

bool parseSavedLayout(const QByteArray& bytes, QList<Group>* groups)
{
    return SavedLayoutReader(bytes).read(groups);
}

bool layoutDropsData(const QJsonObject& object)
{
    if (object.isEmpty())
        return false;
    const QJsonValue groups = object.value(kGroups);
    if (!groups.isArray())
        return true;
    for (const QJsonValue& gv : groups.toArray()) {
        if (!gv.isObject())
            return true;
        const QJsonObject go = gv.toObject();
        const QJsonValue name = go.value(kName);
        const QJsonValue items = go.value(kItems);
        const QJsonValue kind = go.value(kKind);
        if ((!name.isUndefined() && !name.isString()) || (!items.isUndefined() && !items.isArray()) ||
            (!kind.isUndefined() && !kind.isString()))
            return true;
        for (const QJsonValue& iv : items.toArray()) {
            if (!iv.isObject() || !iv.toObject().value(kPath).isString())
                return true;
        }
    }
    return false;
}

bool fixLegacyWordpadPaths(QList<Group>& groups)
{
    const QString programFiles = qEnvironmentVariable("ProgramFiles");
    if (programFiles.isEmpty())
        return false;
    const QString wordpad = programFiles + QStringLiteral("/Windows NT/Accessories/wordpad.exe");
    if (!QFileInfo::exists(wordpad))
        return false;
    const QString target = QString(wordpad).replace(QLatin1Char('\\'), QLatin1Char('/'));
    bool changed = false;
    for (Group& g : groups) {
        for (Item& it : g.items) {
            if (it.path.endsWith(QLatin1String("\\write.exe"), Qt::CaseInsensitive) ||
                it.path.endsWith(QLatin1String("/write.exe"), Qt::CaseInsensitive)) {
                it.path = target;
                changed = true;
            }
        }
    }
    return changed;
}
