#pragma once

// What the GUI-thread benchmarks share: a probe for the longest time the GUI thread went without turning its
// event loop, and busy loops that keep every other core of the machine busy while it is measured.
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// The CPU time the calling thread has used, in milliseconds. Beside a block's wall time it tells the thread's
// own work from the time the scheduler gave its core to another process.
inline double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The time the calling thread has spent runnable but waiting for a core, in milliseconds (the second figure of
// its schedstat; 0 where the kernel keeps none). A block that is neither on the CPU nor waiting for a core was
// asleep: on a lock, a page, the disk.
inline double threadWaitMs()
{
    static thread_local const int fd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    char buf[96];
    const ssize_t n = fd < 0 ? -1 : pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0)
        return 0;
    buf[n] = 0;
    unsigned long long run = 0, wait = 0;
    return std::sscanf(buf, "%llu %llu", &run, &wait) == 2 ? wait / 1e6 : 0;
}

// A 1 ms timer on the GUI thread: the gap between two of its runs, less the interval, is how long the loop
// was held (to about a millisecond). A zero timer would spin the thread and count the spinning as work.
class GuiBlockProbe
{
public:
    GuiBlockProbe()
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(1);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            const double block = m_since.nsecsElapsed() / 1e6 - 1.0;
            const double cpu = threadCpuMs();
            const double wait = threadWaitMs();
            if (block > m_longest) {
                m_longest = block;
                m_cpuOfLongest = cpu - m_cpuSince;
                m_waitOfLongest = wait - m_waitSince;
            }
            m_longestCpu = std::max(m_longestCpu, cpu - m_cpuSince);
            m_cpuSince = cpu;
            m_waitSince = wait;
            m_since.restart();
        });
    }
    void start()
    {
        m_since.start();
        m_cpuSince = threadCpuMs();
        m_waitSince = threadWaitMs();
        m_tick.start();
    }
    void stop() { m_tick.stop(); }
    // The longest block since the last reset, in milliseconds.
    double longest() const { return m_longest; }
    // The most CPU the GUI thread itself used between two turns of its loop, in milliseconds: the block less
    // the time a busy machine kept the thread off its core.
    double longestOnCpu() const { return m_longestCpu; }
    // Of the longest block: the GUI thread's own CPU time, and its time runnable but waiting for a core.
    double cpuOfLongest() const { return m_cpuOfLongest; }
    double waitOfLongest() const { return m_waitOfLongest; }
    void reset() { m_longest = m_longestCpu = m_cpuOfLongest = m_waitOfLongest = 0; }

private:
    QTimer m_tick;
    QElapsedTimer m_since;
    double m_longest = 0;
    double m_cpuSince = 0;
    double m_longestCpu = 0;
    double m_waitSince = 0;
    double m_cpuOfLongest = 0;
    double m_waitOfLongest = 0;
};

// With "--busy" on the command line, one busy-loop process per core this process may run on but one, ended with
// the bench (and ending by themselves within a fraction of a second should the bench die first). The cores are
// those of the process's affinity, not all the machine's: under `taskset` the busy loops fill the cores of that
// set and leave one free, as on a whole machine, instead of crowding more loops than cores into it.
//
// The loops are shells started with posix_spawn, not forks of the bench: a fork shares the bench's memory
// copy-on-write, and every page the GUI thread first wrote after it cost a fault and a copy, work another
// process on the machine never puts on the program.
class BusyCores
{
public:
    explicit BusyCores(const QStringList& args)
    {
        if (!args.contains(QStringLiteral("--busy")))
            return;
        cpu_set_t set;
        CPU_ZERO(&set);
        const long cores =
            sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : sysconf(_SC_NPROCESSORS_ONLN);
        const std::string parent = std::to_string(getpid());
        // Counts in the shell, looking every few thousand rounds whether the bench (its $0) still lives.
        const char* loop = "while kill -0 \"$0\" 2>/dev/null; do i=0; while [ $i -lt 5000 ]; do i=$((i+1)); done; done";
        for (long i = 0; i + 1 < cores; ++i) {
            char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(loop),
                                  const_cast<char*>(parent.c_str()), nullptr};
            pid_t pid = 0;
            if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) == 0)
                m_children.push_back(pid);
        }
    }
    ~BusyCores()
    {
        for (const pid_t pid : m_children)
            kill(pid, SIGKILL);
        for (const pid_t pid : m_children)
            waitpid(pid, nullptr, 0);
    }
    BusyCores(const BusyCores&) = delete;
    BusyCores& operator=(const BusyCores&) = delete;
    int count() const { return int(m_children.size()); }

private:
    std::vector<pid_t> m_children;
};
