#include "icons/iconloader.h"
#include "model/configstore.h"
#include "mainwindow/mainwindow.h"
#include "panel/icongrid.h"
#include "testenv.h"
#include "ui/datadir.h"

#include <QFile>
#include <QtTest/QtTest>

#include <memory>

namespace {

Group longGroup(const QString& name, int count)
{
    Group g{name, {}};
    for (int i = 0; i < count; ++i) {
        Item item;
        item.path = QStringLiteral("/nowhere/%1/item%2.txt").arg(name).arg(i);
        item.name = QStringLiteral("%1 %2").arg(name).arg(i);
        g.items.append(item);
    }
    return g;
}

} // namespace

// Choosing another group in the sidebar shows it from its first row.
class TestReviewGroupSelect : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        setIconExtractorForTesting([](const QString&) {
            QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::red);
            return image;
        });
    }

    void cleanupTestCase() { setIconExtractorForTesting({}); }

    void selectingAGroupStartsAtItsTop()
    {
        QFile::remove(appDataDir() + QStringLiteral("/layout.json"));
        ConfigStore store(appDataDir());
        QVERIFY(store.saveLayout({longGroup(QStringLiteral("A"), 80), longGroup(QStringLiteral("B"), 80)}));

        auto w = std::make_unique<MainWindow>();
        IconGrid* grid = w->iconGrid();
        QVERIFY(grid->maxScroll() > 0);
        grid->setScrollOffset(grid->maxScroll());
        QVERIFY(grid->scrollOffset() > 0);

        w->onGroupSelected(1);
        QCOMPARE(w->currentIndex(), 1);
        QCOMPARE(grid->scrollOffset(), 0);
    }
};

KTR_TEST_MAIN(TestReviewGroupSelect)
#include "tst_review_groupselect.moc"
