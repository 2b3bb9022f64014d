#include "app/diagnosticruns.h"

#include "icons/iconprobe.h"
#include "mainwindow/menustyle.h"
#include "mainwindow/shortcuteditdialog.h"
#include "preview/uipreview.h"

#include <QDebug>

#include <cstdio>

void startIconProbe(const QString& path)
{
    probeIcons(path);
}

UiPreviewKit panelPreviewKit()
{
    UiPreviewKit kit;
    kit.styleMenu = [](QMenu* menu) { applyMenuStyle(menu); };
    kit.menuIcon = [](int kind, const QColor& colour) { return menuGlyphIcon(kind, colour); };
    kit.shortcutDialog = [](const QString& itemPath, const QString& name, bool isLink, const ShortcutInfo& info,
                            const QPixmap& icon) -> QWidget* {
        return new ShortcutEditDialog(itemPath, name, isLink, info, icon);
    };
    return kit;
}

int startUiPreview(const QString& folder)
{
    QString error;
    if (runUiPreview(folder, panelPreviewKit(), &error))
        return 0;
    std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    return 1;
}
