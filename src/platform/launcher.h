#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace ktr::platform {

// How the panel starts things: a program directly with its arguments and working folder (never through a
// shell), everything else through the desktop's opener (xdg-open). Tests replace the process-wide instance to
// see what would have been started.
class Launcher
{
public:
    virtual ~Launcher() = default;

    // Starts the program detached; false when it could not be started.
    virtual bool startDetached(const QString& program, const QStringList& arguments, const QString& workDir);
    // Opens a document, folder or URI with the desktop's handler; false when no handler ran.
    virtual bool openUrl(const QUrl& url);
};

// The launcher in use (the system one unless a test installed another).
Launcher& launcher();
// Installs a launcher (not owned); nullptr restores the system one.
void setLauncher(Launcher* replacement);

// True for a regular file with an execute bit that is a program here: an ELF binary or a "#!" script. A
// document that merely carries the bit (common on mounted Windows drives) is not one.
bool isNativeExecutable(const QString& path);

} // namespace ktr::platform
