#include "platform/crashhandler.h"

#include "platform/version.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

namespace ktr::platform {
namespace {

// Everything the handler reads is prepared here before any crash: fixed buffers, no heap.
constexpr int kDirCap = PATH_MAX;
constexpr int kDumpNameLen = 26; // "/crash-yyyyMMdd-hhmmss.dmp"
constexpr int kMaxDirLen = kDirCap - 1 - kDumpNameLen;
constexpr int kKeepDumps = 5;
constexpr int kMaxListed = 64;
constexpr int kNameCap = 256;

char g_crashDir[kDirCap] = {};
char g_version[32] = {};
long g_utcOffsetSecs = 0;
std::atomic<bool> g_handling{false};
char g_dumpNames[kMaxListed][kNameCap];
alignas(16) char g_altStack[128 * 1024];
// Set while the backtrace is taken: a fault inside the unwinder (a wrecked stack) jumps back here.
sigjmp_buf g_backtraceJump;
std::atomic<long> g_backtraceThread{0};

const int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// A tiny fixed-size text builder for the handler.
struct Buf
{
    char* data;
    int cap;
    int len = 0;

    void str(const char* s)
    {
        while (*s && len < cap - 1)
            data[len++] = *s++;
        data[len] = 0;
    }
    void dec(unsigned long long v, int width = 0)
    {
        char tmp[24];
        int n = 0;
        do {
            tmp[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v && n < 24);
        while (n < width && n < 24)
            tmp[n++] = '0';
        while (n > 0 && len < cap - 1)
            data[len++] = tmp[--n];
        data[len] = 0;
    }
    void hex(unsigned long long v, int width)
    {
        static const char digits[] = "0123456789ABCDEF";
        char tmp[20];
        int n = 0;
        do {
            tmp[n++] = digits[v & 0xF];
            v >>= 4;
        } while (v && n < 20);
        while (n < width && n < 20)
            tmp[n++] = '0';
        while (n > 0 && len < cap - 1)
            data[len++] = tmp[--n];
        data[len] = 0;
    }
};

struct CivilTime
{
    int year, month, day, hour, minute, second;
};

// Local time from the realtime clock and the offset noted at start-up (localtime_r takes locks and may
// read files, so it can't run here).
CivilTime crashTime()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    long long t = static_cast<long long>(ts.tv_sec) + g_utcOffsetSecs;
    long long days = t / 86400;
    long long rem = t % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    // Days since 1970-01-01 to a civil date (proleptic Gregorian).
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
    return {y, m, d, static_cast<int>(rem / 3600), static_cast<int>(rem % 3600 / 60), static_cast<int>(rem % 60)};
}

const char* signalName(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "?";
    }
}

unsigned long long instructionAddress(const siginfo_t* info, const void* uctx)
{
    const auto* uc = static_cast<const ucontext_t*>(uctx);
#if defined(__x86_64__)
    if (uc)
        return static_cast<unsigned long long>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    if (uc)
        return static_cast<unsigned long long>(uc->uc_mcontext.pc);
#else
    (void)uc;
#endif
    return reinterpret_cast<unsigned long long>(info ? info->si_addr : nullptr);
}

// 0 = read, 1 = write, -1 = unknown (not an access fault, or the machine doesn't say).
int accessKind(int sig, const void* uctx)
{
    if (sig != SIGSEGV || !uctx)
        return -1;
#if defined(__x86_64__)
    const auto* uc = static_cast<const ucontext_t*>(uctx);
    return (uc->uc_mcontext.gregs[REG_ERR] & 0x2) ? 1 : 0;
#else
    return -1;
#endif
}

unsigned long long threadId()
{
    return static_cast<unsigned long long>(::syscall(SYS_gettid));
}

void writeAll(int fd, const char* data, int len)
{
    while (len > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(len));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        len -= static_cast<int>(n);
    }
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int compareNoCase(const char* a, const char* b)
{
    while (*a && lowerAscii(*a) == lowerAscii(*b)) {
        ++a;
        ++b;
    }
    return static_cast<unsigned char>(lowerAscii(*a)) - static_cast<unsigned char>(lowerAscii(*b));
}

bool isDumpName(const char* name)
{
    const int len = static_cast<int>(std::strlen(name));
    return len > 10 && len < kNameCap && std::strncmp(name, "crash-", 6) == 0 &&
           std::strcmp(name + len - 4, ".dmp") == 0;
}

// Keeps the five newest dumps: their fixed-width time stamps sort by time.
void pruneDumps()
{
    const int dirFd = ::open(g_crashDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    int count = 0;
    alignas(8) char buf[4096];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, dirFd, buf, sizeof buf);
        if (n <= 0)
            break;
        for (long off = 0; off < n;) {
            // struct linux_dirent64: u64 ino, s64 off, u16 reclen, u8 type, char name[]
            unsigned short reclen;
            std::memcpy(&reclen, buf + off + 16, sizeof reclen);
            const char* name = buf + off + 19;
            if (count < kMaxListed && isDumpName(name)) {
                std::strncpy(g_dumpNames[count], name, kNameCap - 1);
                g_dumpNames[count][kNameCap - 1] = 0;
                ++count;
            }
            off += reclen;
        }
    }
    for (int i = 1; i < count; ++i) {
        for (int j = i; j > 0 && compareNoCase(g_dumpNames[j - 1], g_dumpNames[j]) > 0; --j) {
            char tmp[kNameCap];
            std::memcpy(tmp, g_dumpNames[j], kNameCap);
            std::memcpy(g_dumpNames[j], g_dumpNames[j - 1], kNameCap);
            std::memcpy(g_dumpNames[j - 1], tmp, kNameCap);
        }
    }
    for (int i = 0; i < count - kKeepDumps; ++i)
        ::unlinkat(dirFd, g_dumpNames[i], 0);
    ::close(dirFd);
}

