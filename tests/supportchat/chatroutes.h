#pragma once

#include "fakeservicehost.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>

#include <functional>

namespace ktr::test {

// One support conversation on a FakeServiceHost: "poll" answers the messages after "after", "send" stores
// the user's message with the next id, "welcome" and "read" answer what the test sets, and "/uploads/<key>"
// serves the pictures the test put in. A test changes the answers through the members and hooks.
struct ChatRoutes
{
    using Reply = FakeServiceHost::Reply;
    using Request = FakeServiceHost::Request;

    QJsonArray messages; // {"id", "from_cs", "text", "created", "img"}
    qint64 nextId = 1;
    QJsonObject welcome{{"ok", 1}, {"title", "Support desk"}, {"text", "Hello, how can we help?"}};
    QHash<QString, QByteArray> uploads;
    int pollDelayMs = 0;
    int sendDelayMs = 0;
    int welcomeDelayMs = 0;
    QJsonObject sendOverride;                   // when not empty: the answer of every send
    std::function<void(const Request&)> onSend; // runs before a send is stored

    qint64 add(bool fromSupport, const QString& text, const QString& img = QString())
    {
        const qint64 id = nextId++;
        messages.append(QJsonObject{{"id", id},
                                    {"from_cs", fromSupport ? 1 : 0},
                                    {"text", text},
                                    {"created", "2026-01-31 14:05:09"},
                                    {"img", img}});
        return id;
    }

    void install(FakeServiceHost& host)
    {
        const QString api = QStringLiteral("/api/support.php");
        host.route("POST", api, "poll", [this](const Request& r) {
            const qint64 after = r.json.value("after").toVariant().toLongLong();
            QJsonArray out;
            for (const QJsonValue& v : std::as_const(messages)) {
                if (v.toObject().value("id").toVariant().toLongLong() > after)
                    out.append(v);
            }
            Reply reply = Reply::json(QJsonObject{{"ok", 1}, {"messages", out}});
            reply.delayMs = pollDelayMs;
            return reply;
        });
        host.route("POST", api, "send", [this](const Request& r) {
            if (onSend)
                onSend(r);
            Reply reply;
            if (!sendOverride.isEmpty()) {
                reply = Reply::json(sendOverride);
            } else {
                const qint64 id = add(false, r.json.value("text").toString(),
                                      r.json.contains("img_b64") ? QStringLiteral("up%1.png").arg(nextId) : QString());
                reply = Reply::json(QJsonObject{{"ok", 1}, {"id", QString::number(id)}});
            }
            reply.delayMs = sendDelayMs;
            return reply;
        });
        host.route("POST", api, "welcome", [this](const Request&) {
            Reply reply = Reply::json(welcome);
            reply.delayMs = welcomeDelayMs;
            return reply;
        });
        host.route("POST", api, "read", Reply::json(QJsonObject{{"ok", 1}}));
        host.setFallback([this](const Request& r) {
            const QString key = r.path.mid(QStringLiteral("/uploads/").size());
            if (r.method == "GET" && r.path.startsWith("/uploads/") && uploads.contains(key))
                return Reply::raw(200, uploads.value(key), "image/png");
            return Reply::raw(404, "no such file");
        });
    }

    static QByteArray png(const QSize& size, const QColor& colour = QColor(0x3AA655))
    {
        QImage img(size, QImage::Format_RGB32);
        img.fill(colour);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        img.save(&buffer, "PNG");
        return bytes;
    }
};

// The requests of one kind that a host received.
inline QList<FakeServiceHost::Request> requestsOf(const FakeServiceHost& host, const QString& action)
{
    QList<FakeServiceHost::Request> out;
    for (const FakeServiceHost::Request& r : host.requests()) {
        if (r.action == action)
            out.append(r);
    }
    return out;
}

inline int pictureRequests(const FakeServiceHost& host)
{
    int n = 0;
    for (const FakeServiceHost::Request& r : host.requests())
        n += r.path.startsWith(QLatin1String("/uploads/")) ? 1 : 0;
    return n;
}

} // namespace ktr::test
