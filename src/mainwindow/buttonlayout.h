#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// The two button bars' id lists as stored in the settings (btnLayoutTitle, btnLayoutBottom).

// Reads the array member key of obj into list: valid ids 0..10 in order, each once. A missing,
// non-array or empty member leaves list as it was.
void readButtonLayout(const QJsonObject& obj, const QString& key, QList<int>& list);

// Repairs both lists together so every button 0..10 is reachable exactly once: invalid and
// repeated ids go, an id on both bars stays on the title bar, and missing ids are put back
// (0..4 at the end of the title bar, 8 at the head of the bottom bar, 9 before 8, 10 before 9,
// the others at the end of the bottom bar).
void normalizeButtonLayouts(QList<int>& title, QList<int>& bottom);
