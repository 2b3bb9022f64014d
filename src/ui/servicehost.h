#pragma once

#include <QString>
#include <QUrl>

class QNetworkRequest;
class QWidget;

namespace ktr {

// The address the program was built with (the CMake cache variable KTR_SERVICE_HOST); empty when the build
// names none, which is the default: a build talks to no service nobody chose.
QUrl defaultServiceHost();

// The service host every online request goes to: the one in the environment variable KTR_SERVICE_HOST (tests,
// self-hosting, local trials), else the built-in one. An override that is not acceptable (see
// acceptableServiceHost) is refused with a warning and the built-in address is used. Empty when neither names
// a host. Read on every call, so a test can point the program at its own host.
QUrl serviceHost();

// True when there is a service host to talk to. Every online feature asks this before it sends anything:
// without a host the program sends no request at all, and the user's entry points say so with
// noServiceText().
bool serviceConfigured();

// The one line that tells the user no service is configured and how to configure one: as written (for a
// text held and translated when shown) and translated.
const char* noServiceSource();
QString noServiceText();

// True for an https URL with a host, and for an http URL whose host is a loopback address
// (127.0.0.0/8, ::1, "localhost"): plain http never leaves the machine.
bool acceptableServiceHost(const QUrl& url);

// The address of one endpoint: the service host with the path (starting with "/") and the query
// (without "?", may be empty) set. A path below the host's own path prefix is kept
// ("https://h/base" + "/api/x.php" = "https://h/base/api/x.php"). Empty when no service is configured.
QUrl serviceUrl(const QString& path, const QString& query = QString());

// Opens a page of the service host in the browser (through the dialog seams). Without a service there is no
// page to open: the user is told so with noServiceText() in a notice over parent. True when a page was opened.
bool openServicePage(QWidget* parent, const QString& path, const QString& query = QString());

// For tests: stands in for the built-in address (an empty URL = a build without one), so a test means the
// same whatever address the build carries; the reset returns to the built-in one.
void setDefaultServiceHostForTesting(const QUrl& url);
void resetDefaultServiceHostForTesting();

} // namespace ktr
