// Every text the settings dialog, its cards and the other previewed dialogs draw fits the room it is given,
// in both languages and both themes: the preview generators are run with an overflow observer installed.
#include "app/diagnosticruns.h"
#include "panel/gridlabels.h"
#include "preview/previewgenerators.h"
#include "preview/uipreview.h"
#include "settings/settingsrows.h"
#include "support/logviewerdialog.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/log.h"
#include "ui/settingskit.h"
#include "ui/theme.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QSet>

class TestTextFit : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        setTextOverflowObserver({});
        setPreviewBaseLanguage(0);
        setDarkTheme(false);
    }

    void everyPreviewedTextFits_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("dark");
        QTest::newRow("chinese-light") << 0 << false;
        QTest::newRow("chinese-dark") << 0 << true;
        QTest::newRow("english-light") << 1 << false;
        QTest::newRow("english-dark") << 1 << true;
    }
    void everyPreviewedTextFits()
    {
        QFETCH(int, language);
        QFETCH(bool, dark);
        QSet<QString> seen;
        QStringList cut;
        setTextOverflowObserver([&](const TextOverflow& o) {
            const QString line = QStringLiteral("\"%1\" needs %2x%3 in %4x%5")
                                     .arg(o.text)
                                     .arg(o.needed.width())
                                     .arg(o.needed.height())
                                     .arg(o.rect.width())
                                     .arg(o.rect.height());
            if (!seen.contains(line)) {
                seen.insert(line);
                cut << line;
                qWarning().noquote() << "cut:" << line;
            }
        });
        setDarkTheme(dark);
        setPreviewBaseLanguage(language);
        const QString folder =
            ktr::test::freshDir(QStringLiteral("textfit-") + QString::fromLatin1(QTest::currentDataTag()));
        runUiPreviewTexts(folder, panelPreviewKit());
        QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("%1 cut texts (listed above)").arg(cut.size())));
    }

    // A colour button shortens its kind's name to the room beside the swatch (100 px less 25), which the
    // observer does not see: every name must fit there whole in both languages.
    void colourKindNamesFitTheirButton_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("chinese") << 0;
        QTest::newRow("english") << 1;
    }
    void colourKindNamesFitTheirButton()
    {
        QFETCH(int, language);
        Lang::setLanguage(language);
        const QFontMetrics fm(settingsFont13());
        QStringList cut;
        for (int kind = 0; kind <= 6; ++kind) {
            const QString name = Lang::tr(settingsrows::colourKindName(kind));
            if (fm.horizontalAdvance(name) > 100 - 25)
                cut << QStringLiteral("%1 (%2 px)").arg(name).arg(fm.horizontalAdvance(name));
        }
        Lang::setLanguage(0);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(", "))));
    }

    // The portrait panel's fixed columns give a label one line of the cell (at least 60 px, 4 px kept on each
    // side): a name that does not fit shows an ellipsis, never a bare cut that reads as another name.
    void portraitLabelsAreWholeOrElided_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("chinese") << 0;
        QTest::newRow("english") << 1;
    }
    void portraitLabelsAreWholeOrElided()
    {
        QFETCH(int, language);
        Lang::setLanguage(language);
        QFont font(uiFontFamily());
        font.setPixelSize(12);
        const QFontMetrics fm(font);
        QStringList cut;
        for (const QString& name : {Lang::tr(QStringLiteral("本地磁盘 (%1)").arg(QStringLiteral("/"))),
                                    Lang::tr("本地磁盘"), Lang::tr("控制面板"), Lang::tr("回收站")}) {
            const QString label = gridCutLabel(fm, name, 60 - 8);
            if (label != name && !label.endsWith(QChar(0x2026)))
                cut << QStringLiteral("%1 -> %2").arg(name, label);
        }
        Lang::setLanguage(0);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(", "))));
    }

    // The log viewer's info card gives the log file's path what room is left: at any width it shows whole or
    // shortened with an ellipsis inside its label, never cut at the label's edge.
    void logFilePathWholeOrElided_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("width");
        QTest::newRow("chinese, wide") << 0 << 900;
        QTest::newRow("chinese, narrow") << 0 << 520;
        QTest::newRow("english, narrow") << 1 << 520;
        QTest::newRow("english, narrowest") << 1 << 420;
    }
    void logFilePathWholeOrElided()
    {
        QFETCH(int, language);
        QFETCH(int, width);
        Lang::setLanguage(language);
        // A log under a deep data folder, as the program's own: its path is wider than the card's room.
        const QString data = ktr::test::freshDir(QStringLiteral("logpath")) +
                             QStringLiteral("/home/someone/.local/share/Kestrune/KestrunePanel");
        QVERIFY(QDir().mkpath(data));
        const QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
        installLogging(data);
        qInfo() << "a line for the log viewer";
        qInstallMessageHandler(testHandler);
        LogViewerDialog viewer(data);
        viewer.resize(width, 620);
        viewer.reload();
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        QLabel* path = nullptr;
        for (QLabel* label : viewer.findChildren<QLabel*>())
            if (label->toolTip().endsWith(QStringLiteral("app.log")))
                path = label;
        QVERIFY(path);
        const QString whole = path->toolTip();
        const QString shown = path->text();
        const int room = path->contentsRect().width();
        const int needed = path->fontMetrics().horizontalAdvance(shown);
        Lang::setLanguage(0);
        QVERIFY2(needed <= room,
                 qPrintable(QStringLiteral("\"%1\" needs %2 px in %3").arg(shown).arg(needed).arg(room)));
        QVERIFY2(shown == whole || shown.contains(QChar(0x2026)), qPrintable(shown));
    }

    void overflowIsSeen()
    {
        // The observer itself: a text wider than its box is reported, an elided one is not.
        QStringList cut;
        setTextOverflowObserver([&](const TextOverflow& o) { cut << o.text; });
        QImage image(200, 40, QImage::Format_ARGB32);
        QPainter p(&image);
        p.setFont(settingsFont13());
        drawKitText(p, QRect(0, 0, 30, 20), Qt::AlignCenter, QStringLiteral("Double-click to Run"));
        drawKitText(p, QRect(0, 0, 30, 20), Qt::AlignLeft, QStringLiteral("/a/long/path/name"), TextFit::ElideMiddle);
        drawKitText(p, QRect(0, 0, 190, 20), Qt::AlignLeft, QStringLiteral("Fits"));
        drawKitText(p, QRect(0, 0, 60, 20), Qt::AlignLeft, QStringLiteral("one two three four five six"),
                    TextFit::Wrap);
        QCOMPARE(cut,
                 (QStringList{QStringLiteral("Double-click to Run"), QStringLiteral("one two three four five six")}));
    }
};

KTR_TEST_MAIN(TestTextFit)
#include "tst_textfit.moc"
