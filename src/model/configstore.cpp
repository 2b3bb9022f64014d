#include "model/configstore.h"

#include "model/layoutfile.h"
#include "model/settingsfile.h"
#include "platform/clock.h"
#include "ui/datadir.h"
#include "ui/lang.h"
#include "ui/savefile.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutex>
#include <QThreadPool>
#include <QTimer>
#include <QWaitCondition>

namespace {

// True when a settings object holds members but none the program would take: each member is unknown
// or of another JSON type than the program writes ({"version":2,"data":{...}}, every value a string).
// Reading it would silently replace it all with defaults.
bool settingsDropData(const QJsonObject& object)
{
    if (object.isEmpty())
        return false;
    QJsonObject known = settingsToJson(AppSettings(), QSize(1, 1));
    known.insert(QStringLiteral("uiPasswordHash"), QString()); // the older name of the password hash
    for (auto it = object.begin(); it != object.end(); ++it) {
        const auto k = known.constFind(it.key());
        if (k != known.constEnd() && k->type() == it->type())
            return false;
    }
    return true;
}

// The layout's writer: one thread for every store, so writes of one file never overtake each other.
QThreadPool* layoutWriterPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool; // never deleted: the stores wait for their own writes
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(-1);
        return p;
    }();
    return pool;
}

QMutex& writeHookMutex()
{
    static QMutex m;
    return m;
}

std::function<void()>& writeHook()
{
    static std::function<void()> hook;
    return hook;
}

} // namespace

// What the GUI thread hands the writer and what comes back, under one mutex.
namespace {

// Two independent digests of a layout file's bytes: with its size, what tells the file holds given bytes
// without keeping a copy of them.
std::pair<size_t, size_t> layoutDigest(const QByteArray& bytes)
{
    return {qHashBits(bytes.constData(), size_t(bytes.size()), 0x9e3779b9u),
            qHashBits(bytes.constData(), size_t(bytes.size()), 0x85ebca6bu)};
}

} // namespace

struct ConfigStore::LayoutWriter
{
    QMutex mutex;
    QWaitCondition idle;
    bool running = false;    // a task is on the writer thread or queued for it
    bool hasPending = false; // `pending` waits to be written
    QList<Group> pending;
    QStringList failures; // why writes failed, in English, not yet reported
    // The layout last handed over, while no write has failed since.
    bool haveLast = false;
    QList<Group> last;
    // What the file holds, when known (read in the saved form, or written here since): its size (-1:
    // unknown) and the digests of its bytes.
    qsizetype fileSize = -1;
    std::pair<size_t, size_t> fileDigest;
};

ConfigStore::ConfigStore(const QString& dataDir)
    : m_dataDir(dataDir), m_clock(ktr::platform::Clock::system()), m_writer(std::make_shared<LayoutWriter>())
{
    m_defer = [this](int delayMs, std::function<void()> task) {
        QTimer::singleShot(delayMs, Qt::CoarseTimer, &m_timerContext, std::move(task));
    };
}

ConfigStore::~ConfigStore()
{
    QMutexLocker lock(&m_writer->mutex);
    while (m_writer->running)
        m_writer->idle.wait(&m_writer->mutex);
}

void ConfigStore::setClock(ktr::platform::Clock* clock)
{
    m_clock = clock ? clock : ktr::platform::Clock::system();
}

QString ConfigStore::dataDir()
{
    if (m_dataDir.isEmpty())
        m_dataDir = appDataDir();
    return m_dataDir;
}

QString ConfigStore::layoutPath()
{
    if (m_layoutPath.isEmpty())
        m_layoutPath = layoutFileIn(dataDir());
    return m_layoutPath;
}

QString ConfigStore::settingsPath()
{
    if (m_settingsPath.isEmpty())
        m_settingsPath = dataDir() + QStringLiteral("/settings.json");
    return m_settingsPath;
}

