// The "--ui-preview=" run: every file it must write, their sizes and a few pixels, the state each generator
// leaves behind, a folder that can't be made, and the run as a start of the real program.
#include "app/diagnosticruns.h"
#include "panelprocess.h"
#include "preview/previewgenerators.h"
#include "preview/uipreview.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/theme.h"
#include "ui/uisignals.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>

namespace {

QStringList pngs(const char* const* names, int count)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << QString::fromLatin1(names[i]) + QStringLiteral(".png");
    return out;
}

// Everything the run leaves in its folder (and nothing else may be there).
QSet<QString> expectedFiles()
{
    static const char* const images[] = {
        // The account cards.
        "kick-confirm-1", "kick-confirm-2", "kick-confirm-unlimited", "kicked-elsewhere", "kicked-admin",
        "kicked-expired", "kicked-pending",
        // The update card.
        "update-dialog",
        // The password card.
        "lock-dialog-set", "lock-dialog-unlock", "lock-dialog-change",
        // The item menu and the lock screen.
        "item-menu", "lock-overlay-landscape", "lock-overlay-portrait", "lock-overlay-dark", "lock-overlay-unlock",
        "lock-overlay-photo",
        // The settings pages and the log viewer.
        "settings-lock-default", "settings-lock-custom", "settings-appearance-top", "settings-appearance-half",
        "settings-appearance-mid", "settings-general", "settings-icons-groups", "settings-monitor", "settings-protect",
        "settings-protect-model-moved", "settings-about", "settings-about-bottom", "settings-appearance-top-dark",
        "settings-general-dark", "settings-icons-dark", "settings-about-dark", "log-viewer", "log-viewer-dark",
        "log-viewer-narrow", "settings-general-bottom", "settings-protect-en", "settings-appearance-bg", "hint-bg",
        "settings-backup", "settings-backup-en",
        // The backup cards.
        "msg-info", "msg-question", "msg-warning", "msg-restore-defaults", "progress-backup", "progress-backup-45",
        "backup-nav-icons",
        // The glyph sheets and the shortcut dialog.
        "uibtn-glyphs", "rotate-icon-green", "uibtn-obfuscate-frames", "uibtn-hover-anim", "shortcut-edit-dialog",
        "shortcut-edit-dialog-nolnk"};
    QStringList all = pngs(images, int(std::size(images)));
    all << QStringLiteral("uibtn-glyphs-check.txt") << QStringLiteral("uibtn-obfuscate-anim-check.txt")
        << QStringLiteral("uibtn-ink.txt") << QStringLiteral("_backup_preview") << QStringLiteral("en");
    return QSet<QString>(all.cbegin(), all.cend());
}

QSet<QString> filesIn(const QString& folder)
{
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    return QSet<QString>(names.cbegin(), names.cend());
}

QString text(const QString& path)
{
    return QString::fromUtf8(ktr::test::readFile(path));
}

double meanLightness(const QImage& image)
{
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    qint64 sum = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            sum += qGray(img.pixel(x, y));
    return img.isNull() ? 0.0 : double(sum) / (double(img.width()) * img.height());
}

using Generator = void (*)(const QString&);
void itemMenuWithPanelKit(const QString& folder)
{
    previewItemMenu(folder, panelPreviewKit());
}

