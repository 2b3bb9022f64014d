#include "mainwindow/floatingicons.h"

#include "icons/iconloader.h"
#include "mainwindow/itemmenu.h"
#include "panel/floaticon.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

FloatingIcons::FloatingIcons(Host host, QObject* parent) : QObject(parent), m_host(std::move(host))
{
}

FloatIcon* FloatingIcons::add(const Item& item, int itemIndex, bool singleClickOpen)
{
    QPixmap pixmap = item.customIcon.isEmpty() ? QPixmap() : QPixmap(item.customIcon);
    if (pixmap.isNull())
        pixmap = loadIconPixmap(item.path);

    const QPoint position = m_host.position ? m_host.position(itemIndex) : QCursor::pos();
    auto* icon = new FloatIcon(pixmap, item.name, position);
    icon->setSingleClickOpen(singleClickOpen);
    connect(icon, &FloatIcon::openRequested, this, [this, item] {
        if (m_host.launch)
            m_host.launch(item);
    });
    connect(icon, &FloatIcon::removeRequested, this, [this, icon] { remove(icon); });
    connect(icon, &FloatIcon::removeAllRequested, this, &FloatingIcons::removeAll);
    // Top-level windows without a parent: they go with the window.
    if (m_host.window)
        connect(m_host.window, &QObject::destroyed, icon, [icon] { delete icon; });

    icon->show();
    QScreen* screen = m_host.window ? m_host.window->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    icon->move(clampIntoArea(icon->pos(), icon->size(), area));
    m_icons.append(icon);
    return icon;
}

void FloatingIcons::remove(FloatIcon* icon)
{
    if (!icon || !m_icons.contains(icon))
        return;
    m_icons.removeAll(icon);
    icon->deleteLater();
}

void FloatingIcons::removeAll()
{
    const QList<FloatIcon*> icons = std::exchange(m_icons, {});
    for (FloatIcon* icon : icons)
        icon->deleteLater();
}

void FloatingIcons::setSingleClickOpen(bool on)
{
    for (FloatIcon* icon : std::as_const(m_icons))
        icon->setSingleClickOpen(on);
}
