// A service host on this machine for trying the panel's online side by hand:
//   ktr-servicehost --state DIR [--port N] [--https]
// then start the panel with KTR_SERVICE_HOST set to the address it prints.

#include "fakeservicehost.h"
#include "noticeroutes.h"
#include "servicehoststate.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ktr-servicehost"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Service host for trying KestrunePanel's online features"));
    parser.addHelpOption();
    const QCommandLineOption state(QStringLiteral("state"), QStringLiteral("State folder (created when missing)."),
                                   QStringLiteral("dir"), QStringLiteral("servicehost-state"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (0 = any free one)."),
                                  QStringLiteral("port"), QStringLiteral("8765"));
    const QCommandLineOption https(QStringLiteral("https"),
                                   QStringLiteral("Serve https with the test certificate for 127.0.0.1 (the "
                                                  "client must trust tests/support/certs/ca.pem)."));
    parser.addOption(state);
    parser.addOption(port);
    parser.addOption(https);
    parser.process(app);

    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    if (!portOk || portNumber > 65535) {
        std::fprintf(stderr, "ktr-servicehost: bad port: %s\n", qPrintable(parser.value(port)));
        return 2;
    }
    const QString folder = QDir(parser.value(state)).absolutePath();
    ktr::test::FakeServiceHost host(parser.isSet(https) ? ktr::test::FakeServiceHost::Scheme::Https
                                                        : ktr::test::FakeServiceHost::Scheme::Http);
    ktr::test::ServiceHostState model(folder);
    model.install(host);
    ktr::test::installNoticeRoutes(host, folder);
    if (!host.listen(QHostAddress::LocalHost, quint16(portNumber))) {
        std::fprintf(stderr, "ktr-servicehost: cannot listen on 127.0.0.1:%u\n", portNumber);
        return 1;
    }
    QObject::connect(&host, &ktr::test::FakeServiceHost::requestLogged, &host,
                     [](const ktr::test::FakeServiceHost::Request& r) {
                         // The Range header shows where a resumed download starts.
                         const QByteArray range = r.header("range");
                         QTextStream(stdout)
                             << r.method << ' ' << r.path
                             << (r.action.isEmpty() ? QString() : QStringLiteral("?action=") + r.action)
                             << (range.isEmpty() ? QString() : QStringLiteral(" Range: ") + QString::fromLatin1(range))
                             << Qt::endl;
                     });
    QTextStream(stdout) << "serving " << folder << " at " << host.baseUrl().toString() << Qt::endl
                        << "start the panel with: KTR_SERVICE_HOST=" << host.baseUrl().toString() << Qt::endl;
    return app.exec();
}
