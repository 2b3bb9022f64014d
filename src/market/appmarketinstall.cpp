// Installing, launching and removing market apps: the extraction on a worker, the folder swap, the
// registry, the usage reports and the desktop entry.
#include "market/appmarketdialog.h"

#include "market/marketfiles.h"
#include "market/marketinstall.h"
#include "market/packagecache.h"
#include "platform/launcher.h"
#include "ui/background.h"
#include "ui/lang.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <atomic>
#include <memory>

namespace {

// Deletes a folder with everything in it; a link standing in its place is removed itself, never followed.
// True when nothing is left at the path.
bool removeTree(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        QFile::remove(path);
    else if (info.exists())
        QDir(path).removeRecursively();
    const QFileInfo after(path);
    return !after.exists() && !after.isSymLink();
}

struct ExtractOutcome
{
    ExtractResult result = ExtractResult::Failed;
    QString why;
};

} // namespace

struct AppMarketDialog::ExtractJob
{
    bool done = false;
    QString id;
    QString packagePath;
    QString appDir;
    QString tmpDir;
    qint64 generation = 0;
    std::shared_ptr<std::atomic<bool>> abandon = std::make_shared<std::atomic<bool>>(false);
};

void AppMarketDialog::setRowError(AppRow& row, const LangText& text)
{
    m_market.setRowError(row, text);
    update();
}

void AppMarketDialog::startExtract(AppRow& row, const QString& packagePath)
{
    const qint64 generation = ++row.generation;
    row.extracting = row.installing = true;
    update();
    auto job = std::make_shared<ExtractJob>();
    job->id = row.id;
    job->packagePath = packagePath;
    job->appDir = appsRootDir() + u'/' + row.id;
    job->tmpDir = job->appDir + QStringLiteral(".__new");
    job->generation = generation;
    if (!removeTree(job->tmpDir)) {
        qWarning().noquote() << "startExtract: failed to clean stale temp dir:" << job->tmpDir;
        row.extracting = false;
        setRowError(row, Lang::later("临时目录清理失败，请重试"));
        return;
    }
    if (!QDir().mkpath(job->tmpDir)) {
        qWarning().noquote() << "startExtract: failed to create temp dir:" << job->tmpDir;
        row.extracting = false;
        setRowError(row, Lang::later("临时目录创建失败，请重试"));
        return;
    }
    // The worker also checks its own deadline; the timer covers a run that stalls between its checks.
    auto* deadline = new QTimer(this);
    deadline->setSingleShot(true);
    deadline->setInterval(m_extractDeadlineMs);
    connect(deadline, &QTimer::timeout, deadline, [abandon = job->abandon] { abandon->store(true); });
    deadline->start();
    runInBackground(
        this,
        [package = packagePath, tmp = job->tmpDir, abandon = job->abandon, ms = m_extractDeadlineMs] {
            ExtractOutcome out;
            out.result = extractPackage(package, tmp, abandon.get(), ms, &out.why);
            return out;
        },
        [this, deadline, job](const ExtractOutcome& outcome) {
            delete deadline;
            onExtractDone(job, int(outcome.result), outcome.why);
        });
}

void AppMarketDialog::onExtractDone(const std::shared_ptr<ExtractJob>& job, int result, const QString& why)
{
    if (job->done)
        return;
    if (!why.isEmpty())
        qWarning().noquote() << "startExtract:" << job->id << why;
    if (ExtractResult(result) != ExtractResult::TimedOut) {
        installPackage(job, ExtractResult(result) != ExtractResult::Ok);
        return;
    }
    // An abandoned run is what a killed extraction was: the package stays for the next try.
    job->done = true;
    removeTree(job->tmpDir);
    AppRow* row = m_market.findRow(job->id);
    if (!row)
        return;
    row->extracting = false;
    if (row->generation != job->generation) {
        row->installing = row->downloading = false;
        update();
        return;
    }
    setRowError(*row, Lang::later("解压超时，请稍后重试"));
}

