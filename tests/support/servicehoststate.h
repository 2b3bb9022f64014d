#pragma once

#include "fakeservicehost.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

namespace ktr::test {

// A service host with memory: the routes of a FakeServiceHost backed by a state folder, so the program
// can be tried by hand (tools/servicehost) and tested end to end. Each area installs its own routes;
// later areas (catalogue pages, manifests and packages, signed panel manifests, notices, support
// messages and pictures) add an install function of their own beside these.
//
// The state folder:
//   config.json    {"maxDevices": 1}: the device quota of accounts without their own
// Captchas are single-use: a register request spends its captcha whatever the answer. Registering an
// existing name with its own password signs that device in like a login, device quota included.
//   accounts.json  {"users": [{"username", "salt", "hash" (SHA-256 hex of salt + password) or "password"
//                  (plain, for hand-written files), "maxDevices" (optional), "sessions": [{"token",
//                  "device", "name", "ip", "lastSeen", "host"}]}]}; rewritten after every change
//   appstat.jsonl  one JSON object per usage report received, appended
//   files/         served as they are for GET requests of their path (Range requests answered)
//   support.json   {"messages": [{"id", "user", "from_cs", "text", "created", "img"}], "read": {user: id}};
//                  read again on every support request, so a support reply can be written in by hand
//                  ("from_cs": 1); pictures sent by users are stored as files/uploads/<name>.png
//   files/         served as they are for GET requests of their path (Range requests answered): the
//                  market's update/index/page-1.json, update/sdk_min.json and update/apps/<id>.json
//   files/packages/<id>/<file>  the packages "/api/download.php" hands out to a signed-in token
class ServiceHostState : public QObject
{
    Q_OBJECT
public:
    explicit ServiceHostState(const QString& folder, QObject* parent = nullptr);

    QString folder() const { return m_folder; }

    // Every area below.
    void install(FakeServiceHost& host);
    // "/api/auth.php" captcha, register, login (device quota, precheck and confirm), logout, me;
    // "/api/uc.php" report_host and lock_sync ({"ok": 1, "epoch": the user's "unlockEpoch", 0 when unset});
    // and two requests of the service's staff, for trying the panel by hand: "/api/admin.php?action=revoke"
    // {"username", "msg" (optional)} ends every session of the user (their next "me" is refused with that
    // message) and "?action=unlock" {"username"} raises the user's "unlockEpoch" by one.
    void installAccounts(FakeServiceHost& host);
    // Ends every session of the user; the next "me" of their tokens is refused with `why`. False when there
    // is no such user.
    bool revokeSessions(const QString& username, const QString& why);
    // "/api/appstat.php".
    void installAppStat(FakeServiceHost& host);
    // "/api/support.php" poll, read, send, welcome and unread for signed-in users.
    void installSupport(FakeServiceHost& host);
    // Adds a message of the support staff to a user's conversation; returns its id.
    qint64 addSupportReply(const QString& username, const QString& text, const QString& img = QString());
    // "/api/download.php?app=&ver=&file=&token=": the package files/packages/<app>/<file> (Range requests
    // answered) for a token of a live session, else 401 {"code":"NOT_LOGIN"}; 404 when there is none.
    // A staff request cuts downloads as a broken network does: "/api/admin.php?action=cutdownloads"
    // {"afterBytes": N, "count": C} makes the next C package downloads (0 ends it) close their connection
    // after N bytes of the body, the full length announced.
    void installMarket(FakeServiceHost& host);
    // Arms the cut of the next `count` package downloads after `afterBytes` bytes of body.
    void cutDownloads(qint64 afterBytes, int count);
    // GET of any other path: the file of that path below files/, else 404.
    void installFiles(FakeServiceHost& host);

    // The answer of an issued captcha (tests of the captcha check).
    QString captchaAnswer(const QString& id) const { return m_captchas.value(id); }
    QJsonObject user(const QString& username) const;

private:
    FakeServiceHost::Reply captcha();
    FakeServiceHost::Reply registerUser(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply login(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply logout(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply me(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply reportHost(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply lockSync(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply revoke(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply raiseUnlockEpoch(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply startOutage(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply appStat(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply file(const FakeServiceHost::Request& request) const;
    FakeServiceHost::Reply support(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply download(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply startDownloadCuts(const FakeServiceHost::Request& request);

    void load();
    void save() const;
    int userIndex(const QString& username) const;
    // The user and session index of a live token; false when no session has it.
    bool findSession(const QString& token, int* user, int* session) const;
    int quotaOf(const QJsonObject& user) const;
    static bool passwordMatches(const QJsonObject& user, const QString& password);
    // Signs the device in: a new session (replacing one of the same device) with a fresh token.
    QString openSession(int user, const FakeServiceHost::Request& request);

    QString m_folder;
    QJsonArray m_users;
    int m_defaultQuota = 1;
    QHash<QString, QString> m_captchas;     // id -> answer
    QHash<QString, QString> m_kickedTokens; // token -> why it ended
    QDeadlineTimer m_outageEnd{0};          // until then every request but the staff's gets m_outageStatus
    int m_outageStatus = 503;
    qint64 m_cutAfterBytes = 0; // the next m_cutsLeft downloads stop after this many body bytes
    int m_cutsLeft = 0;
};

} // namespace ktr::test
