// The main window's item menu, search, invalid-item check, live group reordering and floating icons.

#include "mainwindow/mainwindow.h"

#include "mainwindow/iconqueue.h"

#include "lock/lockcontroller.h"

#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "mainwindow/invalidpathcheck.h"
#include "mainwindow/itemmenu.h"
#include "mainwindow/shortcuteditdialog.h"
#include "mainwindow/windowsearch.h"
#include "mainwindow/windowutil.h"
#include "model/itemlaunch.h"
#include "model/shortcutfile.h"
#include "panel/floaticon.h"
#include "panel/icongrid.h"
#include "platform/filemanager.h"
#include "platform/launcher.h"
#include "settings/settingsdialog.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"

#include <QAction>
#include <QClipboard>
#include <QCursor>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QStandardPaths>

// ---- item menu ------------------------------------------------------------------------------------------

void MainWindow::setItemMenuHooks(ItemMenuHooks hooks)
{
    m_itemMenuHooks = std::move(hooks);
}

QMenu* MainWindow::buildItemMenu(int itemIndex)
{
    const int current = m_model.currentIndex();
    if (!m_model.hasItem(current, itemIndex))
        return nullptr;
    m_menu = ItemMenuTarget{m_model.groups()[current].items[itemIndex], current, itemIndex};
    return ::buildItemMenu(m_model.groups(), current, m_menu.item, this);
}

void MainWindow::showItemMenu(int itemIndex, const QPoint& globalPos)
{
    QMenu* menu = buildItemMenu(itemIndex);
    if (!menu)
        return;
    QPointer<QMenu> guard(menu);
    QAction* chosen = menu->exec(globalPos);
    if (guard) {
        runItemMenuAction(chosen);
        delete guard.data();
    }
}

// The model may have changed while the menu or one of its dialogs was open (a desktop collection, a drop, a
// reorder): an action only runs on the item it was opened for, still at its place in the group that is still
// shown, so it never edits or removes some other item that moved into that index.
bool MainWindow::menuItemStillThere() const
{
    if (m_menu.group != m_model.currentIndex() || !m_model.hasItem(m_menu.group, m_menu.index))
        return false;
    return m_model.groups()[m_menu.group].items[m_menu.index].path == m_menu.item.path;
}

void MainWindow::runItemMenuAction(QAction* chosen)
{
    const ItemMenuAction what = itemMenuAction(chosen);
    if (what == ItemMenuAction::None || !menuItemStillThere())
        return;
    const Item& copy = m_menu.item;
    switch (what) {
    case ItemMenuAction::Open:
        launchTarget(copy.path, copy.workDir, copy.args, copy.runAsAdmin);
        break;
    case ItemMenuAction::RunAsAdmin: {
        // Elevated on its own: the item's arguments and working folder are not passed.
        const LaunchCommand command = launchCommandFor(copy.path, QString(), QString(), true);
        if (elevationToolMissing(command))
            showToast(Lang::tr("未找到 pkexec，无法以管理员身份运行（请安装 polkit）"), Toast::Error);
        else
            runLaunchCommand(command, ktr::platform::launcher());
        break;
    }
    case ItemMenuAction::OpenLocation:
        ktr::platform::showItemInFileManager(copy.path);
        break;
    case ItemMenuAction::Edit:
        editMenuItem();
        break;
    case ItemMenuAction::Relocate:
        relocateMenuItem();
        break;
    case ItemMenuAction::RestoreIcon:
        restoreMenuItemIcon();
        break;
    case ItemMenuAction::CopyPath:
        QGuiApplication::clipboard()->setText(
            copy.path.startsWith(QLatin1String("::")) ? copy.path : QDir::toNativeSeparators(copy.path));
        break;
    case ItemMenuAction::DesktopShortcut:
        createMenuItemShortcut();
        break;
    case ItemMenuAction::MoveToGroup:
        // onItemMoved checks the target again (range, not the current group, not holding the same path).
        onItemMoved(m_menu.group, m_menu.index, chosen->data().toInt());
        break;
    case ItemMenuAction::Float:
        floatItem(m_menu.index);
        break;
    case ItemMenuAction::Remove:
        removeMenuItem();
        break;
    case ItemMenuAction::ClearInvalid:
        clearInvalidItems();
        break;
    case ItemMenuAction::None:
        break;
    }
}

