// Every text the program passes to Lang::tr as a string literal must have an English entry in the table.
// The sources are scanned when the test runs, so new code is checked as it is written.

#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QSet>

#include <optional>

#ifndef KTR_SOURCE_DIR
#error "KTR_SOURCE_DIR must name the program's source folder"
#endif

namespace {

struct Token
{
    enum Kind { Str, Char, Ident, Punct } kind;
    QByteArray text; // decoded UTF-8 for Str, the spelling otherwise
    int line = 0;
};

void appendUtf8(QByteArray& out, uint cp)
{
    const char32_t c = char32_t(cp);
    out += QString::fromUcs4(&c, 1).toUtf8();
}

bool isIdentStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isIdentChar(char c)
{
    return isIdentStart(c) || (c >= '0' && c <= '9');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes the body of a quoted literal starting after its opening quote; stops after the closing quote.
// Narrow literals keep \x and octal escapes as bytes (they spell UTF-8); wide ones take them as code points.
QByteArray decodeQuoted(const QByteArray& src, qsizetype& i, char quote, bool wide, int& line)
{
    QByteArray out;
    const qsizetype n = src.size();
    while (i < n && src[i] != quote) {
        char c = src[i++];
        if (c == '\n') {
            ++line; // unterminated literal; keep going like a compiler's error recovery would not matter here
            out += c;
            continue;
        }
        if (c != '\\' || i >= n) {
            out += c;
            continue;
        }
        c = src[i++];
        switch (c) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'a':
            out += '\a';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'v':
            out += '\v';
            break;
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case '\'':
            out += '\'';
            break;
        case '?':
            out += '?';
            break;
        case '\n':
            ++line;
            break; // line continuation
        case 'x': {
            uint v = 0;
            while (i < n && hexValue(src[i]) >= 0)
                v = v * 16 + uint(hexValue(src[i++]));
            if (wide)
                appendUtf8(out, v);
            else
                out += char(v & 0xFF);
            break;
        }
        case 'u':
        case 'U': {
            const int digits = c == 'u' ? 4 : 8;
            uint v = 0;
            for (int k = 0; k < digits && i < n && hexValue(src[i]) >= 0; ++k)
                v = v * 16 + uint(hexValue(src[i++]));
            appendUtf8(out, v);
            break;
        }
        default:
            if (c >= '0' && c <= '7') {
                uint v = uint(c - '0');
                for (int k = 0; k < 2 && i < n && src[i] >= '0' && src[i] <= '7'; ++k)
                    v = v * 8 + uint(src[i++] - '0');
                if (wide)
                    appendUtf8(out, v);
                else
                    out += char(v & 0xFF);
            } else {
                out += c; // unknown escape: the character itself
            }
        }
    }
    if (i < n)
        ++i; // closing quote
    return out;
}

// A small C++ lexer: enough to find calls and their literal arguments, with comments skipped.
QList<Token> tokenize(const QByteArray& src)
{
    QList<Token> tokens;
    const qsizetype n = src.size();
    qsizetype i = 0;
    int line = 1;
    while (i < n) {
        const char c = src[i];
        if (c == '\n') {
            ++line;
            ++i;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == '\\') {
            ++i;
        } else if (c == '/' && i + 1 < n && src[i + 1] == '/') {
            while (i < n && src[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < n && src[i + 1] == '*') {
            i += 2;
            while (i + 1 < n && !(src[i] == '*' && src[i + 1] == '/')) {
                if (src[i] == '\n')
                    ++line;
                ++i;
            }
            i += 2;
        } else if (isIdentStart(c) || (c >= '0' && c <= '9')) {
            qsizetype j = i;
            while (j < n && (isIdentChar(src[j]) || (c >= '0' && c <= '9' && src[j] == '.')))
                ++j;
            const QByteArray word = src.mid(i, j - i);
            static const QSet<QByteArray> prefixes = {"u8", "u", "U", "L", "R", "u8R", "uR", "UR", "LR"};
            if (j < n && (src[j] == '"' || src[j] == '\'') && prefixes.contains(word)) {
                const bool raw = word.endsWith('R');
                const bool wide = word != "u8" && word != "u8R" && word != "R";
                Token t{src[j] == '"' ? Token::Str : Token::Char, {}, line};
                i = j + 1;
                if (raw && src[j] == '"') {
                    const qsizetype open = src.indexOf('(', i);
                    const QByteArray delim = ")" + src.mid(i, open - i) + "\"";
                    const qsizetype close = open < 0 ? -1 : src.indexOf(delim, open + 1);
                    const qsizetype end = close < 0 ? n : close;
                    t.text = open < 0 ? QByteArray() : src.mid(open + 1, end - open - 1);
                    line += int(t.text.count('\n'));
                    i = close < 0 ? n : close + delim.size();
                } else {
                    t.text = decodeQuoted(src, i, src[j], wide, line);
                }
                tokens << t;
            } else {
                tokens << Token{Token::Ident, word, line};
                i = j;
            }
        } else if (c == '"' || c == '\'') {
            Token t{c == '"' ? Token::Str : Token::Char, {}, line};
            ++i;
            t.text = decodeQuoted(src, i, c, false, line);
            tokens << t;
        } else if (c == ':' && i + 1 < n && src[i + 1] == ':') {
            tokens << Token{Token::Punct, "::", line};
            i += 2;
        } else {
            tokens << Token{Token::Punct, QByteArray(1, c), line};
            ++i;
        }
        // A user-defined literal suffix such as _s belongs to the literal before it.
        if (!tokens.isEmpty() && tokens.last().kind == Token::Str)
            while (i < n && isIdentChar(src[i]))
                ++i;
    }
    return tokens;
}

// The text of an operand made only of string literals, optionally wrapped in QStringLiteral(...) or
// QString::fromUtf8(...); adjacent literals are joined as the compiler joins them.
std::optional<QByteArray> literalOperand(QList<Token> seg)
{
    auto isPunct = [](const Token& t, const char* p) { return t.kind == Token::Punct && t.text == p; };
    while (seg.size() >= 3 && isPunct(seg.first(), "(") && isPunct(seg.last(), ")")) {
        seg.removeFirst();
        seg.removeLast();
    }
    if (seg.size() >= 3 && seg[0].kind == Token::Ident && isPunct(seg[1], "(") && isPunct(seg.last(), ")")) {
        static const QSet<QByteArray> wrappers = {"QStringLiteral", "QString", "QStringView", "QLatin1String",
                                                  "QByteArrayLiteral"};
        if (!wrappers.contains(seg[0].text))
            return std::nullopt;
        seg = seg.mid(2, seg.size() - 3);
    } else if (seg.size() >= 5 && seg[0].text == "QString" && isPunct(seg[1], "::") &&
               (seg[2].text == "fromUtf8" || seg[2].text == "fromLatin1") && isPunct(seg[3], "(") &&
               isPunct(seg.last(), ")")) {
        seg = seg.mid(4, seg.size() - 5);
    }
    if (seg.isEmpty())
        return std::nullopt;
    QByteArray text;
    for (const Token& t : seg) {
        if (t.kind != Token::Str)
            return std::nullopt;
        text += t.text;
    }
    return text;
}

struct Found
{
    QString text;
    int line;
};

// Every literal text passed to Lang::tr in the source; both branches of a conditional count.
QList<Found> trLiterals(const QByteArray& src)
{
    QList<Found> found;
    const QList<Token> tokens = tokenize(src);
    for (qsizetype k = 0; k + 3 < tokens.size(); ++k) {
        // Lang::later holds a text to translate when shown: its first argument counts like Lang::tr's.
        if (tokens[k].kind != Token::Ident || tokens[k].text != "Lang" || tokens[k + 1].text != "::" ||
            tokens[k + 2].kind != Token::Ident || (tokens[k + 2].text != "tr" && tokens[k + 2].text != "later") ||
            tokens[k + 3].text != "(")
            continue;
        const bool firstArgumentOnly = tokens[k + 2].text == "later";
        // The argument up to the matching parenthesis, split at the top-level ? and : of a conditional.
        QList<QList<Token>> segments(1);
        int depth = 0;
        qsizetype m = k + 4;
        for (; m < tokens.size(); ++m) {
            const Token& t = tokens[m];
            if (t.kind == Token::Punct) {
                if (t.text == "(" || t.text == "[" || t.text == "{")
                    ++depth;
                else if (t.text == ")" || t.text == "]" || t.text == "}") {
                    if (depth == 0)
                        break;
                    --depth;
                } else if (depth == 0 && firstArgumentOnly && t.text == ",") {
                    // The rest are the placeholder values.
                    int inner = 0;
                    for (++m; m < tokens.size(); ++m) {
                        const QByteArray& x = tokens[m].text;
                        if (tokens[m].kind != Token::Punct)
                            continue;
                        if (x == "(" || x == "[" || x == "{")
                            ++inner;
                        else if (x == ")" || x == "]" || x == "}") {
                            if (inner == 0)
                                break;
                            --inner;
                        }
                    }
                    break;
                } else if (depth == 0 && (t.text == "?" || t.text == ":")) {
                    segments.append(QList<Token>());
                    continue;
                }
            }
            segments.last().append(t);
        }
        for (const auto& seg : segments) {
            if (const auto text = literalOperand(seg))
                found.append({QString::fromUtf8(*text), seg.first().line});
        }
        k = m;
    }
    return found;
}

} // namespace

class TestLangSource : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void scannerFindsLiterals_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QStringList>("texts");
        const auto list = [](std::initializer_list<const char*> items) {
            QStringList l;
            for (const char* s : items)
                l << QString::fromUtf8(s);
            return l;
        };
        QTest::newRow("plain") << QByteArray("x = Lang::tr(\"设置\");") << list({"设置"});
        QTest::newRow("spaced over lines") << QByteArray("Lang::tr (\n  \"设置\"\n )") << list({"设置"});
        QTest::newRow("QStringLiteral") << QByteArray("Lang::tr(QStringLiteral(\"日志文件: %1\\n\")).arg(p)")
                                        << list({"日志文件: %1\n"});
        QTest::newRow("u8 with escapes") << QByteArray("Lang::tr(u8\"a\\\"b\\\\c\\td\")") << list({"a\"b\\c\td"});
        QTest::newRow("utf-16 with suffix") << QByteArray("Lang::tr(u\"关闭\"_s)") << list({"关闭"});
        QTest::newRow("fromUtf8") << QByteArray("Lang::tr(QString::fromUtf8(\"提示\"))") << list({"提示"});
        QTest::newRow("hex bytes") << QByteArray("Lang::tr(\"\\xe8\\xae\\xbe\\xe7\\xbd\\xae\")") << list({"设置"});
        QTest::newRow("octal bytes") << QByteArray("Lang::tr(\"\\350\\256\\276\\347\\275\\256\")") << list({"设置"});
        QTest::newRow("universal names") << QByteArray("Lang::tr(\"\\u8bbe\\u7f6e\")") << list({"设置"});
        QTest::newRow("joined literals") << QByteArray("Lang::tr(\"已保存到：\"\n  \"\\n\")") << list({"已保存到：\n"});
        QTest::newRow("raw literal") << QByteArray("Lang::tr(R\"x(a\\n)x\")") << list({"a\\n"});
        QTest::newRow("conditional") << QByteArray("Lang::tr(rename ? \"重命名分组\" : \"新建分组\")")
                                     << list({"重命名分组", "新建分组"});
        QTest::newRow("nested conditional with char")
            << QByteArray("Lang::tr(c == '?' ? \"是\" : d ? QStringLiteral(\"否\") : name)") << list({"是", "否"});
        QTest::newRow("several calls") << QByteArray("a(Lang::tr(\"打开\"), Lang::tr(\"关闭\"));")
                                       << list({"打开", "关闭"});
        QTest::newRow("held for later") << QByteArray("e = Lang::later(\"解压失败\");") << list({"解压失败"});
        QTest::newRow("held with values")
            << QByteArray("f(Lang::later(\"HTTP %1\", {QString::number(f(s))}), Lang::tr(\"关闭\"))")
            << list({"HTTP %1", "关闭"});
        QTest::newRow("variable") << QByteArray("Lang::tr(name)") << QStringList();
        QTest::newRow("expression") << QByteArray("Lang::tr(\"a\" + name)") << QStringList();
        QTest::newRow("other function") << QByteArray("Lang::translate(\"a\"); Other::tr(\"b\")") << QStringList();
        QTest::newRow("line comment") << QByteArray("// Lang::tr(\"注释\")\n") << QStringList();
        QTest::newRow("block comment") << QByteArray("/* Lang::tr(\"注释\") */") << QStringList();
        QTest::newRow("inside a literal") << QByteArray("s = \"Lang::tr(\\\"字\\\")\";") << QStringList();
    }
    void scannerFindsLiterals()
    {
        QFETCH(QByteArray, source);
        QFETCH(QStringList, texts);
        QStringList got;
        for (const Found& f : trLiterals(source))
            got << f.text;
        QCOMPARE(got, texts);
    }