namespace {

// Reads the file whole into `bytes`, recording a failure or an empty file in `read`; true when there are
// bytes to parse.
bool readFileBytes(const QString& path, qint64 cap, ConfigStore::FileRead& read, QByteArray* bytes)
{
    read.status = int(ktr::readFileCapped(path, cap, bytes, &read.error));
    if (read.status != int(ktr::ReadStatus::Ok))
        return false;
    read.empty = bytes->isEmpty();
    return !read.empty;
}

// The bytes of a file read whole (status Ok, not empty) parsed into `read`.
void parseFileBytes(QByteArray bytes, ConfigStore::FileRead& read)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    bytes = QByteArray(); // a large file's bytes are not kept beside its parsed form
    if (parseError.error == QJsonParseError::NoError && doc.isObject()) {
        read.parsed = true;
        read.object = doc.object();
    } else {
        read.parseError = parseError.error == QJsonParseError::NoError ? QStringLiteral("not a JSON object")
                                                                       : parseError.errorString();
    }
}

} // namespace

ConfigStore::FileRead ConfigStore::readFileObject(const QString& path, qint64 cap)
{
    FileRead read;
    QByteArray bytes;
    if (readFileBytes(path, cap, read, &bytes))
        parseFileBytes(std::move(bytes), read);
    return read;
}

ConfigStore::Read ConfigStore::readObject(const QString& path, qint64 cap, QJsonObject* object)
{
    const FileRead read = readFileObject(path, cap);
    const Read result = settleRead(path, read);
    if (result == Read::Ok)
        *object = read.object;
    return result;
}

ConfigStore::Read ConfigStore::settleRead(const QString& path, const FileRead& read)
{
    switch (ktr::ReadStatus(read.status)) {
    case ktr::ReadStatus::Ok:
        break;
    case ktr::ReadStatus::Missing:
        m_protected.remove(path);
        return Read::Missing;
    case ktr::ReadStatus::NotAFile:
    case ktr::ReadStatus::TooLarge:
    case ktr::ReadStatus::Failed:
        // Defaults written over it would destroy what may still be the user's data.
        m_protected.insert(path);
        qWarning().noquote() << "[config] cannot read" << path << ":" << read.error
                             << "- left untouched and not overwritten in this run";
        return Read::Unusable;
    }
    if (read.empty) {
        // Nothing to lose: the next save may write over it.
        m_protected.remove(path);
        return Read::Empty;
    }
    if (read.parsed) {
        m_protected.remove(path);
        return Read::Ok;
    }
    qWarning().noquote() << "[config] damaged file" << path << ":" << read.parseError;
    // A well-formed file that is not an object is kept as a copy too, so defaults saved later
    // replace nothing the user could still want.
    if (preserveCorruptFile(path)) {
        m_protected.remove(path);
        return Read::Damaged;
    }
    m_protected.insert(path);
    return Read::DamagedNotKept;
}

bool ConfigStore::keepMisshapenCopy(const QString& path)
{
    qWarning().noquote() << "[config] file of an unexpected shape" << path << "- reading it would drop content";
    if (preserveCorruptFile(path)) {
        m_protected.remove(path);
        return true;
    }
    m_protected.insert(path);
    return false;
}

void ConfigStore::scheduleCorruptNotice(int delayMs, const char* text)
{
    scheduleCorruptNotice(delayMs, [text] { return Lang::tr(text); });
}

void ConfigStore::scheduleCorruptNotice(int delayMs, std::function<QString()> text)
{
    if (m_corruptNoticeScheduled)
        return;
    m_corruptNoticeScheduled = true;
    m_defer(delayMs, [this, text = std::move(text)] {
        if (m_toast)
            m_toast(text(), 1);
    });
}

QString ConfigStore::layoutFileIn(const QString& dataDir)
{
    return dataDir + QStringLiteral("/layout.json");
}