void MainWindow::relocateMenuItem()
{
    const QString caption = Lang::tr("选择新的文件位置");
    // "*.*" would hide every file without a dot in its name (most programs here): the pattern becomes "*".
    const QString filter = Lang::tr("所有文件 (*.*)").replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    const QString chosen = ktr::dialogs::openFile(this, caption, QString(), filter);
    if (chosen.isEmpty() || !menuItemStillThere())
        return;
    const QString path = QDir::toNativeSeparators(chosen);
    const QList<Item>& items = m_model.groups()[m_menu.group].items;
    for (int i = 0; i < items.size(); ++i) {
        if (i != m_menu.index && items[i].path.compare(path, Qt::CaseInsensitive) == 0) {
            showToast(Lang::tr("该路径已在当前分组中"), Toast::Error);
            return;
        }
    }
    m_model.editItem(m_menu.group, m_menu.index, [&path](Item& item) { item.path = path; });
    m_icons->queue(path);
    m_invalid->refresh();
    showToast(Lang::tr("已重新定位"), Toast::Info);
}

void MainWindow::restoreMenuItemIcon()
{
    QString old;
    m_model.editItem(
        m_menu.group, m_menu.index, [&old](Item& item) { old = std::exchange(item.customIcon, QString()); }, false);
    saveLayout();
    if (m_grid && !old.isEmpty())
        m_grid->invalidateIcon(old);
    if (m_grid)
        m_grid->update();
    showToast(Lang::tr("已恢复默认图标"), Toast::Info);
}

void MainWindow::createMenuItemShortcut()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QString error;
    if (!createDesktopShortcut(m_menu.item.path, desktop, nullptr, &error)) {
        showToast(Lang::tr(error), Toast::Error);
        return;
    }
    showToast(Lang::tr("已在桌面创建快捷方式"), Toast::Info);
}

void MainWindow::removeMenuItem()
{
    m_model.removeItem(m_menu.group, m_menu.index);
    m_invalid->refresh();
}

void MainWindow::clearInvalidItems()
{
    // Hidden items are left alone, as the menu counts them.
    const int removed = m_model.removeItems([](const Item& item) { return !item.hidden && isItemTargetMissing(item); });
    if (removed == 0)
        return;
    m_invalid->refresh();
    qInfo().noquote() << "cleared invalid icon entries:" << removed;
    // One of something reads as one in English: the singular has its own text.
    showToast(removed == 1 ? Lang::tr("已清除 1 个失效图标") : Lang::tr("已清除 %1 个失效图标").arg(removed),
              Toast::Info);
}

