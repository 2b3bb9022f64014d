#pragma once

#include <QString>
#include <QStringList>

namespace ktr::platform {

// The program's helper files: the video module (kVideoModuleFileName, videobackend.h) and the encoder's
// program (kVideoEncoderFileName). They are looked for relative to the running executable only: beside it
// (the build tree, a copy unpacked in one folder) and at their place in the installed layout
// (<prefix>/lib/kestrune/ and <prefix>/libexec/kestrune/ for <prefix>/bin/kestrune-panel). A copy moved
// without them finds none, rather than running whatever lies at some fixed path.
enum class HelperFile { VideoModule, VideoEncoder };

// The places, in the order they are tried, for a program that lies in programDir.
QStringList helperFileCandidates(HelperFile which, const QString& programDir);
// The same for the running program.
QStringList helperFileCandidates(HelperFile which);

// The folder of the running executable (also before an application object exists).
QString runningProgramDir();

// Tests run from their own folders: this takes the given folder as the program's (empty: the real one).
void setProgramDirForTests(const QString& dir);

} // namespace ktr::platform