void AppMarketDialog::installPackage(const std::shared_ptr<ExtractJob>& job, bool failed)
{
    if (job->done)
        return;
    job->done = true;
    const bool inCache = job->packagePath.startsWith(packageCacheDir());
    AppRow* row = m_market.findRow(job->id);
    if (!row || row->generation != job->generation) {
        removeTree(job->tmpDir);
        if (failed && !inCache)
            removePackageFile(job->packagePath, QStringLiteral("install-cancelled"));
        if (row) {
            row->extracting = row->installing = row->downloading = false;
            update();
        }
        return;
    }
    row->extracting = false;
    if (failed) {
        if (!inCache)
            removePackageFile(job->packagePath, QStringLiteral("install-temp"));
        removeTree(job->tmpDir);
        setRowError(*row, Lang::later("解压失败"));
        return;
    }
    const QString oldDir = job->appDir + QStringLiteral(".__old");
    removeTree(oldDir);
    const QFileInfo before(job->appDir);
    const bool hadOld = before.exists() || before.isSymLink();
    bool swapped = true;
    if (hadOld && !QDir().rename(job->appDir, oldDir))
        swapped = false;
    if (swapped && !QDir().rename(job->tmpDir, job->appDir)) {
        if (hadOld && QFileInfo::exists(oldDir))
            QDir().rename(oldDir, job->appDir);
        swapped = false;
    }
    if (!swapped) {
        removeTree(job->tmpDir);
        setRowError(*row, Lang::later("安装目录替换失败"));
        return;
    }
    QString launch = row->launch;
    if (launch.isEmpty() || resolveLaunchFile(job->appDir, launch).isEmpty())
        launch = firstExeIn(job->appDir);
    if (!launch.isEmpty() && !resolveLaunchFile(job->appDir, launch).isEmpty()) {
        row->launch = launch;
        if (hadOld)
            removeTree(oldDir);
        finishInstall(*row);
        return;
    }
    // No program to start: the previous version comes back as it was.
    removeTree(job->appDir);
    if (hadOld && QFileInfo::exists(oldDir))
        QDir().rename(oldDir, job->appDir);
    removeTree(job->tmpDir);
    setRowError(*row, Lang::later("包内缺少启动文件"));
}

void AppMarketDialog::finishInstall(AppRow& row)
{
    row.received = row.total = 0;
    row.downloading = row.paused = row.cancelRequested = row.installing = false;
    row.errorBody.clear();
    row.resumeRetried = row.rangeMismatch = false;
    row.errorText.clear();
    row.installedVersion = row.manifestVersion.isEmpty() ? row.version : row.manifestVersion;
    m_registry.insert(row.id, {row.installedVersion, row.launch});
    m_market.setInstalledApps(m_registry);
    saveRegistry();
    if (m_reportAppStat)
        m_reportAppStat(row.id, QStringLiteral("install"), QString());
    const QString appDir = appsRootDir() + u'/' + row.id;
    const QString launchFile = appDir + u'/' + row.launch;
    const QFileInfo launchInfo(launchFile);
    row.installedSize = launchInfo.isFile() ? launchInfo.size() : 0;
    update();
    const QString package = packageFilePath(row.id);
    if (QFileInfo::exists(package))
        cachePackage(row.id, row.installedVersion, package);
    sweepPackageCache();
    if (!launchInfo.isFile())
        return;
    // The signal may reach code that rebuilds the rows: take what is needed first.
    const QString name = row.name;
    // The launcher on the desktop shows the catalogue's picture of the app when there is one; it is kept in
    // the app's own folder, so the uninstall takes it away with the rest.
    QString iconFile;
    if (!row.icon.isNull()) {
        const QString saved = appDir + QStringLiteral("/.market-icon.png");
        if (row.icon.toImage().save(saved, "PNG"))
            iconFile = saved;
    }
    if (m_locked)
        m_heldPanelAdds.append({name, QDir::toNativeSeparators(launchFile)});
    else
        Q_EMIT addToPanelRequested(name, QDir::toNativeSeparators(launchFile));
    const bool made = createDesktopShortcut(QDir::toNativeSeparators(launchFile), QDir::toNativeSeparators(appDir),
                                            name, iconFile.isEmpty() ? QDir::toNativeSeparators(launchFile) : iconFile);
    qInfo().noquote() << "desktop shortcut" << (made ? "created" : "failed") << launchFile;
}

