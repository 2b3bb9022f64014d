#include "panel/itempayload.h"

#include <QDropEvent>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace {

// A path is at most a few thousand characters; anything far larger is not ours.
constexpr qsizetype kMaxPayloadBytes = 64 * 1024;

// A JSON number that is a whole number in 0..INT_MAX. A missing key is no index: read as 0 it would move
// whatever item sits first in the first group.
bool readIndex(const QJsonObject& obj, QLatin1StringView key, int* out)
{
    const QJsonValue v = obj.value(key);
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d) || d < 0 || d > double(std::numeric_limits<int>::max()))
        return false;
    *out = int(d);
    return true;
}

} // namespace

QByteArray encodeItemPayload(int group, int item, const QString& path)
{
    // Written by hand so the key order stays "g", "i", "path" (QJsonObject sorts its keys).
    const QByteArray pathJson = QJsonDocument(QJsonArray{path}).toJson(QJsonDocument::Compact);
    // pathJson is ["..."]: drop the brackets to keep the escaped string.
    return QByteArrayLiteral("{\"g\":") + QByteArray::number(group) + QByteArrayLiteral(",\"i\":") +
           QByteArray::number(item) + QByteArrayLiteral(",\"path\":") + pathJson.mid(1, pathJson.size() - 2) + '}';
}

bool decodeItemPayload(const QByteArray& data, ItemPayload* out)
{
    if (data.isEmpty() || data.size() > kMaxPayloadBytes)
        return false;
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject obj = doc.object();
    ItemPayload p;
    if (!readIndex(obj, QLatin1StringView("g"), &p.group) || !readIndex(obj, QLatin1StringView("i"), &p.item))
        return false;
    p.path = obj.value(QLatin1StringView("path")).toString();
    if (out)
        *out = p;
    return true;
}

bool itemPayloadInModel(const ItemPayload& payload, const QList<Group>& groups)
{
    return payload.group >= 0 && payload.group < groups.size() && payload.item >= 0 &&
           payload.item < groups.at(payload.group).items.size();
}

bool acceptFileDrop(QDropEvent* event)
{
    const Qt::DropActions offered = event->possibleActions();
    const Qt::DropAction action = offered.testFlag(Qt::LinkAction)   ? Qt::LinkAction
                                  : offered.testFlag(Qt::CopyAction) ? Qt::CopyAction
                                                                     : Qt::IgnoreAction;
    if (action == Qt::IgnoreAction) {
        event->ignore();
        return false;
    }
    event->setDropAction(action);
    event->accept();
    return true;
}
