#include "platform/fontnames.h"

#include "platform/lazylibrary.h"

#include <QByteArray>

namespace ktr::platform {

namespace {

// fontconfig, which the Qt font database has loaded already; reached through its C entry points with the
// few types they need (all pointers to the library's own opaque records).
using FcPattern = void;
using FcConfig = void;
using FcChar8 = unsigned char;
using FcNameParseFn = FcPattern* (*)(const FcChar8*);
using FcConfigSubstituteFn = int (*)(FcConfig*, FcPattern*, int);
using FcDefaultSubstituteFn = void (*)(FcPattern*);
using FcFontMatchFn = FcPattern* (*)(FcConfig*, FcPattern*, int*);
using FcPatternGetStringFn = int (*)(const FcPattern*, const char*, int, FcChar8**);
using FcPatternDestroyFn = void (*)(FcPattern*);

constexpr int kFcMatchPattern = 0;
constexpr int kFcResultMatch = 0;

enum Symbol { NameParse, ConfigSubstitute, DefaultSubstitute, FontMatch, PatternGetString, PatternDestroy };

const LazyLibrary& fontconfig()
{
    static const LazyLibrary library("libfontconfig.so.1", {"FcNameParse", "FcConfigSubstitute", "FcDefaultSubstitute",
                                                            "FcFontMatch", "FcPatternGetString", "FcPatternDestroy"});
    return library;
}

template <typename Fn> Fn fn(Symbol s)
{
    return reinterpret_cast<Fn>(fontconfig().symbol(std::size_t(s)));
}

} // namespace

QString fontFamilyNameIn(const QString& family, const QString& language)
{
    if (family.isEmpty() || language.isEmpty() || !fontconfig().available())
        return family;
    // A family name with a '-' or ':' would be read as a pattern's parts: escape them as fontconfig does.
    QByteArray name = family.toUtf8();
    name.replace('\\', "\\\\").replace('-', "\\-").replace(':', "\\:").replace(',', "\\,");
    FcPattern* pattern = fn<FcNameParseFn>(NameParse)(reinterpret_cast<const FcChar8*>(name.constData()));
    if (!pattern)
        return family;
    fn<FcConfigSubstituteFn>(ConfigSubstitute)(nullptr, pattern, kFcMatchPattern);
    fn<FcDefaultSubstituteFn>(DefaultSubstitute)(pattern);
    int result = 0;
    FcPattern* match = fn<FcFontMatchFn>(FontMatch)(nullptr, pattern, &result);
    fn<FcPatternDestroyFn>(PatternDestroy)(pattern);
    if (!match)
        return family;
    const auto getString = fn<FcPatternGetStringFn>(PatternGetString);
    // Only names of the font asked for: a fallback font that matched in its place says nothing about it.
    // The name of exactly that language wins ("zh-cn" over "zh-tw"), else one of the same base language.
    bool isThatFont = false;
    QString exact;
    QString sameBase;
    const QString base = language.section(u'-', 0, 0);
    for (int i = 0;; ++i) {
        FcChar8* value = nullptr;
        if (getString(match, "family", i, &value) != kFcResultMatch || !value)
            break;
        const QString candidate = QString::fromUtf8(reinterpret_cast<const char*>(value));
        if (candidate.compare(family, Qt::CaseInsensitive) == 0)
            isThatFont = true;
        FcChar8* langValue = nullptr;
        if (getString(match, "familylang", i, &langValue) != kFcResultMatch || !langValue)
            continue;
        const QString lang = QString::fromUtf8(reinterpret_cast<const char*>(langValue));
        if (exact.isEmpty() && lang.compare(language, Qt::CaseInsensitive) == 0)
            exact = candidate;
        if (sameBase.isEmpty() && lang.section(u'-', 0, 0).compare(base, Qt::CaseInsensitive) == 0)
            sameBase = candidate;
    }
    fn<FcPatternDestroyFn>(PatternDestroy)(match);
    const QString wanted = exact.isEmpty() ? sameBase : exact;
    return isThatFont && !wanted.isEmpty() ? wanted : family;
}

} // namespace ktr::platform