bool AppMarketDialog::launchApp(const QString& appId)
{
    if (m_locked) {
        qWarning().noquote() << "launchApp: refused while the panel is locked" << appId;
        return false;
    }
    const QString launch = m_registry.value(appId).launch;
    if (launch.isEmpty() || launch.size() > 128 || launch.contains(QLatin1String("..")) || launch.contains(u'/') ||
        launch.contains(u'\\') || launch.contains(u':'))
        return false;
    const QString appDir = appsRootDir() + u'/' + appId;
    const QString program = resolveLaunchFile(appDir, launch);
    if (program.isEmpty()) {
        qWarning().noquote() << "launchApp: refused" << appId << launch;
        return false;
    }
    return ktr::platform::launcher().startDetached(program, {},
                                                   QDir::toNativeSeparators(QFileInfo(appDir).absoluteFilePath()));
}

void AppMarketDialog::uninstallApp(AppRow& row)
{
    if (row.reply) {
        row.cancelRequested = true;
        row.reply->abort();
    }
    removePackageFile(partialFilePath(row.id), QStringLiteral("stale-part"));
    const QString package = packageFilePath(row.id);
    if (QFileInfo::exists(package) && !row.installedVersion.isEmpty())
        cachePackage(row.id, row.installedVersion, package);
    else
        removePackageFile(package, QStringLiteral("uninstall"));
    row.received = row.total = 0;
    row.downloading = row.paused = false;
    m_market.pendingLoginIds.remove(row.id);
    const QString id = row.id;
    const QString appDir = appsRootDir() + u'/' + id;
    // A running app would keep its files busy and go on running from a removed folder: end it first.
    if (m_endProcesses) {
        const int ended = m_endProcesses(appDir);
        if (ended > 0)
            qInfo().noquote() << "uninstallApp: ended" << ended << "process(es) of" << id;
    }
    if (!(m_removeTree ? m_removeTree(appDir) : removeTree(appDir))) {
        qWarning().noquote() << "uninstallApp: folder could not be deleted:" << appDir;
        // The registry keeps the app: its files are still there.
        if (AppRow* r = m_market.findRow(id))
            setRowError(*r, Lang::later("卸载失败：应用文件无法删除，请关闭该应用后重试"));
        return;
    }
    m_registry.remove(id);
    m_market.setInstalledApps(m_registry);
    saveRegistry();
    AppRow* r = m_market.findRow(id);
    QString removedEntry;
    if (r && removeDesktopShortcut(r->name, appDir))
        removedEntry = QDir::toNativeSeparators(desktopFolder() + u'/' + desktopEntryFileName(r->name));
    if (r) {
        r->installedVersion.clear();
        r->installedSize = 0;
        r->errorText.clear();
    }
    if (m_reportAppStat)
        m_reportAppStat(id, QStringLiteral("uninstall"), QString());
    sweepPackageCache();
    update();
    Q_EMIT appUninstalled(id, QDir::toNativeSeparators(appDir), removedEntry);
}

void AppMarketDialog::loadRegistry()
{
    m_registry = readAppsRegistry(appsRegistryPath());
    m_market.setInstalledApps(m_registry);
}

void AppMarketDialog::saveRegistry()
{
    QString why;
    if (!writeAppsRegistry(appsRegistryPath(), appsRootDir(), m_registry, &why)) {
        qWarning().noquote() << "apps_registry.json write/commit failed:" << appsRegistryPath() << why;
        showRegistryWriteNotice();
    }
}

void AppMarketDialog::showRegistryWriteNotice()
{
    const qint64 now = m_now();
    if (m_lastNoticeMs >= 0 && now - m_lastNoticeMs <= 59999)
        return;
    m_lastNoticeMs = now;
    m_noticeText = QStringLiteral("已安装应用清单无法写入，重启后可能显示为未安装");
    if (!m_noticeTimer) {
        m_noticeTimer = new QTimer(this);
        m_noticeTimer->setSingleShot(true);
        connect(m_noticeTimer, &QTimer::timeout, this, [this] {
            m_noticeText.clear();
            update();
        });
    }
    if (isVisible())
        m_noticeTimer->start(6000);
    update();
}
