// Built twice: into the test support library (the recording is read in process through connectAttempts) and,
// with KTR_CONNECTLOG_PRELOAD, as a library a started program is given through LD_PRELOAD, which appends each
// attempt as a line to the file named by KTR_CONNECT_LOG.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#ifndef KTR_CONNECTLOG_PRELOAD
#include "connectlog.h"
#endif

namespace {

std::mutex& logMutex()
{
    static std::mutex m;
    return m;
}

std::vector<std::string>& entries()
{
    static std::vector<std::string> list;
    return list;
}

void record(const std::string& line)
{
    const std::lock_guard<std::mutex> lock(logMutex());
    entries().push_back(line);
#ifdef KTR_CONNECTLOG_PRELOAD
    if (const char* path = std::getenv("KTR_CONNECT_LOG")) {
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            const std::string text = line + "\n";
            [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
            ::close(fd);
        }
    }
#endif
}

std::string describe(const sockaddr* addr)
{
    char host[INET6_ADDRSTRLEN] = {};
    unsigned port = 0;
    if (addr->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(addr);
        ::inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        port = ntohs(in->sin_port);
    } else {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(addr);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
        port = ntohs(in6->sin6_port);
    }
    return std::string(host) + ":" + std::to_string(port);
}

} // namespace

extern "C" int connect(int fd, const sockaddr* addr, socklen_t len)
{
    using Real = int (*)(int, const sockaddr*, socklen_t);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "connect"));
    if (addr && (addr->sa_family == AF_INET || addr->sa_family == AF_INET6))
        record("connect " + describe(addr));
    return real(fd, addr, len);
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** res)
{
    using Real = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    record(std::string("lookup ") + (node ? node : "(null)"));
    return real(node, service, hints, res);
}

#ifndef KTR_CONNECTLOG_PRELOAD
namespace ktr::test {

QStringList connectAttempts()
{
    const std::lock_guard<std::mutex> lock(logMutex());
    QStringList out;
    for (const std::string& line : entries())
        out.append(QString::fromStdString(line));
    return out;
}

void clearConnectAttempts()
{
    const std::lock_guard<std::mutex> lock(logMutex());
    entries().clear();
}

} // namespace ktr::test
#endif
