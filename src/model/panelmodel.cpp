#include "model/panelmodel.h"

#include "model/shortcutfile.h"
#include "ui/lang.h"

#include <QFileInfo>

#include <algorithm>

int findGroupByName(const QList<Group>& groups, const QString& name, int excluded)
{
    for (int i = 0; i < groups.size(); ++i) {
        if (i != excluded && groups.at(i).name == name)
            return i;
    }
    return -1;
}

namespace {

// A group name as the language table has it in English (the name itself when the table has none).
QString englishName(const QString& zh)
{
    int count = 0;
    const Lang::Pair* pairs = Lang::table(&count);
    for (int i = 0; i < count; ++i) {
        if (zh == QString::fromUtf8(pairs[i].zh))
            return QString::fromUtf8(pairs[i].en);
    }
    return zh;
}

} // namespace

int ensureMarketGroup(QList<Group>& groups, bool* changed)
{
    *changed = false;
    const QString kind = QString::fromLatin1(kMarketGroupKind);
    for (int i = 0; i < groups.size(); ++i) {
        if (groups.at(i).kind == kind)
            return i;
    }
    // Layouts from before the kind: the group was known by its name, in either language (a group made
    // with the English interface carried the English name), or as the community group of older versions.
    const QString marketName = QString::fromUtf8(kMarketGroupName);
    const QString community = QStringLiteral("社区应用");
    for (const QString& name : {marketName, englishName(marketName), community, englishName(community)}) {
        const int i = findGroupByName(groups, name);
        if (i >= 0) {
            groups[i].kind = kind;
            groups[i].name = marketName;
            *changed = true;
            return i;
        }
    }
    Group g;
    g.name = marketName;
    g.kind = kind;
    groups.append(g);
    *changed = true;
    return int(groups.size()) - 1;
}

int clampGroupIndex(int index, int count)
{
    if (count <= 0)
        return 0;
    return std::clamp(index, 0, count - 1);
}

namespace {

bool groupHasPath(const Group& group, const QString& path)
{
    return std::any_of(group.items.cbegin(), group.items.cend(), [&path](const Item& i) { return i.path == path; });
}

Item newItem(const QString& path, const QString& name)
{
    Item item;
    item.path = path;
    item.name = name;
    return item;
}

QString nameForDroppedPath(const QFileInfo& info)
{
    if (info.isDir() || info.suffix().isEmpty())
        return info.fileName();
    // A desktop entry is shown by the name it gives itself, in the user's language, as launchers show it.
    if (info.suffix().compare(QLatin1String("desktop"), Qt::CaseInsensitive) == 0) {
        const QString name = desktopEntryName(info.filePath(), desktopEntryLocale());
        if (!name.isEmpty())
            return name;
    }
    const QString base = info.completeBaseName();
    return base.isEmpty() ? info.fileName() : base;
}

} // namespace

PanelModel::PanelModel(QObject* parent) : QObject(parent)
{
}

void PanelModel::setCurrentGroup(int index)
{
    m_currentIndex = clampGroupIndex(index, int(m_groups.size()));
    emit currentChanged(m_currentIndex);
}

void PanelModel::replaceGroups(QList<Group> groups)
{
    m_groups = std::move(groups);
}

PanelModel::NameResult PanelModel::createGroup(const QString& name)
{
    if (findGroup(name) >= 0)
        return NameResult::Taken;
    m_groups.append(Group{name, {}});
    setCurrentGroup(int(m_groups.size()) - 1);
    emit changed();
    return NameResult::Done;
}

PanelModel::NameResult PanelModel::renameGroup(int index, const QString& name)
{
    if (!hasGroup(index))
        return NameResult::Invalid;
    if (findGroup(name, index) >= 0)
        return NameResult::Taken;
    m_groups[index].name = name;
    emit changed();
    return NameResult::Done;
}