// Checks every output of one whole run in `folder`.
void checkRun(const QString& folder)
{
    const QSet<QString> present = filesIn(folder);
    const QSet<QString> expected = expectedFiles();
    QVERIFY2(present == expected,
             qPrintable(QStringLiteral("missing: %1\nunexpected: %2")
                            .arg(QStringList((expected - present).values()).join(QLatin1Char(' ')),
                                 QStringList((present - expected).values()).join(QLatin1Char(' ')))));

    // Fixed sizes where the sheets and lock screens have one.
    const std::pair<const char*, QSize> sizes[] = {
        {"lock-overlay-landscape.png", {900, 520}}, {"lock-overlay-portrait.png", {420, 700}},
        {"lock-overlay-dark.png", {900, 520}},      {"lock-overlay-unlock.png", {900, 520}},
        {"lock-overlay-photo.png", {900, 520}},     {"uibtn-glyphs.png", {632, 180}},
        {"rotate-icon-green.png", {240, 130}},      {"uibtn-obfuscate-frames.png", {512, 150}},
        {"uibtn-hover-anim.png", {406, 192}},
    };
    for (const auto& [name, size] : sizes)
        QCOMPARE(QImage(folder + QLatin1Char('/') + QLatin1String(name)).size(), size);

    // The nine sample snapshots, each of its own size in KiB.
    const std::pair<const char*, int> snapshots[] = {
        {"Kestrune-PreRestore-20261106-131626-000.zip", 1240}, {"Kestrune-Auto-20261106-131544-000.zip", 1180},
        {"Kestrune-Auto-20261106-131514-000.zip", 1160},       {"Kestrune-Auto-20261106-111421-000.zip", 1150},
        {"Kestrune-PreRestore-20261106-102330-000.zip", 1140}, {"Kestrune-PreRestore-20261106-102042-000.zip", 1130},
        {"Kestrune-Auto-20261106-101919-000.zip", 1120},       {"Kestrune-Auto-20261106-101909-000.zip", 1110},
        {"Kestrune-Auto-20261106-101817-000.zip", 1100},
    };
    const QString sampleDir = folder + QStringLiteral("/_backup_preview");
    QCOMPARE(QDir(sampleDir).entryList(QDir::Files).size(), 9);
    for (const auto& [name, kib] : snapshots)
        QCOMPARE(QFileInfo(sampleDir + QLatin1Char('/') + QLatin1String(name)).size(), qint64(kib) * 1024);

    // The checks the run makes of its own glyph sheets.
    QCOMPARE(text(folder + QStringLiteral("/uibtn-glyphs-check.txt")),
             QStringLiteral("max_channel_diff=0\nresult=PASS\n"));
    QVERIFY(text(folder + QStringLiteral("/uibtn-obfuscate-anim-check.txt"))
                .contains(QStringLiteral("static_max_diff=0\nresult=PASS\n")));
    const QStringList ink =
        text(folder + QStringLiteral("/uibtn-ink.txt")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(ink.size(), 11);
    QVERIFY2(ink.at(1).startsWith(QStringLiteral("1(设置): ink w=")), qPrintable(ink.at(1)));
    for (int id = 0; id < 11; ++id)
        QVERIFY2(ink.at(id).startsWith(QString::number(id) + QLatin1Char('(')), qPrintable(ink.at(id)));

    // A few pixels: the fills the sheets start from, the white behind the menu's corners, and the palettes.
    QCOMPARE(QImage(folder + QStringLiteral("/rotate-icon-green.png")).pixel(2, 2), qRgb(0x1E, 0x7A, 0x3C));
    QCOMPARE(QImage(folder + QStringLiteral("/uibtn-obfuscate-frames.png")).pixel(2, 2), qRgb(0xF7, 0xF8, 0xFC));
    QCOMPARE(QImage(folder + QStringLiteral("/uibtn-obfuscate-frames.png")).pixel(2, 88), qRgb(0xF7, 0xF8, 0xFC));
    QCOMPARE(QImage(folder + QStringLiteral("/item-menu.png")).pixel(0, 0), qRgb(255, 255, 255));
    const auto image = [&folder](const char* name) { return QImage(folder + QLatin1Char('/') + QLatin1String(name)); };
    QVERIFY(meanLightness(image("lock-overlay-dark.png")) + 40 < meanLightness(image("lock-overlay-landscape.png")));
    QVERIFY(meanLightness(image("settings-general-dark.png")) + 40 < meanLightness(image("settings-general.png")));
    QVERIFY(meanLightness(image("log-viewer-dark.png")) + 40 < meanLightness(image("log-viewer.png")));
    // The photo variant shows the sample picture, the plain one does not.
    QVERIFY(image("lock-overlay-photo.png").pixel(8, 510) != image("lock-overlay-landscape.png").pixel(8, 510));
    QVERIFY(image("settings-protect-en.png") != image("settings-protect.png"));
    QVERIFY(image("settings-backup-en.png") != image("settings-backup.png"));
    // After the run: the light palette and Chinese.
    QVERIFY(!currentTheme().isDark);
    QCOMPARE(Lang::language(), 0);
}

} // namespace

