#include "settings/backuppreview.h"

#include "ui/lang.h"
#include "ui/msgdialog.h"
#include "ui/settingskit.h"

#include <QPainter>
#include <QPixmap>

void previewBackupDialogs(const QString& folder)
{
    {
        MsgDialog card(nullptr, MsgDialog::Information, Lang::tr("备份与恢复"), Lang::tr("已创建备份快照。"),
                       {Lang::tr("确定")}, 0);
        const QPixmap cardShot = card.grab();
        reportCutLabels(&card);
        cardShot.save(folder + QStringLiteral("/msg-info.png"));
    }
    {
        MsgDialog card(nullptr, MsgDialog::Question, Lang::tr("还原快照"),
                       Lang::tr("还原将覆盖当前所有设置，确定继续吗？"), {Lang::tr("否"), Lang::tr("是")}, 1);
        const QPixmap cardShot = card.grab();
        reportCutLabels(&card);
        cardShot.save(folder + QStringLiteral("/msg-question.png"));
    }
    {
        MsgDialog card(nullptr, MsgDialog::Warning, Lang::tr("删除快照"),
                       Lang::tr("该备份快照将被永久删除，无法恢复。"), {Lang::tr("取消"), Lang::tr("删除")}, 1);
        const QPixmap cardShot = card.grab();
        reportCutLabels(&card);
        cardShot.save(folder + QStringLiteral("/msg-warning.png"));
    }
    BackupProgressDialog progress(nullptr, Lang::tr("正在创建备份快照…"), [] {});
    const QPixmap progressShot = progress.grab();
    reportCutLabels(&progress);
    progressShot.save(folder + QStringLiteral("/progress-backup.png"));
    progress.setProgress(45, QStringLiteral("正在创建备份快照…"));
    const QPixmap halfShot = progress.grab();
    reportCutLabels(&progress);
    halfShot.save(folder + QStringLiteral("/progress-backup-45.png"));
}

void renderBackupNavIconCandidates(const QString& folder)
{
    QPixmap pixmap(420, 150);
    pixmap.fill(Qt::white);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setFont(pixelFont(QStringLiteral("Microsoft YaHei UI"), 13, 600));
    p.setPen(QColor(0x1A, 0x1A, 0x1A));
    p.drawText(QPoint(16, 26), Lang::tr("备份图标候选（二选一）"));
    paintBackupGlyph(p, QPointF(70, 80), QColor(0x33, 0x33, 0x33), 0);
    paintBackupGlyph(p, QPointF(280, 80), QColor(0x33, 0x33, 0x33), 1);
    p.setFont(pixelFont(QStringLiteral("Microsoft YaHei UI"), 12, 400));
    p.setPen(QColor(0x3A, 0x3A, 0x3A));
    p.drawText(QPoint(16, 124), Lang::tr("① 云 + 向下箭头（默认）"));
    p.drawText(QPoint(226, 124), Lang::tr("② 数据库鼓"));
    p.end();
    pixmap.save(folder + QStringLiteral("/backup-nav-icons.png"));
}
