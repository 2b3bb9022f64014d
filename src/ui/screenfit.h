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
