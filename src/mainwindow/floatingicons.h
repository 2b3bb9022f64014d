#pragma once

#include "model/panelmodel.h"

#include <QList>
#include <QObject>
#include <QPoint>

#include <functional>

class FloatIcon;
class QWidget;

// The floating icons: small top-level windows that each launch one item, kept in creation order. They go
// with the window they were floated from.
class FloatingIcons : public QObject
{
    Q_OBJECT
public:
    struct Host
    {
        QWidget* window = nullptr; // the screen they are kept on, and whose end takes them along
        std::function<void(const Item& item)> launch;
        // Where a new icon goes: the grid cell under the pointer, or the item's own cell.
        std::function<QPoint(int itemIndex)> position;
    };

    explicit FloatingIcons(Host host, QObject* parent = nullptr);

    // A floating icon for `item` (a copy: what it launches stays as it is now), at `itemIndex`'s place.
    FloatIcon* add(const Item& item, int itemIndex, bool singleClickOpen);
    void remove(FloatIcon* icon);
    void removeAll();
    void setSingleClickOpen(bool on);
    const QList<FloatIcon*>& icons() const { return m_icons; }

private:
    Host m_host;
    QList<FloatIcon*> m_icons;
};
