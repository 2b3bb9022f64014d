#include "model/buttonlayout.h"

#include <QJsonArray>

namespace {

constexpr int kMaxId = 10;

bool validId(int id)
{
    return id >= 0 && id <= kMaxId;
}

void insertBefore(QList<int>& list, int before, int id)
{
    const int at = list.indexOf(before);
    list.insert(at < 0 ? 0 : at, id);
}

} // namespace

void readButtonLayout(const QJsonObject& object, const QString& key, QList<int>& list)
{
    const QJsonArray array = object.value(key).toArray();
    if (array.isEmpty())
        return;
    list.clear();
    for (const QJsonValue& v : array) {
        const int id = v.toInt(-1); // a non-number or a fraction gives -1
        if (validId(id) && !list.contains(id))
            list.append(id);
    }
}

void normalizeButtonLayouts(QList<int>& title, QList<int>& bottom)
{
    title.removeAll(-1);
    bottom.removeAll(-1);
    for (int i = int(title.size()) - 1; i >= 0; --i) {
        const int id = title.at(i);
        if (!validId(id) || title.indexOf(id) < i)
            title.removeAt(i);
    }
    for (int i = int(bottom.size()) - 1; i >= 0; --i) {
        const int id = bottom.at(i);
        if (!validId(id) || title.contains(id) || bottom.indexOf(id) < i)
            bottom.removeAt(i);
    }
    if (!bottom.contains(9))
        insertBefore(bottom, 8, 9);
    if (!title.contains(10) && !bottom.contains(10))
        insertBefore(bottom, 9, 10);
    for (int id = 0; id <= kMaxId; ++id) {
        if (title.contains(id) || bottom.contains(id))
            continue;
        if (id == 8)
            bottom.prepend(8);
        else if (id == 9)
            continue;
        else if (id <= 4)
            title.append(id);
        else
            bottom.append(id);
    }
}
