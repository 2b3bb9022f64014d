#include "ui/servicehost.h"

#include <QDebug>
#include <QHostAddress>

namespace ktr {
namespace {

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

QUrl defaultServiceHost()
{
    return QUrl(QStringLiteral("https://www.kestrune.com"));
}

bool acceptableServiceHost(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    return scheme == QLatin1String("http") && isLoopbackHost(url.host());
}

QUrl serviceHost()
{
    const QString value = qEnvironmentVariable("KTR_SERVICE_HOST").trimmed();
    if (value.isEmpty())
        return defaultServiceHost();
    const QUrl url(value, QUrl::StrictMode);
    if (!acceptableServiceHost(url)) {
        qWarning().noquote() << "[servicehost] KTR_SERVICE_HOST refused (https required except for loopback):"
                             << value;
        return defaultServiceHost();
    }
    QUrl clean = url;
    clean.setQuery(QString());
    clean.setFragment(QString());
    return clean;
}

QUrl serviceUrl(const QString& path, const QString& query)
{
    QUrl url = serviceHost();
    QString base = url.path();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    url.setPath(base + path);
    url.setQuery(query.isEmpty() ? QString() : query);
    return url;
}

} // namespace ktr
