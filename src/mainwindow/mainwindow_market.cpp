// The main window's side of the app market: opening the market window and putting installed apps into
// the panel's market group.
#include "mainwindow/mainwindow.h"

#include "mainwindow/iconqueue.h"

#include "account/appstat.h"
#include "account/sessioncontroller.h"
#include "lock/lockcontroller.h"
#include "market/appmarketdialog.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "ui/lang.h"
#include "ui/servicehost.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The program to add. The market hands over the launch target it resolved inside the app's folder, as its
// own launch does: a script or a program of any name, taken as it is. A folder yields its first "*.exe".
QString resolveInstalledExe(const QString& exePath)
{
    const QString path = QDir::toNativeSeparators(exePath);
    const QFileInfo info(path);
    if (info.isFile())
        return path;
    if (!info.isDir())
        return {};
    const QFileInfoList found =
        QDir(path).entryInfoList({QStringLiteral("*.exe")}, QDir::Files | QDir::Hidden, QDir::NoSort);
    for (const QFileInfo& f : found) {
        if (f.isFile())
            return QDir::toNativeSeparators(f.absoluteFilePath());
    }
    return {};
}

} // namespace

void MainWindow::openAppMarket()
{
    // No service, no catalogue: the button says why nothing opens.
    if (!ktr::serviceConfigured()) {
        showToast(ktr::noServiceText(), Toast::Info);
        return;
    }
    if (!m_appMarket) {
        m_appMarket = new AppMarketDialog(this);
        connect(m_appMarket, &AppMarketDialog::addToPanelRequested, this, &MainWindow::onAppInstalled);
        connect(m_appMarket, &AppMarketDialog::appUninstalled, this, &MainWindow::onAppUninstalled);
        connect(m_appMarket, &AppMarketDialog::loginRequested, this, &MainWindow::loginFromMarket);
    }
    m_appMarket->setLocked(m_lock->isLocked());
    m_appMarket->openAndRefresh(m_session->token());
}

void MainWindow::onAppInstalled(const QString& name, const QString& exePath)
{
    if (m_lock->isLocked()) {
        qWarning().noquote() << "market add refused: the panel is locked" << exePath;
        return;
    }
    int index = -1;
    m_model.editGroups([&index](QList<Group>& groups) {
        bool changed = false;
        index = ensureMarketGroup(groups, &changed);
        return changed;
    });
    const QString exe = resolveInstalledExe(exePath);
    if (exe.isEmpty()) {
        showToast(Lang::tr("未找到可执行文件，「%1」添加失败").arg(name), Toast::Info);
        return;
    }
    const Group& group = m_model.groups().at(index);
    for (const Item& existing : group.items) {
        if (existing.path == exe) {
            showToast(Lang::tr("「%1」已安装在「应用市场」分类中").arg(name), Toast::Info);
            return;
        }
    }
    Item item;
    item.path = exe;
    item.name = name.isEmpty() ? QFileInfo(exe).completeBaseName() : name;
    m_model.editGroups([&](QList<Group>& groups) {
        groups[index].items.append(item);
        return true;
    });
    saveLayout();
    setCurrentGroup(index);
    if (m_grid) {
        m_grid->resetScroll();
        m_grid->update();
    }
    if (m_sidebar)
        m_sidebar->update();
    m_icons->ensure(exe);
    showToast(Lang::tr("「%1」安装完成，图标已放入「应用市场」分类").arg(item.name), Toast::Info);
}

// An uninstalled app leaves no icon behind that would only report a missing file: neither its own nor one
// collected from the desktop entry the uninstall removed.
void MainWindow::onAppUninstalled(const QString& appId, const QString& appDir, const QString& desktopEntry)
{
    Q_UNUSED(appDir);
    if (appId.isEmpty())
        return;
    const QString entry = QDir::cleanPath(QDir::fromNativeSeparators(desktopEntry));
    const int removed = m_model.removeItems([&](const Item& item) {
        return appIdForPath(item.path) == appId ||
               (!entry.isEmpty() && QDir::cleanPath(QDir::fromNativeSeparators(item.path)) == entry);
    });
    if (removed > 0)
        repaintPanels();
}

void MainWindow::onIconsChanged()
{
    saveLayout();
    if (m_grid)
        m_grid->clearCaches();
    refreshGridIcons();
    repaintPanels();
}

AppMarketDialog* MainWindow::appMarket() const
{
    return m_appMarket;
}
