#include "testenv.h"

#include "platform/helperfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ktr::test {
namespace {

std::string& rootStorage()
{
    static std::string root;
    return root;
}

void removeRoot()
{
    if (!rootStorage().empty() && !qEnvironmentVariableIsSet("KTR_TEST_KEEP"))
        QDir(QString::fromStdString(rootStorage())).removeRecursively();
}

void setDir(const char* var, const std::string& path, mode_t mode = 0755)
{
    ::mkdir(path.c_str(), mode);
    ::chmod(path.c_str(), mode);
    ::setenv(var, path.c_str(), 1);
}

} // namespace

void prepareEnvironment()
{
    if (!rootStorage().empty())
        return;
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/ktrtest-XXXXXX";
    std::string buf = tmpl;
    if (!::mkdtemp(buf.data())) {
        buf = "/tmp/ktrtest-XXXXXX";
        if (!::mkdtemp(buf.data()))
            std::abort();
    }
    rootStorage() = buf;
    std::atexit(removeRoot);

    setDir("HOME", buf + "/home");
    setDir("XDG_CONFIG_HOME", buf + "/home/.config");
    setDir("XDG_DATA_HOME", buf + "/home/.local");
    ::mkdir((buf + "/home/.local").c_str(), 0755);
    setDir("XDG_DATA_HOME", buf + "/home/.local/share");
    setDir("XDG_CACHE_HOME", buf + "/home/.cache");
    setDir("XDG_STATE_HOME", buf + "/home/.local/state");
    setDir("XDG_RUNTIME_DIR", buf + "/runtime", 0700);
    // The machine-wide configuration (our registry store's HKLM) too: tests run as root in CI.
    setDir("XDG_CONFIG_DIRS", buf + "/etc-xdg");
    setDir("TMPDIR", buf + "/tmp");
    ::unsetenv("KTR_VERBOSE");
    // Not the desktop's session bus: what a test would ask there (a file manager to show a file) would reach
    // the programs of the person running the suite. A socket that does not exist fails at once, where an
    // unset address would let libdbus start a bus of its own through X11.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + buf + "/no-session-bus").c_str(), 1);
    // No test may reach a service the build carries: whatever asks the service without a host of its own (a
    // main window's polls, a panel process) is refused at once by a closed loopback port. A test of the
    // program without a service removes this and stands in for the build's address.
    ::setenv("KTR_SERVICE_HOST", "http://127.0.0.1:9", 0);
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The video module and the encoder's program lie beside the built program, not beside the tests.
    ktr::platform::setProgramDirForTests(QStringLiteral(KTR_TEST_PROGRAM_DIR));
}

QString testRoot()
{
    return QString::fromStdString(rootStorage());
}

QString freshDir(const QString& name)
{
    static int counter = 0;
    const QString path = testRoot() + QStringLiteral("/t%1-%2").arg(++counter).arg(name);
    QDir().mkpath(path);
    return path;
}

QString startPrivateBus(QProcess& daemon)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty())
        return {};
    const QString dir = freshDir(QStringLiteral("bus"));
    const QString config = dir + QStringLiteral("/bus.conf");
    const QByteArray text = "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                            "<busconfig>\n"
                            "  <type>session</type>\n"
                            "  <listen>unix:dir=" +
                            dir.toHtmlEscaped().toUtf8() +
                            "</listen>\n"
                            "  <auth>EXTERNAL</auth>\n"
                            "  <policy context=\"default\">\n"
                            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                            "    <allow eavesdrop=\"true\"/>\n"
                            "    <allow own=\"*\"/>\n"
                            "  </policy>\n"
                            "</busconfig>\n";
    if (!writeFile(config, text))
        return {};
    daemon.start(program, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                           QStringLiteral("--print-address=1")});
    if (!daemon.waitForStarted() || !QTest::qWaitFor([&daemon] { return daemon.canReadLine(); }, 10000))
        return {};
    return QString::fromUtf8(daemon.readLine()).trimmed();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void saveShot(const QImage& image, const QString& name)
{
    const QString dir = qEnvironmentVariable("KTR_SHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace ktr::test
