// The rollback folder beside the data folder outlives its restore only when the process was ended in the
// middle of one, or when putting the data back failed. It is the one copy of the data as it was before:
// it is found at the next start and handled only as the user decides.

#include "backup/backupengine.h"
#include "backup/backupinternal.h"
#include "backup/rollbackprompt.h"
#include "platform/clock.h"
#include "platform/fileops.h"
#include "platform/fsentry.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/savefile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace backupdetail;

QString BackupEngine::rollbackDir(const QString& dataDir)
{
    return QDir::cleanPath(QFileInfo(dataDir).absoluteFilePath()) + QStringLiteral(".__restore_bak");
}

QString BackupEngine::findLeftoverRollback(const QString& dataDir, bool* complete)
{
    if (complete)
        *complete = false;
    const QString path = rollbackDir(dataDir);
    const ktr::platform::EntryStat st = ktr::platform::entryStat(path);
    if (!st.exists || st.isLink || !st.isDir)
        return {};
    if (complete)
        *complete = QFileInfo(rollbackJournalPath(path)).isFile() || QFileInfo(rollbackMarkerPath(path)).isFile();
    return path;
}

bool BackupEngine::putBackRollback(const QString& dataDir, QString* errorOut)
{
    QString unwanted;
    QString& error = errorOut ? *errorOut : unwanted;
    bool complete = false;
    const QString path = findLeftoverRollback(dataDir, &complete);
    if (path.isEmpty())
        return true;
    if (!complete) {
        // Made by a restore that ended before its copy was whole: the data folder was never touched.
        error = Lang::tr("回滚目录不完整，不能用它恢复数据：%1").arg(path);
        return false;
    }
    const EngineLock lock({dataDir}, nullptr);
    if (!lock.acquired()) {
        error = lock.error();
        return false;
    }
    const QString clean = QDir::cleanPath(QFileInfo(dataDir).absoluteFilePath());
    if (QFileInfo(rollbackJournalPath(path)).isFile()) {
        // A rollback kept by rename: the journal names what the restore replaced and added. Left behind by an
        // earlier run, it is only trusted whole: a line that leads through a link of the data folder refuses it.
        QList<JournalEntry> entries;
        const QString linked = readJournal(path, &entries) ? journalLinkedFolder(entries, clean) : QString();
        if (!linked.isEmpty())
            qWarning().noquote() << "putBackRollback: journal line leads through a link, refused:" << linked;
        if (!linked.isEmpty() || !putBackJournal(path, clean)) {
            qWarning().noquote() << "putBackRollback: rollback from snapshot failed:" << path;
            error = Lang::tr("无法用回滚目录恢复数据，该目录已保留：%1").arg(path);
            return false;
        }
        if (!discardRollback(path, clean))
            qWarning().noquote() << "putBackRollback: failed to clean rollback snapshot:" << path;
        qInfo().noquote() << "putBackRollback: data folder put back from" << path;
        return true;
    }
    // The marker names the snapshot folder that restore left out of its copy; it is left out here too.
    QByteArray marker;
    ktr::readFileCapped(rollbackMarkerPath(path), 64 * 1024, &marker);
    const QStringList lines = QString::fromUtf8(marker).split(QLatin1Char('\n'));
    const QString excluded = lines.size() > 1 ? lines.at(1) : BackupEngine::backupDir(clean);
    if (!rollBack(path, clean, excluded)) {
        qWarning().noquote() << "putBackRollback: rollback from snapshot failed:" << path;
        error = Lang::tr("无法用回滚目录恢复数据，该目录已保留：%1").arg(path);
        return false;
    }
    QFile::remove(rollbackMarkerPath(path));
    if (!removeTree(path))
        qWarning().noquote() << "putBackRollback: failed to clean rollback snapshot:" << path;
    qInfo().noquote() << "putBackRollback: data folder put back from" << path;
    return true;
}

bool BackupEngine::keepRollbackAside(const QString& dataDir, QString* keptAt, QString* errorOut)
{
    QString unwanted;
    QString& error = errorOut ? *errorOut : unwanted;
    const QString path = findLeftoverRollback(dataDir, nullptr);
    if (path.isEmpty())
        return true;
    const QString stamp = backupdetail::clock()->now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QLatin1Char('-') + stamp;
    for (int n = 2; ktr::platform::entryStat(target).exists; ++n)
        target = path + QLatin1Char('-') + stamp + QLatin1Char('-') + QString::number(n);
    QString renameError;
    if (!ktr::platform::renameNoReplace(path, target, &renameError)) {
        qWarning().noquote() << "keepRollbackAside:" << renameError;
        error = Lang::tr("无法移开回滚目录：%1").arg(path);
        return false;
    }
    QFile::remove(rollbackMarkerPath(target));
    if (keptAt)
        *keptAt = target;
    qInfo().noquote() << "keepRollbackAside: rollback folder kept at" << target;
    return true;
}

int offerLeftoverRollback(QWidget* parent, const QString& dataDir)
{
    bool complete = false;
    const QString path = BackupEngine::findLeftoverRollback(dataDir, &complete);
    if (path.isEmpty())
        return RollbackNone;
    const QString title = Lang::tr("发现未完成的还原");
    // The text says what the folder holds, as the restore's record shows it; nothing about the data folder
    // is claimed that the record can't prove.
    QString text;
    if (complete) {
        text = Lang::tr("上次还原快照时程序意外结束，数据目录可能只还原了一部分。\n回滚目录是完整的：它保存着还原替换下"
                        "的原有文件和还原新增文件的清单，可把数据恢复到还原前的状态：\n%1\n\n"
                        "是否现在恢复？\n选择“否”将把该目录移到一旁保留，不做任何删除。")
                   .arg(path);
    } else {
        text = Lang::tr("上次还原快照时程序意外结束，留下的回滚目录不完整（没有还原记录），不能用它恢复数据：\n%1\n\n"
                        "数据目录保持现在的内容。是否将该目录移到一旁保留？\n选择“否”则保持原样，下次启动再询问。")
                   .arg(path);
    }
    const int answer = ktr::dialogs::question(parent, title, text);
    QString error;
    const auto keepAside = [&]() {
        QString keptAt;
        if (!BackupEngine::keepRollbackAside(dataDir, &keptAt, &error))
            return false;
        ktr::dialogs::information(parent, title, Lang::tr("回滚目录已保留在：%1").arg(keptAt), 0);
        return true;
    };
    // A complete copy: yes puts the data back, no keeps the copy aside. An incomplete one can't be put
    // back: yes keeps it aside, no leaves it. No answer leaves everything as it is.
    int outcome = RollbackLeft;
    if (answer == 1 && complete)
        outcome = BackupEngine::putBackRollback(dataDir, &error) ? RollbackPutBack : RollbackFailed;
    else if ((answer == 0 && complete) || (answer == 1 && !complete))
        outcome = keepAside() ? RollbackKept : RollbackFailed;
    if (outcome == RollbackFailed)
        ktr::dialogs::information(parent, title, error, 2);
    return outcome;
}
