#include "ui/screenfit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

QRect availableGeometryAt(const QPoint& globalPoint)
{
    QScreen* screen = QGuiApplication::screenAt(globalPoint);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

QRect keptWithin(const QRect& wanted, const QRect& available)
{
    if (available.isEmpty())
        return wanted;
    const int x = std::max(available.left(), std::min(wanted.left(), available.right() - wanted.width() + 1));
    const int y = std::max(available.top(), std::min(wanted.top(), available.bottom() - wanted.height() + 1));
    return QRect(QPoint(x, y), wanted.size());
}

QRect availableGeometryFor(const QWidget* window)
{
    const QPoint centre = window->frameGeometry().center();
    if (QScreen* screen = QGuiApplication::screenAt(centre))
        return screen->availableGeometry();
    if (const QWidget* parent = window->parentWidget())
        if (QScreen* screen = parent->window()->screen())
            return screen->availableGeometry();
    return availableGeometryAt(centre);
}

namespace {

class ScreenKeeper : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The show event comes before the window is mapped, so the window appears in its place at once.
        if (event->type() == QEvent::Show && watched == parent()) {
            auto* window = static_cast<QWidget*>(watched);
            if (window->isWindow()) {
                const QRect frame = window->frameGeometry();
                const QRect kept = keptWithin(frame, availableGeometryFor(window));
                if (kept.topLeft() != frame.topLeft())
                    window->move(window->pos() + (kept.topLeft() - frame.topLeft()));
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void keepOnScreen(QWidget* window)
{
    const QString name = QStringLiteral("ktrScreenKeeper");
    if (!window || window->findChild<QObject*>(name, Qt::FindDirectChildrenOnly))
        return;
    auto* keeper = new ScreenKeeper(window);
    keeper->setObjectName(name);
    window->installEventFilter(keeper);
}
