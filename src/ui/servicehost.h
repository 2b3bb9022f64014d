#pragma once

#include <QString>
#include <QUrl>

class QNetworkRequest;

namespace ktr {

// The compiled-in address of the service host.
QUrl defaultServiceHost();

// The service host every online request goes to: the compiled-in https address, or the one in the
// environment variable KTR_SERVICE_HOST (tests, self-hosting, local trials). An override that is not
// acceptable (see acceptableServiceHost) is refused with a warning, and the compiled-in address is used.
// Read on every call, so a test can point the program at its own host.
QUrl serviceHost();

// True for an https URL with a host, and for an http URL whose host is a loopback address
// (127.0.0.0/8, ::1, "localhost"): plain http never leaves the machine.
bool acceptableServiceHost(const QUrl& url);

// The address of one endpoint: the service host with the path (starting with "/") and the query
// (without "?", may be empty) set. A path below the host's own path prefix is kept
// ("https://h/base" + "/api/x.php" = "https://h/base/api/x.php").
QUrl serviceUrl(const QString& path, const QString& query = QString());

} // namespace ktr
