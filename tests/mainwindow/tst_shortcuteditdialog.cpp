#include "iconfixture.h"
#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "mainwindow/shortcuteditdialog.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

namespace {

const QString kItemPath = QStringLiteral("/opt/tools/editor.desktop");
const QColor kItemIconColor(0x20, 0xA0, 0x40);
const QColor kExeIconColor(0xC0, 0x30, 0x30);

// The icon loader answers from this table: the entry's own icon and an "executable" whose icon only the
// loader can make. Anything else yields nothing.
QImage fakeExtract(const QString& path)
{
    if (path == kItemPath)
        return ktr::test::IconFixture::square(64, kItemIconColor, 0);
    if (path.endsWith(QLatin1String("/tool.bin")))
        return ktr::test::IconFixture::square(64, kExeIconColor, 0);
    return {};
}

template <typename T> T* child(QWidget& w, const char* name)
{
    T* c = w.findChild<T*>(QLatin1String(name));
    if (!c)
        qFatal("missing child %s", name);
    return c;
}

ShortcutInfo sampleInfo()
{
    ShortcutInfo info;
    info.target = QStringLiteral("/usr/bin/editor");
    info.workingDir = QStringLiteral("/home/user/work");
    info.arguments = QStringLiteral("--new-window %U");
    info.iconPath = QStringLiteral("accessories-text-editor");
    info.iconIndex = 3;
    info.runAsAdmin = true;
    return info;
}

QImage render(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return img;
}

void saveShot(const QImage& img, const QString& name)
{
    if (qEnvironmentVariableIsSet("KTR_SHOT_DIR"))
        img.save(QStringLiteral("%1/%2.png").arg(qEnvironmentVariable("KTR_SHOT_DIR"), name));
}

// The colour at the centre of the icon box: the preview, which fills 40 x 40 of the 48 x 48 box.
QColor previewColor(ShortcutEditDialog& dlg)
{
    return render(dlg).pixelColor(dlg.iconBoxRect().center());
}

} // namespace

class TestShortcutEditDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { setIconExtractorForTesting(fakeExtract); }
    void init()
    {
        clearIconCache();
        setDarkTheme(false);
        Lang::setLanguage(0);
    }

    void fields_data()
    {
        QTest::addColumn<bool>("isLink");
        QTest::addColumn<QString>("expectedTarget");
        QTest::newRow("shortcut file shows its target") << true << QStringLiteral("/usr/bin/editor");
        QTest::newRow("plain entry shows its own path") << false << kItemPath;
    }
    void fields()
    {
        QFETCH(bool, isLink);
        QFETCH(QString, expectedTarget);
        ShortcutEditDialog dlg(kItemPath, QStringLiteral("Editor"), isLink, sampleInfo(), QPixmap());
        QCOMPARE(dlg.size(), QSize(520, 584));
        QVERIFY(dlg.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(dlg.isModal());
        auto* name = child<QLineEdit>(dlg, "nameEdit");
        QCOMPARE(name->text(), QStringLiteral("Editor"));
        QCOMPARE(name->selectedText(), QStringLiteral("Editor"));
        QCOMPARE(child<QLineEdit>(dlg, "targetEdit")->text(), expectedTarget);
        QCOMPARE(child<QLineEdit>(dlg, "workingDirEdit")->text(), QStringLiteral("/home/user/work"));
        QCOMPARE(child<QLineEdit>(dlg, "argumentsEdit")->text(), QStringLiteral("--new-window %U"));
        QCOMPARE(child<QLineEdit>(dlg, "workingDirEdit")->placeholderText(),
                 QString::fromUtf8("可选，如无需要留空即可。"));
        QCOMPARE(child<QLineEdit>(dlg, "argumentsEdit")->placeholderText(),
                 QString::fromUtf8("可选，如无需要留空即可。"));
        QVERIFY(child<QCheckBox>(dlg, "runAsAdminCheck")->isChecked());
        QCOMPARE(dlg.iconChoice(), int(ShortcutEditDialog::IconUntouched));
        // No icon was handed in: the loader's icon of the entry is shown.
        QCOMPARE(previewColor(dlg), kItemIconColor);
    }

    void givenIconIsShown()
    {
        QPixmap given(32, 32);
        given.fill(QColor(0x30, 0x50, 0xD0));
        ShortcutEditDialog dlg(kItemPath, QStringLiteral("Editor"), true, sampleInfo(), given);
        QCOMPARE(previewColor(dlg), QColor(0x30, 0x50, 0xD0));
    }

    // The arguments read with the entry are shown as a desktop entry's Exec line quotes them (not with the
    // tripled quotes of a Windows command line), and come back unchanged when left alone.
    void argumentsShownAsAnExecLine_data()
    {
        QTest::addColumn<QStringList>("argv");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << QStringList{"--new-window", "%U"} << "--new-window %U";
        QTest::newRow("spaces") << QStringList{"--file", "/home/u/My Notes/a.txt"}
                                << "--file \"/home/u/My Notes/a.txt\"";
        QTest::newRow("quotes inside") << QStringList{"-m", "say \"hi\""} << "-m \"say \\\"hi\\\"\"";
        QTest::newRow("shell characters") << QStringList{"$HOME", "a;b"} << "\"\\$HOME\" \"a;b\"";
        QTest::newRow("none") << QStringList() << "";
    }
    void argumentsShownAsAnExecLine()
    {
        QFETCH(QStringList, argv);
        QFETCH(QString, shown);
        // The entry's arguments as reading a desktop file gives them.
        const QString path = ktr::test::testRoot() + QStringLiteral("/shown.desktop");
        QVERIFY(ktr::test::writeFile(path, "[Desktop Entry]\nType=Application\nExec=" +
                                               desktopExecString(QStringList{"/usr/bin/tool"} + argv).toUtf8() + "\n"));
        ShortcutInfo info;
        QVERIFY(readShortcut(path, &info));
        QCOMPARE(QProcess::splitCommand(info.arguments), argv);
        ShortcutEditDialog dlg(path, QStringLiteral("Tool"), true, info, QPixmap());
        QCOMPARE(child<QLineEdit>(dlg, "argumentsEdit")->text(), shown);
        QCOMPARE(dlg.result().arguments, info.arguments);
        // Typed again as shown, they give the same arguments.
        child<QLineEdit>(dlg, "argumentsEdit")->setText(QLatin1Char(' ') + shown);
        QCOMPARE(QProcess::splitCommand(dlg.result().arguments), argv);
    }

    void result_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("workingDir");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<bool>("admin");
        QTest::addColumn<QStringList>("argv"); // what the launcher gets from the returned arguments
        QTest::newRow("trimmed target and folder, quoted arguments")
            << QStringLiteral("  Editor  ") << QStringLiteral("  /usr/bin/ed  ") << QStringLiteral(" /tmp ")
            << QStringLiteral("  -x 'a b'  ") << false << QStringList{"-x", "a b"};
        QTest::newRow("empty fields") << QStringLiteral("E") << QString() << QString() << QString() << true
                                      << QStringList();
        QTest::newRow("escapes of an Exec line") << QStringLiteral("E") << QStringLiteral("/usr/bin/sh") << QString()
                                                 << QStringLiteral("-c \"echo \\\"\\$HOME\\\" \\\\\" 100%") << false
                                                 << QStringList{"-c", "echo \"$HOME\" \\", "100%"};
    }
    void result()
    {
        QFETCH(QString, name);
        QFETCH(QString, target);
        QFETCH(QString, workingDir);
        QFETCH(QString, arguments);
        QFETCH(bool, admin);
        QFETCH(QStringList, argv);
        ShortcutEditDialog dlg(kItemPath, QStringLiteral("Editor"), true, sampleInfo(), QPixmap());
        child<QLineEdit>(dlg, "nameEdit")->setText(name);
        child<QLineEdit>(dlg, "targetEdit")->setText(target);
        child<QLineEdit>(dlg, "workingDirEdit")->setText(workingDir);
        child<QLineEdit>(dlg, "argumentsEdit")->setText(arguments);
        child<QCheckBox>(dlg, "runAsAdminCheck")->setChecked(admin);
        QCOMPARE(dlg.name(), name.trimmed());
        const ShortcutInfo r = dlg.result();
        QCOMPARE(r.target, target.trimmed());
        QCOMPARE(r.workingDir, workingDir.trimmed());
        QCOMPARE(QProcess::splitCommand(r.arguments), argv);
        QCOMPARE(r.runAsAdmin, admin);
        // The icon location is not edited here.
        QCOMPARE(r.iconPath, QStringLiteral("accessories-text-editor"));
        QCOMPARE(r.iconIndex, 3);
    }

    // How the dialog ends: only "确定" with a name accepts; Enter in a field means "确定".
    void closing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("expected"); // -1 = still open
        QTest::newRow("ok") << QStringLiteral("Editor") << QStringLiteral("ok") << int(QDialog::Accepted);
        QTest::newRow("ok with a blank name stays open") << QStringLiteral("   ") << QStringLiteral("ok") << -1;
        QTest::newRow("enter in the name edit")
            << QStringLiteral("Editor") << QStringLiteral("enter") << int(QDialog::Accepted);
        QTest::newRow("enter with a blank name stays open") << QString() << QStringLiteral("enter") << -1;
        QTest::newRow("cancel") << QStringLiteral("Editor") << QStringLiteral("cancel") << int(QDialog::Rejected);
        QTest::newRow("close glyph") << QStringLiteral("Editor") << QStringLiteral("close") << int(QDialog::Rejected);
        QTest::newRow("escape") << QStringLiteral("Editor") << QStringLiteral("escape") << int(QDialog::Rejected);
    }
    void closing()
    {
        QFETCH(QString, name);
        QFETCH(QString, action);
        QFETCH(int, expected);
        ShortcutEditDialog dlg(kItemPath, QStringLiteral("Editor"), true, sampleInfo(), QPixmap());
        int pickerCalls = 0;
        ktr::dialogs::Seams seams;
        seams.openFile = [&](QWidget*, const QString&, const QString&, const QString&) {
            ++pickerCalls;
            return QString();
        };
        seams.folder = [&](QWidget*, const QString&, const QString&) {
            ++pickerCalls;
            return QString();
        };
        const ktr::dialogs::ScopedSeams pickers(seams);
        auto* nameEdit = child<QLineEdit>(dlg, "nameEdit");
        nameEdit->setText(name);
        int code = -1;
        connect(&dlg, &QDialog::finished, this, [&](int r) { code = r; });
        dlg.open();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        child<QLineEdit>(dlg, "argumentsEdit")->setFocus();
        if (action == QLatin1String("ok"))
            QTest::mouseClick(child<QPushButton>(dlg, "okButton"), Qt::LeftButton);
        else if (action == QLatin1String("enter"))
            QTest::keyClick(child<QLineEdit>(dlg, "argumentsEdit"), Qt::Key_Return);
        else if (action == QLatin1String("cancel"))
            QTest::mouseClick(child<QPushButton>(dlg, "cancelButton"), Qt::LeftButton);
        else if (action == QLatin1String("close"))
            QTest::mouseClick(child<QPushButton>(dlg, "closeButton"), Qt::LeftButton);
        else
            QTest::keyClick(&dlg, Qt::Key_Escape);
        QCOMPARE(code, expected);
        QCOMPARE(dlg.isVisible(), expected < 0);
        QCOMPARE(pickerCalls, 0);
        if (expected < 0)
            QVERIFY(nameEdit->hasFocus());
    }

    // "更改图标" and "还原图标": what the preview shows and what the caller is told.
    void iconChoices_data()
    {
        QTest::addColumn<QStringList>("steps"); // "image", "exe", "other", "cancel", "restore"
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("chosenFile"); // file name below the fixture folder, empty = none
        QTest::addColumn<QColor>("preview");
        const QColor image(0x80, 0x40, 0xC0);
        QTest::newRow("image file") << QStringList{QStringLiteral("image")} << 1 << QStringLiteral("pic.png") << image;
        QTest::newRow("executable shows the loader's icon")
            << QStringList{QStringLiteral("exe")} << 1 << QStringLiteral("tool.bin") << kExeIconColor;
        QTest::newRow("cancelled picker changes nothing")
            << QStringList{QStringLiteral("cancel")} << 0 << QString() << kItemIconColor;
        QTest::newRow("restore after change")
            << QStringList{QStringLiteral("image"), QStringLiteral("restore")} << 2 << QString() << kItemIconColor;
        QTest::newRow("change after restore") << QStringList{QStringLiteral("restore"), QStringLiteral("image")} << 1
                                              << QStringLiteral("pic.png") << image;
    }
    void iconChoices()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, choice);
        QFETCH(QString, chosenFile);
        QFETCH(QColor, preview);
        const QString dir = ktr::test::freshDir(QStringLiteral("icons"));
        QVERIFY(ktr::test::IconFixture::square(32, QColor(0x80, 0x40, 0xC0), 0).save(dir + QStringLiteral("/pic.png")));
        QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/tool.bin"), "\x7f"
                                                                        "ELF not really"));

        QPixmap given(32, 32);
        given.fill(kItemIconColor);
        ShortcutEditDialog dlg(kItemPath, QStringLiteral("Editor"), true, sampleInfo(), given);
        QString answer;
        QString caption;
        QString filter;
        ktr::dialogs::Seams seams;
        seams.openFile = [&](QWidget*, const QString& c, const QString&, const QString& f) {
            caption = c;
            filter = f;
            return answer;
        };
        const ktr::dialogs::ScopedSeams pickers(seams);
        for (const QString& step : steps) {
            if (step == QLatin1String("restore")) {
                child<QPushButton>(dlg, "restoreIconButton")->click();
                continue;
            }
            answer = step == QLatin1String("image") ? dir + QStringLiteral("/pic.png")
                     : step == QLatin1String("exe") ? dir + QStringLiteral("/tool.bin")
                                                    : QString();
            child<QPushButton>(dlg, "changeIconButton")->click();
            QCOMPARE(caption, QString::fromUtf8("选择图标图片"));
            QVERIFY(filter.startsWith(QString::fromUtf8("图标图片 (*.png")));
        }
        QCOMPARE(dlg.iconChoice(), choice);
        QCOMPARE(dlg.chosenIconPath(), chosenFile.isEmpty() ? QString() : dir + QLatin1Char('/') + chosenFile);
        QCOMPARE(previewColor(dlg), preview);
    }

    void browse()
    {
        ShortcutEditDialog dlg(kItemPath, QStringLiteral("Editor"), true, sampleInfo(), QPixmap());
        QString file = QStringLiteral("/usr/bin/other");
        QString folder = QStringLiteral("/srv/data");
        QStringList captions;
        ktr::dialogs::Seams seams;
        seams.openFile = [&](QWidget*, const QString& c, const QString&, const QString&) {
            captions << c;
            return file;
        };
        seams.folder = [&](QWidget*, const QString& c, const QString&) {
            captions << c;
            return folder;
        };
        const ktr::dialogs::ScopedSeams pickers(seams);
        child<QPushButton>(dlg, "browseTargetButton")->click();
        child<QPushButton>(dlg, "browseWorkingDirButton")->click();
        QCOMPARE(captions, (QStringList{QString::fromUtf8("选择文件"), QString::fromUtf8("选择文件夹...")}));
        QCOMPARE(dlg.result().target, file);
        QCOMPARE(dlg.result().workingDir, folder);
        // A cancelled picker keeps what the fields hold.
        file.clear();
        folder.clear();
        child<QPushButton>(dlg, "browseTargetButton")->click();
        child<QPushButton>(dlg, "browseWorkingDirButton")->click();
        QCOMPARE(dlg.result().target, QStringLiteral("/usr/bin/other"));
        QCOMPARE(dlg.result().workingDir, QStringLiteral("/srv/data"));
        // The icon choice is not touched by the other pickers.
        QCOMPARE(dlg.iconChoice(), 0);
    }

    void dismissNotice()
    {
        ShortcutEditDialog dlg(kItemPath, QStringLiteral("Editor"), true, sampleInfo(), QPixmap());
        dlg.show();
        auto* noticeClose = child<QPushButton>(dlg, "noticeCloseButton");
        auto* ok = child<QPushButton>(dlg, "okButton");
        auto* nameEdit = child<QLineEdit>(dlg, "nameEdit");
        auto* check = child<QCheckBox>(dlg, "runAsAdminCheck");
        QVERIFY(noticeClose->isVisible());
        QCOMPARE(noticeClose->geometry(), QRect(QPoint(473, 65), QPoint(494, 86)));
        QCOMPARE(ok->geometry(), QRect(QPoint(312, 532), QPoint(399, 567)));
        QCOMPARE(nameEdit->geometry(), QRect(QPoint(82, 121), QPoint(499, 154)));
        QCOMPARE(dlg.iconBoxRect(), QRect(20, 114, 48, 48));
        const QColor noticeFill(234, 242, 252);
        const QPoint inStrip(dlg.noticeRect().left() + 5, dlg.noticeRect().center().y());
        QCOMPARE(render(dlg).pixelColor(inStrip), noticeFill);

        QTest::mouseClick(noticeClose, Qt::LeftButton);
        QVERIFY(dlg.noticeDismissed());
        QCOMPARE(dlg.size(), QSize(520, 530));
        QVERIFY(!noticeClose->isVisible());
        QCOMPARE(ok->geometry().top(), dlg.height() - 52);
        QCOMPARE(nameEdit->geometry().top(), 121 - 54);
        QCOMPARE(check->geometry().top(), 480 - 54);
        QCOMPARE(dlg.iconBoxRect().top(), 114 - 54);
        QVERIFY(render(dlg).pixelColor(inStrip) != noticeFill);

        dlg.dismissNotice(); // once only
        QCOMPARE(dlg.size(), QSize(520, 530));
        QCOMPARE(nameEdit->geometry().top(), 121 - 54);
    }

    // Colours of the painted parts and of the fields in both themes. In the dark theme the fields must not be
    // white: light text on a white field could not be read.
    void painting_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("english");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("notice");
        QTest::addColumn<QColor>("iconBox");
        QTest::newRow("light") << false << false << QColor(Qt::white) << QColor(234, 242, 252) << QColor(242, 244, 248);
        QTest::newRow("dark") << true << false << QColor(42, 46, 56) << QColor(30, 58, 95) << QColor(51, 56, 68);
        QTest::newRow("light english") << false << true << QColor(Qt::white) << QColor(234, 242, 252)
                                       << QColor(242, 244, 248);
    }
    void painting()
    {
        QFETCH(bool, dark);
        QFETCH(bool, english);
        QFETCH(QColor, background);
        QFETCH(QColor, notice);
        QFETCH(QColor, iconBox);
        setDarkTheme(dark);
        Lang::setLanguage(english ? 1 : 0);
        ShortcutEditDialog dlg(kItemPath, QString::fromUtf8("文本编辑器"), true, sampleInfo(), QPixmap());
        child<QLineEdit>(dlg, "workingDirEdit")->clear();
        dlg.show();
        const QImage img = render(dlg);
        saveShot(img, QStringLiteral("shortcutedit-") + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        QCOMPARE(img.pixelColor(300, 46), background);
        QCOMPARE(img.pixelColor(dlg.noticeRect().left() + 60, dlg.noticeRect().top() + 3), notice);
        QCOMPARE(img.pixelColor(dlg.iconBoxRect().left() + 2, dlg.iconBoxRect().center().y()), iconBox);
        QCOMPARE(img.pixelColor(dlg.iconBoxRect().center()), kItemIconColor);
        // The corners stay transparent (rounded, translucent window).
        QCOMPARE(img.pixelColor(0, 0).alpha(), 0);

        const QRect field = child<QLineEdit>(dlg, "argumentsEdit")->geometry();
        const QColor fill = img.pixelColor(field.right() - 4, field.center().y());
        const QColor text = dialogPalette().text;
        QVERIFY2(std::abs(fill.lightness() - text.lightness()) > 120,
                 qPrintable(QStringLiteral("field %1 text %2").arg(fill.name(), text.name())));
        QCOMPARE(fill, dark ? QColor(0x1F, 0x23, 0x2B) : QColor(Qt::white));

        // Every caption fits its button (text, 8 px padding each side, border).
        for (const char* name : {"browseTargetButton", "browseWorkingDirButton", "changeIconButton",
                                 "restoreIconButton", "okButton", "cancelButton"}) {
            auto* b = child<QPushButton>(dlg, name);
            QFont f(uiFontFamily());
            f.setPixelSize(12);
            QVERIFY2(QFontMetrics(f).horizontalAdvance(b->text()) + 18 <= b->width(), name);
        }
        QCOMPARE(child<QPushButton>(dlg, "browseTargetButton")->geometry().right(), dlg.width() - 21);
        QCOMPARE(child<QPushButton>(dlg, "browseWorkingDirButton")->width(),
                 child<QPushButton>(dlg, "browseTargetButton")->width());

        // The OK button carries the accent colour.
        const QRect okRect = child<QPushButton>(dlg, "okButton")->geometry();
        QCOMPARE(img.pixelColor(okRect.left() + 6, okRect.center().y()), currentTheme().accent);
    }

    // A press on a bare spot moves the window with the cursor; a press on a field does not.
    void dragging()
    {
        ShortcutEditDialog dlg(kItemPath, QStringLiteral("Editor"), true, sampleInfo(), QPixmap());
        dlg.move(100, 100);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QPoint start = dlg.pos();
        const QPoint bare(300, 20); // title row, right of the title text
        QVERIFY(!dlg.childAt(bare));
        QTest::mousePress(&dlg, Qt::LeftButton, {}, bare);
        QMouseEvent move(QEvent::MouseMove, QPointF(bare + QPoint(30, 40)),
                         QPointF(dlg.mapToGlobal(bare) + QPoint(30, 40)), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&dlg, &move);
        QTest::mouseRelease(&dlg, Qt::LeftButton, {}, bare + QPoint(30, 40));
        QCOMPARE(dlg.pos(), start + QPoint(30, 40));

        // A move after the release does nothing.
        QMouseEvent late(QEvent::MouseMove, QPointF(bare), QPointF(dlg.mapToGlobal(bare) + QPoint(50, 50)),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&dlg, &late);
        QCOMPARE(dlg.pos(), start + QPoint(30, 40));
    }
};

KTR_TEST_MAIN(TestShortcutEditDialog)
#include "tst_shortcuteditdialog.moc"
