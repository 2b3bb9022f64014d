// Page 6 of the settings dialog: the automatic backup's settings and the list of snapshots with create,
// export, refresh, restore and delete.
#include "settings/settingsdialog.h"

#include "backup/backupengine.h"
#include "backup/backupscheduler.h"
#include "platform/clock.h"
#include "settings/backupformat.h"
#include "settings/settingsids.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/msgdialog.h"
#include "ui/settingskit.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QPainter>

#include <algorithm>

QString formatByteSize(qint64 bytes)
{
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    if (bytes < 1048576)
        return QString::number(bytes / 1024) + QStringLiteral(" KB");
    return QString::number(double(bytes) / 1048576.0, 'f', 1) + QStringLiteral(" MB");
}

QString backupIntervalLabel(int days)
{
    switch (days) {
    case 1:
        return Lang::tr("每天");
    case 3:
        return Lang::tr("每 3 天");
    case 7:
        return Lang::tr("每周");
    case 30:
        return Lang::tr("每月");
    default:
        return QString::number(days) + Lang::tr(" 天");
    }
}

QString backupRetainLabel(int count)
{
    return QString::number(count) + Lang::tr(" 份");
}

QString snapshotTimeText(const QDateTime& time)
{
    return time.isValid() ? time.toString(QStringLiteral("yyyy/M/d h:mm")) : QStringLiteral("—");
}

QString backupFailureText(int op, const QString& message, const QString& backupDir)
{
    if ((op == 1 || op == 2) && BackupScheduler::isBlockedByFile(backupDir)) {
        if (!message.isEmpty())
            qWarning().noquote() << "[backup] operation" << op << "failed:" << message;
        return Lang::tr("备份目录「%1」不是文件夹，无法创建快照，请在上方「备份目录」中更改。")
            .arg(QDir::toNativeSeparators(backupDir));
    }
    const bool ours = std::any_of(message.cbegin(), message.cend(),
                                  [](QChar c) { return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF; });
    if (ours)
        return Lang::tr(message);
    if (!message.isEmpty())
        qWarning().noquote() << "[backup] operation" << op << "failed:" << message;
    switch (op) {
    case 1:
        return Lang::tr("创建备份快照失败，详细原因已写入运行日志。");
    case 2:
        return Lang::tr("还原快照失败，详细原因已写入运行日志。");
    case 3:
        return Lang::tr("导出备份文件失败，详细原因已写入运行日志。");
    default:
        return Lang::tr("操作失败，请稍后重试。");
    }
}

