#pragma once

#include <QHash>
#include <QString>

class QFontMetrics;

// A label of the automatic layout: one line (word-wrapped when drawn) or two lines, the second elided.
struct GridLabel
{
    QString line1;
    QString line2;
    bool twoLines = false;
};
GridLabel gridAutoLabel(const QFontMetrics& fm, const QString& text, int avail);

// A label of the fixed-column layout: whole when it fits in avail, else shortened at the right with an ellipsis.
QString gridCutLabel(const QFontMetrics& fm, const QString& text, int avail);

// Labels worked out once per text and width, for both layouts. The metrics are those of the one label font,
// so they are not part of the key; clear() when that font could have changed. Each table starts over once it
// passes 512 entries.
class GridLabelCache
{
public:
    QString fixedLabel(const QFontMetrics& fm, const QString& text, int avail);
    const GridLabel& autoLabel(const QFontMetrics& fm, const QString& text, int avail);
    void clear();
    int size() const { return int(m_fixed.size() + m_auto.size()); }

private:
    QHash<QString, QString> m_fixed;
    QHash<QString, GridLabel> m_auto;
};
