#pragma once

#include <QObject>

// Process-wide changes any number of windows follow: the language and the theme. A parentless window (the
// settings dialog, the market) connects here instead of asking the main window to forward the change.
class UiSignals : public QObject
{
    Q_OBJECT
public:
    static UiSignals& instance();

    // Sent after the new language or theme is in force (Lang::language(), currentTheme()).
    void emitLanguageChanged() { emit languageChanged(); }
    void emitThemeChanged(bool dark) { emit themeChanged(dark); }

signals:
    void languageChanged();
    void themeChanged(bool dark);

private:
    UiSignals() = default;
};
