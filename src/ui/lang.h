#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class LangText;

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
    // A text kept as written in the code, with the values of its %1, %2, ... placeholders, for a widget
    // that shows it later: it is translated each time it is shown, so a language switch re-labels it.
    static LangText later(const QString& text, const QStringList& args = {});
    static LangText later(const char* utf8, const QStringList& args = {});

    // The compiled-in table, in its order (for tests and tools).
    struct Pair
    {
        const char* zh;
        const char* en;
    };
    static const Pair* table(int* count);
};

// A text to show later in the language of the moment (see Lang::later). A text from elsewhere (a server's
// message) may be held too: without an entry in the table it is shown as it is.
class LangText
{
public:
    LangText() = default;
    LangText(const QString& text, const QStringList& args) : m_text(text), m_args(args) {}

    // The text in the current language, its placeholders filled in one pass (a value holding "%1" stays as
    // it is).
    QString shown() const;
    const QString& source() const { return m_text; }
    const QStringList& args() const { return m_args; }
    bool isEmpty() const { return m_text.isEmpty(); }
    void clear()
    {
        m_text.clear();
        m_args.clear();
    }
    bool operator==(const LangText& other) const = default;

private:
    QString m_text;
    QStringList m_args;
};