ConfigStore::LayoutRead ConfigStore::readLayoutFile(const QString& path)
{
    LayoutRead read;
    // Taken before the bytes: a write between the two leaves a stamp older than what was read, so a later
    // readStillCurrent sees a change and the file is read again (taken after, the stamp could be the newer
    // file's while the groups are the older one's).
    read.path = path;
    const QFileInfo info(path);
    if (info.exists()) {
        read.fileSize = info.size();
        read.fileModified = info.lastModified();
    }
    QByteArray bytes;
    if (!readFileBytes(path, kMaxLayoutBytes, read.file, &bytes))
        return read;
    // The form the program saves goes straight into groups; anything else is parsed and judged in full.
    if (parseSavedLayout(bytes, &read.groups)) {
        read.file.parsed = true;
        qsizetype items = 0;
        for (const Group& g : std::as_const(read.groups))
            items += g.items.size();
        if (items >= kBackgroundSaveItems) {
            read.savedSize = bytes.size();
            read.savedDigest = layoutDigest(bytes);
        }
        return read;
    }
    parseFileBytes(std::move(bytes), read.file);
    if (!read.file.parsed)
        return read;
    read.dropsData = layoutDropsData(read.file.object);
    if (!read.dropsData) {
        read.groups = layoutFromJson(read.file.object);
        read.file.object = QJsonObject(); // read; its groups are what counts now
        return read;
    }
    const QJsonValue readable = read.file.object.value(QStringLiteral("groups"));
    if (readable.isArray() && !readable.toArray().isEmpty())
        read.groups = layoutFromJson(read.file.object);
    return read;
}

bool ConfigStore::readStillCurrent(const LayoutRead& read, const QString& path)
{
    const QFileInfo info(path);
    return read.path == path && info.exists() && info.size() == read.fileSize &&
           info.lastModified() == read.fileModified;
}

bool ConfigStore::loadLayout(QList<Group>& groups)
{
    return takeLayout(readLayoutFile(layoutPath()), groups);
}

bool ConfigStore::takeLayout(LayoutRead read, QList<Group>& groups)
{
    const QString path = layoutPath();
    const Read result = settleRead(path, read.file);
    if (result == Read::Damaged)
        scheduleCorruptNotice(kLayoutNoticeDelayMs,
                              "布局文件已损坏，已保留副本并重建默认分组；可从「备份与恢复」还原最近快照");
    else if (result == Read::DamagedNotKept)
        scheduleCorruptNotice(kLayoutNoticeDelayMs, "布局文件已损坏，且未能保留副本；本次运行不会覆盖它");
    else if (result == Read::Unusable)
        scheduleCorruptNotice(kLayoutNoticeDelayMs, "布局文件无法读取，本次运行不会覆盖它；请检查该文件");
    if (result != Read::Ok)
        return false;
    if (read.dropsData) {
        // Right type, wrong shape: what can't be read is kept aside before anything is saved over it.
        if (keepMisshapenCopy(path))
            scheduleCorruptNotice(kLayoutNoticeDelayMs,
                                  "布局文件含有无法识别的内容，已保留副本；可从「备份与恢复」还原最近快照");
        else
            scheduleCorruptNotice(kLayoutNoticeDelayMs, "布局文件已损坏，且未能保留副本；本次运行不会覆盖它");
        const QJsonValue readable = read.file.object.value(QStringLiteral("groups"));
        if (!readable.isArray() || readable.toArray().isEmpty())
            return false;
    }
    groups = std::move(read.groups);
    if (fixLegacyWordpadPaths(groups)) {
        saveLayout(groups);
    } else if (read.savedSize >= 0) {
        QMutexLocker lock(&m_writer->mutex);
        if (!m_writer->running) { // else the file is about to hold what the writer has
            m_writer->fileSize = read.savedSize;
            m_writer->fileDigest = read.savedDigest;
        }
    }
    return true;
}

bool ConfigStore::saveLayout(const QList<Group>& groups)
{
    {
        QMutexLocker lock(&m_writer->mutex);
        m_writer->fileSize = -1; // the file is no longer what the writer last knew of it
    }
    return writeFile(layoutPath(), serializeLayout(groups), Lang::tr("分组布局写入失败"));
}

