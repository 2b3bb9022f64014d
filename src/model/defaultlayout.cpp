#include "model/defaultlayout.h"

#include "ui/lang.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTextStream>

#include <algorithm>

namespace {

const QString kComputer = QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
const QString kRecycleBin = QStringLiteral("::{645FF040-5081-101B-9F08-00AA002F954E}");
const QString kNetwork = QStringLiteral("::{208D2C60-3AEA-1069-A2D7-08002B30309D}");

// A tool of the desktop: the name it is shown under and the .desktop entries that provide it on the
// common desktops, the first one found wins.
struct Tool
{
    const char* name;
    QStringList entries;
};

const char* const kUserFolderNames[] = {"桌面", "下载", "文档", "图片", "音乐", "视频"};

QString firstExecToken(const QString& exec)
{
    const QString trimmed = exec.trimmed();
    if (trimmed.startsWith(QLatin1Char('"'))) {
        const int end = trimmed.indexOf(QLatin1Char('"'), 1);
        return end > 0 ? trimmed.mid(1, end - 1) : QString();
    }
    return trimmed.section(QLatin1Char(' '), 0, 0);
}

bool programExists(const QString& program)
{
    if (program.isEmpty())
        return false;
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// True when the entry is a visible application whose program is installed.
bool usableDesktopEntry(const QString& path)
{
    QFile file(path);
    if (file.size() > 1024 * 1024 || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    bool inMain = false;
    QString type, exec, tryExec;
    bool hidden = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMain || line.startsWith(QLatin1Char('#')))
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Type"))
            type = value;
        else if (key == QLatin1String("Exec"))
            exec = value;
        else if (key == QLatin1String("TryExec"))
            tryExec = value;
        else if ((key == QLatin1String("Hidden") || key == QLatin1String("NoDisplay")) &&
                 value == QLatin1String("true"))
            hidden = true;
    }
    if (type != QLatin1String("Application") || hidden)
        return false;
    if (!tryExec.isEmpty() && !programExists(tryExec))
        return false;
    return programExists(firstExecToken(exec));
}

QString findDesktopEntry(const QStringList& dirs, const QStringList& entries)
{
    for (const QString& entry : entries) {
        for (const QString& dir : dirs) {
            const QString path = dir + QLatin1Char('/') + entry;
            if (QFileInfo(path).isFile() && usableDesktopEntry(path))
                return path;
        }
    }
    return QString();
}

void addItem(Group& group, const QString& path, const QString& name)
{
    Item it;
    it.path = path;
    it.name = name;
    group.items.append(it);
}

void addTool(Group& group, const QStringList& dirs, const Tool& tool)
{
    const QString path = findDesktopEntry(dirs, tool.entries);
    if (!path.isEmpty())
        addItem(group, path, Lang::tr(tool.name));
}

QString volumeLabel(const VolumeInfo& v)
{
    if (v.rootPath == QLatin1String("/"))
        return v.rootPath;
    return v.label.isEmpty() ? v.rootPath : v.label;
}

} // namespace

DefaultLayoutSources defaultLayoutSources()
{
    DefaultLayoutSources s;
    s.homeDir = QDir::homePath();
    for (auto location :
         {QStandardPaths::DesktopLocation, QStandardPaths::DownloadLocation, QStandardPaths::DocumentsLocation,
          QStandardPaths::PicturesLocation, QStandardPaths::MusicLocation, QStandardPaths::MoviesLocation})
        s.userFolders << QStandardPaths::writableLocation(location);
    for (const QStorageInfo& st : QStorageInfo::mountedVolumes())
        s.volumes.append(VolumeInfo{st.rootPath(), QString::fromLocal8Bit(st.device()),
                                    QString::fromLatin1(st.fileSystemType()), st.name(), st.isValid() && st.isReady()});
    s.applicationDirs = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    if (!s.applicationDirs.contains(QLatin1String("/usr/share/applications")))
        s.applicationDirs << QStringLiteral("/usr/share/applications");
    return s;
}

