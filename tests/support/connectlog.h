#pragma once

#include <QStringList>

namespace ktr::test {

// Every attempt of this process to reach another host, from any thread and any library: the test program
// defines connect() and getaddrinfo() itself, in front of the C library's, records the call and passes it on.
// An Internet socket's connect is recorded as "connect <address>:<port>", a name lookup as "lookup <name>";
// local (Unix) sockets are not recorded. Linking connectAttempts() into a test brings the recording in.
QStringList connectAttempts();
void clearConnectAttempts();

} // namespace ktr::test
