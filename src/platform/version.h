#pragma once

#include <QString>

namespace ktr::platform {

// The program's version as compiled in from the build (for example "1.0.0").
QString compiledVersion();

} // namespace ktr::platform
