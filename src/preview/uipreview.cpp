#include "preview/uipreview.h"

#include "lock/lockdialog.h"
#include "market/updatedialog.h"
#include "preview/previewgenerators.h"
#include "settings/backuppreview.h"
#include "ui/lang.h"
#include "ui/settingskit.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QWidget>

#include <memory>

namespace {

// Makes the output folder with its parents; every later step only writes into it.
bool makeOutputFolder(const QString& folder, QString* error)
{
    if (!folder.isEmpty() && QDir().mkpath(folder) && QFileInfo(folder).isDir())
        return true;
    qWarning().noquote() << "[uipreview] output folder can't be made:" << folder;
    if (error)
        *error = Lang::tr("无法创建预览输出文件夹：%1").arg(QDir::toNativeSeparators(folder));
    return false;
}

void grabTo(QWidget* widget, const QString& path)
{
    savePreviewShot(widget, path);
}

// The update card with a sample release of two items; setting the info shows it, so it is hidden again
// right after the shot.
void previewUpdateDialog(const QString& folder)
{
    auto card = std::make_unique<UpdateDialog>();
    card->setUpdateInfo(
        QStringLiteral("1.0.137"),
        QStringLiteral("① 新增应用市场分类浏览与断点续传下载，大文件下载中断后可以继续，不必再从头开始；\n"
                       "② 修复锁屏背景在高分辨率屏幕上偶尔显示模糊的问题，并缩短了启动时间。"),
        QString());
    grabTo(card.get(), folder + QStringLiteral("/update-dialog.png"));
    card->hide();
}

// The password card in its set, verify (with an error line) and change modes, never shown.
void previewLockDialogs(const QString& folder)
{
    auto set = std::make_unique<LockDialog>(LockDialog::Set);
    grabTo(set.get(), folder + QStringLiteral("/lock-dialog-set.png"));
    auto verify = std::make_unique<LockDialog>(LockDialog::Verify);
    verify->setError(Lang::tr("密码错误，请重试"));
    grabTo(verify.get(), folder + QStringLiteral("/lock-dialog-unlock.png"));
    auto change = std::make_unique<LockDialog>(LockDialog::Change);
    grabTo(change.get(), folder + QStringLiteral("/lock-dialog-change.png"));
}

// The shortcut dialog for a link entry and for a plain program, each with a transparent icon of its own so it
// loads none.
void previewShortcutDialogs(const QString& folder, const UiPreviewKit& kit)
{
    if (!kit.shortcutDialog)
        return;
    struct Sample
    {
        const char* file;
        QString itemPath;
        QString name;
        bool isLink;
        ShortcutInfo info;
    };
    ShortcutInfo link;
    link.target = QStringLiteral("/opt/Demo/demo");
    link.workingDir = QStringLiteral("/opt/Demo");
    link.arguments = QStringLiteral("--start --minimized");
    link.runAsAdmin = true;
    ShortcutInfo plain;
    plain.target = QStringLiteral("/usr/bin/gnome-text-editor");
    plain.workingDir = QStringLiteral("/home/user/Documents");
    plain.arguments = QStringLiteral("\"read me.txt\"");
    plain.runAsAdmin = false;
    const Sample samples[] = {
        {"/shortcut-edit-dialog.png", QStringLiteral("/home/user/Desktop/Demo.desktop"), QStringLiteral("Demo 应用"),
         true, link},
        {"/shortcut-edit-dialog-nolnk.png", QStringLiteral("/usr/bin/gnome-text-editor"), QStringLiteral("文本编辑器"),
         false, plain},
    };
    for (const Sample& s : samples) {
        QPixmap icon(32, 32);
        icon.fill(Qt::transparent);
        std::unique_ptr<QWidget> dialog(kit.shortcutDialog(s.itemPath, s.name, s.isLink, s.info, icon));
        if (dialog)
            grabTo(dialog.get(), folder + QLatin1String(s.file));
    }
}

} // namespace

void runUiPreviewTexts(const QString& folder, const UiPreviewKit& kit)
{
    previewKickDialogs(folder);
    previewUpdateDialog(folder);
    previewLockDialogs(folder);
    previewItemMenu(folder, kit);
    previewLockOverlay(folder);
    previewSettingsGeneral(folder);
    previewSettings258(folder);
    previewSettingsProtect(folder);
    previewSettingsBackup(folder);
    previewBackupDialogs(folder);
    previewShortcutDialogs(folder, kit);
}

bool runUiPreview(const QString& folder, const UiPreviewKit& kit, QString* error)
{
    if (!makeOutputFolder(folder, error))
        return false;
    runUiPreviewTexts(folder, kit);
    renderBackupNavIconCandidates(folder);
    previewGlyphSheets(folder);

    // The same dialogs, pages and cards in English, under "en".
    const QString english = folder + QStringLiteral("/en");
    if (QDir().mkpath(english)) {
        setPreviewBaseLanguage(1);
        runUiPreviewTexts(english, kit);
        setPreviewBaseLanguage(0);
    }
    return true;
}
