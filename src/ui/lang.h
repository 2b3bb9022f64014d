#pragma once

#include <QString>

#include <functional>

// The UI language: 0 = Chinese (the texts as written in the code), 1 = English from a fixed table.
// Every user-visible text passes Lang::tr when it is shown, never stored translated.
class Lang
{
public:
    static int language();
    static bool isEnglish();
    static void setLanguage(int language);
    static void setChangedHandler(std::function<void()> handler);
    static void notifyChanged();

    static QString tr(const QString& text);
    static QString tr(const char* utf8);
    static QString tr(const QChar* utf16);
    // A text with a count in it: English entries hold "singular|plural" and the form for `count` is
    // returned (placeholders still to fill); Chinese has one form.
    static QString trCount(const QString& text, qint64 count);

    // The compiled-in table, in its order (for tests and tools).
    struct Pair
    {
        const char* zh;
        const char* en;
    };
    static const Pair* table(int* count);
};
