#pragma once

#include <QColor>
#include <QPixmap>

class QMimeData;

// The drag payload of a bar button: "application/x-ktr-uibtn" holding {"ub": id, "from": zone}.
inline constexpr char kUiBtnMimeType[] = "application/x-ktr-uibtn";

QMimeData* makeUiBtnMimeData(int id, int fromZone);
// The button id of a payload, or -1 when the payload is absent, damaged or not an id 0..10.
int readUiBtnPayload(const QMimeData* mime);
bool hasUiBtnPayload(const QMimeData* mime);

// The 22 x 22 drag image: the glyph unscaled at the centre on a transparent ground.
QPixmap uiBtnDragPixmap(int id, bool pinned, const QColor& color, qreal devicePixelRatio);

// The glyph colour of both bars: the bottom bar's foreground, or the palette's secondary text while
// no bar colours have been applied.
QColor barGlyphColor();