void appendStamp(Buf& b, const CivilTime& t, bool compact)
{
    b.dec(static_cast<unsigned long long>(t.year), 4);
    if (!compact)
        b.str("-");
    b.dec(static_cast<unsigned long long>(t.month), 2);
    if (!compact)
        b.str("-");
    b.dec(static_cast<unsigned long long>(t.day), 2);
    b.str(compact ? "-" : " ");
    b.dec(static_cast<unsigned long long>(t.hour), 2);
    if (!compact)
        b.str(":");
    b.dec(static_cast<unsigned long long>(t.minute), 2);
    if (!compact)
        b.str(":");
    b.dec(static_cast<unsigned long long>(t.second), 2);
}

void writeCrashDump(int sig, siginfo_t* info, void* uctx, const CivilTime& t)
{
    if (!g_crashDir[0])
        return;
    char path[kDirCap + kNameCap];
    Buf p{path, static_cast<int>(sizeof path)};
    p.str(g_crashDir);
    p.str("/crash-");
    appendStamp(p, t, true);
    p.str(".dmp");
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    char text[2048];
    Buf b{text, static_cast<int>(sizeof text)};
    b.str("KestrunePanel crash report\nversion: ");
    b.str(g_version);
    b.str("\ntime: ");
    appendStamp(b, t, false);
    b.str("\nsignal: ");
    b.dec(static_cast<unsigned long long>(sig));
    b.str(" ");
    b.str(signalName(sig));
    b.str(" si_code=");
    if (info && info->si_code < 0) {
        b.str("-");
        b.dec(static_cast<unsigned long long>(-info->si_code));
    } else {
        b.dec(static_cast<unsigned long long>(info ? info->si_code : 0));
    }
    b.str("\naddress: 0x");
    b.hex(instructionAddress(info, uctx), 16);
    b.str("\nfault address: 0x");
    b.hex(reinterpret_cast<unsigned long long>(info ? info->si_addr : nullptr), 16);
    const int access = accessKind(sig, uctx);
    if (access >= 0) {
        b.str("\naccess: ");
        b.str(access ? "write" : "read");
    }
    b.str("\nprocess: ");
    b.dec(static_cast<unsigned long long>(::getpid()));
    b.str("\nthread: ");
    b.dec(threadId());
    b.str("\nbacktrace:\n");
    writeAll(fd, text, b.len);
    // The unwinder reads the crashed stack; when that is wrecked it faults too. That fault jumps back here
    // and ends only the backtrace.
    if (sigsetjmp(g_backtraceJump, 1) == 0) {
        g_backtraceThread.store(static_cast<long>(threadId()));
        void* frames[64];
        const int n = ::backtrace(frames, 64);
        ::backtrace_symbols_fd(frames, n, fd);
    } else {
        static const char cut[] = "(backtrace cut off: the stack could not be walked)\n";
        writeAll(fd, cut, static_cast<int>(sizeof cut - 1));
    }
    g_backtraceThread.store(0);
    ::close(fd);
    pruneDumps();
}

