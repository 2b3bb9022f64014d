#include "servicehoststate.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMimeDatabase>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>

namespace ktr::test {
namespace {

using Reply = FakeServiceHost::Reply;
using Request = FakeServiceHost::Request;

QString randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char& c : raw)
        c = char(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(raw.toHex());
}

QString sha256Hex(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

Reply refused(const QString& code, const QString& msg, int status = 200)
{
    return Reply::json(QJsonObject{{"ok", 0}, {"code", code}, {"msg", msg}}, status);
}

Reply notLoggedIn(const QString& msg)
{
    return refused(QStringLiteral("NOT_LOGIN"), msg, 401);
}

// Flags of the protocol are the number 1.
bool flag(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() && v.toDouble() == 1.0;
}

QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QJsonObject readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeJson(const QString& path, const QJsonObject& object)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

ServiceHostState::ServiceHostState(const QString& folder, QObject* parent) : QObject(parent), m_folder(folder)
{
    QDir().mkpath(m_folder);
    load();
}

void ServiceHostState::load()
{
    const QJsonObject config = readJson(m_folder + QStringLiteral("/config.json"));
    m_defaultQuota = std::max(1, config.value(QStringLiteral("maxDevices")).toInt(1));
    m_users = readJson(m_folder + QStringLiteral("/accounts.json")).value(QStringLiteral("users")).toArray();
}

void ServiceHostState::save() const
{
    if (!writeJson(m_folder + QStringLiteral("/accounts.json"), QJsonObject{{"users", m_users}}))
        qWarning().noquote() << "[servicehost] accounts.json not written in" << m_folder;
}

void ServiceHostState::install(FakeServiceHost& host)
{
    installAccounts(host);
    installAppStat(host);
    installSupport(host);
    installMarket(host);
    installFiles(host);
}

void ServiceHostState::installMarket(FakeServiceHost& host)
{
    host.route("GET", QStringLiteral("/api/download.php"), QString(), [this](const Request& r) { return download(r); });
    host.route("POST", QStringLiteral("/api/admin.php"), QStringLiteral("cutdownloads"),
               [this](const Request& r) { return startDownloadCuts(r); });
}

void ServiceHostState::cutDownloads(qint64 afterBytes, int count)
{
    m_cutAfterBytes = std::max<qint64>(0, afterBytes);
    m_cutsLeft = std::max(0, count);
}

// {"afterBytes": N, "count": C}: the next C package downloads (1 when absent; 0 ends the cuts) close their
// connection after N bytes of the body, as a network that breaks mid-transfer does.
Reply ServiceHostState::startDownloadCuts(const Request& request)
{
    const QJsonValue after = request.json.value(QStringLiteral("afterBytes"));
    const int count = request.json.value(QStringLiteral("count")).toInt(1);
    if (!after.isDouble() || after.toDouble() < 0 || count < 0)
        return refused(QStringLiteral("BAD_REQUEST"), QStringLiteral("afterBytes >= 0, count >= 0"), 400);
    cutDownloads(qint64(after.toDouble()), count);
    return Reply::json(QJsonObject{{"ok", 1}, {"afterBytes", m_cutAfterBytes}, {"count", m_cutsLeft}});
}

Reply ServiceHostState::download(const Request& request)
{
    int user = -1, session = -1;
    if (!findSession(request.query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded), &user, &session))
        return notLoggedIn(QStringLiteral("请先登录"));
    const QString app = request.query.queryItemValue(QStringLiteral("app"), QUrl::FullyDecoded);
    const QString name = request.query.queryItemValue(QStringLiteral("file"), QUrl::FullyDecoded);
    const QString folder = m_folder + QStringLiteral("/files/packages/") + app;
    const QString path = folder + u'/' + name;
    // Only a plain file name inside the app's own folder.
    if (app.isEmpty() || app.contains(u'/') || app.contains(QStringLiteral("..")) || name.isEmpty() ||
        name.contains(u'/') || name.contains(QStringLiteral("..")) || !QFileInfo(path).isFile())
        return Reply::json(QJsonObject{{"ok", 0}, {"msg", QStringLiteral("package not found")}}, 404);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Reply::raw(500, {});
    Reply reply = FakeServiceHost::rangeReply(request, f.readAll());
    if (m_cutsLeft > 0 && (reply.status == 200 || reply.status == 206) && reply.body.size() > m_cutAfterBytes) {
        --m_cutsLeft;
        reply.sendBytes = m_cutAfterBytes; // Content-Length still announces the whole body
        qInfo().noquote() << "[servicehost] download of" << app << "cut after" << m_cutAfterBytes << "of"
                          << reply.body.size() << "bytes;" << m_cutsLeft << "more cuts armed";
    }
    return reply;
}

void ServiceHostState::installAccounts(FakeServiceHost& host)
{
    const QString auth = QStringLiteral("/api/auth.php");
    host.route("GET", auth, QStringLiteral("captcha"), [this](const Request&) { return captcha(); });
    host.route("POST", auth, QStringLiteral("register"), [this](const Request& r) { return registerUser(r); });
    host.route("POST", auth, QStringLiteral("login"), [this](const Request& r) { return login(r); });
    host.route("POST", auth, QStringLiteral("logout"), [this](const Request& r) { return logout(r); });
    host.route("POST", auth, QStringLiteral("me"), [this](const Request& r) { return me(r); });
    host.route("POST", QStringLiteral("/api/uc.php"), QStringLiteral("report_host"),
               [this](const Request& r) { return reportHost(r); });
    host.route("POST", QStringLiteral("/api/uc.php"), QStringLiteral("lock_sync"),
               [this](const Request& r) { return lockSync(r); });
    host.route("POST", QStringLiteral("/api/admin.php"), QStringLiteral("revoke"),
               [this](const Request& r) { return revoke(r); });
    host.route("POST", QStringLiteral("/api/admin.php"), QStringLiteral("unlock"),
               [this](const Request& r) { return raiseUnlockEpoch(r); });
    host.route("POST", QStringLiteral("/api/admin.php"), QStringLiteral("outage"),
               [this](const Request& r) { return startOutage(r); });
    host.setGate([this](const Request& r) -> std::optional<Reply> {
        if (m_outageEnd.hasExpired() || r.path == QLatin1String("/api/admin.php"))
            return std::nullopt;
        return Reply::raw(m_outageStatus, "<html><body>Service under maintenance</body></html>", "text/html");
    });
}

Reply ServiceHostState::lockSync(const Request& request)
{
    int u = -1;
    int s = -1;
    if (!findSession(request.json.value(QStringLiteral("token")).toString(), &u, &s))
        return notLoggedIn(QStringLiteral("登录已失效，请重新登录"));
    const QJsonObject user = m_users[u].toObject();
    return Reply::json(QJsonObject{{"ok", 1}, {"epoch", user.value(QStringLiteral("unlockEpoch")).toInt(0)}});
}

bool ServiceHostState::revokeSessions(const QString& username, const QString& why)
{
    const int index = userIndex(username);
    if (index < 0)
        return false;
    QJsonObject user = m_users[index].toObject();
    for (const QJsonValue& v : user.value(QStringLiteral("sessions")).toArray())
        m_kickedTokens.insert(v.toObject().value(QStringLiteral("token")).toString(), why);
    user.insert(QStringLiteral("sessions"), QJsonArray());
    m_users[index] = user;
    save();
    return true;
}

Reply ServiceHostState::revoke(const Request& request)
{
    QString why = request.json.value(QStringLiteral("msg")).toString();
    if (why.isEmpty())
        why = QStringLiteral("您的账户已被管理员强制下线");
    if (!revokeSessions(request.json.value(QStringLiteral("username")).toString(), why))
        return refused(QStringLiteral("NOT_FOUND"), QStringLiteral("用户不存在"), 404);
    return Reply::json(QJsonObject{{"ok", 1}});
}

// {"seconds": N, "status": S}: for N seconds (60 when absent) every request but the staff's is answered with
// status S (503 when absent) and a page, as a service in maintenance does; 0 seconds ends it.
Reply ServiceHostState::startOutage(const Request& request)
{
    const int seconds = request.json.value(QStringLiteral("seconds")).toInt(60);
    const int status = request.json.value(QStringLiteral("status")).toInt(503);
    if (seconds < 0 || status < 100 || status > 599)
        return refused(QStringLiteral("BAD_REQUEST"), QStringLiteral("seconds >= 0, status 100..599"), 400);
    m_outageStatus = status;
    m_outageEnd = QDeadlineTimer(qint64(seconds) * 1000);
    return Reply::json(QJsonObject{{"ok", 1}, {"seconds", seconds}, {"status", status}});
}

Reply ServiceHostState::raiseUnlockEpoch(const Request& request)
{
    const int index = userIndex(request.json.value(QStringLiteral("username")).toString());
    if (index < 0)
        return refused(QStringLiteral("NOT_FOUND"), QStringLiteral("用户不存在"), 404);
    QJsonObject user = m_users[index].toObject();
    const int epoch = user.value(QStringLiteral("unlockEpoch")).toInt(0) + 1;
    user.insert(QStringLiteral("unlockEpoch"), epoch);
    m_users[index] = user;
    save();
    return Reply::json(QJsonObject{{"ok", 1}, {"epoch", epoch}});
}

void ServiceHostState::installAppStat(FakeServiceHost& host)
{
    host.route("POST", QStringLiteral("/api/appstat.php"), QStringLiteral("*"),
               [this](const Request& r) { return appStat(r); });
}

void ServiceHostState::installFiles(FakeServiceHost& host)
{
    host.setFallback([this](const Request& r) { return file(r); });
}

QJsonObject ServiceHostState::user(const QString& username) const
{
    const int i = userIndex(username);
    return i < 0 ? QJsonObject() : m_users[i].toObject();
}

int ServiceHostState::userIndex(const QString& username) const
{
    for (int i = 0; i < m_users.size(); ++i) {
        if (m_users[i].toObject().value(QStringLiteral("username")).toString() == username)
            return i;
    }
    return -1;
}

bool ServiceHostState::findSession(const QString& token, int* user, int* session) const
{
    if (token.isEmpty())
        return false;
    for (int u = 0; u < m_users.size(); ++u) {
        const QJsonArray sessions = m_users[u].toObject().value(QStringLiteral("sessions")).toArray();
        for (int s = 0; s < sessions.size(); ++s) {
            if (sessions[s].toObject().value(QStringLiteral("token")).toString() == token) {
                *user = u;
                *session = s;
                return true;
            }
        }
    }
    return false;
}

int ServiceHostState::quotaOf(const QJsonObject& user) const
{
    const int own = user.value(QStringLiteral("maxDevices")).toInt(0);
    return own > 0 ? own : m_defaultQuota;
}

QString ServiceHostState::openSession(int user, const Request& request)
{
    QJsonObject u = m_users[user].toObject();
    const QString device = request.json.value(QStringLiteral("device")).toString();
    QJsonArray kept;
    for (const QJsonValue& v : u.value(QStringLiteral("sessions")).toArray()) {
        if (v.toObject().value(QStringLiteral("device")).toString() != device)
            kept.append(v);
    }
    const QString token = randomHex(24);
    kept.append(QJsonObject{{"token", token},
                            {"device", device},
                            {"name", request.json.value(QStringLiteral("device_name")).toString()},
                            {"ip", request.peer},
                            {"lastSeen", now()},
                            {"host", QString()}});
    u.insert(QStringLiteral("sessions"), kept);
    m_users[user] = u;
    save();
    return token;
}

Reply ServiceHostState::captcha()
{
    const int a = QRandomGenerator::global()->bounded(1, 20);
    const int b = QRandomGenerator::global()->bounded(1, 20);
    const QString id = randomHex(8);
    if (m_captchas.size() > 1000)
        m_captchas.clear();
    m_captchas.insert(id, QString::number(a + b));
    return Reply::json(QJsonObject{{"ok", 1}, {"id", id}, {"q", QStringLiteral("%1 + %2 = ?").arg(a).arg(b)}});
}

Reply ServiceHostState::registerUser(const Request& request)
{
    const QJsonObject& in = request.json;
    const QString id = in.value(QStringLiteral("captcha_id")).toString();
    const QString answer = m_captchas.take(id); // one try per captcha
    if (answer.isEmpty() || in.value(QStringLiteral("captcha_code")).toString().trimmed() != answer)
        return refused(QStringLiteral("BAD_CAPTCHA"), QStringLiteral("验证码错误，请重新计算"));
    if (!flag(in, "agree"))
        return refused(QStringLiteral("NEED_AGREE"), QStringLiteral("请先同意用户协议与隐私政策"));
    const QString username = in.value(QStringLiteral("username")).toString().trimmed();
    const QString password = in.value(QStringLiteral("password")).toString();
    if (username.size() < 2 || username.size() > 32)
        return refused(QStringLiteral("BAD_USERNAME"), QStringLiteral("用户名需为 2 到 32 个字符"));
    if (password.size() < 6)
        return refused(QStringLiteral("BAD_PASSWORD"), QStringLiteral("密码至少 6 位"));
    if (const int existing = userIndex(username); existing >= 0) {
        // Registering a name again with its own password signs in, under the device quota like a login
        // (pre-check, confirm). The captcha above is spent either way, so a confirmed repeat needs a new one.
        if (passwordMatches(m_users[existing].toObject(), password))
            return login(request);
        return refused(QStringLiteral("USER_EXISTS"), QStringLiteral("该用户名已被注册"));
    }
    const QString salt = randomHex(8);
    m_users.append(QJsonObject{
        {"username", username}, {"salt", salt}, {"hash", sha256Hex(salt + password)}, {"sessions", QJsonArray()}});
    const int user = int(m_users.size()) - 1;
    const QString token = openSession(user, request);
    return Reply::json(QJsonObject{
        {"ok", 1}, {"token", token}, {"username", username}, {"maxDevices", quotaOf(m_users[user].toObject())}});
}

bool ServiceHostState::passwordMatches(const QJsonObject& u, const QString& password)
{
    const bool plainOk =
        u.contains(QStringLiteral("password")) && u.value(QStringLiteral("password")).toString() == password;
    const bool hashOk =
        u.contains(QStringLiteral("hash")) &&
        u.value(QStringLiteral("hash")).toString() == sha256Hex(u.value(QStringLiteral("salt")).toString() + password);
    return plainOk || hashOk;
}

Reply ServiceHostState::login(const Request& request)
{
    const QJsonObject& in = request.json;
    const QString username = in.value(QStringLiteral("username")).toString().trimmed();
    const int index = userIndex(username);
    const QJsonObject u = index < 0 ? QJsonObject() : m_users[index].toObject();
    if (index < 0 || !passwordMatches(u, in.value(QStringLiteral("password")).toString()))
        return refused(QStringLiteral("BAD_LOGIN"), QStringLiteral("用户名或密码错误"));

    // The device quota: the other devices signed in, oldest first, beyond the quota would be signed out.
    const QString device = in.value(QStringLiteral("device")).toString();
    QList<QJsonObject> others;
    for (const QJsonValue& v : u.value(QStringLiteral("sessions")).toArray()) {
        if (v.toObject().value(QStringLiteral("device")).toString() != device)
            others.append(v.toObject());
    }
    std::sort(others.begin(), others.end(), [](const QJsonObject& a, const QJsonObject& b) {
        return a.value(QStringLiteral("lastSeen")).toString() < b.value(QStringLiteral("lastSeen")).toString();
    });
    const int quota = quotaOf(u);
    const int excess = int(others.size()) + 1 - quota;
    if (excess > 0) {
        const QList<QJsonObject> kicked = others.mid(0, excess);
        if (!flag(in, "confirm")) {
            QJsonArray list;
            for (const QJsonObject& s : kicked)
                list.append(QJsonObject{{"name", s.value(QStringLiteral("name"))},
                                        {"ip", s.value(QStringLiteral("ip"))},
                                        {"lastSeen", s.value(QStringLiteral("lastSeen"))}});
            return Reply::json(QJsonObject{{"ok", 1}, {"needConfirm", 1}, {"maxDevices", quota}, {"willKick", list}});
        }
        QJsonObject changed = u;
        QJsonArray sessions;
        for (const QJsonValue& v : u.value(QStringLiteral("sessions")).toArray()) {
            const QString token = v.toObject().value(QStringLiteral("token")).toString();
            const bool gone = std::any_of(kicked.begin(), kicked.end(), [&](const QJsonObject& k) {
                return k.value(QStringLiteral("token")).toString() == token;
            });
            if (gone)
                m_kickedTokens.insert(token, QStringLiteral("您的账户已在其他电脑登录，本机已退出"));
            else
                sessions.append(v);
        }
        changed.insert(QStringLiteral("sessions"), sessions);
        m_users[index] = changed;
    }
    const QString token = openSession(index, request);
    return Reply::json(QJsonObject{{"ok", 1}, {"token", token}, {"username", username}, {"maxDevices", quota}});
}

Reply ServiceHostState::logout(const Request& request)
{
    int u = -1;
    int s = -1;
    if (findSession(request.json.value(QStringLiteral("token")).toString(), &u, &s)) {
        QJsonObject user = m_users[u].toObject();
        QJsonArray sessions = user.value(QStringLiteral("sessions")).toArray();
        sessions.removeAt(s);
        user.insert(QStringLiteral("sessions"), sessions);
        m_users[u] = user;
        save();
    }
    return Reply::json(QJsonObject{{"ok", 1}});
}

Reply ServiceHostState::me(const Request& request)
{
    const QString token = request.json.value(QStringLiteral("token")).toString();
    int u = -1;
    int s = -1;
    if (!findSession(token, &u, &s)) {
        const QString why = m_kickedTokens.value(token);
        return notLoggedIn(why.isEmpty() ? QStringLiteral("登录已失效，请重新登录") : why);
    }
    QJsonObject user = m_users[u].toObject();
    QJsonArray sessions = user.value(QStringLiteral("sessions")).toArray();
    QJsonObject session = sessions[s].toObject();
    session.insert(QStringLiteral("lastSeen"), now());
    sessions[s] = session;
    user.insert(QStringLiteral("sessions"), sessions);
    m_users[u] = user;
    save();
    return Reply::json(
        QJsonObject{{"ok", 1}, {"username", user.value(QStringLiteral("username"))}, {"maxDevices", quotaOf(user)}});
}

Reply ServiceHostState::reportHost(const Request& request)
{
    int u = -1;
    int s = -1;
    if (!findSession(request.json.value(QStringLiteral("token")).toString(), &u, &s))
        return notLoggedIn(QStringLiteral("登录已失效，请重新登录"));
    QJsonObject user = m_users[u].toObject();
    QJsonArray sessions = user.value(QStringLiteral("sessions")).toArray();
    QJsonObject session = sessions[s].toObject();
    session.insert(QStringLiteral("host"), request.json.value(QStringLiteral("host")).toString());
    sessions[s] = session;
    user.insert(QStringLiteral("sessions"), sessions);
    m_users[u] = user;
    save();
    return Reply::json(QJsonObject{{"ok", 1}});
}

Reply ServiceHostState::appStat(const Request& request)
{
    if (!request.jsonObject || request.json.value(QStringLiteral("app_id")).toString().isEmpty())
        return refused(QStringLiteral("BAD_REQUEST"), QStringLiteral("参数错误"), 400);
    QJsonObject line = request.json;
    line.insert(QStringLiteral("received"), now());
    QFile file(m_folder + QStringLiteral("/appstat.jsonl"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    return Reply::json(QJsonObject{{"ok", 1}});
}

void ServiceHostState::installSupport(FakeServiceHost& host)
{
    host.route("POST", QStringLiteral("/api/support.php"), QStringLiteral("*"),
               [this](const Request& r) { return support(r); });
}

qint64 ServiceHostState::addSupportReply(const QString& username, const QString& text, const QString& img)
{
    const QString path = m_folder + QStringLiteral("/support.json");
    QJsonObject state = readJson(path);
    QJsonArray messages = state.value(QStringLiteral("messages")).toArray();
    qint64 id = 0;
    for (const QJsonValue& v : std::as_const(messages))
        id = std::max(id, v.toObject().value(QStringLiteral("id")).toVariant().toLongLong());
    messages.append(QJsonObject{
        {"id", id + 1}, {"user", username}, {"from_cs", 1}, {"text", text}, {"created", now()}, {"img", img}});
    state.insert(QStringLiteral("messages"), messages);
    writeJson(path, state);
    return id + 1;
}

Reply ServiceHostState::support(const Request& request)
{
    const QString action = request.action;
    if (action == QLatin1String("welcome"))
        return Reply::json(QJsonObject{{"ok", 1},
                                       {"title", QStringLiteral("青岚舟 · 反馈中心")},
                                       {"text", QStringLiteral("你好，请描述你遇到的问题，客服会尽快回复。")}});
    int u = -1;
    int s = -1;
    if (!findSession(request.json.value(QStringLiteral("token")).toString(), &u, &s))
        return notLoggedIn(QStringLiteral("登录已失效，请重新登录"));
    const QString username = m_users[u].toObject().value(QStringLiteral("username")).toString();
    const QString path = m_folder + QStringLiteral("/support.json");
    QJsonObject state = readJson(path);
    QJsonArray messages = state.value(QStringLiteral("messages")).toArray();
    QJsonObject read = state.value(QStringLiteral("read")).toObject();
    qint64 lastId = 0;
    QJsonArray mine;
    for (const QJsonValue& v : std::as_const(messages)) {
        const QJsonObject m = v.toObject();
        lastId = std::max(lastId, m.value(QStringLiteral("id")).toVariant().toLongLong());
        if (m.value(QStringLiteral("user")).toString() == username)
            mine.append(m);
    }
    if (action == QLatin1String("poll")) {
        const qint64 after = request.json.value(QStringLiteral("after")).toVariant().toLongLong();
        QJsonArray out;
        for (const QJsonValue& v : std::as_const(mine)) {
            QJsonObject m = v.toObject();
            if (m.value(QStringLiteral("id")).toVariant().toLongLong() > after) {
                m.remove(QStringLiteral("user"));
                out.append(m);
            }
        }
        return Reply::json(QJsonObject{{"ok", 1}, {"messages", out}});
    }
    if (action == QLatin1String("read") || action == QLatin1String("unread")) {
        if (action == QLatin1String("read")) {
            read.insert(username, lastId);
            state.insert(QStringLiteral("read"), read);
            writeJson(path, state);
            return Reply::json(QJsonObject{{"ok", 1}});
        }
        const qint64 seen = read.value(username).toVariant().toLongLong();
        int unread = 0;
        for (const QJsonValue& v : std::as_const(mine)) {
            const QJsonObject m = v.toObject();
            unread += m.value(QStringLiteral("from_cs")).toInt() != 0 &&
                      m.value(QStringLiteral("id")).toVariant().toLongLong() > seen;
        }
        return Reply::json(QJsonObject{{"ok", 1}, {"unread", unread}});
    }
    if (action != QLatin1String("send"))
        return refused(QStringLiteral("BAD_ACTION"), QStringLiteral("未知操作"), 400);
    const QString text = request.json.value(QStringLiteral("text")).toString();
    QString img;
    if (request.json.contains(QStringLiteral("img_b64"))) {
        const QByteArray png =
            QByteArray::fromBase64(request.json.value(QStringLiteral("img_b64")).toString().toLatin1());
        img = randomHex(8) + QStringLiteral(".png");
        QDir().mkpath(m_folder + QStringLiteral("/files/uploads"));
        QFile out(m_folder + QStringLiteral("/files/uploads/") + img);
        if (png.isEmpty() || !out.open(QIODevice::WriteOnly) || out.write(png) != png.size())
            return refused(QStringLiteral("BAD_IMAGE"), QStringLiteral("图片保存失败"));
    }
    if (text.isEmpty() && img.isEmpty())
        return refused(QStringLiteral("EMPTY"), QStringLiteral("消息不能为空"));
    messages.append(QJsonObject{
        {"id", lastId + 1}, {"user", username}, {"from_cs", 0}, {"text", text}, {"created", now()}, {"img", img}});
    state.insert(QStringLiteral("messages"), messages);
    writeJson(path, state);
    return Reply::json(QJsonObject{{"ok", 1}, {"id", lastId + 1}});
}

Reply ServiceHostState::file(const Request& request) const
{
    const QString root = QDir(m_folder + QStringLiteral("/files")).canonicalPath();
    const QString path =
        QFileInfo(m_folder + QStringLiteral("/files") + QDir::cleanPath(request.path)).canonicalFilePath();
    if (request.method != "GET" || root.isEmpty() || path.isEmpty() || !path.startsWith(root + u'/') ||
        !QFileInfo(path).isFile())
        return Reply::json(QJsonObject{{"ok", 0}, {"msg", QStringLiteral("not found")}}, 404);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Reply::raw(500, {});
    const QByteArray type = QMimeDatabase().mimeTypeForFile(path).name().toLatin1();
    return FakeServiceHost::rangeReply(request, f.readAll(), FakeServiceHost::RangeMode::Honour, type);
}

} // namespace ktr::test
