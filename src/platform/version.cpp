#include "platform/version.h"

#ifndef KTR_VERSION_STRING
#define KTR_VERSION_STRING ""
#endif

namespace ktr::platform {

QString compiledVersion()
{
    return QStringLiteral(KTR_VERSION_STRING);
}

} // namespace ktr::platform
