#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

namespace ktr::platform {

// Takes pictures of the primary display with the mouse cursor drawn in. One capture object belongs to
// one thread (the recorder's): it holds its own connection to the display server, so it never touches
// the GUI thread's.
class ScreenCapture
{
public:
    virtual ~ScreenCapture() = default;

    // The size of the primary display now (it follows mode changes); empty when it can't be read.
    virtual QSize screenSize() = 0;

    // A picture of the primary display in Format_RGB32 with the cursor drawn at its hot spot, or a null
    // image on failure. The picture may share memory with the capture: it stays valid until the next grab
    // or until the capture is destroyed; copy it to keep it longer.
    virtual QImage grab() = 0;

    struct Options
    {
        bool sharedMemory = true; // MIT-SHM when the server offers it; off forces the plain image request
        bool drawCursor = true;
    };

    // Whether the screen can be captured in this session (an X11 display, not a Wayland session); false
    // with a Chinese message for the user (shown through Lang::tr).
    static bool available(QString* message = nullptr);

    // A capture on its own X11 connection, or null when no display can be opened. Create it on the thread
    // that will use it.
    static std::unique_ptr<ScreenCapture> createX11(const Options& options);
    static std::unique_ptr<ScreenCapture> createX11() { return createX11(Options()); }
};

} // namespace ktr::platform
