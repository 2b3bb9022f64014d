#pragma once

#include "model/shortcutfile.h"

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include <functional>

class QMenu;
class QWidget;

// What the preview run draws of the main window's own kit. The main window sits above the previews, so the
// program hands these in (app/diagnosticruns.cpp); an empty one leaves its step out.
struct UiPreviewKit
{
    // The panel's popup menu look.
    std::function<void(QMenu*)> styleMenu;
    // A menu entry's line glyph of a kind in a colour.
    std::function<QIcon(int kind, const QColor& colour)> menuIcon;
    // A parentless shortcut edit dialog for one entry, owned by the caller.
    std::function<QWidget*(const QString& itemPath, const QString& name, bool isLink, const ShortcutInfo& info,
                           const QPixmap& icon)>
        shortcutDialog;
};

// "--ui-preview=<folder>": renders the dialogs, menus, settings pages and button glyphs with sample data into
// image and text files in the folder (taken verbatim, so a relative one is below the current directory).
// The folder is made first; false with the translated message when it can't be, and
// nothing is drawn then. Otherwise every step runs; a file that can't be written is skipped.
bool runUiPreview(const QString& folder, const UiPreviewKit& kit, QString* error);
// The part of the run that draws texts (dialogs, cards, menus, settings pages), in the language
// previewBaseLanguage selects, into an existing folder.
void runUiPreviewTexts(const QString& folder, const UiPreviewKit& kit);
