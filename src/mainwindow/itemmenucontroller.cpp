#include "mainwindow/itemmenucontroller.h"

#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "mainwindow/floatingicons.h"
#include "mainwindow/shortcuteditdialog.h"
#include "mainwindow/windowutil.h"
#include "model/itemlaunch.h"
#include "model/panelmodel.h"
#include "model/shortcutfile.h"
#include "panel/icongrid.h"
#include "platform/filemanager.h"
#include "platform/launcher.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"

#include <QAction>
#include <QClipboard>
#include <QCursor>
#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QStandardPaths>

ItemMenuController::ItemMenuController(Host host, QObject* parent) : QObject(parent), m_host(std::move(host))
{
    FloatingIcons::Host floats;
    floats.window = m_host.window;
    floats.launch = m_host.launch;
    floats.position = [this](int itemIndex) {
        IconGrid* g = grid();
        if (!g)
            return QCursor::pos();
        return g->columns() > 0 ? g->snapToCellGlobal(QCursor::pos()) - QPoint(36, 36)
                                : g->itemGlobalRect(itemIndex).topLeft();
    };
    m_floats = new FloatingIcons(std::move(floats), this);
}

QMenu* ItemMenuController::build(int itemIndex)
{
    const int current = m_host.model->currentIndex();
    if (!m_host.model->hasItem(current, itemIndex))
        return nullptr;
    m_menu = ItemMenuTarget{m_host.model->groups()[current].items[itemIndex], current, itemIndex};
    return ::buildItemMenu(m_host.model->groups(), current, m_menu.item, m_host.window);
}

void ItemMenuController::show(int itemIndex, const QPoint& globalPos)
{
    QMenu* menu = build(itemIndex);
    if (!menu)
        return;
    QPointer<QMenu> guard(menu);
    QAction* chosen = menu->exec(globalPos);
    if (guard) {
        run(chosen);
        delete guard.data();
    }
}

// The model may have changed while the menu or one of its dialogs was open (a desktop collection, a drop, a
// reorder): an action only runs on the item it was opened for, still at its place in the group that is still
// shown, so it never edits or removes some other item that moved into that index.
bool ItemMenuController::itemStillThere() const
{
    if (m_menu.group != m_host.model->currentIndex() || !m_host.model->hasItem(m_menu.group, m_menu.index))
        return false;
    return m_host.model->groups()[m_menu.group].items[m_menu.index].path == m_menu.item.path;
}

void ItemMenuController::run(QAction* chosen)
{
    const ItemMenuAction what = itemMenuAction(chosen);
    if (what == ItemMenuAction::None || !itemStillThere())
        return;
    const Item& copy = m_menu.item;
    switch (what) {
    case ItemMenuAction::Open:
        m_host.launch(copy);
        break;
    case ItemMenuAction::RunAsAdmin: {
        // Elevated on its own: the item's arguments and working folder are not passed.
        const LaunchCommand command = launchCommandFor(copy.path, QString(), QString(), true);
        if (elevationToolMissing(command))
            m_host.toast(Lang::tr("未找到 pkexec，无法以管理员身份运行（请安装 polkit）"), Toast::Error);
        else
            runLaunchCommand(command, ktr::platform::launcher());
        break;
    }
    case ItemMenuAction::OpenLocation:
        ktr::platform::showItemInFileManager(copy.path);
        break;
    case ItemMenuAction::Edit:
        editItem();
        break;
    case ItemMenuAction::Relocate:
        relocateItem();
        break;
    case ItemMenuAction::RestoreIcon:
        restoreItemIcon();
        break;
    case ItemMenuAction::CopyPath:
        QGuiApplication::clipboard()->setText(
            copy.path.startsWith(QLatin1String("::")) ? copy.path : QDir::toNativeSeparators(copy.path));
        break;
    case ItemMenuAction::DesktopShortcut:
        createItemShortcut();
        break;
    case ItemMenuAction::MoveToGroup:
        // The model checks the target again (range, not the current group, not holding the same path).
        m_host.model->moveItem(m_menu.group, m_menu.index, chosen->data().toInt());
        break;
    case ItemMenuAction::Float:
        floatItem(m_menu.index);
        break;
    case ItemMenuAction::Remove:
        removeItem();
        break;
    case ItemMenuAction::ClearInvalid:
        clearInvalidItems();
        break;
    case ItemMenuAction::None:
        break;
    }
}

