// The log viewer: reading the tail of a log file, the file it picks, the header, copy and folder, its size
// over a parent, and what it looks like.

#include "fifoguard.h"
#include "platform/localcodepage.h"
#include "platform/sysinfo.h"
#include "platform/version.h"
#include "support/logviewerdialog.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/log.h"
#include "ui/theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>

namespace {

QString writeTemp(const QString& name, const QByteArray& bytes)
{
    const QString path = ktr::test::freshDir(QStringLiteral("tail")) + QLatin1Char('/') + name;
    return ktr::test::writeFile(path, bytes) ? path : QString();
}

QImage render(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

} // namespace

class TestLogViewer : public QObject
{
    Q_OBJECT

    QString m_dataDir;

private Q_SLOTS:
    void initTestCase()
    {
        m_dataDir = ktr::test::freshDir(QStringLiteral("data"));
        installLogging(m_dataDir);
        qInfo() << "first line of the test log";
    }

    void tailSize_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("cut");
        QTest::newRow("exactly 8 MiB") << qint64(8388608) << false;
        QTest::newRow("one byte more") << qint64(8388609) << true;
    }
    void tailSize()
    {
        QFETCH(qint64, size);
        QFETCH(bool, cut);
        // Lines of 64 bytes ("line NNNNNN ...\n"); the file starts with a marker byte so a cut moves the start.
        QByteArray bytes;
        bytes.reserve(size);
        int n = 0;
        while (bytes.size() < size) {
            QByteArray line = QByteArray("line ") + QByteArray::number(n++).rightJustified(7, '0') + ' ';
            line += QByteArray(63 - line.size(), 'x') + '\n';
            bytes += line;
        }
        bytes = bytes.right(size);
        const QString path = writeTemp(QStringLiteral("big.log"), bytes);
        const QString text = readLogTail(path);
        const QString note = Lang::tr("（日志较大，仅显示最近 8 MB）") + QStringLiteral("\n\n");
        QCOMPARE(text.startsWith(note), cut);
        if (!cut) {
            QCOMPARE(text.size(), size);
        } else {
            // The last 8 MiB start one byte into a line; the text starts at the next whole line.
            const QByteArray tail = bytes.right(8388608);
            const QByteArray expected = tail.mid(tail.indexOf('\n') + 1);
            QCOMPARE(text.mid(note.size()).toUtf8(), expected);
            QVERIFY(text.mid(note.size()).startsWith(QStringLiteral("line ")));
        }
    }

