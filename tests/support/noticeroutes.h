#pragma once

#include "fakeservicehost.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace ktr::test {

// "/api/notice.php" for a state folder (tools/servicehost): action latest answers the object in
// notices.json as it is (for example {"ok": 1, "gen": 1, "notice": {"id": 3, "created": "2026-01-15
// 09:00:00", "title": "…", "body": "…", "url": "", "title_color": ""}}; read on every request, so a notice
// can be written in by hand; up to 8 MB, so an oversized notice can be tried), {"ok": 0} without one;
// action report appends the report received, with the time, as one line to notice_reports.jsonl.
inline void installNoticeRoutes(FakeServiceHost& host, const QString& folder)
{
    host.route("POST", QStringLiteral("/api/notice.php"), QStringLiteral("latest"),
               [folder](const FakeServiceHost::Request&) {
                   QFile file(QDir(folder).filePath(QStringLiteral("notices.json")));
                   QJsonObject reply{{QStringLiteral("ok"), 0}};
                   if (file.open(QIODevice::ReadOnly)) {
                       const QJsonDocument doc = QJsonDocument::fromJson(file.read(8 << 20));
                       if (doc.isObject())
                           reply = doc.object();
                   }
                   return FakeServiceHost::Reply::json(reply);
               });
    host.route("POST", QStringLiteral("/api/notice.php"), QStringLiteral("report"),
               [folder](const FakeServiceHost::Request& request) {
                   QJsonObject line = request.json;
                   line.insert(QStringLiteral("received"), QDateTime::currentDateTime().toString(Qt::ISODate));
                   QDir().mkpath(folder);
                   QFile file(QDir(folder).filePath(QStringLiteral("notice_reports.jsonl")));
                   if (file.open(QIODevice::Append))
                       file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
                   return FakeServiceHost::Reply::json(QJsonObject{{QStringLiteral("ok"), 1}});
               });
}

} // namespace ktr::test
