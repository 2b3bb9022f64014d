#include "account/accountlinks.h"

#include "ui/servicehost.h"

namespace accountlinks {

// Empty without a service: a bare fragment would be no page of anyone's.
QUrl devicesPageUrl()
{
    QUrl url = ktr::serviceUrl(QStringLiteral("/"));
    if (url.isEmpty())
        return url;
    url.setFragment(QStringLiteral("devices"));
    return url;
}

QUrl securityPageUrl()
{
    QUrl url = ktr::serviceUrl(QStringLiteral("/uc.html"));
    if (url.isEmpty())
        return url;
    url.setFragment(QStringLiteral("security"));
    return url;
}

QUrl termsPageUrl(bool privacy)
{
    return ktr::serviceUrl(QStringLiteral("/protocol.php"),
                           privacy ? QStringLiteral("type=privacy") : QStringLiteral("type=user"));
}

} // namespace accountlinks
