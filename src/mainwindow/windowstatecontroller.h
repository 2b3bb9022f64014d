#pragma once

#include <QObject>
#include <QPoint>

#include <functional>

class EdgeDock;
class FirstPaintSteps;
class FrameDrag;
class QScreen;
class QString;
class QWidget;
class SummonHotkey;
struct AppSettings;
enum class FrameHit;

// The panel window's state apart from the tray: whether it has painted yet (the steps waiting for that),
// brought back from anywhere (restore, the summon hotkey), pinned above other windows, started with the
// session, docked at a screen edge, moved and resized by its frameless borders. Owns the first-paint steps,
// the edge dock, the frame drag and the summon hotkey and wires them to the window.
class WindowStateController : public QObject
{
    Q_OBJECT
public:
    struct Host
    {
        QWidget* window = nullptr;
        const AppSettings* settings = nullptr;          // edgeSnap, snapRevealPx, revealMethod, summonHotkey
        std::function<bool()> landscape;                // the window's orientation, for the borders that resize it
        std::function<void(const QString&, int)> toast; // text already translated; kind 0 information, 1 error
    };
    explicit WindowStateController(Host host, QObject* parent = nullptr);

    // Makes the dock, the frame drag and the hotkey; until then the calls below that need them do nothing.
    void setup();
    // Made with this object: the window's paint event reports to it from the start.
    FirstPaintSteps* firstPaint() const { return m_firstPaint; }
    EdgeDock* edgeDock() const { return m_dock; }
    FrameDrag* frameDrag() const { return m_frameDrag; }
    SummonHotkey* summonHotkey() const { return m_summonHotkey; }

    // Shows the window unminimised, out of any edge and centred on the primary screen, above the others
    // for a moment.
    void restoreWindow();
    bool isPinned() const { return m_pinned; }
    void setPinned(bool on);
    // Writes or removes the autostart entry; 0 on success, else the error code of the failed file step.
    int setAutoStart(bool on);

    // The summon hotkey (summonHotkey setting): announce tells the user whether registering worked.
    void registerSummonHotkey(bool announce);
    void unregisterSummonHotkey();
    // The hotkey's press: a docked window comes out of its edge, another one is brought forward.
    void summonWindow();

    // Docking follows edgeSnap and the reveal settings; off, the window leaves its edge.
    void applyDockSettings();
    // A docked window that was summoned out goes back into its edge (the minimise and close buttons then).
    bool dockRevealedAndSummoned() const;
    void snapToDockEdge();
    // The screens changed: the window is brought back within them.
    void fitToScreen();

    // What a press at a window point does on the frameless window (move, resize or content).
    FrameHit frameHitAt(const QPoint& local) const;
    // A left press at globalPos: true when it went to the window manager as a move or resize.
    bool startFrameDrag(const QPoint& globalPos, bool overChild);

Q_SIGNALS:
    void pinnedChanged(bool on);
    // fitToScreen moved the window: what is painted for the old place is stale.
    void screenFitted();

private:
    void watchScreen(QScreen* screen);
    void refreshDockScreens();

    Host m_host;
    FirstPaintSteps* m_firstPaint;
    EdgeDock* m_dock = nullptr;
    FrameDrag* m_frameDrag = nullptr;
    SummonHotkey* m_summonHotkey = nullptr;
    bool m_pinned = false;
};