bool ConfigStore::saveLayoutSoon(const QList<Group>& groups)
{
    const QString path = layoutPath();
    if (m_protected.contains(path))
        return saveLayout(groups); // refused and reported there
    qsizetype items = 0;
    for (const Group& g : groups)
        items += g.items.size();
    LayoutWriter& w = *m_writer;
    QMutexLocker lock(&w.mutex);
    if (!w.running && items < kBackgroundSaveItems) {
        w.haveLast = false; // the file now holds what this writes, not the last hand-over
        lock.unlock();
        return saveLayout(groups);
    }
    // Shared lists compare by their data first, so an unchanged model is told apart at once.
    if (w.haveLast && w.last == groups)
        return true;
    w.haveLast = true;
    w.last = groups;
    w.pending = groups;
    w.hasPending = true;
    if (w.running)
        return true; // the running task takes it next
    w.running = true;
    std::shared_ptr<LayoutWriter> writer = m_writer;
    QObject* context = &m_timerContext;
    layoutWriterPool()->start([writer, path, context, store = this] {
        QMutexLocker lock(&writer->mutex);
        bool failed = false;
        while (writer->hasPending) {
            const QList<Group> snapshot = std::exchange(writer->pending, {});
            writer->hasPending = false;
            const qsizetype fileSize = writer->fileSize;
            const std::pair<size_t, size_t> fileDigest = writer->fileDigest;
            lock.unlock();
            const QByteArray bytes = serializeLayout(snapshot);
            const std::pair<size_t, size_t> digest = layoutDigest(bytes);
            if (bytes.size() == fileSize && digest == fileDigest) {
                lock.relock();
                continue; // the file holds these bytes already
            }
            std::function<void()> hook;
            {
                QMutexLocker hookLock(&writeHookMutex());
                hook = writeHook();
            }
            if (hook)
                hook();
            QString error;
            const bool ok = ktr::saveFileAtomic(path, bytes, &error);
            lock.relock();
            writer->fileSize = ok ? bytes.size() : -1;
            writer->fileDigest = digest;
            if (!ok) {
                writer->failures.append(error);
                writer->haveLast = false; // the next save writes again, even the same layout
                failed = true;
            }
        }
        writer->running = false;
        // The report goes to the store's thread; a store being destroyed waits for `idle` first, so the
        // context is still there while this is posted.
        if (failed)
            QMetaObject::invokeMethod(
                context, [store] { store->reportLayoutWrites(); }, Qt::QueuedConnection);
        writer->idle.wakeAll();
    });
    return true;
}

void ConfigStore::setLayoutWriteHook(std::function<void()> hook)
{
    QMutexLocker lock(&writeHookMutex());
    writeHook() = std::move(hook);
}

bool ConfigStore::waitForLayoutSaves(int budgetMs)
{
    const QDeadlineTimer deadline = budgetMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(budgetMs);
    bool done = true;
    {
        QMutexLocker lock(&m_writer->mutex);
        while (m_writer->running) {
            if (!m_writer->idle.wait(&m_writer->mutex, deadline)) {
                done = !m_writer->running;
                break;
            }
        }
    }
    reportLayoutWrites();
    return done;
}

bool ConfigStore::layoutSavesPending() const
{
    QMutexLocker lock(&m_writer->mutex);
    return m_writer->running;
}

void ConfigStore::reportLayoutWrites()
{
    QStringList failures;
    {
        QMutexLocker lock(&m_writer->mutex);
        failures = std::exchange(m_writer->failures, {});
    }
    for (const QString& error : std::as_const(failures))
        reportSaveFailure(layoutPath(), Lang::tr("分组布局写入失败"), error);
}

