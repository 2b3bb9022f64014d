#pragma once

#include <QPoint>
#include <QRect>

// Where our own windows may go: dialogs place themselves by the panel, and a panel near a screen's edge or on
// a second screen must not push them off it.

// The available geometry (without panels and docks) of the screen that holds the point, else of the
// primary screen; empty without screens.
QRect availableGeometryAt(const QPoint& globalPoint);

// `wanted` moved, not resized, so it lies whole inside `available`; a rectangle larger than `available`
// keeps its top-left corner there. `wanted` unchanged when `available` is empty.
QRect keptWithin(const QRect& wanted, const QRect& available);

class QWidget;

// Keeps a dialog or card whole inside the available area of its screen each time it is shown: placed by its
// parent (centred on a panel docked half off the screen, beside a panel at the edge), it is moved in, above
// the tray and off no edge. The screen is the one under the window's centre, else its parent's.
void keepOnScreen(QWidget* window);
// The available area keepOnScreen keeps `window` inside.
QRect availableGeometryFor(const QWidget* window);
