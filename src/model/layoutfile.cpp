#include "model/layoutfile.h"

#include "ui/lang.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

const QString kGroups = QStringLiteral("groups");
const QString kName = QStringLiteral("name");
const QString kItems = QStringLiteral("items");
const QString kPath = QStringLiteral("path");
const QString kHidden = QStringLiteral("hidden");
const QString kCustomIcon = QStringLiteral("customIcon");
const QString kWorkDir = QStringLiteral("workDir");
const QString kArgs = QStringLiteral("args");
const QString kRunAsAdmin = QStringLiteral("runAsAdmin");

} // namespace

QJsonObject layoutToJson(const QList<Group>& groups)
{
    QJsonArray groupArray;
    for (const Group& g : groups) {
        QJsonArray itemArray;
        for (const Item& it : g.items) {
            itemArray.append(QJsonObject{
                {kPath, it.path},
                {kName, it.name},
                {kHidden, it.hidden},
                {kCustomIcon, it.customIcon},
                {kWorkDir, it.workDir},
                {kArgs, it.args},
                {kRunAsAdmin, it.runAsAdmin},
            });
        }
        groupArray.append(QJsonObject{{kName, g.name}, {kItems, itemArray}});
    }
    return QJsonObject{{kGroups, groupArray}};
}

QByteArray serializeLayout(const QList<Group>& groups)
{
    return QJsonDocument(layoutToJson(groups)).toJson(QJsonDocument::Indented);
}

QList<Group> layoutFromJson(const QJsonObject& object)
{
    QList<Group> groups;
    const QJsonArray groupArray = object.value(kGroups).toArray();
    groups.reserve(groupArray.size());
    for (const QJsonValue& gv : groupArray) {
        const QJsonObject go = gv.toObject(); // a non-object counts as an empty group
        Group g;
        g.name = go.value(kName).toString().left(kMaxGroupNameLength);
        const QJsonArray itemArray = go.value(kItems).toArray();
        g.items.reserve(itemArray.size());
        for (const QJsonValue& iv : itemArray) {
            const QJsonObject io = iv.toObject();
            Item it;
            it.path = io.value(kPath).toString();
            if (it.path.isEmpty())
                continue;
            it.name = io.value(kName).toString();
            it.hidden = io.value(kHidden).toBool(false);
            it.customIcon = io.value(kCustomIcon).toString();
            it.workDir = io.value(kWorkDir).toString();
            it.args = io.value(kArgs).toString();
            it.runAsAdmin = io.value(kRunAsAdmin).toBool(false);
            g.items.append(std::move(it));
        }
        groups.append(std::move(g));
    }
    if (groups.isEmpty())
        groups.append(Group{Lang::tr("默认分组"), {}});
    return groups;
}

bool layoutDropsData(const QJsonObject& object)
{
    if (object.isEmpty())
        return false;
    const QJsonValue groups = object.value(kGroups);
    if (!groups.isArray())
        return true;
    for (const QJsonValue& gv : groups.toArray()) {
        if (!gv.isObject())
            return true;
        const QJsonObject go = gv.toObject();
        const QJsonValue name = go.value(kName);
        const QJsonValue items = go.value(kItems);
        if ((!name.isUndefined() && !name.isString()) || (!items.isUndefined() && !items.isArray()))
            return true;
        for (const QJsonValue& iv : items.toArray()) {
            if (!iv.isObject() || !iv.toObject().value(kPath).isString())
                return true;
        }
    }
    return false;
}

bool fixLegacyWordpadPaths(QList<Group>& groups)
{
    const QString programFiles = qEnvironmentVariable("ProgramFiles");
    if (programFiles.isEmpty())
        return false;
    const QString wordpad = programFiles + QStringLiteral("/Windows NT/Accessories/wordpad.exe");
    if (!QFileInfo::exists(wordpad))
        return false;
    const QString target = QString(wordpad).replace(QLatin1Char('\\'), QLatin1Char('/'));
    bool changed = false;
    for (Group& g : groups) {
        for (Item& it : g.items) {
            if (it.path.endsWith(QLatin1String("\\write.exe"), Qt::CaseInsensitive) ||
                it.path.endsWith(QLatin1String("/write.exe"), Qt::CaseInsensitive)) {
                it.path = target;
                changed = true;
            }
        }
    }
    return changed;
}
