#include "preview/previewgenerators.h"

#include "icons/iconloader.h"
#include "settings/settingsdialog.h"
#include "support/logviewerdialog.h"
#include "ui/appsettings.h"
#include "ui/hintcarddialog.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/settingskit.h"
#include "ui/theme.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QWheelEvent>

#include <memory>

namespace {

std::unique_ptr<SettingsDialog> makeSettingsDialog(AppSettings* settings, const QList<Group>* groups)
{
    auto dialog = std::make_unique<SettingsDialog>(
        settings, previewProgramFolder(), [] {}, [](const AppSettings&) {}, [] {}, [] {}, [] {}, [] {}, [](bool) {},
        groups, [] {}, [](const QString&) {}, [](const QString&, const QMap<QString, QString>&) {});
    dialog->setFactoryResetHandler([] {});
    return dialog;
}

// The pages show real icons: each sample item's icon is loaded once before a dialog is built on the model.
void loadModelIcons(const QList<Group>& groups)
{
    for (const Group& g : groups)
        for (const Item& item : g.items)
            loadIconPixmap(item.path);
}

// A wheel turn over the page area; steps add up.
void scroll(QWidget* dialog, int d)
{
    const QPointF pos(320, 400);
    QWheelEvent wheel(pos, dialog->mapToGlobal(pos), QPoint(), QPoint(0, d), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false, Qt::MouseEventNotSynthesized, QPointingDevice::primaryPointingDevice());
    QCoreApplication::sendEvent(dialog, &wheel);
}

void save(QWidget* widget, const QString& folder, const QString& name, bool processEvents = true)
{
    if (processEvents)
        QCoreApplication::processEvents();
    savePreviewShot(widget, folder + QLatin1Char('/') + name);
}

int& baseLanguage()
{
    static int language = 0;
    return language;
}

// A left click at a point of the dialog.
void click(QWidget* widget, const QPoint& pos)
{
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, QPointF(pos), widget->mapToGlobal(QPointF(pos)), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &event);
    }
}

void shot(SettingsDialog* dialog, int page, const QString& folder, const QString& name)
{
    dialog->setPage(page);
    save(dialog, folder, name);
}

// The language for a variant, announced so open windows lay their texts out again.
void setPreviewLanguage(int language)
{
    Lang::setLanguage(language);
    Lang::notifyChanged();
}

void writeZeroFile(const QString& path, int kib)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    const QByteArray block(1024, '\0');
    for (int i = 0; i < kib; ++i)
        f.write(block);
}

} // namespace

void setPreviewBaseLanguage(int language)
{
    baseLanguage() = language == 1 ? 1 : 0;
    setPreviewLanguage(baseLanguage());
}

int previewBaseLanguage()
{
    return baseLanguage();
}

void savePreviewShot(QWidget* widget, const QString& path)
{
    const QPixmap shot = widget->grab();
    reportCutLabels(widget);
    shot.save(path);
}

// A data folder as a Linux user has it. Only shown: nothing of the preview creates or reads anything there
// that matters (the screenshots go to the output folder only).
QString previewProgramFolder()
{
    return QStringLiteral("/home/user/.local/share/Kestrune/KestrunePanel");
}

void addPreviewGroup(QList<Group>& groups, const QString& name, const QStringList& paths)
{
    Group g;
    g.name = Lang::tr(name);
    for (const QString& path : paths) {
        Item item;
        item.path = path;
        item.name = QFileInfo(path).completeBaseName();
        g.items.append(item);
    }
    groups.append(g);
}

