#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class AgentServer;
class QApplication;
class QMenu;
class QSystemTrayIcon;
class QTimer;

// What the agent needs of the rest of the process. defaultAgentEnvironment() gives the real ones;
// tests hand in their own.
struct AgentEnvironment
{
    std::function<void()> writeInstallPath;
    std::function<void()> joinCleanupThread;
    std::function<bool()> holdsInstanceLock;
    std::function<void()> releaseInstanceLock;
    // Takes the single-instance lock again; true when this process holds it.
    std::function<bool()> reacquireInstanceLock;
    // Starts a panel process of this executable, detached; true when it started.
    std::function<bool()> launchPanel;
    // Ends the event loop with the code.
    std::function<void(int)> exitLoop;
    // Ends the process at once (in the real program it never returns).
    std::function<void(int)> hardExit;
    // Length of one idle second in milliseconds (tests shorten it).
    int msPerIdleSecond = 1000;
};

AgentEnvironment defaultAgentEnvironment();

// The UI language stored in the panel's "settings.json" at settingsPath: 1 English, else 0 (also when the
// file is missing or damaged; it is only read, never moved aside or written).
int storedUiLanguage(const QString& settingsPath);

// The panel-less run: the socket server for the user's other programs, a tray icon, an optional idle
// exit, and the hand-over to a panel process when the user or a client asks for the panel.
class AgentMode : public QObject
{
    Q_OBJECT
public:
    AgentMode(AgentEnvironment env, QObject* parent);
    ~AgentMode() override;

    // Everything before the event loop; false (with the reason) when the server can't listen.
    bool start(QString* error);

    // Hands over to a panel process once; stays resident when the panel can't be started.
    void promoteAgentToPanel();
    void onAgentIdleTimeout();

    AgentServer* server() const { return m_server; }
    QTimer* idleTimer() const { return m_idleTimer; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    bool handingOver() const { return m_handingOver; }

private:
    void setUpTray();

    AgentEnvironment m_env;
    AgentServer* m_server = nullptr;
    QTimer* m_idleTimer = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    QPointer<QMenu> m_menu;
    bool m_handingOver = false;
};

// Runs the agent until it quits, then ends the process with the event loop's code (2 when the server
// can't listen). Called once this process holds the single-instance lock.
int runAgentMode(QApplication& app);
int runAgentMode(QApplication& app, AgentEnvironment env);
