#include "model/panelmodel.h"

#include <algorithm>

int findGroupByName(const QList<Group>& groups, const QString& name, int excluded)
{
    for (int i = 0; i < groups.size(); ++i) {
        if (i != excluded && groups.at(i).name == name)
            return i;
    }
    return -1;
}

int clampGroupIndex(int index, int count)
{
    if (count <= 0)
        return 0;
    return std::clamp(index, 0, count - 1);
}
