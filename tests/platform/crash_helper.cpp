// A program that links the crash handler and then crashes (or ends hard), for the crash-handler tests.
//   crash_helper <data folder> segv-read | segv-write | bad-stack | abort | hardexit <marker file>
#include "platform/crashhandler.h"
#include "platform/process.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdlib>
#include <sys/resource.h>

namespace {

struct WritesOnDestruction
{
    QString path;
    ~WritesOnDestruction()
    {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write("destructor ran");
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 64;
    // No core files from the crashes this program makes on purpose.
    rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);

    const QByteArray mode = argv[2];
    if (mode == "hardexit" && argc > 3) {
        WritesOnDestruction guard{QFile::decodeName(argv[3])};
        ktr::platform::hardExit(7);
    }
    ktr::platform::ensureCrashDir(QFile::decodeName(argv[1]));
    ktr::platform::installCrashHandler();
    if (mode == "segv-read") {
        volatile int* p = nullptr;
        return *p;
    }
    if (mode == "segv-write") {
        volatile quintptr address = 0x10;
        *reinterpret_cast<volatile int*>(address) = 1;
        return 0;
    }
    if (mode == "bad-stack") {
        // An illegal instruction with the stack pointer on an unmapped page: the unwinder faults again.
#if defined(__x86_64__)
        asm volatile("mov $0x1000, %%rsp\n\tud2" ::: "memory");
#elif defined(__aarch64__)
        asm volatile("mov sp, %0\n\t.inst 0x00000000" ::"r"(0x1000UL) : "memory");
#endif
        return 66;
    }
    if (mode == "abort")
        std::abort();
    return 65;
}