class TestUiPreview : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        setDarkTheme(false);
        Lang::setLanguage(0);
    }

    // Both an absolute folder and one relative to the current directory, made with its parents.
    void runWritesEveryFile_data()
    {
        QTest::addColumn<bool>("relative");
        QTest::newRow("absolute") << false;
        QTest::newRow("relative") << true;
    }
    void runWritesEveryFile()
    {
        QFETCH(bool, relative);
        const QString base = ktr::test::freshDir(relative ? QStringLiteral("rel") : QStringLiteral("abs"));
        const QString cwd = QDir::currentPath();
        QString folder = base + QStringLiteral("/out/deeper");
        if (relative) {
            QVERIFY(QDir::setCurrent(base));
            folder = QStringLiteral("out/deeper");
        }
        QString error;
        const bool ok = runUiPreview(folder, panelPreviewKit(), &error);
        QDir::setCurrent(cwd);
        QVERIFY2(ok, qPrintable(error));
        checkRun(base + QStringLiteral("/out/deeper"));
        // Nothing lands beside the output folder (no sample folder of a demo path made relative to it).
        QCOMPARE(filesIn(base), QSet<QString>{QStringLiteral("out")});
    }

    // Whatever a generator switches to for a variant, it leaves the light palette and Chinese behind.
    void generatorRestoresPaletteAndLanguage_data()
    {
        QTest::addColumn<void*>("generator");
        QTest::newRow("kick dialogs") << reinterpret_cast<void*>(&previewKickDialogs);
        QTest::newRow("item menu") << reinterpret_cast<void*>(&itemMenuWithPanelKit);
        QTest::newRow("lock overlay") << reinterpret_cast<void*>(&previewLockOverlay);
        QTest::newRow("settings general") << reinterpret_cast<void*>(&previewSettingsGeneral);
        QTest::newRow("settings 258") << reinterpret_cast<void*>(&previewSettings258);
        QTest::newRow("settings protect") << reinterpret_cast<void*>(&previewSettingsProtect);
        QTest::newRow("settings backup") << reinterpret_cast<void*>(&previewSettingsBackup);
        QTest::newRow("glyph sheets") << reinterpret_cast<void*>(&previewGlyphSheets);
    }
    void generatorRestoresPaletteAndLanguage()
    {
        QFETCH(void*, generator);
        const QString folder =
            ktr::test::freshDir(QStringLiteral("gen-") + QString::fromLatin1(QTest::currentDataTag()));
        QSignalSpy themes(&UiSignals::instance(), &UiSignals::themeChanged);
        reinterpret_cast<Generator>(generator)(folder);
        QVERIFY(!currentTheme().isDark);
        QCOMPARE(Lang::language(), 0);
        // A generator that went dark announced its way back too, so open windows repaint light.
        if (!themes.isEmpty())
            QCOMPARE(themes.last().at(0).toBool(), false);
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/_lockbg-sample.png")));
    }

    // A folder below a regular file can't be made, and an empty one would put the files into the root folder:
    // the run says so and draws nothing.
    void unmakeableFolderFails_data()
    {
        QTest::addColumn<QString>("sub");
        QTest::newRow("below a file") << QStringLiteral("/file/out");
        QTest::newRow("empty") << QString();
    }
    void unmakeableFolderFails()
    {
        QFETCH(QString, sub);
        const QString base =
            ktr::test::freshDir(QStringLiteral("blocked-") + QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(ktr::test::writeFile(base + QStringLiteral("/file"), "x"));
        const QString folder = sub.isEmpty() ? QString() : base + sub;
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(base));
        QString error;
        const bool ok = runUiPreview(folder, panelPreviewKit(), &error);
        QDir::setCurrent(cwd);
        QVERIFY(!ok);
        QVERIFY2(error.startsWith(Lang::tr("无法创建预览输出文件夹：%1").arg(QString())), qPrintable(error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(folder)), qPrintable(error));
        QCOMPARE(filesIn(base), QSet<QString>{QStringLiteral("file")});
    }

    // The real program: the run ends with 0 after writing the files and its log line, or with a failure and
    // the reason on the standard error stream; with "--icon-probe=" too only the probe runs.
    void asChildProcess_data()
    {
        QTest::addColumn<QString>("sub");
        QTest::addColumn<bool>("withProbe");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("writes") << QStringLiteral("child/out") << false << 0;
        QTest::newRow("below a file") << QStringLiteral("blocker/out") << false << 1;
        QTest::newRow("probe wins") << QStringLiteral("probed/out") << true << 0;
    }
    void asChildProcess()
    {
        QFETCH(QString, sub);
        QFETCH(bool, withProbe);
        QFETCH(int, exitCode);
        const QString base =
            ktr::test::freshDir(QStringLiteral("proc-") + QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(ktr::test::writeFile(base + QStringLiteral("/blocker"), "x"));
        const QString folder = base + QLatin1Char('/') + sub;
        QStringList args{QStringLiteral("--ui-preview=") + folder};
        if (withProbe)
            args.prepend(QStringLiteral("--icon-probe=") + base);
        QProcess p;
        p.start(QStringLiteral(KTR_PANEL_EXE), args);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        if (exitCode != 0) {
            QVERIFY(QString::fromLocal8Bit(p.readAllStandardError()).contains(QDir::toNativeSeparators(folder)));
            QVERIFY(!QFileInfo::exists(folder));
        } else if (withProbe) {
            QVERIFY(!QFileInfo::exists(folder));
        } else {
            QCOMPARE(filesIn(folder), expectedFiles());
            QVERIFY(ktr::test::panelLogText().contains(QStringLiteral("ui preview written to ") + folder));
        }
    }
};

KTR_TEST_MAIN(TestUiPreview)
#include "tst_uipreview.moc"