    void scannerReportsLines()
    {
        const QList<Found> found = trLiterals("int a;\n/* one\ntwo */\nf(Lang::tr(\n\"设置\"));\n");
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first().line, 5);
    }

    void everyLiteralOfTheProgramIsInTheTable()
    {
        const QString root = QStringLiteral(KTR_SOURCE_DIR);
        QVERIFY2(QFileInfo::exists(root + QStringLiteral("/ui/lang.h")), qPrintable(root));

        QSet<QString> keys;
        int count = 0;
        const Lang::Pair* table = Lang::table(&count);
        for (int i = 0; i < count; ++i)
            keys.insert(QString::fromUtf8(table[i].zh));

        QStringList missing;
        int files = 0;
        int literals = 0;
        QDirIterator it(root, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
            const QByteArray src = file.read(8 * 1024 * 1024);
            ++files;
            for (const Found& f : trLiterals(src)) {
                ++literals;
                if (!keys.contains(f.text))
                    missing << QStringLiteral("%1:%2: \"%3\"")
                                   .arg(QDir(root).relativeFilePath(path))
                                   .arg(f.line)
                                   .arg(QString(f.text).replace(QLatin1Char('\n'), QStringLiteral("\\n")));
            }
        }
        QVERIFY(files > 0);
        qInfo("scanned %d files, %d literal texts", files, literals);
        QVERIFY2(missing.isEmpty(),
                 qPrintable(QStringLiteral("texts without an English entry:\n") + missing.join(QLatin1Char('\n'))));
    }
};

KTR_TEST_MAIN(TestLangSource)
#include "tst_langsource.moc"
