// The main window's side of the self-update, the uninstall and the factory reset.
#include "mainwindow/mainwindow.h"

#include "market/selfremoval.h"
#include "market/updatechecker.h"
#include "platform/process.h"
#include "recorder/screenmonitor.h"
#include "settings/settingsdialog.h"
#include "support/supportpoller.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/log.h"

#include <QCoreApplication>
#include <QDebug>

void MainWindow::setupUpdates()
{
    m_hardExit = [](int code) { ktr::platform::hardExit(code); };
    UpdateChecker::Seams seams;
    seams.toast = [this](const QString& text, int kind) { showToast(text, kind == 0 ? Toast::Info : Toast::Error); };
    seams.prepareExit = [this] { prepareHardExit(); };
    seams.hardExit = [this](int code) { m_hardExit(code); };
    seams.cardParent = this;
    seams.network = m_network;
    m_updates->setSeams(std::move(seams));
    // The notice poll pauses while the installer downloads and goes on after a failed download.
    connect(m_updates, &UpdateChecker::downloadStarted, this, [this] { m_support->stop(); });
    connect(m_updates, &UpdateChecker::downloadFailed, this, [this] { m_support->resume(); });
}

void MainWindow::checkForUpdates(bool beta, bool manual)
{
    m_updates->check(beta, manual);
}

void MainWindow::prepareHardExit()
{
    abortNetwork();
    ScreenMonitor::instance()->stop();
}

void MainWindow::uninstallProgram(bool removeAll)
{
    const selfremoval::Env env = selfremoval::Env::system();
    QString text = removeAll
                       ? Lang::tr("完全卸载将删除程序与全部分组、设置、日志等数据，且不可恢复。\n确定要继续吗？")
                       : Lang::tr("卸载程序，但保留你的分组、设置等全部数据；重新安装后自动恢复。\n确定要继续吗？");
    // A copy that was not installed may lie among the user's own files: only the program itself goes.
    if (!selfremoval::programFilesOf(env).installed)
        text += QStringLiteral("\n\n") +
                Lang::tr("程序不在安装目录中：只删除程序文件本身，所在文件夹中的其他文件保持不动。");
    if (ktr::dialogs::question(this, removeAll ? Lang::tr("完全卸载") : Lang::tr("保留配置卸载"), text) != 1)
        return;
    qInfo().noquote() << "uninstall requested:" << (removeAll ? "full" : "keep-config");
    QString message;
    if (!selfremoval::startUninstall(removeAll, env, &message)) {
        showToast(Lang::tr(message), Toast::Error);
        return;
    }
    // The normal shutdown: it stops the recorder and saves settings and layout, which a keep-config
    // uninstall leaves for a later installation.
    m_quitRequested = true;
    close();
    QCoreApplication::quit();
}

void MainWindow::factoryReset()
{
    SettingsDialog* dialog = m_settingsBridge->dialog();
    QWidget* parent = dialog && dialog->isVisible() ? static_cast<QWidget*>(dialog) : static_cast<QWidget*>(this);
    if (ktr::dialogs::question(parent, Lang::tr("完全初始化"),
                               Lang::tr("完全初始化将删除全部分组、设置、日志、缓存、备份、账号与授权信息，程序会自动重"
                                        "启并回到首次安装状态。此操作不可恢复。\n确定要继续吗？")) != 1)
        return;
    const selfremoval::Env env = selfremoval::Env::system();
    qInfo().noquote() << "factory reset requested, data dir:" << env.dataDir;
    QString message;
    QString script;
    if (!selfremoval::startFactoryReset(env, &message, &script)) {
        showToast(Lang::tr(message), Toast::Error);
        return;
    }
    qInfo().noquote() << "factory reset script launched, hard-exiting:" << script;
    // Nothing is saved: the data folder is about to be emptied.
    prepareHardExit();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_hardExit(0);
}