namespace {

QRect span(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

} // namespace

QString SettingsDialog::effectiveBackupDir() const
{
    return m_edited.backupDir.isEmpty() ? BackupEngine::backupDir(m_dataDir) : m_edited.backupDir;
}

QString SettingsDialog::lastAutoBackupText() const
{
    // The live record: the automatic backup writes its time there while the dialog is open.
    const QString stamp = m_main ? m_main->backupLastAt : m_edited.backupLastAt;
    const QDateTime last = QDateTime::fromString(stamp, Qt::ISODate);
    if (!last.isValid())
        return Lang::tr("尚无成功的自动备份");
    return Lang::tr("上次成功：%1").arg(snapshotTimeText(last));
}

void SettingsDialog::backupSummaryText(bool force)
{
    ktr::platform::Clock* clock = m_clock ? m_clock : ktr::platform::Clock::system();
    const qint64 now = clock->monotonicMs();
    // The folder is listed at most every 1.5 s; the text is built every time, so a change of language shows
    // at once.
    if (force || m_lastListMs <= 0 || now - m_lastListMs >= 1500) {
        // Listing only: a folder that is merely shown is not created (the first backup or "open" makes it).
        const QString folder = effectiveBackupDir();
        if (force)
            BackupEngine::removeStaleParts(folder, 21600);
        m_snapshots.clear();
        m_snapshotBytes = 0;
        for (const BackupEngine::SnapshotInfo& info : BackupEngine::listSnapshots(folder)) {
            m_snapshots.append({info.path, info.name, info.time, info.size, info.isPreRestore});
            m_snapshotBytes += info.size;
        }
        m_lastListMs = std::max<qint64>(now, 1);
    }
    QString summary = Lang::trCount("共 %1 个快照，占用 %2", m_snapshots.size())
                          .arg(m_snapshots.size())
                          .arg(formatByteSize(m_snapshotBytes));
    if (!m_snapshots.isEmpty() && m_snapshots.first().time.isValid())
        summary += Lang::tr("；最近一份：%1").arg(snapshotTimeText(m_snapshots.first().time));
    m_backupSummary = summary;
}

int SettingsDialog::layoutBackupPage(int A, int T)
{
    BackupPageLayout& L = m_backupLayout;
    L = BackupPageLayout();
    L.width = A;
    L.top = T;
    L.card1 = span(176, T, A + 175, T + 345);
    m_hits.append({span(A + 112, T + 77, A + 155, T + 98), 2, settingsids::AutoBackupSwitch});
    m_hits.append({span(A + 6, T + 134, A + 155, T + 165), 4, settingsids::BackupIntervalMenu});
    m_hits.append({span(A + 6, T + 196, A + 155, T + 227), 4, settingsids::BackupRetainMenu});
    L.pathBox = span(196, T + 294, A - 199, T + 325);
    m_hits.append({span(A - 188, T + 294, A - 81, T + 325), 4, settingsids::ChooseBackupFolder});
    m_hits.append({span(A - 70, T + 294, A + 37, T + 325), 4, settingsids::OpenBackupFolder});
    m_hits.append({span(A + 48, T + 294, A + 155, T + 325), 4, settingsids::BackupNow});

    const int U = T + 361;
    L.secondTop = U;
    const int Z = (A - 70) / 4;
    const int ids[4] = {settingsids::RestoreFromFile, settingsids::ExportSnapshot, settingsids::PurgeSnapshots,
                        settingsids::RefreshSnapshots};
    for (int k = 0; k < 4; ++k) {
        const int x = 196 + k * (Z + 10);
        m_hits.append({span(x, U + 62, x + Z - 1, U + 95), 4, ids[k]});
    }
    L.summary = span(196, U + 112, A + 155, U + 131);
    int end = U + 206;
    if (m_snapshots.isEmpty()) {
        L.empty = span(196, U + 146, A + 155, U + 205);
    } else {
        for (int i = 0; i < m_snapshots.size(); ++i) {
            const int y = U + 146 + 64 * i;
            L.rows.append(span(196, y, A + 155, y + 53));
            m_hits.append({span(A + 5, y + 12, A + 68, y + 41), 4, settingsids::snapshotRestoreId(i)});
            m_hits.append({span(A + 77, y + 12, A + 140, y + 41), 4, settingsids::snapshotDeleteId(i)});
        }
        end = U + 146 + 64 * int(m_snapshots.size());
    }
    L.card2 = span(176, U, A + 175, end + 19);
    m_contentBottom = L.card2.bottom() + 12;
    return U;
}

void SettingsDialog::paintBackupPage(QPainter* painter)
{
    QPainter& p = *painter;
    const DialogPalette pal = dialogRoles();
    const BackupPageLayout& L = m_backupLayout;
    const int A = L.width;
    const int T = L.top;
    const int U = L.secondTop;
    BackupCardContext ctx;
    ctx.painter = &p;
    ctx.fill = cardColour(pal.dark);
    ctx.palette = pal;
    ctx.titleFont = settingsFont13Bold();
    ctx.subtitleFont = settingsFont11();
    ctx.separator = pal.cardBorder;
    const auto cardGeometry = [A](const QRect& card, int top) {
        BackupCardGeometry g;
        g.card = card;
        g.glyphCentre = QPointF(202, top + 23);
        g.titleBox = span(222, top + 13, 391, top + 32);
        g.subtitleBox = span(400, top + 15, std::max(A + 155, 439), top + 30);
        g.separatorY = top + 46;
        return g;
    };
    paintBackupCard(ctx, cardGeometry(L.card1, T), QStringLiteral("自动备份"), 9,
                    QStringLiteral("按计划自动创建设置与应用数据的本地快照"));

    const auto rowText = [&](int titleTop, int right, const char* title, const char* description) {
        p.setFont(settingsFont13());
        p.setPen(pal.text);
        drawKitText(p, span(196, titleTop, right, titleTop + 19), Qt::AlignLeft | Qt::AlignVCenter, Lang::tr(title));
        if (!description)
            return;
        p.setFont(settingsFont11());
        p.setPen(pal.secondaryText);
        drawKitText(p, span(196, titleTop + 22, right, titleTop + 37), Qt::AlignLeft | Qt::AlignVCenter,
                    Lang::tr(description));
    };
    rowText(T + 66, A + 85, "启用自动备份", nullptr);
    {
        // The last success comes first, so that a failing automatic backup is seen here; the explanation
        // gives way when the line is short.
        const QRect line = span(196, T + 88, A + 85, T + 103);
        const QString text = lastAutoBackupText() + Lang::tr(" · ") + Lang::tr("开启后按下方间隔定时创建快照");
        p.setFont(settingsFont11());
        p.setPen(pal.secondaryText);
        p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(settingsFont11()).elidedText(text, Qt::ElideRight, line.width()));
    }
    paintToggle(p, span(A + 112, T + 77, A + 155, T + 98), m_edited.backupAuto, pal);
    rowText(T + 128, A - 11, "备份间隔", "多久创建一份新的自动快照");
    paintButton(p, pal, span(A + 6, T + 134, A + 155, T + 165), settingsids::BackupIntervalMenu,
                backupIntervalLabel(m_edited.backupIntervalDays));
    rowText(T + 190, A - 11, "保留快照份数", "达到上限后自动删除最旧的快照");
    paintButton(p, pal, span(A + 6, T + 196, A + 155, T + 227), settingsids::BackupRetainMenu,
                backupRetainLabel(m_edited.backupRetain));
    rowText(T + 252, A + 155, "备份目录", "自动快照保存位置，留空时使用默认目录");
    p.save();
    p.setPen(QPen(pal.cardBorder, 1));
    p.setBrush(pal.dark ? QColor(0x22, 0x22, 0x22) : QColor(0xF3, 0xF4, 0xF6));
    p.drawRoundedRect(QRectF(L.pathBox).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    p.setFont(settingsFont11());
    p.setPen(pal.text);
    const QRect pathText = L.pathBox.adjusted(10, 0, -10, 0);
    drawKitText(p, pathText, Qt::AlignLeft | Qt::AlignVCenter, effectiveBackupDir(), TextFit::ElideMiddle);
    p.restore();
    paintButton(p, pal, span(A - 188, T + 294, A - 81, T + 325), settingsids::ChooseBackupFolder, Lang::tr("更改目录"));
    paintButton(p, pal, span(A - 70, T + 294, A + 37, T + 325), settingsids::OpenBackupFolder, Lang::tr("打开目录"));
    paintButton(p, pal, span(A + 48, T + 294, A + 155, T + 325), settingsids::BackupNow, Lang::tr("恢复默认目录"));

    paintBackupCard(ctx, cardGeometry(L.card2, U), QStringLiteral("本机快照"), 10,
                    QStringLiteral("自动快照用于故障恢复，还原前快照用于撤消最近一次还原"));
    const int Z = (A - 70) / 4;
    const char* const labels[4] = {"导出备份", "立即备份", "刷新", "从文件还原"};
    const int ids[4] = {settingsids::RestoreFromFile, settingsids::ExportSnapshot, settingsids::PurgeSnapshots,
                        settingsids::RefreshSnapshots};
    for (int k = 0; k < 4; ++k) {
        const int x = 196 + k * (Z + 10);
        paintButton(p, pal, span(x, U + 62, x + Z - 1, U + 95), ids[k], Lang::tr(labels[k]), k == 1);
    }
    p.setFont(settingsFont11());
    p.setPen(pal.secondaryText);
    drawKitText(p, L.summary, Qt::AlignLeft | Qt::AlignVCenter, m_backupSummary);

    if (m_snapshots.isEmpty() || L.rows.isEmpty()) {
        p.save();
        p.setPen(Qt::NoPen);
        p.setBrush(pal.dark ? QColor(0x28, 0x28, 0x28) : QColor(0xFA, 0xFB, 0xFC));
        p.drawRoundedRect(QRectF(L.empty), 8, 8);
        p.setFont(settingsFont11());
        p.setPen(pal.secondaryText);
        drawKitText(p, L.empty, Qt::AlignCenter, Lang::tr("暂无快照，点击「立即备份」创建第一份。"));
        p.restore();
        return;
    }
    const QFontMetrics small(settingsFont11());
    for (int i = 0; i < L.rows.size() && i < m_snapshots.size(); ++i) {
        const SnapshotRow& row = m_snapshots.at(i);
        const int y = L.rows.at(i).top();
        p.save();
        p.setPen(Qt::NoPen);
        p.setBrush(pal.dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(0xF7, 0xF8, 0xFA));
        p.drawRoundedRect(QRectF(L.rows.at(i)), 8, 8);
        p.setFont(settingsFont13());
        p.setPen(pal.text);
        const QString first =
            Lang::tr(row.preRestore ? "还原前快照" : "自动快照") + Lang::tr(" · ") + snapshotTimeText(row.time);
        drawKitText(p, span(210, y + 8, A - 11, y + 25), Qt::AlignLeft | Qt::AlignVCenter, first);
        p.setFont(settingsFont11());
        p.setPen(pal.secondaryText);
        const QRect second = span(210, y + 29, A - 11, y + 44);
        const QString lead = formatByteSize(row.size) + Lang::tr("  ·  ");
        const int leadWidth = small.horizontalAdvance(lead);
        p.drawText(second, Qt::AlignLeft | Qt::AlignVCenter,
                   lead + small.elidedText(row.name, Qt::ElideMiddle, std::max(0, second.width() - leadWidth)));
        p.restore();
        paintButton(p, pal, span(A + 5, y + 12, A + 68, y + 41), settingsids::snapshotRestoreId(i), Lang::tr("还原"));
        paintButton(p, pal, span(A + 77, y + 12, A + 140, y + 41), settingsids::snapshotDeleteId(i), Lang::tr("删除"));
    }
}

void SettingsDialog::runBackupPageAction(int id)
{
    switch (id) {
    case settingsids::AutoBackupSwitch:
        m_edited.backupAuto = !m_edited.backupAuto;
        report();
        update();
        return;
    case settingsids::ChooseBackupFolder: {
        const QString chosen = ktr::dialogs::chooseFolder(this, Lang::tr("选择备份目录"), effectiveBackupDir());
        m_pressedId = -1;
        m_hoveredId = -1;
        if (chosen.isEmpty())
            return;
        m_edited.backupDir = QDir::toNativeSeparators(chosen);
        backupSummaryText(true);
        relayout();
        update();
        return;
    }
    case settingsids::BackupNow:
        m_edited.backupDir.clear();
        backupSummaryText(true);
        relayout();
        update();
        return;
    case settingsids::OpenBackupFolder:
        // Asked to open it: the file manager needs the folder to exist.
        QDir().mkpath(effectiveBackupDir());
        openFolder(effectiveBackupDir());
        return;
    case settingsids::PurgeSnapshots:
        backupSummaryText(true);
        relayout();
        update();
        return;
    case settingsids::ExportSnapshot:
        runBackupOp(1, QString(), QString());
        return;
    case settingsids::RestoreFromFile: {
        if (m_snapshots.isEmpty()) {
            showInfoCard(Lang::tr("导出备份"), Lang::tr("当前没有可导出的快照。"), {});
            return;
        }
        // Copies: the list may be listed again while the file dialog runs its own loop.
        const QString source = m_snapshots.first().path;
        const QString proposed = QDir::homePath() + QLatin1Char('/') + m_snapshots.first().name;
        const QString target =
            ktr::dialogs::saveFile(this, Lang::tr("导出备份"), proposed, Lang::tr("ZIP 压缩包 (*.zip)"));
        m_pressedId = -1;
        m_hoveredId = -1;
        if (target.isEmpty())
            return;
        runBackupOp(3, source, QDir::toNativeSeparators(target));
        return;
    }
    case settingsids::RefreshSnapshots: {
        // A snapshot from elsewhere (another computer, a copy named by hand that the list leaves out): the
        // user picks the zip, and it goes through the same question and checks as a listed one.
        const QString chosen = ktr::dialogs::openFile(this, Lang::tr("选择要还原的快照"), effectiveBackupDir(),
                                                      Lang::tr("ZIP 压缩包 (*.zip)"));
        m_pressedId = -1;
        m_hoveredId = -1;
        if (chosen.isEmpty())
            return;
        SnapshotRow row;
        row.path = QDir::toNativeSeparators(chosen);
        confirmRestore(row);
        return;
    }
    default:
        return;
    }
}

void SettingsDialog::runSnapshotRowAction(bool restore, int row)
{
    if (row < 0 || row >= m_snapshots.size())
        return;
    if (restore) {
        const SnapshotRow chosen = m_snapshots.at(row);
        confirmRestore(chosen);
        return;
    }
    // The question runs its own event loop, in which a queued refresh may list the folder again: keep the
    // path, not the row number, and look the snapshot up again afterwards.
    const QString path = m_snapshots.at(row).path;
    if (MsgDialog::ask(this, Lang::tr("删除快照"), Lang::tr("确定删除该快照？此操作不可撤销。")) != 1)
        return;
    const bool listed =
        std::any_of(m_snapshots.cbegin(), m_snapshots.cend(), [&path](const SnapshotRow& r) { return r.path == path; });
    if (listed && !QFile::remove(path))
        qWarning().noquote() << "delete snapshot failed:" << path;
    backupSummaryText(true);
    relayout();
    update();
}

void SettingsDialog::confirmRestore(const SnapshotRow& row)
{
    // A copy before the question: `row` may be an element of the list a refresh rebuilds meanwhile.
    const QString path = row.path;
    if (MsgDialog::ask(
            this, Lang::tr("还原快照"),
            Lang::tr("还原将用该快照覆盖当前设置与数据，并自动生成一个「还原前快照」以便撤销。确定继续？")) != 1)
        return;
    if (!QFile::exists(path))
        return;
    runBackupOp(2, path, QString());
}