bool PanelModel::deleteGroup(int index)
{
    if (index < 1 || index >= m_groups.size())
        return false;
    QList<Item>& first = m_groups[0].items;
    for (const Item& item : std::as_const(m_groups[index].items)) {
        if (!groupHasPath(m_groups[0], item.path))
            first.append(item);
    }
    m_groups.removeAt(index);
    const int count = int(m_groups.size());
    if (index == m_currentIndex)
        setCurrentGroup(index - 1);
    else if (index < m_currentIndex)
        setCurrentGroup(m_currentIndex - 1);
    else if (m_currentIndex >= count)
        setCurrentGroup(count - 1);
    emit changed();
    return true;
}

bool PanelModel::clearGroup(int index)
{
    if (!hasGroup(index) || m_groups[index].items.isEmpty())
        return false;
    m_groups[index].items.clear();
    emit changed();
    return true;
}

PanelModel::Added PanelModel::addFiles(int group, const QList<QUrl>& urls)
{
    Added added;
    if (!hasGroup(group))
        return added;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (groupHasPath(m_groups[group], path))
            continue;
        const QFileInfo info(path);
        if (!info.exists()) {
            ++added.missing;
            continue;
        }
        m_groups[group].items.append(newItem(path, nameForDroppedPath(info)));
        added.paths.append(path);
    }
    if (!added.paths.isEmpty()) {
        setCurrentGroup(group);
        emit changed();
    }
    return added;
}

QStringList PanelModel::addShellItems(int group, const QList<QPair<QString, QString>>& items)
{
    QStringList added;
    if (!hasGroup(group))
        return added;
    for (const auto& [display, parsing] : items) {
        if (parsing.isEmpty() || groupHasPath(m_groups[group], parsing))
            continue;
        m_groups[group].items.append(newItem(parsing, display));
        added.append(parsing);
    }
    if (!added.isEmpty()) {
        setCurrentGroup(group);
        emit changed();
    }
    return added;
}

bool PanelModel::moveItem(int fromGroup, int itemIndex, int toGroup)
{
    if (!hasItem(fromGroup, itemIndex) || !hasGroup(toGroup) || fromGroup == toGroup)
        return false;
    if (groupHasPath(m_groups[toGroup], m_groups[fromGroup].items[itemIndex].path))
        return false;
    m_groups[toGroup].items.append(m_groups[fromGroup].items.takeAt(itemIndex));
    emit changed();
    return true;
}

bool PanelModel::reorderItem(int from, int to)
{
    if (!hasGroup(m_currentIndex))
        return false;
    QList<Item>& items = m_groups[m_currentIndex].items;
    const int n = int(items.size());
    if (from < 0 || to < 0 || from >= n || to > n || from == to)
        return false;
    const Item item = items.takeAt(from);
    items.insert(from < to ? to - 1 : to, item);
    emit changed();
    return true;
}

bool PanelModel::displaceGroup(int from, int to)
{
    const int count = int(m_groups.size());
    if (from < 0 || to < 0 || from >= count || to >= count || from == to)
        return false;
    const int before = m_currentIndex;
    int current = before;
    if (from < to && from < current && current <= to)
        --current;
    else if (from > to && to <= current && current < from)
        ++current;
    m_groups.move(from, to); // the groups between shift one place toward `from`
    if (from == before)
        setCurrentGroup(to);
    else
        m_currentIndex = current;
    emit groupsMoved();
    return true;
}

bool PanelModel::removeItem(int group, int item)
{
    if (!hasItem(group, item))
        return false;
    m_groups[group].items.removeAt(item);
    emit changed();
    return true;
}

int PanelModel::removeItems(const std::function<bool(const Item&)>& missing)
{
    int removed = 0;
    for (Group& group : m_groups) {
        for (qsizetype i = group.items.size() - 1; i >= 0; --i) {
            if (missing(group.items[i])) {
                group.items.removeAt(i);
                ++removed;
            }
        }
    }
    if (removed > 0)
        emit changed();
    return removed;
}

bool PanelModel::editItem(int group, int item, const std::function<void(Item&)>& edit, bool save)
{
    if (!hasItem(group, item))
        return false;
    edit(m_groups[group].items[item]);
    if (save)
        emit changed();
    return true;
}

void PanelModel::editGroups(const std::function<bool(QList<Group>&)>& edit)
{
    if (edit(m_groups))
        emit changed();
}
