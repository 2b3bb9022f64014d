#include "ui/windowcorners.h"

#include "platform/compositing.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QWidget>

#include <cmath>

namespace {

std::optional<bool>& forced()
{
    static std::optional<bool> value;
    return value;
}

// Fills a follower's repainted area before the window paints itself, while nothing composes it.
class BackdropFiller : public QObject
{
public:
    BackdropFiller(QWidget* window, std::function<QColor()> backdrop)
        : QObject(window), m_window(window), m_backdrop(std::move(backdrop))
    {
        setObjectName(QStringLiteral("compositingBackdrop"));
        window->installEventFilter(this);
        connect(&CompositingSignals::instance(), &CompositingSignals::changed, this, [this] { m_window->update(); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The filter runs inside the window's paint event, before its own handler: painting here lies under
        // what the window paints.
        if (watched == m_window && event->type() == QEvent::Paint && !windowComposed(m_window)) {
            QPainter p(m_window);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            QColor fill = m_backdrop ? m_backdrop() : QColor();
            if (!fill.isValid())
                fill = m_window->palette().color(QPalette::Window);
            fill.setAlpha(255);
            p.fillRect(static_cast<QPaintEvent*>(event)->rect(), fill);
        }
        return false;
    }

private:
    QWidget* m_window;
    std::function<QColor()> m_backdrop;
};

} // namespace

CompositingSignals::CompositingSignals()
{
    connect(&ktr::platform::CompositingWatch::instance(), &ktr::platform::CompositingWatch::activeChanged, this,
            [this](bool active) {
                if (!forced())
                    emit changed(active);
            });
}

CompositingSignals& CompositingSignals::instance()
{
    static auto* hub = new CompositingSignals;
    return *hub;
}

bool windowsComposited()
{
    if (forced())
        return *forced();
    return ktr::platform::CompositingWatch::instance().isActive();
}

qreal windowCornerRadius(qreal wanted)
{
    return windowsComposited() ? wanted : 0.0;
}

int windowCornerRadius(int wanted)
{
    return windowsComposited() ? wanted : 0;
}

bool windowComposed(const QWidget* window)
{
    return windowsComposited() && window && window->testAttribute(Qt::WA_TranslucentBackground);
}

int windowCornerRadius(const QWidget* window, int wanted)
{
    return windowComposed(window) ? wanted : 0;
}

void followCompositing(QWidget* window, std::function<QColor()> backdrop)
{
    // Once per window: a menu styled again keeps its one filler.
    if (window && !window->findChild<QObject*>(QStringLiteral("compositingBackdrop"), Qt::FindDirectChildrenOnly))
        new BackdropFiller(window, std::move(backdrop));
}

void setWindowsCompositedForTest(std::optional<bool> composited)
{
    const bool before = windowsComposited();
    forced() = composited;
    if (windowsComposited() != before)
        emit CompositingSignals::instance().changed(windowsComposited());
}
