#include "support/logexport.h"

#include "platform/clock.h"
#include "platform/fileops.h"
#include "platform/fsentry.h"
#include "platform/ziparchive.h"
#include "ui/background.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/log.h"

#include <QDate>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>

#include <cstdio>

namespace logexport {

namespace {

ktr::platform::Clock* g_clock = nullptr;

QString desktopFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString today()
{
    return clock()->now().date().toString(QStringLiteral("yyyyMMdd"));
}

// The entries of one folder an export takes: no ".", "..", or hidden names; special files are listed so
// the caller decides about them.
QFileInfoList listFolder(const QString& folder)
{
    return QDir(folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

struct ZipRun
{
    ktr::platform::ZipWriter& zip;
    const std::atomic<bool>* cancel;
    ktr::platform::Clock* clock;
    qint64 deadline;
    QString skipA; // the partial and the target, when they lie inside the root
    QString skipB;
    QString error;

    bool check()
    {
        if (cancel && cancel->load()) {
            error = QStringLiteral("cancelled");
            return false;
        }
        if (clock->monotonicMs() > deadline) {
            error = QStringLiteral("deadline of %1 ms passed").arg(kZipDeadlineMs);
            return false;
        }
        return true;
    }

    bool addTree(const QString& folder, const QString& prefix)
    {
        for (const QFileInfo& info : listFolder(folder)) {
            if (!check())
                return false;
            const QString abs = info.absoluteFilePath();
            const QString name = prefix + info.fileName();
            const ktr::platform::EntryStat st = ktr::platform::entryStat(abs);
            if (abs == skipA || abs == skipB)
                continue;
            if (st.isDir && !st.isLink) {
                if (!zip.addDirectory(name + QLatin1Char('/'), info.lastModified(), &error))
                    return false;
                if (!addTree(abs, name + QLatin1Char('/')))
                    return false;
            } else if (st.isRegular) {
                if (!zip.addFile(
                        name, abs, [this](qint64) { return check(); }, &error)) {
                    if (error.isEmpty())
                        check();
                    return false;
                }
            } else {
                qWarning().noquote() << "[logexport] left out, not a regular file:" << abs;
            }
        }
        return true;
    }
};

} // namespace

void setClock(ktr::platform::Clock* c)
{
    g_clock = c;
}

ktr::platform::Clock* clock()
{
    return g_clock ? g_clock : ktr::platform::Clock::system();
}

QString defaultZipPath()
{
    return desktopFolder() + Lang::tr("/青岚舟面板日志_%1.zip").arg(today());
}

QString defaultTextPath()
{
    return desktopFolder() + Lang::tr("/青岚舟面板日志_%1.txt").arg(today());
}

QString withDefaultSuffix(const QString& path, const QString& suffix)
{
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    return path + suffix;
}

QString baseFolderFor(const QString& target)
{
    if (target.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive))
        return target.left(target.size() - 4);
    return target;
}

QString freeFolderName(const QString& base)
{
    if (!ktr::platform::entryStat(base).exists)
        return base;
    for (int n = 2;; ++n) {
        const QString candidate = base + QStringLiteral("_%1").arg(n);
        if (!ktr::platform::entryStat(candidate).exists)
            return candidate;
    }
}

bool zipFolder(const QString& root, const QString& target, const std::atomic<bool>* cancel, ktr::platform::Clock* clk,
               QString* error)
{
    ktr::platform::Clock* c = clk ? clk : ktr::platform::Clock::system();
    const qint64 deadline = c->monotonicMs() + kZipDeadlineMs;
    const QString absTarget = QFileInfo(target).absoluteFilePath();
    QString partial;
    bool ok = false;
    QString failure;
    {
        ktr::platform::ZipWriter zip;
        // A partial name nobody else holds: only a file this run created is ever removed.
        for (int i = 1; i <= 50 && partial.isEmpty(); ++i) {
            const QString candidate =
                absTarget + (i == 1 ? QStringLiteral(".part") : QStringLiteral(".%1.part").arg(i));
            if (ktr::platform::entryStat(candidate).exists)
                continue;
            if (!zip.open(candidate, &failure))
                break;
            partial = candidate;
        }
        if (partial.isEmpty()) {
            if (failure.isEmpty())
                failure = QStringLiteral("no free partial name beside %1").arg(absTarget);
        } else {
            ZipRun run{zip, cancel, c, deadline, partial, absTarget, QString()};
            ok = run.check() && run.addTree(QFileInfo(root).absoluteFilePath(), QString());
            if (ok && !zip.finish(&run.error))
                ok = false;
            failure = run.error;
        }
    }
    if (ok && std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(absTarget).constData()) != 0) {
        ok = false;
        failure = QStringLiteral("cannot rename %1 to %2").arg(partial, absTarget);
    }
    if (!ok) {
        if (!partial.isEmpty() && !QFile::remove(partial) && ktr::platform::entryStat(partial).exists)
            qWarning().noquote() << "[logexport] cannot remove partial zip:" << partial;
        if (error)
            *error = failure;
    }
    return ok;
}

bool copyDirRecursive(const QString& source, const QString& target)
{
    if (!QDir().mkpath(target))
        return false;
    bool result = true;
    const QFileInfoList entries = listFolder(source);
    for (const QFileInfo& info : entries) {
        const ktr::platform::EntryStat st = ktr::platform::entryStat(info.absoluteFilePath());
        if (st.isDir && !st.isLink)
            continue;
        const QString destination = target + QLatin1Char('/') + info.fileName();
        if (!st.isRegular) {
            // Opening a FIFO would wait for a writer; a link may lead anywhere.
            qWarning().noquote() << "copyDirRecursive: copy failed:" << info.absoluteFilePath() << "not a regular file";
            result = false;
            continue;
        }
        QString copyError;
        if (!ktr::platform::copyFileKeepTime(info.absoluteFilePath(), destination, &copyError)) {
            qWarning().noquote() << "copyDirRecursive: copy failed:" << info.absoluteFilePath() << copyError;
            result = false;
        }
    }
    for (const QFileInfo& info : entries) {
        const ktr::platform::EntryStat st = ktr::platform::entryStat(info.absoluteFilePath());
        if (!st.isDir || st.isLink)
            continue;
        if (!copyDirRecursive(info.absoluteFilePath(), target + QLatin1Char('/') + info.fileName()))
            result = false;
    }
    return result;
}

Result exportArchive(const QString& root, const QString& target, bool copyWhenZipFails, const std::atomic<bool>* cancel,
                     ktr::platform::Clock* clk)
{
    Result result;
    QString error;
    if (zipFolder(root, target, cancel, clk, &error)) {
        result.ok = true;
        result.zipped = true;
        result.path = target;
        return result;
    }
    qWarning().noquote() << "exportLogs: zip failed, fallback to dir copy:" << error;
    if (!copyWhenZipFails || (cancel && cancel->load()))
        return result;
    result.path = freeFolderName(baseFolderFor(target));
    result.ok = copyDirRecursive(root, result.path);
    return result;
}

void exportLogsFromWindow(QWidget* window, std::function<void(const QString& text, int kind)> toast)
{
    const QString root = logRootDir();
    if (root.isEmpty() || !QFileInfo(root).isDir()) {
        if (toast)
            toast(Lang::tr("暂无日志可导出"), 1);
        return;
    }
    QString target =
        ktr::dialogs::saveFile(window, Lang::tr("导出日志"), defaultZipPath(), Lang::tr("Zip 压缩包 (*.zip)"));
    if (target.isEmpty())
        return;
    target = withDefaultSuffix(target, QStringLiteral(".zip"));
    qInfo().noquote() << "export logs ->" << target;

    auto cancel = std::make_shared<std::atomic<bool>>(false);
    // The worker keeps its own copy of the flag; a window that goes away (and its export with it) stops it.
    auto* job = new QObject(window);
    QObject::connect(job, &QObject::destroyed, [cancel] { cancel->store(true); });
    ktr::platform::Clock* clk = clock();
    runInBackground(
        job, [root, target, cancel, clk] { return exportArchive(root, target, true, cancel.get(), clk); },
        [job, toast](const Result& r) {
            job->deleteLater();
            if (!toast)
                return;
            if (r.ok)
                toast(Lang::tr("日志已导出：%1").arg(QDir::toNativeSeparators(r.path)), 0);
            else
                toast(Lang::tr("日志导出失败，请打开日志目录手动复制"), 1);
        });
}

} // namespace logexport
