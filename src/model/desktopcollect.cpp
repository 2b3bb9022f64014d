#include "model/desktopcollect.h"

#include "ui/lang.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>

#include <array>

namespace {

struct Category
{
    const char* name;
    const char* extensions;
};

// ".desktop" launchers are the programs of a Linux desktop, so they join the Windows program types.
constexpr std::array<Category, kDesktopCategoryCount> kCategories = {{
    {"程序", "exe lnk url bat cmd msi msix appref-ms ps1 vbs desktop"},
    {"文档", "doc docx xls xlsx ppt pptx pdf txt md rtf csv wps et dps odt"},
    {"图片", "jpg jpeg png gif bmp webp svg ico tif tiff psd ai raw"},
    {"影音", "mp4 avi mkv mov wmv flv rmvb mp3 wav flac aac m4a wma"},
    {"压缩包", "zip rar 7z tar gz bz2 xz iso"},
}};

const QHash<QString, int>& extensionMap()
{
    static const QHash<QString, int> map = [] {
        QHash<QString, int> m;
        for (int row = 0; row < int(kCategories.size()); ++row) {
            const QStringList parts =
                QString::fromUtf8(kCategories[row].extensions).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            for (const QString& ext : parts)
                m.insert(ext, row);
        }
        return m;
    }();
    return map;
}

Item itemFor(const QFileInfo& info, const QString& full)
{
    Item item;
    item.path = full;
    if (info.isDir() || info.suffix().isEmpty())
        item.name = info.fileName();
    else
        item.name = info.completeBaseName();
    return item;
}

} // namespace

int desktopCategoryOf(const QString& suffix)
{
    return extensionMap().value(suffix, -1);
}

QString desktopGroupNameFor(const QString& suffix)
{
    const int row = desktopCategoryOf(suffix);
    if (row >= 0)
        return QString::fromUtf8(kCategories[row].name);
    return Lang::tr("其他");
}

QStringList desktopFolders()
{
    QStringList folders;
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty())
        return folders;
    const QFileInfo info(desktop);
    if (!info.isDir())
        return folders;
    const QString home = QFileInfo(QDir::homePath()).canonicalFilePath();
    if (!home.isEmpty() && info.canonicalFilePath() == home) {
        qInfo().noquote() << "desktop sync: the desktop is the home folder, not scanned:" << desktop;
        return folders;
    }
    folders.append(desktop);
    return folders;
}

DesktopCollectResult collectDesktopIcons(QList<Group>& groups, const QStringList& folders)
{
    // Linux file names are case-sensitive: Report.pdf and report.pdf are two files, each its own item.
    QSet<QString> known;
    for (const Group& group : std::as_const(groups)) {
        for (const Item& item : group.items)
            known.insert(item.path);
    }

    struct Pending
    {
        QFileInfo info;
        QString full;
    };
    QList<Pending> pending;
    for (const QString& folder : folders) {
        const QDir dir(folder);
        if (folder.isEmpty() || !dir.exists())
            continue;
        const QFileInfoList entries =
            dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& entry : entries) {
            if (entry.isHidden() || entry.isSymLink())
                continue;
            const QString full = QDir::fromNativeSeparators(entry.absoluteFilePath());
            if (known.contains(full))
                continue;
            known.insert(full);
            pending.append({entry, full});
        }
    }

    qInfo() << "desktop sync: dirs =" << folders << "pending =" << pending.size();

    DesktopCollectResult result;
    result.pending = int(pending.size());
    if (pending.isEmpty()) {
        result.message = Lang::tr("桌面没有需要收纳的新图标");
        return result;
    }

    for (const Pending& p : std::as_const(pending)) {
        const QString groupName = desktopGroupNameFor(p.info.suffix().toLower());
        int index = findGroupByName(groups, groupName);
        if (index < 0) {
            groups.append(Group{groupName, {}});
            index = int(groups.size()) - 1;
        }
        groups[index].items.append(itemFor(p.info, p.full));
        result.newPaths.append(p.full);
        ++result.added;
    }

    qInfo().noquote() << "desktop sync: added =" << result.added << "groups =" << groups.size();
    // One of something reads as one in English: the singular has its own text.
    result.message = result.added == 1 ? Lang::tr("已收纳 1 个桌面新图标")
                                       : Lang::trCount("已收纳 %1 个桌面新图标", result.added).arg(result.added);
    return result;
}
