#include "app/agentmode.h"

#include "app/agentserver.h"
#include "app/qmain.h"
#include "platform/instancelock.h"
#include "platform/process.h"
#include "ui/datadir.h"
#include "ui/lang.h"
#include "ui/qtlanguage.h"
#include "ui/savefile.h"
#include "ui/uisignals.h"

#include <QAction>
#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimer>

#include <climits>

namespace {

// "KTR_AGENT_IDLE_SEC" as whole seconds; 0 (resident) when unset, below 1 or not a number.
qint64 agentIdleSeconds()
{
    bool ok = false;
    const qint64 seconds = qgetenv("KTR_AGENT_IDLE_SEC").trimmed().toLongLong(&ok);
    return ok && seconds > 0 ? seconds : 0;
}

} // namespace

int storedUiLanguage(const QString& settingsPath)
{
    QByteArray data;
    if (ktr::readFileCapped(settingsPath, 16 * 1024 * 1024, &data) != ktr::ReadStatus::Ok)
        return 0;
    const QJsonValue value = QJsonDocument::fromJson(data).object().value(QStringLiteral("language"));
    return value.isDouble() && value.toDouble() == 1.0 ? 1 : 0;
}

AgentEnvironment defaultAgentEnvironment()
{
    using ktr::platform::SingleInstanceLock;
    AgentEnvironment env;
    env.writeInstallPath = [] { writeInstallPath(); };
    env.joinCleanupThread = [] { joinTempCleanupThread(); };
    env.holdsInstanceLock = [] { return singleInstanceLock().isHeld(); };
    env.releaseInstanceLock = [] { singleInstanceLock().release(); };
    env.reacquireInstanceLock = [] {
        return singleInstanceLock().tryAcquire() == SingleInstanceLock::Result::Acquired;
    };
    env.launchPanel = [] { return QProcess::startDetached(QCoreApplication::applicationFilePath(), {}); };
    env.exitLoop = [](int code) { QCoreApplication::exit(code); };
    env.hardExit = [](int code) { ktr::platform::hardExit(code); };
    return env;
}

AgentMode::AgentMode(AgentEnvironment env, QObject* parent) : QObject(parent), m_env(std::move(env))
{
}

AgentMode::~AgentMode()
{
    delete m_menu;
}

bool AgentMode::start(QString* error)
{
    qInfo().noquote() << "agent mode: starting (no main window)";
    m_env.writeInstallPath();

    m_server = new AgentServer(this);
    if (!m_server->start(error))
        return false;

    const qint64 idleSeconds = agentIdleSeconds();
    if (idleSeconds < 1) {
        qInfo().noquote() << "agent mode: resident mode (no idle exit)";
    } else {
        m_idleTimer = new QTimer(this);
        m_idleTimer->setSingleShot(true);
        // A QTimer counts in int milliseconds: longer periods wait as long as it can.
        m_idleTimer->setInterval(int(qMin<qint64>(idleSeconds * m_env.msPerIdleSecond, INT_MAX)));
        connect(m_idleTimer, &QTimer::timeout, this, &AgentMode::onAgentIdleTimeout);
        // Every connection and every request starts the idle period again.
        connect(m_server, &AgentServer::activity, m_idleTimer, qOverload<>(&QTimer::start));
        m_idleTimer->start();
        qInfo().noquote() << "agent mode: idle auto-exit enabled, idle(s) =" << idleSeconds;
    }

    connect(m_server, &AgentServer::showMainRequested, this, &AgentMode::promoteAgentToPanel);
    // The agent never loads the panel's settings; its tray speaks the language the user chose there.
    Lang::setLanguage(storedUiLanguage(appDataDir() + QStringLiteral("/settings.json")));
    ktr::followUiLanguage();
    setUpTray();
    return true;
}

void AgentMode::setUpTray()
{
    m_tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/res/resources/logo.png")), this);
    m_menu = new QMenu();
    QAction* open = m_menu->addAction(QString());
    connect(open, &QAction::triggered, this, &AgentMode::promoteAgentToPanel);
    QAction* quit = m_menu->addAction(QString());
    auto retranslate = [this, open, quit] {
        m_tray->setToolTip(Lang::tr("青岚舟面板 · 后台服务运行中"));
        open->setText(Lang::tr("打开主面板"));
        quit->setText(Lang::tr("退出后台服务"));
    };
    retranslate();
    connect(&UiSignals::instance(), &UiSignals::languageChanged, this, retranslate);
    connect(quit, &QAction::triggered, this, [this] { m_env.exitLoop(0); });
    m_tray->setContextMenu(m_menu);

    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
            promoteAgentToPanel();
    });

    // Without a tray (a bare X server, a desktop without a notification area) the agent still serves
    // its socket; the icon shows up once a tray appears.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        qInfo().noquote() << "agent mode: no system tray available, the tray icon waits for one";
    m_tray->show();
    qInfo().noquote() << "agent mode: tray shown (resident)";
}

void AgentMode::onAgentIdleTimeout()
{
    qInfo().noquote() << "agent mode: idle timeout, quitting";
    m_env.exitLoop(0);
}

void AgentMode::promoteAgentToPanel()
{
    if (m_handingOver)
        return;
    // The panel serves the same socket name. Closing ours first lets it listen at once; closed later,
    // ours would remove the panel's fresh socket with it.
    if (m_server)
        m_server->stop();
    if (m_env.holdsInstanceLock())
        m_env.releaseInstanceLock();

    if (m_env.launchPanel()) {
        m_handingOver = true;
        qInfo().noquote() << "agent: promoting to GUI panel";
        m_env.exitLoop(0);
        return;
    }

    qWarning().noquote() << "agent: failed to launch GUI panel, staying resident:"
                         << QCoreApplication::applicationFilePath();
    if (!m_env.reacquireInstanceLock()) {
        qWarning().noquote() << "agent: mutex owned by another instance, quitting";
        m_handingOver = true;
        m_env.exitLoop(0);
        return;
    }
    QString error;
    if (m_server && !m_server->start(&error)) {
        qWarning().noquote() << "agent mode: listen failed ->" << error;
        m_handingOver = true;
        m_env.exitLoop(2);
    }
}

int runAgentMode(QApplication& app)
{
    return runAgentMode(app, defaultAgentEnvironment());
}

int runAgentMode(QApplication& app, AgentEnvironment env)
{
    auto* agent = new AgentMode(env, &app);
    QString error;
    if (!agent->start(&error)) {
        qWarning().noquote() << "agent mode: listen failed ->" << error;
        env.joinCleanupThread();
        env.hardExit(2);
        return 2;
    }
    const int code = QApplication::exec();
    qInfo().noquote() << "agent mode: event loop exited, code" << code;
    env.joinCleanupThread();
    env.hardExit(code);
    return code;
}
