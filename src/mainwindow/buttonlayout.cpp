#include "mainwindow/buttonlayout.h"

#include "ui/uibtn.h"

#include <QJsonArray>
#include <QJsonValue>

void readButtonLayout(const QJsonObject& obj, const QString& key, QList<int>& list)
{
    const QJsonArray array = obj.value(key).toArray();
    if (array.isEmpty())
        return;
    list.clear();
    for (const QJsonValue& v : array) {
        const int id = v.toInt(-1);
        if (UiBtn::isValid(id) && !list.contains(id))
            list.append(id);
    }
}

namespace {

// Insert id before the first occurrence of before, or at the head when there is none.
void insertBefore(QList<int>& list, int id, int before)
{
    const qsizetype at = list.indexOf(before);
    list.insert(at < 0 ? 0 : at, id);
}

} // namespace

void normalizeButtonLayouts(QList<int>& title, QList<int>& bottom)
{
    title.removeAll(-1);
    bottom.removeAll(-1);

    // Walk from the back so the first occurrence of each id is the one that stays.
    for (qsizetype i = title.size() - 1; i >= 0; --i) {
        const int id = title.at(i);
        if (!UiBtn::isValid(id) || title.indexOf(id) < i)
            title.removeAt(i);
    }
    for (qsizetype i = bottom.size() - 1; i >= 0; --i) {
        const int id = bottom.at(i);
        if (!UiBtn::isValid(id) || title.contains(id) || bottom.indexOf(id) < i)
            bottom.removeAt(i);
    }

    // The screen monitor button may have been moved to the title bar on purpose: it counts as present
    // there, as the protection button does, instead of being shown on both bars.
    if (!bottom.contains(UiBtn::Monitor) && !title.contains(UiBtn::Monitor))
        insertBefore(bottom, UiBtn::Monitor, UiBtn::Lock);
    if (!title.contains(UiBtn::Obfuscate) && !bottom.contains(UiBtn::Obfuscate))
        insertBefore(bottom, UiBtn::Obfuscate, UiBtn::Monitor);

    for (int id = 0; id < UiBtn::kCount; ++id) {
        if (title.contains(id) || bottom.contains(id))
            continue;
        if (id == UiBtn::Lock)
            bottom.prepend(id);
        else if (id <= UiBtn::Close)
            title.append(id);
        else if (id != UiBtn::Monitor)
            bottom.append(id);
    }
}