void ConfigStore::loadSettings(AppSettings& settings, QSize& savedSize)
{
    const QString path = settingsPath();
    QJsonObject object;
    const Read result = readObject(path, kMaxSettingsBytes, &object);
    if (result == Read::Damaged)
        scheduleCorruptNotice(kSettingsNoticeDelayMs,
                              "设置文件已损坏，已保留副本并使用默认值；可从「备份与恢复」还原最近快照");
    else if (result == Read::DamagedNotKept)
        scheduleCorruptNotice(kSettingsNoticeDelayMs, "设置文件已损坏，且未能保留副本；本次运行不会覆盖它");
    else if (result == Read::Unusable)
        scheduleCorruptNotice(kSettingsNoticeDelayMs, "设置文件无法读取，本次运行不会覆盖它；请检查该文件");
    if (result != Read::Ok)
        return;
    if (settingsDropData(object)) {
        if (keepMisshapenCopy(path))
            scheduleCorruptNotice(kSettingsNoticeDelayMs,
                                  "设置文件含有无法识别的内容，已保留副本并使用默认值；可从「备份与恢复」还原最近快照");
        else
            scheduleCorruptNotice(kSettingsNoticeDelayMs, "设置文件已损坏，且未能保留副本；本次运行不会覆盖它");
    } else if (const QStringList changed = settingsValuesChangedOnLoad(object); !changed.isEmpty()) {
        // The rest of the file is read; what it held for these keys is kept in a copy before any save
        // replaces it, and each key is named.
        for (const QString& entry : changed)
            qWarning().noquote() << "[config] settings value not usable, default taken:" << entry;
        const bool kept = preserveCorruptFile(path, true);
        QStringList keys;
        for (const QString& entry : changed)
            keys.append(entry.section(QLatin1Char(' '), 0, 0));
        const QString list = keys.join(QStringLiteral(", "));
        scheduleCorruptNotice(kSettingsNoticeDelayMs, [kept, list] {
            return kept ? Lang::tr("设置文件中有无法使用的值，已改用默认值并保留原文件副本：%1").arg(list)
                        : Lang::tr("设置文件中有无法使用的值，已改用默认值（未能保留副本）：%1").arg(list);
        });
    }
    settingsFromJson(object, settings, savedSize);
    Lang::setLanguage(settings.language);
}

bool ConfigStore::saveSettings(const AppSettings& settings, const QSize& windowSize)
{
    return writeFile(settingsPath(), serializeSettings(settings, windowSize), Lang::tr("设置文件写入失败"));
}

void ConfigStore::toggleTheme(AppSettings& settings, const QSize& windowSize)
{
    settings.darkTheme = !settings.darkTheme;
    saveSettings(settings, windowSize);
}

bool ConfigStore::writeFile(const QString& path, const QByteArray& data, const QString& message)
{
    if (m_protected.contains(path)) {
        reportSaveFailure(path, message, QStringLiteral("the existing file could not be read and is kept as it is"));
        return false;
    }
    QString error;
    if (ktr::saveFileAtomic(path, data, &error))
        return true;
    reportSaveFailure(path, message, error);
    return false;
}

void ConfigStore::reportSaveFailure(const QString& path, const QString& message, const QString& detail)
{
    if (detail.isEmpty())
        qWarning().noquote() << "config save failed:" << path << message;
    else
        qWarning().noquote() << "config save failed:" << path << message << "(" + detail + ")";
    const qint64 now = m_clock->monotonicMs();
    const auto last = m_lastToastMs.constFind(path);
    if (last != m_lastToastMs.constEnd() && now - last.value() < kToastIntervalMs)
        return;
    m_lastToastMs.insert(path, now);
    if (m_toast)
        m_toast(message.isEmpty() ? Lang::tr("保存失败：无法写入配置文件") : message, 1);
}

bool ConfigStore::preserveCorruptFile(const QString& path, bool keepOriginal)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return false;
    const QString stamp = m_clock->now().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    QString candidate = path + QStringLiteral(".corrupt-") + stamp;
    for (int n = 0; n <= 99 && QFileInfo::exists(candidate); ++n)
        candidate = path + QStringLiteral(".corrupt-") +
                    m_clock->now().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + QLatin1Char('-') +
                    QString::number(n);
    bool ok = false;
    if (!QFileInfo::exists(candidate) && keepOriginal) {
        ok = QFile::copy(path, candidate);
    } else if (!QFileInfo::exists(candidate)) {
        ok = QFile::rename(path, candidate);
        if (!ok && QFile::copy(path, candidate)) {
            ok = true;
            QFile::remove(path);
        }
    }
    qWarning().noquote() << "corrupt config preserved:" << path << "->" << candidate
                         << "ok =" << (ok ? "true" : "false");
    return ok;
}