void ItemMenuController::relocateItem()
{
    const QString caption = Lang::tr("选择新的文件位置");
    // "*.*" would hide every file without a dot in its name (most programs here): the pattern becomes "*".
    const QString filter = Lang::tr("所有文件 (*.*)").replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    const QString chosen = ktr::dialogs::openFile(m_host.window, caption, QString(), filter);
    if (chosen.isEmpty() || !itemStillThere())
        return;
    const QString path = QDir::toNativeSeparators(chosen);
    const QList<Item>& items = m_host.model->groups()[m_menu.group].items;
    for (int i = 0; i < items.size(); ++i) {
        if (i != m_menu.index && items[i].path.compare(path, Qt::CaseInsensitive) == 0) {
            m_host.toast(Lang::tr("该路径已在当前分组中"), Toast::Error);
            return;
        }
    }
    m_host.model->editItem(m_menu.group, m_menu.index, [&path](Item& item) { item.path = path; });
    m_host.queueIcon(path);
    m_host.refreshInvalid();
    m_host.toast(Lang::tr("已重新定位"), Toast::Info);
}

void ItemMenuController::restoreItemIcon()
{
    QString old;
    m_host.model->editItem(
        m_menu.group, m_menu.index, [&old](Item& item) { old = std::exchange(item.customIcon, QString()); }, false);
    m_host.saveLayout();
    if (grid() && !old.isEmpty())
        grid()->invalidateIcon(old);
    if (grid())
        grid()->update();
    m_host.toast(Lang::tr("已恢复默认图标"), Toast::Info);
}

void ItemMenuController::createItemShortcut()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QString error;
    if (!createDesktopShortcut(m_menu.item.path, desktop, nullptr, &error)) {
        m_host.toast(Lang::tr(error), Toast::Error);
        return;
    }
    m_host.toast(Lang::tr("已在桌面创建快捷方式"), Toast::Info);
}

void ItemMenuController::removeItem()
{
    m_host.model->removeItem(m_menu.group, m_menu.index);
    m_host.refreshInvalid();
}

void ItemMenuController::clearInvalidItems()
{
    // Hidden items are left alone, as the menu counts them.
    const int removed =
        m_host.model->removeItems([](const Item& item) { return !item.hidden && isItemTargetMissing(item); });
    if (removed == 0)
        return;
    m_host.refreshInvalid();
    qInfo().noquote() << "cleared invalid icon entries:" << removed;
    // One of something reads as one in English: the singular has its own text.
    m_host.toast(removed == 1 ? Lang::tr("已清除 1 个失效图标") : Lang::tr("已清除 %1 个失效图标").arg(removed),
                 Toast::Info);
}

