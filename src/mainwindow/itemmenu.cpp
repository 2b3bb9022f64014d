#include "mainwindow/itemmenu.h"

#include "mainwindow/menustyle.h"
#include "mainwindow/windowutil.h"
#include "model/shortcutfile.h"
#include "platform/icontheme.h"
#include "platform/launcher.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>

#include <algorithm>

namespace {

const char* const kActionProperty = "ktrItemAction";

bool isShellPath(const QString& path)
{
    return path.startsWith(QLatin1String("::"));
}

QAction* addEntry(QMenu* menu, const QString& text, int glyph, const QColor& colour, bool enabled, ItemMenuAction what)
{
    QAction* action = menu->addAction(menuGlyphIcon(glyph, colour), text);
    action->setEnabled(enabled);
    action->setProperty(kActionProperty, int(what));
    return action;
}

} // namespace

QSet<QString> invalidItemPaths(const QList<Group>& groups)
{
    QSet<QString> paths;
    for (const Group& group : groups) {
        for (const Item& item : group.items) {
            if (isItemTargetMissing(item))
                paths.insert(item.path);
        }
    }
    return paths;
}

int countInvalidItems(const QList<Group>& groups)
{
    int count = 0;
    // Hidden items are not shown anywhere: the user can't see them, so they are neither counted nor cleared.
    for (const Group& group : groups)
        count += int(std::count_if(group.items.cbegin(), group.items.cend(),
                                   [](const Item& item) { return !item.hidden && isItemTargetMissing(item); }));
    return count;
}

bool isShortcutFile(const QString& path)
{
    return path.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive);
}

ItemMenuFacts itemMenuFacts(const QList<Group>& groups, const Item& item)
{
    ItemMenuFacts facts;
    facts.shellItem = isShellPath(item.path);
    if (!facts.shellItem) {
        const QFileInfo info(item.path);
        facts.isDir = info.isDir();
        facts.exists = info.exists();
        // A document opens in its program, which the elevation would not reach.
        facts.runnable = facts.exists && !facts.isDir && (info.isExecutable() || isShortcutFile(item.path));
    }
    facts.invalid = isItemTargetMissing(item);
    if (facts.invalid)
        facts.invalidCount = countInvalidItems(groups);
    return facts;
}

QMenu* buildItemMenu(const QList<Group>& groups, int currentGroup, const Item& item, QWidget* parent)
{
    const ItemMenuFacts f = itemMenuFacts(groups, item);
    const bool dark = currentTheme().isDark;
    const QColor normal(dark ? 0xC7CEDB : 0x4A515E);
    const QColor secondary(dark ? 0x9AA2B2 : 0x6C7584);
    const QColor red(0xD9534F);

    auto* menu = new QMenu(parent);
    applyMenuStyle(menu);
    addEntry(menu, Lang::tr("打开"), 0, normal, f.shellItem || f.exists, ItemMenuAction::Open);
    addEntry(menu, Lang::tr("以管理员身份运行"), 1, normal, f.runnable, ItemMenuAction::RunAsAdmin);
    addEntry(menu, Lang::tr("打开所在位置"), 2, normal, f.exists && !f.shellItem, ItemMenuAction::OpenLocation);
    menu->addSeparator();
    addEntry(menu, Lang::tr("编辑..."), 11, normal, f.exists, ItemMenuAction::Edit);
    addEntry(menu, Lang::tr("重新定位..."), 2, normal, !f.shellItem, ItemMenuAction::Relocate);
    addEntry(menu, Lang::tr("恢复默认图标"), 10, secondary, !item.customIcon.isEmpty(), ItemMenuAction::RestoreIcon);
    addEntry(menu, Lang::tr("复制完整路径"), 12, normal, true, ItemMenuAction::CopyPath);
    addEntry(menu, Lang::tr("创建桌面快捷方式"), 13, normal, f.exists, ItemMenuAction::DesktopShortcut);
    menu->addSeparator();

    QMenu* move = menu->addMenu(menuGlyphIcon(3, normal), Lang::tr("移动到分组"));
    applyMenuStyle(move);
    move->menuAction()->setProperty(kActionProperty, int(ItemMenuAction::None));
    for (int g = 0; g < groups.size(); ++g) {
        const QList<Item>& items = groups.at(g).items;
        const bool holdsPath =
            std::any_of(items.cbegin(), items.cend(), [&item](const Item& other) { return other.path == item.path; });
        QAction* entry = move->addAction(Lang::tr(groups.at(g).name)); // as the sidebar shows it
        entry->setData(g);
        entry->setEnabled(g != currentGroup && !holdsPath);
        entry->setProperty(kActionProperty, int(ItemMenuAction::MoveToGroup));
    }
    addEntry(menu, Lang::tr("悬浮"), 5, normal, true, ItemMenuAction::Float);
    menu->addSeparator();
    addEntry(menu, Lang::tr("从面板移除"), 14, red, true, ItemMenuAction::Remove);
    if (f.invalid && f.invalidCount >= 1) {
        menu->addSeparator();
        addEntry(menu, QStringLiteral("%1 (%2)").arg(Lang::tr("清除所有失效图标")).arg(f.invalidCount), 14, red, true,
                 ItemMenuAction::ClearInvalid);
    }
    return menu;
}