bool isUserVolume(const VolumeInfo& v)
{
    static const QSet<QString> pseudo = {
        QStringLiteral("tmpfs"),   QStringLiteral("devtmpfs"), QStringLiteral("squashfs"),
        QStringLiteral("overlay"), QStringLiteral("ramfs"),    QStringLiteral("proc"),
        QStringLiteral("sysfs"),   QStringLiteral("autofs"),   QStringLiteral("efivarfs")};
    if (!v.ready || !v.device.startsWith(QLatin1String("/dev/")) || v.device.startsWith(QLatin1String("/dev/loop")))
        return false;
    if (pseudo.contains(v.fsType))
        return false;
    for (const char* excluded : {"/boot", "/snap"}) {
        const QLatin1String prefix(excluded);
        if (v.rootPath == prefix || v.rootPath.startsWith(prefix + QLatin1Char('/')))
            return false;
    }
    return true;
}

QList<Group> buildDefaultLayout(const DefaultLayoutSources& sources)
{
    const QStringList& dirs = sources.applicationDirs;

    Group common{Lang::tr("常用"), {}};
    addItem(common, kComputer, Lang::tr("此电脑"));
    addItem(common, kRecycleBin, Lang::tr("回收站"));
    const QString home = QDir::cleanPath(sources.homeDir);
    for (int i = 0; i < int(std::size(kUserFolderNames)) && i < sources.userFolders.size(); ++i) {
        const QString folder = QDir::cleanPath(sources.userFolders.at(i));
        // A user folder that is switched off points at the home folder itself; one never made is absent.
        if (sources.userFolders.at(i).isEmpty() || folder == home || !QFileInfo(folder).isDir())
            continue;
        addItem(common, folder, Lang::tr(kUserFolderNames[i]));
    }
    addItem(common, kNetwork, Lang::tr("网络"));
    addTool(common, dirs, {"网络连接", {QStringLiteral("nm-connection-editor.desktop")}});
    addTool(common, dirs, {"打印机", {QStringLiteral("system-config-printer.desktop")}});

    // One item per device (bind mounts repeat it), the shortest mount point first, folders only.
    QList<VolumeInfo> volumes;
    for (const VolumeInfo& v : sources.volumes) {
        if (isUserVolume(v) && QFileInfo(v.rootPath).isDir())
            volumes.append(v);
    }
    std::stable_sort(volumes.begin(), volumes.end(), [](const VolumeInfo& a, const VolumeInfo& b) {
        return a.rootPath.size() != b.rootPath.size() ? a.rootPath.size() < b.rootPath.size() : a.rootPath < b.rootPath;
    });
    QSet<QString> devices;
    for (const VolumeInfo& v : volumes) {
        if (devices.contains(v.device))
            continue;
        devices.insert(v.device);
        // A text of the form 本地磁盘 (...) is translated as a whole, whatever stands in the brackets.
        addItem(common, v.rootPath, Lang::tr(QStringLiteral("本地磁盘 (%1)").arg(volumeLabel(v))));
    }

    const Tool tools[] = {
        {"事件查看器", {QStringLiteral("org.gnome.Logs.desktop"), QStringLiteral("org.kde.ksystemlog.desktop")}},
        {"任务管理器",
         {QStringLiteral("org.gnome.SystemMonitor.desktop"), QStringLiteral("gnome-system-monitor.desktop"),
          QStringLiteral("org.kde.plasma-systemmonitor.desktop"), QStringLiteral("org.kde.ksysguard.desktop"),
          QStringLiteral("xfce4-taskmanager.desktop"), QStringLiteral("mate-system-monitor.desktop"),
          QStringLiteral("lxtask.desktop"), QStringLiteral("lxqt-taskmanager.desktop")}},
        {"写字板", {QStringLiteral("libreoffice-writer.desktop"), QStringLiteral("abiword.desktop")}},
        {"命令提示符",
         {QStringLiteral("org.gnome.Terminal.desktop"), QStringLiteral("org.gnome.Console.desktop"),
          QStringLiteral("org.kde.konsole.desktop"), QStringLiteral("xfce4-terminal.desktop"),
          QStringLiteral("mate-terminal.desktop"), QStringLiteral("lxterminal.desktop"),
          QStringLiteral("qterminal.desktop"), QStringLiteral("terminator.desktop"),
          QStringLiteral("com.gexperts.Tilix.desktop"), QStringLiteral("xterm.desktop"),
          QStringLiteral("debian-xterm.desktop")}},
        {"字符映射表",
         {QStringLiteral("org.gnome.Characters.desktop"), QStringLiteral("gucharmap.desktop"),
          QStringLiteral("org.kde.kcharselect.desktop")}},
        {"截图工具",
         {QStringLiteral("org.gnome.Screenshot.desktop"), QStringLiteral("org.kde.spectacle.desktop"),
          QStringLiteral("xfce4-screenshooter.desktop"), QStringLiteral("mate-screenshot.desktop"),
          QStringLiteral("org.flameshot.Flameshot.desktop")}},
        {"控制面板",
         {QStringLiteral("org.gnome.Settings.desktop"), QStringLiteral("gnome-control-center.desktop"),
          QStringLiteral("systemsettings.desktop"), QStringLiteral("org.kde.systemsettings.desktop"),
          QStringLiteral("xfce-settings-manager.desktop"), QStringLiteral("mate-control-center.desktop"),
          QStringLiteral("cinnamon-settings.desktop"), QStringLiteral("lxqt-config.desktop")}},
        {"文件资源管理器",
         {QStringLiteral("org.gnome.Nautilus.desktop"), QStringLiteral("nautilus.desktop"),
          QStringLiteral("org.kde.dolphin.desktop"), QStringLiteral("thunar.desktop"), QStringLiteral("nemo.desktop"),
          QStringLiteral("caja.desktop"), QStringLiteral("pcmanfm.desktop"), QStringLiteral("pcmanfm-qt.desktop")}},
    };
    const Tool laterTools[] = {
        {"注册表编辑器", {QStringLiteral("ca.desrt.dconf-editor.desktop")}},
        {"画图",
         {QStringLiteral("com.github.PintaProject.Pinta.desktop"), QStringLiteral("pinta.desktop"),
          QStringLiteral("org.kde.kolourpaint.desktop"), QStringLiteral("com.github.maoschanz.drawing.desktop")}},
        {"磁盘清理", {QStringLiteral("org.bleachbit.BleachBit.desktop"), QStringLiteral("bleachbit.desktop")}},
        {"系统信息", {QStringLiteral("hardinfo.desktop"), QStringLiteral("org.kde.kinfocenter.desktop")}},
        {"记事本",
         {QStringLiteral("org.gnome.TextEditor.desktop"), QStringLiteral("org.gnome.gedit.desktop"),
          QStringLiteral("org.kde.kate.desktop"), QStringLiteral("org.kde.kwrite.desktop"),
          QStringLiteral("org.xfce.mousepad.desktop"), QStringLiteral("mousepad.desktop"),
          QStringLiteral("pluma.desktop"), QStringLiteral("xed.desktop"), QStringLiteral("l3afpad.desktop"),
          QStringLiteral("leafpad.desktop")}},
        {"远程桌面连接",
         {QStringLiteral("org.remmina.Remmina.desktop"), QStringLiteral("remmina.desktop"),
          QStringLiteral("org.kde.krdc.desktop"), QStringLiteral("vinagre.desktop")}},
    };

    Group system{Lang::tr("系统"), {}};
    for (const Tool& tool : tools)
        addTool(system, dirs, tool);
    addItem(system, kComputer, Lang::tr("此电脑")); // a shell place has no file to test: always added
    for (const Tool& tool : laterTools)
        addTool(system, dirs, tool);

    return {common, system};
}
