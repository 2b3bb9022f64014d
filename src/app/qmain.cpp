#include "app/qmain.h"

#include "app/agentmode.h"
#include "app/agentserver.h"
#include "app/commandline.h"
#include "app/diagnosticruns.h"
#include "app/secondinstance.h"
#include "backup/backupengine.h"
#include "backup/rollbackprompt.h"
#include "icons/iconcache.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/windowfiles.h"
#include "panel/titlebaractions.h"
#include "platform/crashhandler.h"
#include "platform/instancelock.h"
#include "platform/process.h"
#include "platform/qtenv.h"
#include "platform/sessionbus.h"
#include "platform/unixsignals.h"
#include "platform/wakechannel.h"
#include "recorder/screenmonitor.h"
#include "settings/settingsdialog.h"
#include "support/logviewerdialog.h"
#include "ui/datadir.h"
#include "ui/lang.h"
#include "ui/log.h"
#include "ui/msgdialog.h"
#include "ui/qtlanguage.h"
#include "ui/theme.h"

#include <QApplication>
#include <QDebug>
#include <QTimer>

void onAboutToQuit(MainWindow& window)
{
    qInfo().noquote() << "aboutToQuit: stopping recorder, persisting state and releasing icon cache";
    ScreenMonitor::instance()->stop();
    window.waitBackupWorkers(2500);
    joinTempCleanupThread();
    window.saveSettings();
    window.saveLayout();
    window.files()->finishLayoutSaves(WindowFiles::kQuitLayoutSaveMs);
    clearIconCache();
}

namespace {

// The sockets other starts reach this panel by.
void listenForOtherStarts(MainWindow& window)
{
    // The panel answers on the agent socket too; nothing is connected to its signals, so "show" changes
    //     nothing here. An agent that just handed over may still be going away: retry the listen briefly.
    auto* agentServer = new AgentServer(&window);
    agentServer->startRetrying(10, 200, [](bool ok, const QString& error) {
        if (!ok)
            qWarning().noquote() << "agent server unavailable in GUI mode:" << error;
    });

    // The mark that lets a second start find and wake this panel: its private wake socket.
    auto* wake = new ktr::platform::WakeServer(&window);
    QString wakeError;
    if (!wake->listen(&wakeError))
        qWarning().noquote() << "wake channel unavailable:" << wakeError;
    QObject::connect(wake, &ktr::platform::WakeServer::wakeRequested, &window, [&window] {
        if (GearMenuPopup* gear = window.titleBar() ? window.titleBar()->gearMenu() : nullptr)
            gear->hide();
        window.restoreWindow();
    });
}

} // namespace

int qMain(int argc, char** argv)
{
    // "--help", "--version" and an unknown option are answered on the terminal before anything else: no
    // display, no data folder, no log.
    if (const int code = commandline::answerAndExit(argc, argv); code >= 0)
        return code;

    // Environment and scaling, before the application object exists.
    ktr::platform::cleanQtEnvironment();
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Floor);

    // The application and its names (the per-user data folder is derived from them).
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KestrunePanel"));
    QGuiApplication::setApplicationDisplayName(Lang::tr("青岚舟面板"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrune"));
    // The agent never draws text; everything else about to start does.
    if (!QCoreApplication::arguments().contains(QStringLiteral("--agent")))
        warmUpUiFonts();
    installMessageCards();
    // The settings dialog opens the log viewer through this seam, so settings need not know the support folder.
    SettingsDialog::setLogViewerRunner(
        [](const QString& dataDir, QWidget* parent) { LogViewerDialog::showFor(parent, dataDir); });

    // From here on every message goes to the log.
    const QString dataDir = appDataDir();
    installLogging(dataDir);
    const QStringList args = QCoreApplication::arguments();
    qInfo().noquote() << "startup:" << panelVersionString() << "args:" << args.join(QLatin1Char(' '));

    // The run chosen on the command line; the diagnostic runs may overlap a running panel.
    const bool agentMode = args.contains(QStringLiteral("--agent"));
    const QString iconProbe = QStringLiteral("--icon-probe=");
    const QString uiPreview = QStringLiteral("--ui-preview=");
    for (const QString& a : args) {
        if (a.startsWith(iconProbe)) {
            startIconProbe(a.mid(iconProbe.size()));
            return 0;
        }
    }
    for (const QString& a : args) {
        if (a.startsWith(uiPreview))
            return startUiPreview(a.mid(uiPreview.size()));
    }

    // Crash recording covers the panel and the agent.
    ktr::platform::ensureCrashDir(dataDir);
    ktr::platform::installCrashHandler();

    // One panel or agent per user.
    using LockResult = ktr::platform::SingleInstanceLock::Result;
    const LockResult lock = singleInstanceLock().tryAcquire();
    if (lock == LockResult::Failed)
        qWarning().noquote() << "single-instance mutex creation failed";
    else if (lock == LockResult::HeldElsewhere)
        return runSecondInstance(agentMode);

    // Session end, kill and Ctrl+C quit the event loop, so the quit handler saves state.
    ktr::platform::QuitSignalWatcher::install();

    // Temporary leftovers of earlier runs are removed beside the start.
    startTempCleanupThread();

    // The agent runs without a window.
    //     It joins the cleanup thread and ends the process itself with the loop's code (2 when its socket
    //     can't be served); the end of the process frees the lock.
    if (agentMode)
        return runAgentMode(app);

    // The panel. A restore cut short leaves its rollback folder: the user decides what becomes of it
    //        before the data is read, asked in the language chosen in the settings.
    if (!BackupEngine::findLeftoverRollback(dataDir, nullptr).isEmpty()) {
        Lang::setLanguage(storedUiLanguage(dataDir + QStringLiteral("/settings.json")));
        offerLeftoverRollback(nullptr, dataDir);
    }
    // The session bus Qt's accessibility bridge waits for at the first show is connected meanwhile.
    ktr::platform::connectSessionBusAhead();
    writeInstallPath();
    // Qt's own texts and the titles follow the language, from the one the window loads with its settings on
    // (before any native window exists, so every title is made in it).
    ktr::followUiLanguage();
    MainWindow window;
    centreOnCursorScreen(&window, 1920, 1080);
    window.show();
    window.raise();
    window.activateWindow();

    // The sockets a later start or the agent reaches this panel by wait for the first frame, which does not
    // need them (a second start retries its wake meanwhile).
    window.afterFirstPaint([&window] { listenForOtherStarts(window); });

    // Shown: the self-heal a little later, the quit handler at the end of the loop.
    qInfo().noquote() << "main window shown, entering event loop";
    qInfo().noquote() << "startup state: opacity" << window.windowOpacity() << "geo" << window.geometry() << "visible"
                      << (window.isVisible() ? "true" : "false");
    QTimer::singleShot(1200, &window, [&window] { startupSelfHeal(&window); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] { onAboutToQuit(window); });

    // No destructor runs after the event loop: everything that persists was saved on aboutToQuit.
    const int code = QApplication::exec();
    qInfo().noquote() << "event loop exited, code" << code;
    joinTempCleanupThread();
    dropQueuedIconSnapshots();
    singleInstanceLock().release();
    ktr::platform::hardExit(code);
}
