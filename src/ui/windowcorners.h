#pragma once

#include <QColor>
#include <QObject>

#include <functional>
#include <optional>

class QWidget;

// Our translucent top-levels (the panel, cards, dialogs, toasts, menus) round their corners by leaving the
// pixels outside the outline transparent. That needs a compositing manager: without one the X server shows
// those pixels black. This is the one place that decides how such a window's corners look:
// - with a compositor: rounded, transparent outside the outline, as designed;
// - without: square and opaque, in the window's own background colour.
// The answer follows the compositor live (platform/compositing.h); windows repaint when it changes.

// Whether translucent pixels of our windows are composed with what lies behind them.
bool windowsComposited();

// The corner radius a top-level's outline gets: `wanted` when composed, 0 (square) when not.
qreal windowCornerRadius(qreal wanted);
int windowCornerRadius(int wanted);

// Whether `window`'s own translucent pixels are composed: a compositor runs and the window has an alpha
// channel. A window made opaque (the panel, when no compositor ran at its start) keeps square corners.
bool windowComposed(const QWidget* window);
int windowCornerRadius(const QWidget* window, int wanted);

// Lets `window` (a translucent top-level) follow the compositor: while none runs, every paint of the window
// first fills what it repaints with backdrop(), so corners and shadow margins it leaves transparent show that
// colour instead of black; and the window repaints whenever a compositor starts or ends.
void followCompositing(QWidget* window, std::function<QColor()> backdrop);

// Tells of a change of windowsComposited() (a compositor started or ended, or a test's choice).
class CompositingSignals : public QObject
{
    Q_OBJECT
public:
    static CompositingSignals& instance();

Q_SIGNALS:
    void changed(bool composited);

private:
    CompositingSignals();
};

// Test seam: makes windowsComposited() answer `composited` (nullopt: the display's answer again) and tells
// the followers as a real change would.
void setWindowsCompositedForTest(std::optional<bool> composited);
