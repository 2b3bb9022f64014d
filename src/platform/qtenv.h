#pragma once

namespace ktr::platform {

// Cleans the Qt environment before the application object exists. "QT_QPA_PLATFORM" is kept only when it
// names a platform the panel works on ("xcb", "offscreen" or "minimal", compared trimmed and without
// regard to case, also with ":options"); any other value is removed. When nothing is left and the
// session is Wayland with an X server at hand, "xcb" is chosen, so the panel runs through XWayland where
// the hotkey, docking and window positions work. "QT_QPA_PLATFORM_PLUGIN_PATH" and "QT_PLUGIN_PATH" are
// removed, so a foreign Qt installation can't inject its plugins.
void cleanQtEnvironment();

} // namespace ktr::platform