QList<Group> previewModel(bool full)
{
    const QString bin = QStringLiteral("/usr/bin/");
    QStringList common{bin + QStringLiteral("gnome-text-editor"), bin + QStringLiteral("gimp"),
                       bin + QStringLiteral("gnome-calculator")};
    QStringList tools{bin + QStringLiteral("gnome-system-monitor")};
    if (full) {
        common << bin + QStringLiteral("gnome-terminal") << bin + QStringLiteral("nautilus");
        tools << bin + QStringLiteral("gnome-control-center") << bin + QStringLiteral("gnome-disks");
    }
    QList<Group> groups;
    addPreviewGroup(groups, QStringLiteral("常用"), common);
    addPreviewGroup(groups, QStringLiteral("工具"), tools);
    addPreviewGroup(groups, QStringLiteral("游戏"), {});
    return groups;
}

void previewSettingsGeneral(const QString& folder)
{
    const std::pair<const char*, QString> variants[] = {
        {"settings-lock-default.png", QString()},
        {"settings-lock-custom.png", QStringLiteral("/home/user/Videos/lock-demo.mp4")},
    };
    const QList<Group> noGroups;
    for (const auto& [name, lockBackground] : variants) {
        AppSettings settings;
        settings.lockBgPath = lockBackground;
        auto dialog = makeSettingsDialog(&settings, &noGroups);
        dialog->setPage(0);
        scroll(dialog.get(), -1920);
        save(dialog.get(), folder, QLatin1String(name), false);
    }
}

void previewSettings258(const QString& folder)
{
    QList<Group> groups = previewModel(true);
    loadModelIcons(groups);
    AppSettings settings;
    // A chosen background, so its card shows the thumbnail beside the opacity slider (a video: nothing is read).
    settings.bgImagePath = QStringLiteral("/home/user/Videos/panel-background.mp4");
    auto dialog = makeSettingsDialog(&settings, &groups);

    dialog->setPage(1);
    dialog->show();
    save(dialog.get(), folder, QStringLiteral("settings-appearance-top.png"));
    scroll(dialog.get(), -960);
    save(dialog.get(), folder, QStringLiteral("settings-appearance-half.png"));
    scroll(dialog.get(), -1920);
    save(dialog.get(), folder, QStringLiteral("settings-appearance-mid.png"));

    shot(dialog.get(), 0, folder, QStringLiteral("settings-general.png"));
    shot(dialog.get(), 3, folder, QStringLiteral("settings-icons-groups.png"));
    shot(dialog.get(), 4, folder, QStringLiteral("settings-monitor.png"));
    shot(dialog.get(), 5, folder, QStringLiteral("settings-protect.png"));

    // The model changes under the open page: every group's last item moves to the first group.
    for (int g = groups.size() - 1; g >= 0; --g) {
        if (groups[g].items.isEmpty())
            continue;
        const Item moved = groups[g].items.takeLast();
        groups[0].items.append(moved);
    }
    for (int i = 0; i < 20; ++i) {
        dialog->update();
        QCoreApplication::processEvents();
    }
    dialog->refresh();
    for (int i = 0; i < 10; ++i) {
        dialog->update();
        QCoreApplication::processEvents();
    }
    save(dialog.get(), folder, QStringLiteral("settings-protect-model-moved.png"), false);

    shot(dialog.get(), 2, folder, QStringLiteral("settings-about.png"));
    scroll(dialog.get(), -1920);
    scroll(dialog.get(), -1920);
    save(dialog.get(), folder, QStringLiteral("settings-about-bottom.png"));

    // Every page painted from top to bottom (not saved), so a text check sees every row.
    for (int page = 0; page < SettingsDialog::kPageCount; ++page) {
        dialog->setPage(page);
        for (int step = 0; step < 12; ++step) {
            QCoreApplication::processEvents();
            dialog->grab();
            scroll(dialog.get(), -240);
        }
    }

    const bool wasDark = currentTheme().isDark;
    setDarkTheme(true);
    dialog->applyEditorStyles();
    dialog->update();
    const std::pair<const char*, int> darkPages[] = {{"appearance-top", 1}, {"general", 0}, {"icons", 3}, {"about", 2}};
    for (const auto& [name, page] : darkPages)
        shot(dialog.get(), page, folder, QStringLiteral("settings-%1-dark.png").arg(QLatin1String(name)));
    setDarkTheme(wasDark);
    dialog->applyEditorStyles();
    dialog->update();
    dialog->hide();
    dialog.reset();

    LogViewerDialog viewer(previewProgramFolder());
    viewer.resize(900, 620);
    save(&viewer, folder, QStringLiteral("log-viewer.png"));
    setDarkTheme(true);
    viewer.applyTheme();
    viewer.reload();
    save(&viewer, folder, QStringLiteral("log-viewer-dark.png"));
    setDarkTheme(wasDark);
    viewer.applyTheme();
    // Narrow, the long log path is what gives way.
    viewer.resize(520, 620);
    save(&viewer, folder, QStringLiteral("log-viewer-narrow.png"));
}

