#pragma once

#include "fakeservicehost.h"

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
//   accounts.json  {"users": [{"username", "salt", "hash" (SHA-256 hex of salt + password) or "password"
//                  (plain, for hand-written files), "maxDevices" (optional), "sessions": [{"token",
//                  "device", "name", "ip", "lastSeen", "host"}]}]}; rewritten after every change
//   appstat.jsonl  one JSON object per usage report received, appended
//   files/         served as they are for GET requests of their path (Range requests answered)
class ServiceHostState : public QObject
{
    Q_OBJECT
public:
    explicit ServiceHostState(const QString& folder, QObject* parent = nullptr);

    QString folder() const { return m_folder; }

    // Every area below.
    void install(FakeServiceHost& host);
    // "/api/auth.php" captcha, register, login (device quota, precheck and confirm), logout, me, and
    // "/api/uc.php" report_host.
    void installAccounts(FakeServiceHost& host);
    // "/api/appstat.php".
    void installAppStat(FakeServiceHost& host);
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
    FakeServiceHost::Reply appStat(const FakeServiceHost::Request& request);
    FakeServiceHost::Reply file(const FakeServiceHost::Request& request) const;

    void load();
    void save() const;
    int userIndex(const QString& username) const;
    // The user and session index of a live token; false when no session has it.
    bool findSession(const QString& token, int* user, int* session) const;
    int quotaOf(const QJsonObject& user) const;
    // Signs the device in: a new session (replacing one of the same device) with a fresh token.
    QString openSession(int user, const FakeServiceHost::Request& request);

    QString m_folder;
    QJsonArray m_users;
    int m_defaultQuota = 1;
    QHash<QString, QString> m_captchas;        // id -> answer
    QHash<QString, QString> m_kickedTokens;    // token -> why it ended
};

} // namespace ktr::test
