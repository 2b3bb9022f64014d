#include "ui/servicehost.h"

#include "ui/dialogseams.h"
#include "ui/lang.h"

#include <QDebug>
#include <QHostAddress>

#include <optional>

namespace ktr {
namespace {

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

std::optional<QUrl>& testDefault()
{
    static std::optional<QUrl> url;
    return url;
}

// The built-in address as the build wrote it; the configure step already refused anything but an https or a
// loopback http address.
QUrl builtInServiceHost()
{
    const QString value = QString::fromUtf8(KTR_BUILTIN_SERVICE_HOST).trimmed();
    if (value.isEmpty())
        return QUrl();
    const QUrl url(value, QUrl::StrictMode);
    if (!acceptableServiceHost(url))
        return QUrl();
    return url;
}

QUrl withoutQuery(QUrl url)
{
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

} // namespace

QUrl defaultServiceHost()
{
    if (testDefault())
        return *testDefault();
    static const QUrl url = builtInServiceHost();
    return url;
}

void setDefaultServiceHostForTesting(const QUrl& url)
{
    testDefault() = url;
}

void resetDefaultServiceHostForTesting()
{
    testDefault().reset();
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
        return withoutQuery(defaultServiceHost());
    const QUrl url(value, QUrl::StrictMode);
    if (!acceptableServiceHost(url)) {
        qWarning().noquote() << "[servicehost] KTR_SERVICE_HOST refused (https required except for loopback):" << value;
        return withoutQuery(defaultServiceHost());
    }
    return withoutQuery(url);
}

bool serviceConfigured()
{
    return !serviceHost().isEmpty();
}

const char* noServiceSource()
{
    return "未配置在线服务：启动前设置环境变量 KTR_SERVICE_HOST 为服务地址后可用";
}

QString noServiceText()
{
    return Lang::tr(noServiceSource());
}

QUrl serviceUrl(const QString& path, const QString& query)
{
    QUrl url = serviceHost();
    if (url.isEmpty())
        return QUrl();
    QString base = url.path();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    url.setPath(base + path);
    url.setQuery(query.isEmpty() ? QString() : query);
    return url;
}

bool openServicePage(QWidget* parent, const QString& path, const QString& query)
{
    if (!serviceConfigured()) {
        dialogs::information(parent, Lang::tr("提示"), noServiceText());
        return false;
    }
    return dialogs::openUrl(serviceUrl(path, query));
}

} // namespace ktr
