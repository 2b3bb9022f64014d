#pragma once

#include <QString>

#include <functional>

namespace ktr::platform {

// How a request to show a file ended.
enum class ShowItemResult {
    FileManager,  // the desktop's file manager accepted it and shows the file selected
    ParentFolder, // no file manager answered: the folder holding the file was opened instead
    Failed,       // neither worked
};

// Shows a file in the desktop's file manager, selected (org.freedesktop.FileManager1.ShowItems on the session
// bus); when no file manager answers (no bus, no such service, an error or no reply in time) the folder holding
// the file is opened through the launcher. Returns at once: a file manager that is slow to start never holds
// up the caller. `done`, when given, runs later on the calling thread with how it ended (or at once when there
// is no bus to ask).
void showItemInFileManager(const QString& path, std::function<void(ShowItemResult)> done = {});

// The D-Bus connection the request goes to, by its QDBusConnection name (tests); empty restores the session bus.
void setFileManagerBusForTesting(const QString& connectionName);

// How long the file manager gets to answer before the folder is opened instead.
constexpr int kShowItemsTimeoutMs = 5000;

} // namespace ktr::platform
