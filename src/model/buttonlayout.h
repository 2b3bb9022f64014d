#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// Fills `list` from the settings member `key`: a missing, non-array or empty member leaves the list as
// it is; otherwise the list becomes the member's ids 0..10 in order, each once (anything else skipped).
void readButtonLayout(const QJsonObject& object, const QString& key, QList<int>& list);

// Repairs the title-bar and bottom-bar lists together: ids only 0..10, none twice in a list, an id of
// the title bar dropped from the bottom bar, 9 always on the bottom bar (also when the title bar holds
// it), 10 on some bar, and every id on at least one bar.
void normalizeButtonLayouts(QList<int>& title, QList<int>& bottom);
