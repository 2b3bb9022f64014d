#include "ui/lang.h"

#include "ui/uisignals.h"

#include <QDebug>
#include <QHash>

#include <atomic>

// The English table lives in langtable.cpp.
extern const Lang::Pair kLangTable[];
extern const int kLangTableSize;

namespace {

// Written on the GUI thread, read from any thread: atomic so a reader never sees a torn value.
std::atomic<int> g_language{0};

std::function<void()>& changedHandler()
{
    static std::function<void()> handler;
    return handler;
}

const QHash<QString, QString>& translationMap()
{
    static const QHash<QString, QString> map = [] {
        QHash<QString, QString> m;
        m.reserve(2048);
        for (int i = 0; i < kLangTableSize; ++i) {
            const QString key = QString::fromUtf8(kLangTable[i].zh);
            if (m.contains(key)) {
                qWarning().noquote() << "[lang] duplicate translation key at index" << i << ":" << key;
                continue;
            }
            m.insert(key, QString::fromUtf8(kLangTable[i].en));
        }
        return m;
    }();
    return map;
}

} // namespace

int Lang::language()
{
    return g_language.load(std::memory_order_relaxed);
}

bool Lang::isEnglish()
{
    return language() == 1;
}

void Lang::setLanguage(int language)
{
    g_language.store(language == 1 ? 1 : 0, std::memory_order_relaxed);
}

void Lang::setChangedHandler(std::function<void()> handler)
{
    changedHandler() = std::move(handler);
}

void Lang::notifyChanged()
{
    // Call a copy: a handler that registers another handler must not destroy itself while it runs.
    const std::function<void()> handler = changedHandler();
    if (handler)
        handler();
    UiSignals::instance().emitLanguageChanged();
}

QString Lang::trCount(const QString& text, qint64 count)
{
    if (language() != 1 || text.isEmpty())
        return text;
    const auto& map = translationMap();
    auto it = map.constFind(text);
    if (it == map.constEnd())
        return tr(text);
    const int bar = it.value().indexOf(QLatin1Char('|'));
    if (bar < 0)
        return it.value();
    return count == 1 ? it.value().left(bar) : it.value().mid(bar + 1);
}

QString Lang::tr(const QString& text)
{
    if (language() != 1 || text.isEmpty())
        return text;
    const auto& map = translationMap();
    if (!map.isEmpty()) {
        auto it = map.constFind(text);
        if (it != map.constEnd()) {
            // A counted text without its count reads in the plural.
            const int bar = it.value().indexOf(QLatin1Char('|'));
            return bar < 0 ? it.value() : it.value().mid(bar + 1);
        }
    }
    static const QString diskPrefix = QString::fromUtf8("本地磁盘 (");
    if (text.startsWith(diskPrefix) && text.endsWith(QLatin1Char(')')))
        return QStringLiteral("Local Disk (") + text.mid(6);
    return text;
}

QString Lang::tr(const char* utf8)
{
    if (!utf8 || !*utf8)
        return QString();
    return tr(QString::fromUtf8(utf8));
}

QString Lang::tr(const QChar* utf16)
{
    if (!utf16)
        return QString();
    return tr(QString(utf16));
}

LangText Lang::later(const QString& text, const QStringList& args)
{
    return LangText(text, args);
}

LangText Lang::later(const char* utf8, const QStringList& args)
{
    return LangText(utf8 ? QString::fromUtf8(utf8) : QString(), args);
}

QString LangText::shown() const
{
    const QString text = Lang::tr(m_text);
    if (m_args.isEmpty())
        return text;
    QString out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 1 < text.size() && text[i + 1].isDigit()) {
            qsizetype j = i + 1;
            int n = 0;
            while (j < text.size() && text[j].isDigit() && n < 100)
                n = n * 10 + text[j++].digitValue();
            if (n >= 1 && n <= m_args.size()) {
                out += m_args[n - 1];
                i = j - 1;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

const Lang::Pair* Lang::table(int* count)
{
    if (count)
        *count = kLangTableSize;
    return kLangTable;
}
