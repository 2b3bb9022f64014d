#pragma once

#include "ui/toast.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class AppMarketDialog;
class PanelModel;
class QNetworkAccessManager;
class QWidget;
class SessionController;
class SupportChatDialog;
class SupportPoller;

// The window's online side: the shared network manager, the account session, the support chat with its unread
// badge and the server notices, and the app market window with what it installs into the panel. The logic of
// the session and the polls lives in SessionController and SupportPoller; this hands the session's token on to
// whoever works with the account (market, chat, pollers, usage reports) and opens the two windows.
class WindowOnline : public QObject
{
    Q_OBJECT
public:
    struct Host
    {
        QWidget* window = nullptr;   // the parent of the dialogs; the chat opens at its lower right corner
        PanelModel* model = nullptr; // installed market apps go into its market group
        std::function<void(const QString& text, Toast::Kind kind)> toast;
        std::function<void(const QString& path, const QString& message)> reportSaveFailure;
        std::function<bool()> locked;                 // the interface lock is on
        std::function<void(int count)> setBadgeCount; // the unread badge of the bottom bar
        // An app was added to group `group` of the model: save, show that group and load the icon of `path`.
        std::function<void(int group, const QString& path)> showAdded;
        std::function<void()> repaint; // items were removed
    };
    // Replaces the usage report of market apps (tests).
    using AppStatReporter = std::function<void(const QString& appId, const QString& event, const QString& token)>;

    explicit WindowOnline(Host host, QObject* parent = nullptr);

    QNetworkAccessManager* network() const { return m_network; }
    SessionController* session() const { return m_session; }
    SupportPoller* supportPoller() const { return m_support; }
    // Both windows are made on first use: nullptr until then.
    SupportChatDialog* supportChat() const;
    AppMarketDialog* appMarket() const;

    void setAppStatReporter(AppStatReporter reporter) { m_reportAppStat = std::move(reporter); }
    // A market app was launched from the panel (reported with the session's token).
    void reportLaunch(const QString& appId);

    // The market button: creates the market window on first use and opens it with the session's token.
    void openAppMarket();
    // The feedback button: the chat as the signed-in user, after a login when nobody is.
    void openSupportChat();
    // Hidden and inert while the panel is locked, live again after.
    void setMarketLocked(bool locked);
    // The market installed an app (or asks again to add one): it goes into the market group once.
    void onAppInstalled(const QString& name, const QString& exePath);
    // An uninstalled app leaves no icon behind that would only report a missing file.
    void onAppUninstalled(const QString& appId, const QString& appDir, const QString& desktopEntry);
    // Drops the replies still running on the shared manager (shutdown, hard exits).
    void abortReplies();

private:
    void loginFromMarket();
    void loginFromChat();

    Host m_host;
    QNetworkAccessManager* m_network;
    SessionController* m_session;
    SupportPoller* m_support;
    QPointer<AppMarketDialog> m_appMarket;
    QPointer<SupportChatDialog> m_supportChat;
    AppStatReporter m_reportAppStat;
};
