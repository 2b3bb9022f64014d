#include "panel/gridgeometry.h"
#include "testenv.h"

// The grid's geometry as a value: no widget, only sizes and settings in.
class TestGridGeometry : public QObject
{
    Q_OBJECT

    static GridGeometry make(int width, int height, int columns, bool names = true, int iconSize = 48)
    {
        GridGeometry g;
        g.width = width;
        g.height = height;
        g.columns = columns;
        g.showNames = names;
        g.iconSize = iconSize;
        return g;
    }

private slots:
    void cells_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("columns");
        QTest::addColumn<bool>("names");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("cellWidth");
        QTest::addColumn<QRect>("cell");
        QTest::addColumn<int>("stride");
        // Automatic: minW = max(96, icon + 16), n = (w - 16) / minW, cells spread over the width.
        QTest::newRow("auto narrow") << 200 << 0 << true << 1 << 184 << QRect(8, 120, 176, 104) << 112;
        QTest::newRow("auto 400") << 400 << 0 << true << 5 << 96 << QRect(104, 120, 88, 104) << 112;
        QTest::newRow("auto 450") << 450 << 0 << true << 3 << 108 << QRect(332, 8, 100, 104) << 112;
        QTest::newRow("auto no names") << 400 << 0 << false << 4 << 96 << QRect(8, 80, 88, 64) << 72;
        // Fixed: square cells of max(60, w / columns), no margins.
        QTest::newRow("fixed 4") << 400 << 4 << true << 5 << 100 << QRect(100, 100, 100, 100) << 100;
        QTest::newRow("fixed 8 too narrow") << 400 << 8 << true << 7 << 60 << QRect(420, 0, 60, 60) << 60;
    }

    void cells()
    {
        QFETCH(int, width);
        QFETCH(int, columns);
        QFETCH(bool, names);
        QFETCH(int, position);
        QFETCH(int, cellWidth);
        QFETCH(QRect, cell);
        QFETCH(int, stride);
        const GridGeometry g = make(width, 300, columns, names);
        QCOMPARE(g.cellWidth(), cellWidth);
        QCOMPARE(g.cellRect(position), cell);
        QCOMPARE(g.rowStride(), stride);
        // The centre of a cell hits it; the gap left of an automatic cell hits nothing; nor does a cell past
        // the count.
        const QPoint centre = cell.center();
        if (centre.x() < width)
            QCOMPARE(g.hitTest(centre, 0, 20), position);
        QCOMPARE(g.hitTest(centre, 0, position), -1);
        if (columns == 0)
            QCOMPARE(g.hitTest(QPoint(cell.left() - 3, cell.top() + 10), 0, 20), -1);
        // Scrolled by one stride, the cell a row further down sits where this one was.
        if (centre.x() < width)
            QCOMPARE(g.hitTest(centre - QPoint(0, stride), stride, 20), position);
    }

    void scrollLimitsAndDrawnRange()
    {
        // 30 cells, 4 per row, stride 112: 8 rows = 896 + 16 px of content in 300 px.
        const GridGeometry g = make(400, 300, 0);
        QCOMPARE(g.maxScroll(30), 8 * 112 + 16 - 300);
        QCOMPARE(g.maxScroll(4), 0);
        QCOMPARE(g.maxScroll(0), 0);
        QCOMPARE(make(400, 300, 4).maxScroll(30), 8 * 100 - 300);
        // Drawn: from the first row in view to one row of slack below the last.
        QCOMPARE(g.firstDrawn(0), 0);
        QCOMPARE(g.lastDrawn(0, 30), 16);
        QCOMPARE(g.firstDrawn(230), 4);
        QCOMPARE(g.lastDrawn(230, 30), 24);
        QCOMPARE(g.lastDrawn(600, 30), 30);
    }

    void dropIndexAndSnap()
    {
        const GridGeometry g = make(400, 100, 0);
        QCOMPARE(g.dropIndexAt(QPoint(20, 50), 0, 0), 0);
        QCOMPARE(g.dropIndexAt(QPoint(60, 50), 0, 6), 1);
        QCOMPARE(g.dropIndexAt(QPoint(390, 50), 0, 6), 4);
        QCOMPARE(g.dropIndexAt(QPoint(20, 900), 0, 6), 4);
        QCOMPARE(g.dropIndexAt(QPoint(150, 20), 112, 6), 6);
        // The automatic layout snaps nothing; fixed cells snap to their corners inside the widget.
        QCOMPARE(g.snapToCell(QPoint(149, 51)), QPoint(149, 51));
        const GridGeometry fixed = make(400, 600, 4);
        QCOMPARE(fixed.snapToCell(QPoint(149, 51)), QPoint(100, 100));
        QCOMPARE(fixed.snapToCell(QPoint(150, -80)), QPoint(200, 0));
        QCOMPARE(fixed.snapToCell(QPoint(990, 990)), QPoint(400, 600));
    }

    void iconSizeClamps_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("expected");
        // A label line of 15 px.
        QTest::newRow("auto max") << 0 << 400 << 120 << 96;
        QTest::newRow("auto min") << 0 << 400 << 10 << 32;
        QTest::newRow("fixed wide cells cap at 60") << 2 << 400 << 120 << 60;
        QTest::newRow("fixed 4 at 300") << 4 << 300 << 120 << 75 - 15 - 14;
        QTest::newRow("fixed tiny cells keep 32") << 8 << 300 << 120 << 32;
    }

    void iconSizeClamps()
    {
        QFETCH(int, columns);
        QFETCH(int, width);
        QFETCH(int, requested);
        QFETCH(int, expected);
        QCOMPARE(gridClampIconSize(requested, columns, width, 15), expected);
    }
};

KTR_TEST_MAIN(TestGridGeometry)
#include "tst_gridgeometry.moc"
