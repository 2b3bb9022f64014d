#pragma once

#include <QStringList>

namespace ktr::test {

// Why a test that needs an X server can't run here, or null when the process runs on one.
const char* missingX11();

// Like missingX11(), and also needs xdotool to fake keys and buttons.
const char* missingX11Input();

// Runs xdotool with args: keys and buttons go through XTest, so the server delivers them exactly as it
// would from a keyboard or mouse. True when it ran and succeeded.
bool xdotool(const QStringList& args);

} // namespace ktr::test
