#pragma once

#include <QList>
#include <QString>

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

    bool operator==(const Group&) const = default;
};

// Group names read from a file are cut to this many characters.
inline constexpr int kMaxGroupNameLength = 64;

// Index of the first group other than `excluded` (-1 = none excluded) named exactly `name`; -1 if none.
int findGroupByName(const QList<Group>& groups, const QString& name, int excluded = -1);

// The current-group index kept valid: clamped to 0..count-1 with groups present, 0 without.
int clampGroupIndex(int index, int count);
