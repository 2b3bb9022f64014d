#include "model/panelmodel.h"
#include "panel/sidebar.h"
#include "testenv.h"
#include "ui/theme.h"

#include <QApplication>
#include <QFontMetrics>

// Group chips of the strip (portrait layout) are as wide as their names: a short name must never be drawn
// elided into its own chip.
class TestExploreStripChips : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The panel switches the application font to the UI family before anything is painted.
        QFont appFont = QApplication::font();
        appFont.setFamily(uiFontFamily());
        QApplication::setFont(appFont);
    }

    void chipHoldsWholeName_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name : {"Many", "Work", "Games", "Tools", "Office", "Music", "Empty", "Downloads"})
            QTest::newRow(name) << QString::fromLatin1(name);
        QTest::newRow("cjk") << QStringLiteral("常用");
        QTest::newRow("mixed") << QStringLiteral("工作 Work");
    }

    void chipHoldsWholeName()
    {
        QFETCH(QString, name);
        QList<Group> groups(2);
        groups[0].name = name;
        groups[1].name = QStringLiteral("B");
        int current = 0;
        Sidebar sidebar;
        sidebar.setGroups(&groups, &current);
        sidebar.setHorizontal(true);
        sidebar.resize(300, 40);

        // The chip is painted in the widget's font at 13 px and elided to the chip's width.
        QFont painted = sidebar.font();
        painted.setPixelSize(13);
        const QRect chip = sidebar.chipRect(0);
        QCOMPARE(QFontMetrics(painted).elidedText(name, Qt::ElideRight, chip.width()), name);
        QCOMPARE(sidebar.firstOverflowIndex(), 2);
    }
};

KTR_TEST_MAIN(TestExploreStripChips)
#include "tst_explore_stripchips.moc"
