#pragma once

namespace ktr::platform {

// Connects to the session bus on a pool thread, once. Qt's accessibility bridge connects on the GUI thread the
// first time a window is shown and waits for it (with no bus address set, for dbus-launch to find or start a
// bus); begun early, that wait runs beside the window's construction and the show finds the connection made.
void connectSessionBusAhead();

} // namespace ktr::platform