    void decoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF日志\n第二行") << QStringLiteral("日志\n第二行");
        QTest::newRow("trailing line feed kept") << QByteArray("a\nb\n") << QStringLiteral("a\nb\n");
        QTest::newRow("carriage returns stay") << QByteArray("a\r\nb") << QStringLiteral("a\r\nb");
        QTest::newRow("empty") << QByteArray() << QString();
    }
    void decoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(readLogTail(writeTemp(QStringLiteral("d.log"), bytes)), expected);
    }

    void invalidLineAmongUtf8()
    {
        const QByteArray bad("\xC4\xE3\xBA\xC3"); // GBK bytes, not UTF-8
        const QString text = readLogTail(writeTemp(QStringLiteral("mixed.log"), "中文一\n" + bad + "\n中文二"));
        const QStringList lines = text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0), QStringLiteral("中文一"));
        // Decoded with this machine's 8-bit code page, never as UTF-8 again.
        QCOMPARE(lines.at(1), decodeLogText(bad, ktr::platform::localCodePageName()));
        QVERIFY(!lines.at(1).contains(QChar::ReplacementCharacter));
        QCOMPARE(lines.at(2), QStringLiteral("中文二"));
        QCOMPARE(readLogTail(QStringLiteral("/nonexistent/app.log")), QString());
    }

    // Lines that are not UTF-8 are read in the code page of the locale: what a program writing GBK under a
    // Chinese locale, or Latin-1 under an ISO-8859-1 one, meant.
    void localCodePageLines_data()
    {
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<QByteArray>("systemCodeset");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const QByteArray gbk("\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7"); // 你好，世界
        const QByteArray latin1("caf\xE9 cr\xE8me br\xFBl\xE9"
                                "e");
        QTest::newRow("GBK line, Chinese UTF-8 locale")
            << QByteArray("zh_CN.UTF-8") << QByteArray("UTF-8") << gbk << QStringLiteral("你好，世界");
        QTest::newRow("GBK line, locale names GBK")
            << QByteArray("zh_CN.GBK") << QByteArray("ANSI_X3.4-1968") << gbk << QStringLiteral("你好，世界");
        QTest::newRow("Latin-1 line, ISO-8859-1 locale") << QByteArray("en_US.ISO-8859-1") << QByteArray("ISO-8859-1")
                                                         << latin1 << QStringLiteral("café crème brûlée");
        QTest::newRow("UTF-8 lines stay UTF-8 under a Chinese locale")
            << QByteArray("zh_CN.UTF-8") << QByteArray("UTF-8") << QByteArray("日志 café\n第二行")
            << QStringLiteral("日志 café\n第二行");
        QTest::newRow("mixed file, each line on its own")
            << QByteArray("zh_CN.UTF-8") << QByteArray("UTF-8")
            << QByteArray("[INFO] 启动\n[WARN] " + gbk + "\n\n[INFO] 结束\n")
            << QStringLiteral("[INFO] 启动\n[WARN] 你好，世界\n\n[INFO] 结束\n");
        QTest::newRow("Latin-1 line, English UTF-8 locale")
            << QByteArray("en_US.UTF-8") << QByteArray("UTF-8") << latin1 << QStringLiteral("café crème brûlée");
    }
    void localCodePageLines()
    {
        QFETCH(QByteArray, locale);
        QFETCH(QByteArray, systemCodeset);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(decodeLogText(bytes, ktr::platform::localCodePageName(locale, systemCodeset)), expected);
    }

    // A named pipe in the log's place is not opened: the viewer shows nothing instead of waiting for a writer.
    void namedPipeNeverOpened()
    {
        const QString path = ktr::test::freshDir(QStringLiteral("pipe")) + QStringLiteral("/app.log");
        ktr::test::FifoGuard pipe(path);
        QVERIFY(pipe.made());
        const QString text = readLogTail(path);
        QVERIFY2(pipe.done(), "the log viewer waited on a named pipe");
        QCOMPARE(text, QString());
    }

    void chosenFile_data()
    {
        QTest::addColumn<QStringList>("withLog"); // day folders holding an app.log
        QTest::addColumn<QStringList>("without");
        QTest::addColumn<QString>("expected");
        const QString today = QStringLiteral("2026-01-15");
        QTest::newRow("today's") << QStringList{today, QStringLiteral("2026-01-05")} << QStringList{} << today;
        QTest::newRow("the greatest name holding one")
            << QStringList{QStringLiteral("2026-01-03"), QStringLiteral("2026-01-05")} << QStringList{today}
            << QStringLiteral("2026-01-05");
        QTest::newRow("a name sorting after the dates wins")
            << QStringList{QStringLiteral("2026-01-05"), QStringLiteral("zzz")} << QStringList{}
            << QStringLiteral("zzz");
        QTest::newRow("none: today's missing path")
            << QStringList{} << QStringList{QStringLiteral("2026-01-09")} << today;
    }
    void chosenFile()
    {
        QFETCH(QStringList, withLog);
        QFETCH(QStringList, without);
        QFETCH(QString, expected);
        const QString root = ktr::test::freshDir(QStringLiteral("root"));
        for (const QString& d : withLog)
            QVERIFY(ktr::test::writeFile(root + QLatin1Char('/') + d + QStringLiteral("/app.log"), "x"));
        for (const QString& d : without)
            QVERIFY(QDir().mkpath(root + QLatin1Char('/') + d));
        QCOMPARE(chooseLogFile(root, QDate(2026, 1, 15)),
                 root + QLatin1Char('/') + expected + QStringLiteral("/app.log"));
        QCOMPARE(chooseLogFile(QString(), QDate(2026, 1, 15)), QString());
    }

    void systemLine_data()
    {
        QTest::addColumn<QByteArray>("osRelease");
        QTest::addColumn<QString>("kernel");
        QTest::addColumn<QString>("expected");
        QTest::newRow("pretty name")
            << QByteArray(
                   "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION_ID=\"12\"\n")
            << "6.1.0-18-amd64"
            << "Debian GNU/Linux 12 (bookworm) · Linux 6.1.0-18-amd64 (x86_64)";
        QTest::newRow("name and version") << QByteArray("# comment\nNAME=Fedora\nVERSION_ID=40\n") << "6.8.5"
                                          << "Fedora 40 · Linux 6.8.5 (x86_64)";
        QTest::newRow("single quotes and escapes") << QByteArray("PRETTY_NAME='My \"OS\"'\n") << ""
                                                   << "My \"OS\"";
        QTest::newRow("no os-release") << QByteArray() << "6.1.0"
                                       << "Linux 6.1.0 (x86_64)";
        QTest::newRow("nothing") << QByteArray() << ""
                                 << "fallback";
    }
    void systemLine()
    {
        QFETCH(QByteArray, osRelease);
        QFETCH(QString, kernel);
        QFETCH(QString, expected);
        QCOMPARE(ktr::platform::describeSystem(osRelease, kernel,
                                               kernel.isEmpty() ? QString() : QStringLiteral("x86_64"),
                                               QStringLiteral("fallback")),
                 expected);
        QVERIFY(!ktr::platform::systemDescription().isEmpty());
    }

    void headerCopyAndFolder()
    {
        QList<QUrl> opened;
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl& u) {
            opened.append(u);
            return true;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        LogViewerDialog dialog(m_dataDir);
        QCOMPARE(dialog.geometry(), QRect(120, 120, 920, 680));
        const QString text = dialog.text();
        const QString version = ktr::platform::compiledVersion();
        QVERIFY(!version.isEmpty());
        QVERIFY(text.contains(QStringLiteral("程序版本: v") + version + QLatin1Char('\n')));
        QVERIFY(text.contains(QStringLiteral("系统版本: ") + ktr::platform::systemDescription() + QLatin1Char('\n')));
        QVERIFY(text.contains(QStringLiteral("数据目录: ") + m_dataDir + QLatin1Char('\n')));
        QVERIFY(text.contains(QStringLiteral("设置文件: ") + m_dataDir + QStringLiteral("/settings.json\n")));
        QVERIFY(text.contains(QStringLiteral("日志根目录: ") + logRootDir() + QLatin1Char('\n')));
        QVERIFY(text.contains(QStringLiteral("Qt 版本: ") + QStringLiteral(QT_VERSION_STR)));
        QVERIFY(text.contains(QString(56, QChar(0x2500)) + QStringLiteral("\n\n")));
        QVERIFY(text.contains(QStringLiteral("first line of the test log")));
        const int blocks = dialog.logView()->document()->blockCount();
        QCOMPARE(dialog.statusText(), QStringLiteral("%1 行 · 明文展示").arg(blocks));

        dialog.copyLog();
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
        QCOMPARE(dialog.statusText(), QStringLiteral("已复制 %1 行到剪贴板").arg(blocks));

        dialog.openLogFolder();
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(logRootDir())});

        // Auto-scroll: the end after a refresh; unchecked, the top.
        for (int i = 0; i < 200; ++i)
            qInfo() << "filler line" << i;
        dialog.resize(920, 680);
        dialog.show();
        dialog.reload();
        QScrollBar* bar = dialog.logView()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        dialog.autoScrollBox()->setChecked(false);
        dialog.reload();
        QCOMPARE(bar->value(), 0);
    }

    void sizeFromParent_data()
    {
        QTest::addColumn<QSize>("parent");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("800 x 500") << QSize(800, 500) << QSize(800, 480);
        QTest::newRow("1920 x 1040") << QSize(1920, 1040) << QSize(920, 680);
        QTest::newRow("1000 x 600") << QSize(1000, 600) << QSize(920, 560);
    }
    void sizeFromParent()
    {
        QFETCH(QSize, parent);
        QFETCH(QSize, expected);
        const QRect g = LogViewerDialog::geometryFor(QRect(QPoint(100, 50), parent));
        QCOMPARE(g.size(), expected);
        QCOMPARE(g.topLeft(),
                 QPoint(100 + (parent.width() - expected.width()) / 2, 50 + (parent.height() - expected.height()) / 2));
        QWidget owner;
        owner.setGeometry(QRect(QPoint(100, 50), parent));
        LogViewerDialog dialog(m_dataDir, &owner);
        QCOMPARE(dialog.size(), expected);
        QCOMPARE(dialog.closeRect(), QRect(QPoint(expected.width() - 44, 10), QPoint(expected.width() - 11, 39)));
    }

    // Over the panel, but whole on its screen wherever the panel stands.
    void staysOnScreen_data()
    {
        QTest::addColumn<QRect>("panel"); // relative to the screen's available top-left
        QTest::addColumn<QSize>("size");  // the viewer's size there
        QTest::newRow("short panel at the top edge") << QRect(100, 0, 700, 200) << QSize(700, 480);
        QTest::newRow("short panel at the bottom edge") << QRect(100, -1, 700, 200) << QSize(700, 480);
        QTest::newRow("panel half off the right edge") << QRect(-1, 100, 760, 560) << QSize(760, 520);
    }
    void staysOnScreen()
    {
        QFETCH(QRect, panel);
        QFETCH(QSize, size);
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(avail.width() >= 760 && avail.height() >= 560);
        // -1 stands for "against the far edge", half off it for the right-edge row.
        if (panel.y() < 0)
            panel.moveBottom(avail.bottom());
        else
            panel.translate(0, avail.top());
        if (panel.x() < 0)
            panel.moveLeft(avail.right() - panel.width() / 2);
        else
            panel.translate(avail.left(), 0);
        QWidget owner;
        owner.setGeometry(panel);
        LogViewerDialog dialog(m_dataDir, &owner);
        QCOMPARE(dialog.size(), size);
        QVERIFY2(avail.contains(dialog.geometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                   .arg(dialog.x())
                                                                   .arg(dialog.y())
                                                                   .arg(dialog.width())
                                                                   .arg(dialog.height())));
    }

    void closeAndDrag()
    {
        LogViewerDialog dialog(m_dataDir);
        dialog.show();
        const QPoint start = dialog.pos();
        QTest::mousePress(&dialog, Qt::LeftButton, Qt::NoModifier, QPoint(300, 52));
        QTest::mouseMove(&dialog, QPoint(340, 90));
        QTest::mouseRelease(&dialog, Qt::LeftButton, Qt::NoModifier, QPoint(340, 90));
        QCOMPARE(dialog.pos(), start); // y = 52 is below the drag strip
        QTest::mousePress(&dialog, Qt::LeftButton, Qt::NoModifier, QPoint(300, 51));
        QTest::mouseMove(&dialog, QPoint(340, 91));
        QTest::mouseRelease(&dialog, Qt::LeftButton, Qt::NoModifier, QPoint(340, 91));
        QCOMPARE(dialog.pos(), start + QPoint(40, 40));
        QVERIFY(dialog.isVisible());
        QTest::mouseClick(&dialog, Qt::LeftButton, Qt::NoModifier, dialog.closeRect().center());
        QVERIFY(!dialog.isVisible());
    }

    void rendered_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("language");
        QTest::newRow("light-zh") << false << 0;
        QTest::newRow("dark-en") << true << 1;
    }
    void rendered()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        LogViewerDialog dialog(m_dataDir);
        dialog.show();
        QCOMPARE(dialog.size(), QSize(920, 680)); // a long log path doesn't widen it
        const QImage img = render(dialog);
        Lang::setLanguage(0);
        setDarkTheme(false);
        ktr::test::saveShot(img, QStringLiteral("logviewer-") + QString::fromLatin1(QTest::currentDataTag()));
        const Theme& t = dark ? defaultTheme(true) : defaultTheme(false);
        QCOMPARE(img.pixelColor(0, 0).alpha(), 0);                         // outside the rounded window
        QCOMPARE(img.pixelColor(400, 30).rgb(), t.windowBackground.rgb()); // the header strip
        QCOMPARE(img.pixelColor(20, 28).rgb(), t.accentSoft.rgb());        // the badge, left of the page glyph
    }
};

KTR_TEST_MAIN(TestLogViewer)
#include "tst_logviewer.moc"
