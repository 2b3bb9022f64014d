#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace ktr::platform {

// Icons by freedesktop name, looked up in the icon themes of the machine (index.theme, directory sizes,
// Inherits, hicolor last) without QIcon, so any thread may call it. Themes are indexed once on first use
// and kept; configure() starts over with a new set.
class IconThemes
{
public:
    struct Config
    {
        QStringList searchPaths;   // folders holding theme folders ($XDG_DATA_DIRS/icons, ~/.icons …)
        QString themeName;         // the desktop's theme; empty means none chosen
        QStringList fallbackPaths; // unthemed icons (…/pixmaps), searched after every theme
    };

    // The freedesktop defaults: $XDG_DATA_HOME/icons, ~/.icons, each $XDG_DATA_DIRS/icons; …/pixmaps.
    static Config defaultConfig();
    // Replaces the configuration (any thread). Lookups already running finish with the old one.
    static void configure(const Config& config);
    static Config config();

    // The file of the best size for `size` pixels among the names, tried in order; empty when none is found.
    static QString findIconFile(const QStringList& names, int size);
    // findIconFile, then renderIconFile; a null image when nothing is found or the file can't be read.
    static QImage loadIcon(const QStringList& names, int size);
};

// Reads an icon file into an ARGB32 image: SVG (also .svgz) rendered to fit size x size keeping its aspect,
// raster formats at their own size. Files over 8 MiB or declaring more than 4096 px per side give a null image.
QImage renderIconFile(const QString& file, int size);

// The freedesktop icon names for a file's MIME type (its icon name, generic icon name, those of its parents),
// most specific first. Works for files that don't exist (by name only); never opens anything but a regular
// file, so a FIFO or device can't block the caller.
QStringList mimeIconNames(const QString& path);

// True for a name the freedesktop icon naming standard lists, in the contexts the panel names icons of:
// applications, categories, devices, MIME types, places and the status icons of places.
bool isStandardIconName(const QString& name);

// The names to look `name` up by, most specific first: the name itself, then each shorter form (a trailing
// "-part" dropped) that is a standard name: "folder-documents" then "folder", "user-trash-full" then
// "user-trash". A theme without the specific icon still shows the generic one.
QStringList iconNameFallbacks(const QString& name);

// The standard icon name for a file, for entries the program writes: "folder" for a folder, else the first
// standard name among its MIME type's names (mimeIconNames: "text-x-generic" for text/plain), else
// "text-x-generic".
QString standardIconName(const QString& path);

// The Icon= value of the [Desktop Entry] group of a .desktop file (read with a size cap); empty when absent.
QString desktopEntryIcon(const QString& desktopFile);

} // namespace ktr::platform