void MainWindow::editMenuItem()
{
    const Item copy = m_menu.item;
    const bool isLink = isShortcutFile(copy.path);
    ShortcutInfo before;
    if (isLink) {
        QString error;
        if (!readShortcut(copy.path, &before, &error))
            showToast(error, Toast::Error);
    } else {
        before.target = copy.path;
        before.workingDir = copy.workDir;
        before.arguments = copy.args;
        before.runAsAdmin = copy.runAsAdmin;
    }
    QPixmap preview = copy.customIcon.isEmpty() ? QPixmap() : QPixmap(copy.customIcon);
    if (preview.isNull())
        preview = loadIconPixmap(copy.path);

    ShortcutEditDialog dialog(copy.path, copy.name, isLink, before, preview, this);
    const int answer = m_itemMenuHooks.runEditDialog ? m_itemMenuHooks.runEditDialog(dialog) : dialog.exec();
    if (answer != QDialog::Accepted || !menuItemStillThere())
        return;

    // Edited on a copy, written back before every save.
    Item item = m_model.groups()[m_menu.group].items[m_menu.index];
    const auto writeBack = [this, &item] {
        m_model.editItem(
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
                showToast(error.isEmpty() ? Lang::tr("快捷方式写入失败") : error, Toast::Error);
                if (changed) {
                    writeBack();
                    saveLayout();
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
            if (m_grid)
                m_grid->forgetCustomIcon(copy.path);
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
    saveLayout();
    if (customIcon.isEmpty()) {
        if (IconCacheMap* cache = iconCache())
            iconCacheRemove(*cache, copy.path);
        if (m_grid)
            m_grid->forgetCustomIcon(copy.path);
        // Every item showing this path (this one, or the others when the target moved) needs its icon again.
        m_icons->queue(copy.path);
    } else {
        if (m_grid)
            m_grid->invalidateIcon(customIcon);
    }
    if (m_grid && !copy.customIcon.isEmpty() && copy.customIcon != customIcon)
        m_grid->invalidateIcon(copy.customIcon);
    // A new target has no icon yet: ask for it, as a relocated item does.
    if (!newTarget.isEmpty())
        m_icons->queue(newTarget);
    refreshGridIcons();
    if (m_grid)
        m_grid->update();
    showToast(Lang::tr("已保存更改"), Toast::Info);
}

// ---- search ---------------------------------------------------------------------------------------------

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // A key that got past the lock screen (before it shows, while it fades) opens nothing.
    if (m_lock->blocks())
        return;
    if (m_search && m_search->handleKey(event))
        return;
    QWidget::keyPressEvent(event);
}

// ---- live group reordering ------------------------------------------------------------------------------

void MainWindow::onGroupDragDisplace(int from, int to)
{
    m_model.displaceGroup(from, to);
}

// ---- floating icons -------------------------------------------------------------------------------------

void MainWindow::floatItem(int itemIndex)
{
    if (!m_model.hasItem(m_model.currentIndex(), itemIndex))
        return;
    // What the icon launches stays as it is now.
    const Item item = m_model.groups()[m_model.currentIndex()].items[itemIndex];

    QPixmap pixmap = item.customIcon.isEmpty() ? QPixmap() : QPixmap(item.customIcon);
    if (pixmap.isNull())
        pixmap = loadIconPixmap(item.path);

    QPoint position = QCursor::pos();
    if (m_grid) {
        position = m_grid->columns() > 0 ? m_grid->snapToCellGlobal(QCursor::pos()) - QPoint(36, 36)
                                         : m_grid->itemGlobalRect(itemIndex).topLeft();
    }
    auto* icon = new FloatIcon(pixmap, item.name, position);
    icon->setSingleClickOpen(m_settings.singleClickOpen);
    connect(icon, &FloatIcon::openRequested, this,
            [this, item] { launchTarget(item.path, item.workDir, item.args, item.runAsAdmin); });
    connect(icon, &FloatIcon::removeRequested, this, [this, icon] { removeFloatIcon(icon); });
    connect(icon, &FloatIcon::removeAllRequested, this, &MainWindow::removeAllFloatIcons);
    // Top-level windows without a parent: they go with the window.
    connect(this, &QObject::destroyed, icon, [icon] { delete icon; });

    icon->show();
    QScreen* screen = this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    icon->move(clampIntoArea(icon->pos(), icon->size(), area));
    m_floatIcons.append(icon);
}

void MainWindow::removeFloatIcon(FloatIcon* icon)
{
    if (!icon || !m_floatIcons.contains(icon))
        return;
    m_floatIcons.removeAll(icon);
    icon->deleteLater();
}

void MainWindow::removeAllFloatIcons()
{
    const QList<FloatIcon*> icons = std::exchange(m_floatIcons, {});
    for (FloatIcon* icon : icons)
        icon->deleteLater();
}