void appendCrashLog(int sig, siginfo_t* info, void* uctx, const CivilTime& t)
{
    if (!g_crashDir[0])
        return;
    char path[kDirCap + 16];
    Buf p{path, static_cast<int>(sizeof path)};
    p.str(g_crashDir);
    p.str("/crash.log");
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    char line[256];
    Buf b{line, static_cast<int>(sizeof line)};
    b.str("[");
    appendStamp(b, t, false);
    b.str("] code=0x");
    b.hex(static_cast<unsigned long long>(sig), 8);
    b.str(" addr=0x");
    b.hex(instructionAddress(info, uctx), 16);
    b.str(" thread=");
    b.dec(threadId());
    const int access = accessKind(sig, uctx);
    if (access >= 0) {
        b.str(" access=");
        b.str(access ? "write" : "read");
        b.str(" target=0x");
        b.hex(reinterpret_cast<unsigned long long>(info ? info->si_addr : nullptr), 16);
    }
    b.str("\n");
    writeAll(fd, line, b.len);
    ::close(fd);
}

void crashFilter(int sig, siginfo_t* info, void* uctx)
{
    const int savedErrno = errno;
    if (g_backtraceThread.load() != 0 && g_backtraceThread.load() == static_cast<long>(threadId()))
        siglongjmp(g_backtraceJump, 1); // a fault while walking the stack: give up the backtrace only
    if (!g_handling.exchange(true)) {
        const CivilTime t = crashTime();
        // The one line first: it is small and can't fault, while the dump walks a stack that may be broken.
        appendCrashLog(sig, info, uctx, t);
        writeCrashDump(sig, info, uctx, t);
    } else {
        // Another thread is recording its crash and will end the process; give it time.
        for (int i = 0; i < 50; ++i) {
            timespec ts{0, 100 * 1000 * 1000};
            ::nanosleep(&ts, nullptr);
        }
    }
    // Let the system's own handling follow: the default action, raised again (it is delivered when this
    // handler returns; a faulting instruction would also fault again).
    struct sigaction dfl
    {
    };
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
    errno = savedErrno;
}

bool prepareFolder(const QByteArray& dir, bool mustBePrivate)
{
    ::mkdir(dir.constData(), 0700);
    struct stat st
    {
    };
    if (::lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    // A fallback in a shared folder such as /tmp must be our own folder, not one someone else planted.
    if (mustBePrivate && st.st_uid != ::getuid())
        return false;
    return true;
}

void setCrashDir(const QByteArray& dir)
{
    std::memset(g_crashDir, 0, sizeof g_crashDir);
    if (dir.size() < kDirCap)
        std::memcpy(g_crashDir, dir.constData(), static_cast<size_t>(dir.size()));
}

} // namespace

QString crashFallbackDir()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.startsWith(QLatin1Char('/')) && runtime.toUtf8().size() < 1024)
        return runtime + QStringLiteral("/KestrunePanel");
    return QStringLiteral("/tmp/KestrunePanel-%1").arg(::getuid());
}

int crashDirMaxLength()
{
    return kMaxDirLen;
}

void ensureCrashDir(const QString& dataDir)
{
    const QByteArray version = compiledVersion().toUtf8().left(static_cast<int>(sizeof g_version) - 1);
    std::memset(g_version, 0, sizeof g_version);
    std::memcpy(g_version, version.constData(), static_cast<size_t>(version.size()));
    g_utcOffsetSecs = QDateTime::currentDateTime().offsetFromUtc();

    QByteArray dir = QFile::encodeName(dataDir);
    while (dir.size() > 1 && dir.endsWith('/'))
        dir.chop(1);
    if (!dir.isEmpty() && dir.size() <= kMaxDirLen) {
        prepareFolder(dir, false);
        setCrashDir(dir);
        return;
    }
    const QByteArray fallback = QFile::encodeName(crashFallbackDir());
    setCrashDir(prepareFolder(fallback, true) ? fallback : QByteArray());
}

void installCrashHandler()
{
    // backtrace() loads its unwinder on first use, which allocates: do that now, not in the handler.
    void* frames[4];
    ::backtrace(frames, 4);

    stack_t ss{};
    ss.ss_sp = g_altStack;
    ss.ss_size = sizeof g_altStack;
    ss.ss_flags = 0;
    ::sigaltstack(&ss, nullptr);

    struct sigaction sa
    {
    };
    sa.sa_sigaction = crashFilter;
    sigemptyset(&sa.sa_mask);
    // SA_NODEFER: a second fault while the backtrace is taken must reach the handler (a blocked fault signal
    // would kill the process on the spot) so that only the backtrace is given up.
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    for (int sig : kSignals)
        ::sigaction(sig, &sa, nullptr);
}

QString crashDir()
{
    return QFile::decodeName(g_crashDir);
}

} // namespace ktr::platform
