#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

// One icon of the panel. New items from drops and the default layout carry only path and name.
struct Item
{
    QString path; // file or folder (forward slashes), or a shell place "::{CLSID}"
    QString name;
    bool hidden = false; // kept in the model and the file, left out of the grid
    QString customIcon;
    QString workDir;
    QString args;
    bool runAsAdmin = false;

    bool operator==(const Item&) const = default;
};

struct Group
{
    QString name;
    QList<Item> items;
    // What the group is for, when the program made it for something ("market": the app market's group);
    // empty for the user's own groups. It stays through a rename, so the program finds its group again.
    QString kind = QString();

    bool operator==(const Group&) const = default;
};

// The kind of the app market's group.
inline constexpr char kMarketGroupKind[] = "market";
// Its default name, stored untranslated like the default groups' names and shown in the language shown.
inline constexpr char kMarketGroupName[] = "应用市场";

// Group names read from a file are cut to this many characters.
inline constexpr int kMaxGroupNameLength = 64;

// Index of the first group other than `excluded` (-1 = none excluded) named exactly `name`; -1 if none.
int findGroupByName(const QList<Group>& groups, const QString& name, int excluded = -1);

// The index of the app market's group in `groups`, made when there is none; `changed` tells whether the
// groups changed. The group of the market kind wins whatever its name; a group of an older layout named
// "应用市场" (or its English name) or "社区应用" is taken over and given the kind, and the default name when it
// carried one; else a new group with the default name is appended.
int ensureMarketGroup(QList<Group>& groups, bool* changed);

// The current-group index kept valid: clamped to 0..count-1 with groups present, 0 without.
int clampGroupIndex(int index, int count);

// The panel's groups and the current group, owned by the main window. Every change goes through these
// mutators, which tell the widgets and the window through signals: `changed` for what "layout.json"
// holds, `currentChanged` for another current group, `groupsMoved` for a live reorder of the groups.
// The widgets read the list in place (groups(), currentIndexSlot()) and repaint on these signals.
class PanelModel : public QObject
{
    Q_OBJECT
public:
    explicit PanelModel(QObject* parent = nullptr);

    const QList<Group>& groups() const { return m_groups; }
    int currentIndex() const { return m_currentIndex; }
    // Where the current index lives, for widgets that read it in place.
    const int* currentIndexSlot() const { return &m_currentIndex; }
    int findGroup(const QString& name, int excluded = -1) const { return findGroupByName(m_groups, name, excluded); }
    bool hasGroup(int index) const { return index >= 0 && index < m_groups.size(); }
    bool hasItem(int group, int item) const
    {
        return hasGroup(group) && item >= 0 && item < m_groups[group].items.size();
    }

    // The current index kept inside the list; sends currentChanged even when the index stays.
    void setCurrentGroup(int index);
    // The whole list at once (a load, the default layout, a reset); sends neither signal.
    void replaceGroups(QList<Group> groups);

    enum class NameResult { Done, Taken, Invalid };
    NameResult createGroup(const QString& name);
    NameResult renameGroup(int index, const QString& name);
    // The first group can't be deleted; the deleted group's items not already there go to it.
    bool deleteGroup(int index);
    bool clearGroup(int index);

    // Dropped files: the paths added and how many did not exist. Paths already in the group are skipped; a
    // group that got items becomes the current one.
    struct Added
    {
        QStringList paths;
        int missing = 0;
    };
    Added addFiles(int group, const QList<QUrl>& urls);
    // Shell places (display name, parsing name): the parsing names added, as addFiles does.
    QStringList addShellItems(int group, const QList<QPair<QString, QString>>& items);
    bool moveItem(int fromGroup, int itemIndex, int toGroup);
    // Within the current group; `to` counts positions before the move (to == count appends).
    bool reorderItem(int from, int to);
    // The live reorder of a group drag: saved when the drag ends, so no `changed`.
    bool displaceGroup(int from, int to);
    bool removeItem(int group, int item);
    // Removes every item `missing` says is gone; the count removed.
    int removeItems(const std::function<bool(const Item&)>& missing);
    // Edits one item in place; `save` sends `changed` afterwards.
    bool editItem(int group, int item, const std::function<void(Item&)>& edit, bool save = true);
    // Edits the whole list in place (desktop collection, icon edits of the settings dialog).
    void editGroups(const std::function<bool(QList<Group>&)>& edit);

signals:
    void changed();
    void currentChanged(int index);
    void groupsMoved();

private:
    QList<Group> m_groups;
    int m_currentIndex = 0;
};