ItemMenuAction itemMenuAction(const QAction* action)
{
    if (!action)
        return ItemMenuAction::None;
    return ItemMenuAction(action->property(kActionProperty).toInt());
}

QAction* findItemMenuAction(const QMenu* menu, ItemMenuAction what, int group)
{
    if (!menu)
        return nullptr;
    const QList<QAction*> actions = menu->actions();
    for (QAction* action : actions) {
        if (QMenu* sub = action->menu()) {
            if (QAction* found = findItemMenuAction(sub, what, group))
                return found;
            continue;
        }
        if (itemMenuAction(action) != what)
            continue;
        if (what == ItemMenuAction::MoveToGroup && action->data().toInt() != group)
            continue;
        return action;
    }
    return nullptr;
}

QString freeDesktopShortcutPath(const QString& folder, const QString& base)
{
    QString path = folder + QLatin1Char('/') + base + QStringLiteral(".desktop");
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = folder + QLatin1Char('/') + base + QStringLiteral(" (%1).desktop").arg(n);
    return path;
}

namespace {

// The argument string that QProcess::splitCommand turns back into exactly this one argument.
QString quotedArgument(QString text)
{
    text.replace(QStringLiteral("\""), QStringLiteral("\"\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

void markLaunchable(const QString& path)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
}

} // namespace

bool createDesktopShortcut(const QString& itemPath, const QString& desktopFolder, QString* created, QString* error)
{
    // A folder written with its trailing slash is named by its last name all the same.
    const QFileInfo info(QDir::cleanPath(itemPath));
    QString base = info.completeBaseName();
    if (base.isEmpty())
        base = info.fileName();
    // The root has no name of its own, and ".desktop" would be an entry the desktop hides: it is the local disk.
    if (base.isEmpty())
        base = Lang::tr("本地磁盘");
    QDir().mkpath(desktopFolder);
    const QString destination = freeDesktopShortcutPath(desktopFolder, base);

    if (isShortcutFile(itemPath)) {
        if (!QFile::copy(itemPath, destination)) {
            if (error)
                *error = QStringLiteral("复制快捷方式失败（桌面可能已有同名文件）");
            return false;
        }
    } else {
        const QString absolute = info.absoluteFilePath();
        ShortcutInfo shortcut;
        shortcut.workingDir = info.absolutePath();
        // Icons by the names every theme carries (text/plain's own "text-plain" is in few of them).
        if (ktr::platform::isNativeExecutable(absolute)) {
            shortcut.target = absolute;
            shortcut.iconPath = QStringLiteral("application-x-executable");
        } else {
            // A document or folder has no command of its own: the desktop's opener starts its application,
            // found on PATH when the entry is opened (where it lives here may not be where it lives then).
            shortcut.target = QStringLiteral("xdg-open");
            shortcut.arguments = quotedArgument(absolute);
            shortcut.iconPath = ktr::platform::standardIconName(absolute);
        }
        if (!writeShortcut(destination, shortcut)) {
            if (error)
                *error = QStringLiteral("快捷方式写入失败（目标可能被占用）");
            return false;
        }
    }
    markLaunchable(destination);
    if (created)
        *created = destination;
    return true;
}

QPoint clampIntoArea(const QPoint& position, const QSize& size, const QRect& area)
{
    const int x = std::max(area.left(), std::min(position.x(), area.right() - size.width() + 1));
    const int y = std::max(area.top(), std::min(position.y(), area.bottom() - size.height() + 1));
    return QPoint(x, y);
}
