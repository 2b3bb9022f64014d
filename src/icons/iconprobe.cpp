#include "icons/iconprobe.h"

#include "icons/iconextract.h"
#include "icons/iconloader.h"
#include "platform/icontheme.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QStandardPaths>

#include <algorithm>

void probeIcons(const QString& outputDir)
{
    syncIconThemeFromQt();
    // Without a desktop platform (offscreen, minimal) Qt names no theme folder on disk, and the probe would find
    // nothing: it then looks at the machine's themes where the panel finds them on the desktop.
    const QStringList qtPaths = QIcon::themeSearchPaths();
    const bool onDisk = std::any_of(qtPaths.cbegin(), qtPaths.cend(), [](const QString& p) {
        return !p.startsWith(QLatin1Char(':')) && QFileInfo(p).isDir();
    });
    if (!onDisk) {
        ktr::platform::IconThemes::Config machine = ktr::platform::IconThemes::defaultConfig();
        machine.themeName = QIcon::themeName();
        ktr::platform::IconThemes::configure(machine);
        qInfo().noquote() << "icon probe: Qt names no icon theme folder, using" << machine.searchPaths.join(u':');
    }
    QDir().mkpath(outputDir);
    const QDir out(outputDir);

    struct Shell
    {
        const char* tag;
        const char* parsingName;
    };
    static const Shell shellFolders[] = {
        {"computer", "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"},
        {"recyclebin", "::{645FF040-5081-101B-9F08-00AA002F954E}"},
        {"network", "::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}"},
        {"controlpanel", "::{5399E694-6CE5-4D6C-8FCE-1D8870FDCBA0}"},
        {"users", "::{59031A47-3F72-44A7-89C5-5595FE6B30EE}"},
    };
    for (const Shell& s : shellFolders) {
        const QString tag = QString::fromLatin1(s.tag);
        const QImage img = loadIconImage(QString::fromLatin1(s.parsingName));
        if (img.isNull()) {
            qInfo() << "icon probe:" << tag << "EMPTY";
            continue;
        }
        qInfo() << "icon probe:" << tag << img.width() << "x" << img.height();
        img.save(out.filePath(tag + QStringLiteral(".png")));
    }

    struct Known
    {
        const char* tag;
        QStandardPaths::StandardLocation location;
    };
    static const Known knownFolders[] = {
        {"kf-music", QStandardPaths::MusicLocation},        {"kf-pictures", QStandardPaths::PicturesLocation},
        {"kf-videos", QStandardPaths::MoviesLocation},      {"kf-documents", QStandardPaths::DocumentsLocation},
        {"kf-downloads", QStandardPaths::DownloadLocation}, {"kf-desktop", QStandardPaths::DesktopLocation},
    };
    for (const Known& k : knownFolders) {
        const QString tag = QString::fromLatin1(k.tag);
        const QString location = QStandardPaths::writableLocation(k.location);
        const QFileInfo fi(location);
        qInfo() << "icon probe: kf-path" << tag << "=" << location << "isDir=" << fi.isDir()
                << "exists=" << fi.exists();
        if (location.isEmpty())
            continue;
        const QImage hd = iconLocationImage(location);
        qInfo() << "icon probe: hd-resource" << tag << hd.width() << "x" << hd.height();
        if (!hd.isNull())
            hd.save(out.filePath(QStringLiteral("hd-") + tag + QStringLiteral(".png")));
        const QImage img = loadIconImage(location);
        if (img.isNull()) {
            qInfo() << "icon probe: known-folder" << tag << "EMPTY";
            continue;
        }
        qInfo() << "icon probe: known-folder" << tag << img.width() << "x" << img.height();
        img.save(out.filePath(tag + QStringLiteral(".png")));
    }
}
