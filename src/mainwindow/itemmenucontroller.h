#pragma once

#include "mainwindow/itemmenu.h"
#include "ui/appsettings.h"
#include "ui/toast.h"

#include <QObject>
#include <QPoint>

#include <functional>

class FloatingIcons;
class IconGrid;
class PanelModel;
class QAction;
class QMenu;
class QWidget;
class ShortcutEditDialog;

// The window's side of the item menu: the menu of an item of the current group, what its entries do to the
// item it was opened for, and the floating icons its "float" entry makes.
class ItemMenuController : public QObject
{
    Q_OBJECT
public:
    struct Host
    {
        QWidget* window = nullptr; // the menu's and the dialogs' owner
        PanelModel* model = nullptr;
        const AppSettings* settings = nullptr;
        std::function<IconGrid*()> grid; // none while the widgets are not built
        std::function<void(const QString& text, Toast::Kind kind)> toast;
        std::function<void(const Item& item)> launch;
        std::function<bool()> saveLayout;
        std::function<void(const QString& path)> queueIcon;
        std::function<void()> refreshInvalid;
    };

    // What the menu's actions run (replaceable by tests): the modal run of the edit dialog (returns the
    // dialog's result code). Files are chosen through the shared dialog seams.
    struct Hooks
    {
        std::function<int(ShortcutEditDialog& dialog)> runEditDialog;
    };

    explicit ItemMenuController(Host host, QObject* parent = nullptr);

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    // The menu for an item of the current group (nullptr when there is none at that index), run with the
    // entry chosen. show pops it up at the pointer; tests build and run it without a popup.
    QMenu* build(int itemIndex);
    void run(QAction* chosen);
    void show(int itemIndex, const QPoint& globalPos);

    // Floats the current group's item at itemIndex (nothing when there is none).
    void floatItem(int itemIndex);
    FloatingIcons* floats() const { return m_floats; }

private:
    bool itemStillThere() const;
    void editItem();
    void relocateItem();
    void restoreItemIcon();
    void createItemShortcut();
    void removeItem();
    void clearInvalidItems();
    IconGrid* grid() const { return m_host.grid ? m_host.grid() : nullptr; }

    Host m_host;
    Hooks m_hooks;
    ItemMenuTarget m_menu;
    FloatingIcons* m_floats = nullptr;
};
