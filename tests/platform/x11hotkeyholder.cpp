// A second X client for the hotkey test: grabs the combination given as its argument on its own
// connection, prints how that went, then stays until it is ended.
#include "platform/globalhotkey.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString text = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("Ctrl+Alt+G");
    ktr::platform::GlobalHotkey hotkey;
    const auto spec = ktr::platform::parseHotkeyText(text);
    const char* what = "invalid";
    if (spec) {
        switch (hotkey.registerHotkey(*spec)) {
        case ktr::platform::GlobalHotkey::Result::Registered:
            what = "registered";
            break;
        case ktr::platform::GlobalHotkey::Result::Taken:
            what = "taken";
            break;
        case ktr::platform::GlobalHotkey::Result::NoDisplay:
            what = "nodisplay";
            break;
        case ktr::platform::GlobalHotkey::Result::Failed:
            what = "failed";
            break;
        }
    }
    std::printf("%s\n", what);
    std::fflush(stdout);
    return app.exec();
}