void previewSettingsProtect(const QString& folder)
{
    const QList<Group> groups = previewModel(false);
    loadModelIcons(groups);
    AppSettings settings;
    auto dialog = makeSettingsDialog(&settings, &groups);

    dialog->setPage(5);
    dialog->show();
    save(dialog.get(), folder, QStringLiteral("settings-protect.png"));
    dialog->setPage(0);
    scroll(dialog.get(), -6400);
    save(dialog.get(), folder, QStringLiteral("settings-general-bottom.png"));
    setPreviewLanguage(1);
    shot(dialog.get(), 5, folder, QStringLiteral("settings-protect-en.png"));
    setPreviewLanguage(previewBaseLanguage());
    dialog->setPage(1);
    scroll(dialog.get(), -6400);
    save(dialog.get(), folder, QStringLiteral("settings-appearance-bg.png"));
    previewBackgroundHintCard(dialog.get(), folder + QStringLiteral("/hint-bg.png"));
    {
        // The footer's "restore defaults" asks first; the question card is grabbed and declined.
        ScopedCardRunner runner([&folder](QDialog& card) {
            savePreviewShot(&card, folder + QStringLiteral("/msg-restore-defaults.png"));
            return int(QDialog::Rejected);
        });
        click(dialog.get(), dialog->footerRect(2).center());
    }
    dialog->hide();
}

void previewSettingsBackup(const QString& folder)
{
    const QString sampleDir = folder + QStringLiteral("/_backup_preview");
    QDir().mkpath(sampleDir);
    // Named as this program names its snapshots (with milliseconds), so the page lists them.
    const std::pair<const char*, int> snapshots[] = {
        {"Kestrune-PreRestore-20261106-131626-000.zip", 1240}, {"Kestrune-Auto-20261106-131544-000.zip", 1180},
        {"Kestrune-Auto-20261106-131514-000.zip", 1160},       {"Kestrune-Auto-20261106-111421-000.zip", 1150},
        {"Kestrune-PreRestore-20261106-102330-000.zip", 1140}, {"Kestrune-PreRestore-20261106-102042-000.zip", 1130},
        {"Kestrune-Auto-20261106-101919-000.zip", 1120},       {"Kestrune-Auto-20261106-101909-000.zip", 1110},
        {"Kestrune-Auto-20261106-101817-000.zip", 1100},
    };
    for (const auto& [name, kib] : snapshots)
        writeZeroFile(sampleDir + QLatin1Char('/') + QLatin1String(name), kib);

    AppSettings settings;
    settings.backupDir = sampleDir;
    settings.backupAuto = true;
    settings.backupIntervalDays = 1;
    settings.backupRetain = 10;
    const QList<Group> noGroups;
    auto dialog = makeSettingsDialog(&settings, &noGroups);
    dialog->setPage(6);
    dialog->show();
    save(dialog.get(), folder, QStringLiteral("settings-backup.png"));
    setPreviewLanguage(1);
    shot(dialog.get(), 6, folder, QStringLiteral("settings-backup-en.png"));
    setPreviewLanguage(previewBaseLanguage());
    dialog->hide();
}
