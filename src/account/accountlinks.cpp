#include "account/accountlinks.h"

#include "ui/servicehost.h"

namespace ktr::account {

QUrl devicesPageUrl()
{
    QUrl url = ktr::serviceUrl(QStringLiteral("/"));
    url.setFragment(QStringLiteral("devices"));
    return url;
}

QUrl securityPageUrl()
{
    QUrl url = ktr::serviceUrl(QStringLiteral("/uc.html"));
    url.setFragment(QStringLiteral("security"));
    return url;
}

QUrl termsPageUrl(bool privacy)
{
    return ktr::serviceUrl(QStringLiteral("/protocol.php"),
                           privacy ? QStringLiteral("type=privacy") : QStringLiteral("type=user"));
}

} // namespace ktr::account