void ItemMenuController::editItem()
{
    const Item copy = m_menu.item;
    const bool isLink = isShortcutFile(copy.path);
    ShortcutInfo before;
    if (isLink) {
        QString error;
        if (!readShortcut(copy.path, &before, &error))
            m_host.toast(error, Toast::Error);
    } else {
        before.target = copy.path;
        before.workingDir = copy.workDir;
        before.arguments = copy.args;
        before.runAsAdmin = copy.runAsAdmin;
    }
    QPixmap preview = copy.customIcon.isEmpty() ? QPixmap() : QPixmap(copy.customIcon);
    if (preview.isNull())
        preview = loadIconPixmap(copy.path);

    ShortcutEditDialog dialog(copy.path, copy.name, isLink, before, preview, m_host.window);
    const int answer = m_hooks.runEditDialog ? m_hooks.runEditDialog(dialog) : dialog.exec();
    if (answer != QDialog::Accepted || !itemStillThere())
        return;

    // Edited on a copy, written back before every save.
    Item item = m_host.model->groups()[m_menu.group].items[m_menu.index];
    const auto writeBack = [this, &item] {
        m_host.model->editItem(
            m_menu.group, m_menu.index, [&item](Item& stored) { stored = item; }, false);
    };
    bool changed = false;
    const QString name = dialog.name().trimmed();
    if (!name.isEmpty() && name != copy.name) {
        item.name = name;
        changed = true;
    }
    ShortcutInfo edited = dialog.result();
    const int choice = dialog.iconChoice();
    if (choice == ShortcutEditDialog::IconFromFile) {
        edited.iconPath = dialog.chosenIconPath();
        edited.iconIndex = 0;
    } else if (choice == ShortcutEditDialog::IconRestored) {
        edited.iconPath.clear();
        edited.iconIndex = 0;
    }

    bool save = changed;
    QString newTarget;
    if (isLink) {
        const bool same = edited.target.trimmed() == before.target.trimmed() &&
                          edited.workingDir.trimmed() == before.workingDir.trimmed() &&
                          edited.arguments == before.arguments && edited.runAsAdmin == before.runAsAdmin &&
                          choice == ShortcutEditDialog::IconUntouched;
        if (!same) {
            QString error;
            if (!writeShortcut(copy.path, edited, &error)) {
                m_host.toast(error.isEmpty() ? Lang::tr("快捷方式写入失败") : error, Toast::Error);
                if (changed) {
                    writeBack();
                    m_host.saveLayout();
                }
                return;
            }
            item.customIcon.clear(); // the icon now lives in the shortcut file
            save = true;
        }
    } else {
        const QString target = edited.target.trimmed();
        if (!target.isEmpty() && target != copy.path.trimmed()) {
            item.path = QDir::fromNativeSeparators(target);
            newTarget = item.path;
            if (IconCacheMap* cache = iconCache())
                iconCacheRemove(*cache, copy.path);
            if (grid())
                grid()->forgetCustomIcon(copy.path);
            changed = true;
        }
        if (edited.workingDir.trimmed() != item.workDir.trimmed()) {
            item.workDir = edited.workingDir.trimmed();
            changed = true;
        }
        if (edited.arguments != item.args) {
            item.args = edited.arguments;
            changed = true;
        }
        if (edited.runAsAdmin != item.runAsAdmin) {
            item.runAsAdmin = edited.runAsAdmin;
            changed = true;
        }
        save = changed;
        if (choice == ShortcutEditDialog::IconFromFile) {
            item.customIcon = dialog.chosenIconPath();
            save = true;
        } else if (choice == ShortcutEditDialog::IconRestored && !item.customIcon.isEmpty()) {
            item.customIcon.clear();
            save = true;
        }
    }
    if (!save)
        return;

    const QString customIcon = item.customIcon;
    writeBack();
    m_host.saveLayout();
    if (customIcon.isEmpty()) {
        if (IconCacheMap* cache = iconCache())
            iconCacheRemove(*cache, copy.path);
        if (grid())
            grid()->forgetCustomIcon(copy.path);
        // Every item showing this path (this one, or the others when the target moved) needs its icon again.
        m_host.queueIcon(copy.path);
    } else {
        if (grid())
            grid()->invalidateIcon(customIcon);
    }
    if (grid() && !copy.customIcon.isEmpty() && copy.customIcon != customIcon)
        grid()->invalidateIcon(copy.customIcon);
    // A new target has no icon yet: ask for it, as a relocated item does.
    if (!newTarget.isEmpty())
        m_host.queueIcon(newTarget);
    if (IconGrid* g = grid())
        g->refreshIcons();
    if (grid())
        grid()->update();
    m_host.toast(Lang::tr("已保存更改"), Toast::Info);
}

// ---- floating icons -------------------------------------------------------------------------------------

void ItemMenuController::floatItem(int itemIndex)
{
    const PanelModel& model = *m_host.model;
    if (!model.hasItem(model.currentIndex(), itemIndex))
        return;
    // What the icon launches stays as it is now.
    const Item item = model.groups()[model.currentIndex()].items[itemIndex];
    m_floats->add(item, itemIndex, m_host.settings->singleClickOpen);
}
