#include "app/qmain.h"

#include "backup/backupengine.h"
#include "platform/instancelock.h"
#include "platform/registry.h"
#include "platform/version.h"
#include "ui/lang.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::thread g_cleanupThread;
std::atomic<bool> g_cleanupStop{false};
std::atomic<bool> g_cleanupDone{false};

QRect placementArea(int fallbackWidth, int fallbackHeight)
{
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QRect(0, 0, fallbackWidth, fallbackHeight);
    return screen->availableGeometry();
}

} // namespace

ktr::platform::SingleInstanceLock& singleInstanceLock()
{
    static ktr::platform::SingleInstanceLock lock(QStringLiteral("KestrunePanel_SingleInstanceMutex"));
    return lock;
}

void startTempCleanupThread()
{
    if (g_cleanupThread.joinable())
        return;
    g_cleanupStop.store(false);
    g_cleanupDone.store(false);
    g_cleanupThread = std::thread([] {
        BackupEngine::cleanupTempLeftovers(QString(), &g_cleanupStop);
        g_cleanupDone.store(true);
    });
}

void joinTempCleanupThread()
{
    g_cleanupStop.store(true);
    if (!g_cleanupThread.joinable())
        return;
    QElapsedTimer timer;
    timer.start();
    while (!g_cleanupDone.load()) {
        if (timer.elapsed() > 1999)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (g_cleanupDone.load()) {
        g_cleanupThread.join();
    } else {
        qWarning().noquote() << "temp cleanup thread still running after 2s; detach before hard exit";
        g_cleanupThread.detach();
    }
}

void writeInstallPath()
{
    // The user's own store only: an ordinary start has no business writing below /etc (nothing reads the
    // value there, and it would outlive the program). The uninstall deletes the value again.
    using ktr::platform::RegistryHive;
    const QString path = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    if (ktr::platform::writeRegistryString(RegistryHive::CurrentUser, QLatin1String(ktr::platform::kInstallPathKey),
                                           QLatin1String(ktr::platform::kInstallPathName), path)) {
        qInfo().noquote() << "install path written to HKCU:" << path;
    } else {
        qWarning().noquote() << "install path not written (no permission):" << path;
    }
}

QString panelVersionString()
{
    const QStringList parts = ktr::platform::compiledVersion().split(QLatin1Char('.'));
    uint numbers[3] = {0, 0, 0};
    if (parts.isEmpty() || parts.size() > 4)
        return QStringLiteral("0.0.0");
    for (int i = 0; i < parts.size(); ++i) {
        bool ok = false;
        const uint n = parts.at(i).toUInt(&ok);
        if (!ok || n > 65535)
            return QStringLiteral("0.0.0");
        if (i < 3)
            numbers[i] = n;
    }
    return QStringLiteral("%1.%2.%3").arg(numbers[0]).arg(numbers[1]).arg(numbers[2]);
}

void centreOnCursorScreen(QWidget* window, int fallbackWidth, int fallbackHeight)
{
    const QRect area = placementArea(fallbackWidth, fallbackHeight);
    const QSize size = window->size();
    const int x = area.width() > size.width() ? area.left() + (area.width() - size.width()) / 2 : area.left();
    const int y = area.height() > size.height() ? area.top() + (area.height() - size.height()) / 2 : area.top();
    window->move(x, y);
}

void startupSelfHeal(QWidget* window)
{
    if (!window)
        return;
    QStringList findings;
    const QRect frame = window->frameGeometry();
    bool onSomeScreen = false;
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().intersects(frame)) {
            onSomeScreen = true;
            break;
        }
    }
    if (!onSomeScreen) {
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        centreOnCursorScreen(window, 1280, 720);
        findings << Lang::tr("geo %1,%2 -> 居中").arg(frame.x()).arg(frame.y());
    }
    if (!window->isVisible() || window->isMinimized()) {
        window->showNormal();
        findings << QStringLiteral("hidden/minimized -> showNormal");
    }
    if (!findings.isEmpty()) {
        window->raise();
        window->activateWindow();
        qWarning().noquote() << "启动自愈：窗口不可见，已复位 ->" << findings.join(QStringLiteral("; "))
                             << "| 现在 opacity" << window->windowOpacity() << "geo" << window->geometry();
    } else {
        qInfo().noquote() << "启动体检通过：可视且位置有效";
    }
}
