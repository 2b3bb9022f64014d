#include "platform/fontnames.h"

#include "platform/lazylibrary.h"

#include <QByteArray>

#include <cstring>

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
    static const LazyLibrary library("libfontconfig.so.1",
                                     {"FcNameParse", "FcConfigSubstitute", "FcDefaultSubstitute", "FcFontMatch",
                                      "FcPatternGetString", "FcPatternDestroy"});
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
    bool isThatFont = false;
    QString wanted;
    const QByteArray prefix = language.toLatin1();
    for (int i = 0;; ++i) {
        FcChar8* value = nullptr;
        if (getString(match, "family", i, &value) != kFcResultMatch || !value)
            break;
        const QString candidate = QString::fromUtf8(reinterpret_cast<const char*>(value));
        if (candidate.compare(family, Qt::CaseInsensitive) == 0)
            isThatFont = true;
        FcChar8* lang = nullptr;
        if (wanted.isEmpty() && getString(match, "familylang", i, &lang) == kFcResultMatch && lang
            && std::strncmp(reinterpret_cast<const char*>(lang), prefix.constData(), std::size_t(prefix.size())) == 0)
            wanted = candidate;
    }
    fn<FcPatternDestroyFn>(PatternDestroy)(match);
    return isThatFont && !wanted.isEmpty() ? wanted : family;
}

} // namespace ktr::platform
