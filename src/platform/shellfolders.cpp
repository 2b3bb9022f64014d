#include "platform/shellfolders.h"

#include <QUuid>

#include <array>
#include <cstring>

namespace ktr::platform {

namespace {

using K = ShellFolder::Kind;
using P = ShellFolder::SettingsPage;
constexpr auto kNoLocation = QStandardPaths::HomeLocation;

// Parsing names as Windows reports them; the user folders are those "This PC" shows.
const ShellFolder kFolders[] = {
    {"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", "此电脑", "computer", K::Place, "computer:///", P::None, kNoLocation},
    {"::{645FF040-5081-101B-9F08-00AA002F954E}", "回收站", "user-trash", K::Place, "trash:///", P::None, kNoLocation},
    {"::{208D2C60-3AEA-1069-A2D7-08002B30309D}", "网络", "network-workgroup", K::Place, "network:///", P::None,
     kNoLocation},
    {"::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}", "网络", "network-workgroup", K::Place, "network:///", P::None,
     kNoLocation},
    {"::{5399E694-6CE5-4D6C-8FCE-1D8870FDCBA0}", "控制面板", "preferences-system", K::Settings, nullptr, P::Overview,
     kNoLocation},
    {"::{7007ACC7-3202-11D1-AAD2-00805FC1270E}", "网络连接", "preferences-system-network", K::Settings, nullptr,
     P::Network, kNoLocation},
    {"::{2227A280-3AEA-1069-A2DE-08002B30309D}", "打印机", "printer", K::Settings, nullptr, P::Printers, kNoLocation},
    {"::{59031A47-3F72-44A7-89C5-5595FE6B30EE}", "主文件夹", "user-home", K::UserFolder, nullptr, P::None,
     QStandardPaths::HomeLocation},
    {"::{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}", "桌面", "user-desktop", K::UserFolder, nullptr, P::None,
     QStandardPaths::DesktopLocation},
    {"::{A8CDFF1C-4878-43BE-B5FD-F8091C1C60D0}", "文档", "folder-documents", K::UserFolder, nullptr, P::None,
     QStandardPaths::DocumentsLocation},
    {"::{374DE290-123F-4565-9164-39C4925E467B}", "下载", "folder-download", K::UserFolder, nullptr, P::None,
     QStandardPaths::DownloadLocation},
    {"::{1CF1260C-4DD0-4EBB-811F-33C572699FDE}", "音乐", "folder-music", K::UserFolder, nullptr, P::None,
     QStandardPaths::MusicLocation},
    {"::{3ADD1653-EB32-4CB0-BBD7-DFA0ABB5ACCA}", "图片", "folder-pictures", K::UserFolder, nullptr, P::None,
     QStandardPaths::PicturesLocation},
    {"::{A0953C92-50DC-43BF-BE83-5742FED03C5C}", "视频", "folder-videos", K::UserFolder, nullptr, P::None,
     QStandardPaths::MoviesLocation},
};

// The network place a dragged network:/// becomes: the one the default layout uses, so both look alike.
constexpr const char* kNetworkPlace = "::{208D2C60-3AEA-1069-A2D7-08002B30309D}";

// Settings programs of the common desktops, with the argument that opens a page (nullptr: no such page).
struct SettingsApp
{
    const char* desktops; // ';'-separated XDG_CURRENT_DESKTOP names that use this program
    const char* program;
    const char* networkArg;
    const char* printersArg;
};

const SettingsApp kSettingsApps[] = {
    {"GNOME;Unity;ubuntu", "gnome-control-center", "network", "printers"},
    {"Budgie", "budgie-control-center", "network", "printers"},
    {"KDE", "systemsettings", "kcm_networkmanagement", "kcm_printer_manager"},
    {"KDE", "systemsettings5", "kcm_networkmanagement", "kcm_printer_manager"},
    {"X-Cinnamon;Cinnamon", "cinnamon-settings", "network", "printers"},
    {"XFCE", "xfce4-settings-manager", nullptr, nullptr},
    {"MATE", "mate-control-center", nullptr, nullptr},
    {"LXQt", "lxqt-config", nullptr, nullptr},
};

// Stand-alone tools for a page when the desktop's own program has none.
struct PageTool
{
    P page;
    const char* program;
};
const PageTool kPageTools[] = {
    {P::Network, "nm-connection-editor"},
    {P::Printers, "system-config-printer"},
};

std::array<unsigned char, 16> guidBytes(const QUuid& id)
{
    std::array<unsigned char, 16> b{};
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<unsigned char>(id.data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) {
        b[4 + i] = static_cast<unsigned char>(id.data2 >> (8 * i));
        b[6 + i] = static_cast<unsigned char>(id.data3 >> (8 * i));
    }
    std::memcpy(b.data() + 8, id.data4, 8);
    return b;
}

bool desktopMatches(const char* desktops, const QStringList& current)
{
    const QStringList names = QString::fromLatin1(desktops).split(u';');
    for (const QString& c : current)
        if (names.contains(c, Qt::CaseInsensitive))
            return true;
    return false;
}

const char* pageArg(const SettingsApp& app, P page, bool* supported)
{
    switch (page) {
    case P::Network:
        *supported = app.networkArg != nullptr;
        return app.networkArg;
    case P::Printers:
        *supported = app.printersArg != nullptr;
        return app.printersArg;
    default:
        *supported = true;
        return nullptr;
    }
}

ShellTarget settingsTarget(P page, const ExecutableFinder& finder, const QStringList& desktops)
{
    auto tryApp = [&](const SettingsApp& app, ShellTarget* out) {
        bool supported = false;
        const char* arg = pageArg(app, page, &supported);
        if (!supported)
            return false;
        const QString exe = finder(QString::fromLatin1(app.program));
        if (exe.isEmpty())
            return false;
        out->kind = ShellTarget::Kind::Program;
        out->value = exe;
        if (arg)
            out->arguments = QStringList{QString::fromLatin1(arg)};
        return true;
    };

    ShellTarget t;
    // The running desktop's own program first, then a tool made for the page, then any settings program found.
    for (const SettingsApp& app : kSettingsApps)
        if (desktopMatches(app.desktops, desktops) && tryApp(app, &t))
            return t;
    for (const PageTool& tool : kPageTools) {
        if (tool.page != page)
            continue;
        const QString exe = finder(QString::fromLatin1(tool.program));
        if (!exe.isEmpty()) {
            t.kind = ShellTarget::Kind::Program;
            t.value = exe;
            return t;
        }
    }
    for (const SettingsApp& app : kSettingsApps)
        if (tryApp(app, &t))
            return t;
    return t;
}

} // namespace

std::span<const ShellFolder> shellFolders()
{
    return kFolders;
}

const ShellFolder* findShellFolder(const QString& parsingName)
{
    if (!parsingName.startsWith(u"::{"))
        return nullptr;
    for (const ShellFolder& f : kFolders)
        if (parsingName.compare(QLatin1String(f.parsingName), Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

const ShellFolder* findShellFolderByClsid(const unsigned char* guid16)
{
    if (!guid16)
        return nullptr;
    for (const ShellFolder& f : kFolders) {
        const QUuid id = QUuid::fromString(QLatin1String(f.parsingName + 2));
        if (std::memcmp(guidBytes(id).data(), guid16, 16) == 0)
            return &f;
    }
    return nullptr;
}

ShellTarget shellFolderTarget(const ShellFolder& folder, const ExecutableFinder& finder,
                              const QStringList& desktopNames)
{
    ShellTarget t;
    switch (folder.kind) {
    case K::Place:
        t.kind = ShellTarget::Kind::Url;
        t.value = QString::fromLatin1(folder.uri);
        break;
    case K::UserFolder: {
        const QString path = QStandardPaths::writableLocation(folder.location);
        if (!path.isEmpty()) {
            t.kind = ShellTarget::Kind::Folder;
            t.value = path;
        }
        break;
    }
    case K::Settings: {
        const ExecutableFinder find =
            finder ? finder : [](const QString& name) { return QStandardPaths::findExecutable(name); };
        const QStringList desktops = desktopNames.isEmpty()
                                         ? qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts)
                                         : desktopNames;
        t = settingsTarget(folder.page, find, desktops);
        break;
    }
    }
    return t;
}

QString shellItemForUrl(const QUrl& url)
{
    if (!url.isValid())
        return {};
    // Only the place itself: trash:///some-file is a file in the trash, not the Recycle Bin.
    const QString path = url.path();
    if (!(path.isEmpty() || path == u"/") || !url.host().isEmpty() || url.hasQuery() || url.hasFragment())
        return {};
    const QString scheme = url.scheme().toLower();
    if (scheme == u"trash")
        return QString::fromLatin1(kFolders[1].parsingName);
    if (scheme == u"computer")
        return QString::fromLatin1(kFolders[0].parsingName);
    if (scheme == u"network")
        return QString::fromLatin1(kNetworkPlace);
    return {};
}

} // namespace ktr::platform
