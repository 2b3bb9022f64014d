#include "dropactioncases.h"
#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "panel/icongrid.h"
#include "panel/itempayload.h"
#include "testenv.h"
#include "ui/theme.h"

#include <QDir>
#include <QDrag>
#include <QMimeData>
#include <QPainter>
#include <QSignalSpy>
#include <QThreadPool>
#include <QTimer>
#include <QToolTip>

#include <atomic>
#include <memory>

Q_DECLARE_METATYPE(QList<int>)

namespace {

QColor colorOf(int i)
{
    return QColor::fromHsv((i * 37) % 360, 200, 200);
}

QPixmap solid(const QColor& c, int size = 64)
{
    QPixmap pm(size, size);
    pm.fill(c);
    return pm;
}

bool near(const QColor& a, const QColor& b, int tolerance = 12)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// A grid attached to its own model and icon cache. Item i has path "/apps/app<i>" and a solid icon in colorOf(i).
struct GridFixture
{
    QList<Group> groups;
    int current = 0;
    IconCacheMap cache;
    std::unique_ptr<IconGrid> grid = std::make_unique<IconGrid>();

    explicit GridFixture(int items = 10, QSize size = QSize(400, 600), QList<int> hidden = {})
    {
        groups.append(group(QStringLiteral("一"), items, hidden));
        groups.append(group(QStringLiteral("二"), 3, {}));
        grid->attachOwner(&groups, &current);
        grid->setIconCache(&cache);
        grid->resize(size);
    }

    Group group(const QString& name, int items, const QList<int>& hidden)
    {
        Group g{name, {}};
        for (int i = 0; i < items; ++i) {
            Item it;
            it.path = QStringLiteral("/apps/%1/app%2").arg(name).arg(i);
            it.name = QStringLiteral("应用%1").arg(i);
            it.hidden = hidden.contains(i);
            g.items.append(it);
            cache.insert(it.path, solid(colorOf(i + 100 * int(groups.size()))));
        }
        return g;
    }

    QImage render() const
    {
        QImage img(grid->size(), QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::black);
        grid->render(&img, QPoint(), QRegion(), QWidget::DrawChildren); // as a child: no window background
        return img;
    }

    // Centre of the icon of a visible position in the automatic layout (no scrolling).
    QPoint iconCentre(int position) const
    {
        const QRect r = grid->cellRect(position);
        return QPoint(r.left() + r.width() / 2, r.top() + 8 + grid->iconSize() / 2);
    }
};

void sendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease || type == QEvent::MouseMove ? Qt::NoButton : button;
    QMouseEvent ev(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), type == QEvent::MouseMove ? Qt::NoButton : button,
                   buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

void sendKey(QWidget* w, int key)
{
    QKeyEvent ev(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

// Sends enter, move and drop of one payload at one point; returns whether the drop was accepted.
bool dropAt(QWidget* w, QMimeData* mime, QPoint pos)
{
    QDragEnterEvent enter(pos, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(pos), Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);
    return drop.isAccepted();
}

void appendU16(QByteArray& b, quint16 v)
{
    b.append(char(v & 0xFF)).append(char(v >> 8));
}

void appendU32(QByteArray& b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

// A CIDA with an empty parent and one child: the Recycle Bin as a root folder item.
QByteArray recycleBinIdList()
{
    const QUuid id = QUuid::fromString(QStringLiteral("{645FF040-5081-101B-9F08-00AA002F954E}"));
    QByteArray item;
    appendU16(item, 20);
    item.append(char(0x1F)).append(char(0x50));
    appendU32(item, id.data1);
    appendU16(item, id.data2);
    appendU16(item, id.data3);
    item.append(reinterpret_cast<const char*>(id.data4), 8);
    QByteArray b;
    appendU32(b, 1);
    appendU32(b, 12); // parent: an empty list right after the header
    appendU32(b, 14); // child
    appendU16(b, 0);
    b.append(item);
    appendU16(b, 0);
    return b;
}

QString writeImage(const QString& dir, const QString& name, QSize size, const QColor& color)
{
    QImage img(size, QImage::Format_ARGB32);
    img.fill(color);
    const QString path = dir + QLatin1Char('/') + name;
    img.save(path, "PNG");
    return path;
}

} // namespace

class TestIconGrid : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setDarkTheme(false); }

    void cleanup()
    {
        // Loads of one case must not be delivered into the next.
        QThreadPool::globalInstance()->waitForDone();
        iconLoadPool()->waitForDone();
        QCoreApplication::processEvents();
    }

    void signature_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<bool>("differs");
        QTest::newRow("nothing") << 0 << false;
        QTest::newRow("path") << 1 << true;
        QTest::newRow("name") << 2 << true;
        QTest::newRow("hidden flag") << 3 << true;
        QTest::newRow("group index") << 4 << true;
        QTest::newRow("order") << 5 << true;
        QTest::newRow("item removed") << 6 << true;
        QTest::newRow("custom icon only") << 7 << false;
    }

    void signature()
    {
        QFETCH(int, change);
        QFETCH(bool, differs);
        GridFixture fx(4);
        QList<Item> items = fx.groups[0].items;
        int g = 0;
        switch (change) {
        case 1:
            items[2].path += QLatin1Char('x');
            break;
        case 2:
            items[2].name += QLatin1Char('x');
            break;
        case 3:
            items[2].hidden = true;
            break;
        case 4:
            g = 1;
            break;
        case 5:
            items.swapItemsAt(0, 1);
            break;
        case 6:
            items.removeLast();
            break;
        case 7:
            items[1].customIcon = QStringLiteral("/x.png");
            break;
        default:
            break;
        }
        QCOMPARE(itemListSignature(items, g) != itemListSignature(fx.groups[0].items, 0), differs);
    }

    void visibleListFollowsRelayout()
    {
        GridFixture fx(5, QSize(400, 600), {1, 3});
        QCOMPARE(fx.grid->visiblePositions(), (QList<int>{0, 2, 4}));
        // The grid never notices a change of the same group by itself...
        fx.groups[0].items[0].hidden = true;
        QCOMPARE(fx.grid->visiblePositions(), (QList<int>{0, 2, 4}));
        // ...until the owner re-lays it out.
        fx.grid->relayout();
        QCOMPARE(fx.grid->visiblePositions(), (QList<int>{2, 4}));
        // A change of the current group is noticed through the signature.
        fx.current = 1;
        QCOMPARE(fx.grid->visiblePositions(), (QList<int>{0, 1, 2}));
        fx.current = 5;
        QVERIFY(fx.grid->visiblePositions().isEmpty());
        fx.current = -1;
        QVERIFY(fx.grid->visiblePositions().isEmpty());
    }

    // The owner re-lays out only after its save; when the save fails the model has changed under the grid.
    void modelChangedWithoutRelayout_data()
    {
        QTest::addColumn<int>("change");
        QTest::newRow("items removed") << 0;
        QTest::newRow("group emptied") << 1;
        QTest::newRow("current group removed") << 2;
        QTest::newRow("item moved") << 3;
    }

    void modelChangedWithoutRelayout()
    {
        QFETCH(int, change);
        GridFixture fx(12);
        QCOMPARE(fx.grid->visiblePositions().size(), 12);
        sendKey(fx.grid.get(), Qt::Key_End);
        QCOMPARE(fx.grid->keyCursor(), 11);
        switch (change) {
        case 0:
            fx.groups[0].items.remove(3, 6);
            break;
        case 1:
            fx.groups[0].items.clear();
            break;
        case 2:
            fx.groups.removeFirst();
            fx.groups.removeFirst();
            break;
        case 3:
            fx.groups[0].items.move(11, 0);
            break;
        }
        QSignalSpy activated(fx.grid.get(), &IconGrid::itemActivated);
        QSignalSpy menu(fx.grid.get(), &IconGrid::itemMenuRequested);
        fx.render();
        const int items = fx.groups.isEmpty() ? 0 : int(fx.groups[0].items.size());
        for (const int p : fx.grid->visiblePositions())
            QVERIFY(p < items);
        sendKey(fx.grid.get(), Qt::Key_Return);
        sendMouse(fx.grid.get(), QEvent::MouseButtonDblClick, fx.iconCentre(10));
        QContextMenuEvent ctx(QContextMenuEvent::Mouse, fx.iconCentre(10), fx.iconCentre(10));
        QApplication::sendEvent(fx.grid.get(), &ctx);
        delete fx.grid->createDrag(10);
        QVERIFY(fx.grid->itemGlobalRect(11).isNull() || items == 12);
        for (const QList<QVariant>& v : activated)
            QVERIFY(v.at(0).toInt() < items);
        for (const QList<QVariant>& v : menu)
            QVERIFY(v.at(0).toInt() < items);
    }

    void iconSizeAndColumnClamps_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("expected"); // -1: computed from the font height
        QTest::newRow("auto max") << 0 << 400 << 120 << 96;
        QTest::newRow("auto min") << 0 << 400 << 10 << 32;
        QTest::newRow("fixed wide cells cap at 60") << 2 << 400 << 120 << 60;
        QTest::newRow("fixed 4 at 300") << 4 << 300 << 120 << -1;
        QTest::newRow("fixed tiny cells keep 32") << 8 << 300 << 120 << 32;
    }

    void iconSizeAndColumnClamps()
    {
        QFETCH(int, columns);
        QFETCH(int, width);
        QFETCH(int, requested);
        QFETCH(int, expected);
        GridFixture fx(4, QSize(width, 300));
        fx.grid->setColumns(columns);
        fx.grid->setIconSize(requested);
        if (expected < 0) {
            QFont f = fx.grid->font();
            f.setPixelSize(12);
            expected = std::max(32, 75 - QFontMetrics(f).height() - 14);
        }
        QCOMPARE(fx.grid->iconSize(), expected);

        fx.grid->setColumns(12);
        QCOMPARE(fx.grid->columns(), 8);
        fx.grid->setColumns(-3);
        QCOMPARE(fx.grid->columns(), 0);
        fx.grid->setCornerRadius(40);
        QCOMPARE(fx.grid->cornerRadius(), 24);
    }

    void scrollAndWheel()
    {
        // 30 items, 4 per row, stride 112: 8 rows = 896 + 16 px of content in 300 px.
        GridFixture fx(30, QSize(400, 300));
        QCOMPARE(fx.grid->maxScroll(), 8 * 112 + 16 - 300);
        QWheelEvent half(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, -60), Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(fx.grid.get(), &half);
        QVERIFY(!half.isAccepted()); // passes to the parent
        QCOMPARE(fx.grid->scrollOffset(), 0);
        QWheelEvent notch(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(fx.grid.get(), &notch);
        QVERIFY(notch.isAccepted());
        QCOMPARE(fx.grid->scrollOffset(), 112);
        QCOMPARE(fx.grid->hitTest(QPoint(50, 20)), 4); // the second row is now at the top
        QWheelEvent far(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, -1200), Qt::NoButton, Qt::NoModifier,
                        Qt::NoScrollPhase, false);
        QApplication::sendEvent(fx.grid.get(), &far);
        QCOMPARE(fx.grid->scrollOffset(), fx.grid->maxScroll());
        // Fewer items: the offset is clamped on re-layout.
        fx.groups[0].items.resize(4);
        fx.grid->relayout();
        QCOMPARE(fx.grid->scrollOffset(), 0);
    }

    void globalRectAndSnap()
    {
        GridFixture fx(6, QSize(400, 600), {2});
        QVERIFY(fx.grid->itemGlobalRect(2).isNull());
        const QRect r = fx.grid->itemGlobalRect(3); // visible position 2
        QCOMPARE(r.topLeft(), fx.grid->mapToGlobal(fx.grid->cellRect(2).topLeft()));
        QCOMPARE(r.size(), fx.grid->cellRect(2).size());
        const QPoint g = fx.grid->mapToGlobal(QPoint(149, 51));
        QCOMPARE(fx.grid->snapToCellGlobal(g), g); // automatic layout: unchanged
        fx.grid->setColumns(4);                    // cells of 100
        QCOMPARE(fx.grid->snapToCellGlobal(g), fx.grid->mapToGlobal(QPoint(100, 100)));
        QCOMPARE(fx.grid->snapToCellGlobal(fx.grid->mapToGlobal(QPoint(150, -80))),
                 fx.grid->mapToGlobal(QPoint(200, 0)));
        QCOMPARE(fx.grid->snapToCellGlobal(fx.grid->mapToGlobal(QPoint(990, 990))),
                 fx.grid->mapToGlobal(QPoint(400, 600)));
    }

    // Insertion positions over a row of the automatic layout (4 per row, cells at 8, 104, 200, 296, width 88)
    // with hidden items in the model: the position counts visible cells only.
    void dropIndexAt_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<int>("scroll");
        QTest::addColumn<int>("expected");
        QTest::newRow("left half of first") << QPoint(20, 50) << 0 << 0;
        QTest::newRow("right half of first") << QPoint(60, 50) << 0 << 1;
        QTest::newRow("gap before third") << QPoint(195, 50) << 0 << 2;
        QTest::newRow("end of full row") << QPoint(390, 50) << 0 << 4;
        QTest::newRow("above everything") << QPoint(20, -40) << 0 << 0;
        QTest::newRow("second row") << QPoint(110, 130) << 0 << 5;
        QTest::newRow("behind last cell") << QPoint(300, 130) << 0 << 6;
        QTest::newRow("far below") << QPoint(20, 900) << 0 << 4;
        QTest::newRow("scrolled") << QPoint(150, 20) << 112 << 6;
    }

    void dropIndexAt()
    {
        QFETCH(QPoint, point);
        QFETCH(int, scroll);
        QFETCH(int, expected);
        GridFixture fx(9, QSize(400, 100), {1, 4, 7}); // 6 visible: model 0 2 3 5 6 8
        fx.grid->setScrollOffset(scroll);
        QCOMPARE(fx.grid->scrollOffset(), scroll);
        QCOMPARE(fx.grid->dropIndexAt(point), expected);
    }

    void labels_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fitsIn"); // the width available is that of this text
        QTest::addColumn<QString>("line1");
        QTest::addColumn<QString>("line2"); // empty: one line
        QTest::newRow("fits") << QStringLiteral("终端") << QStringLiteral("终端") << QStringLiteral("终端")
                              << QString();
        QTest::newRow("words break at a space")
            << QStringLiteral("Firefox Web Browser") << QStringLiteral("Firefox Web Br")
            << QStringLiteral("Firefox Web") << QStringLiteral("Browser");
        QTest::newRow("one long word breaks inside")
            << QStringLiteral("Supercalifragilistic") << QStringLiteral("Supercalifr") << QStringLiteral("Supercalifr")
            << QStringLiteral("agilistic");
        QTest::newRow("Chinese breaks at a character")
            << QStringLiteral("一个非常非常长的应用程序") << QStringLiteral("一个非常非常")
            << QStringLiteral("一个非常非常") << QStringLiteral("长的应用程序");
    }

    void labels()
    {
        QFETCH(QString, text);
        QFETCH(QString, fitsIn);
        QFETCH(QString, line1);
        QFETCH(QString, line2);
        QFont font;
        font.setPixelSize(12);
        const QFontMetrics fm(font);
        const int avail = fm.horizontalAdvance(fitsIn);
        const GridLabel label = gridAutoLabel(fm, text, avail);
        QCOMPARE(label.line1, line1);
        QCOMPARE(label.twoLines, !line2.isEmpty());
        if (label.twoLines) {
            QCOMPARE(label.line2, fm.elidedText(line2, Qt::ElideRight, avail));
        }
        // The fixed-column label: whole when it fits, else a start of it with an ellipsis, within the room.
        const QString cut = gridCutLabel(fm, text, avail);
        QVERIFY(fm.horizontalAdvance(cut) <= avail);
        if (cut != text) {
            QVERIFY2(cut.endsWith(QChar(0x2026)), qPrintable(cut));
            QVERIFY(text.startsWith(cut.chopped(1)));
        }
    }

    void paintsCells()
    {
        GridFixture fx(6, QSize(400, 300));
        const Theme& t = currentTheme();
        const QImage img = fx.render();
        for (int p = 0; p < 6; ++p)
            QVERIFY2(near(img.pixelColor(fx.iconCentre(p)), colorOf(p)), qPrintable(QString::number(p)));
        QVERIFY(near(img.pixelColor(14, 40), t.gridBackground, 2));   // no hover yet
        QVERIFY(near(img.pixelColor(200, 290), t.gridBackground, 2)); // below the last row
        QCOMPARE(img.pixelColor(399, 299), QColor(Qt::black));        // rounded corner left open
        // A label in item text colour somewhere under the first icon.
        const QRect label(8, 8 + 8 + 48 + 6, 88, 16);
        bool text = false;
        for (int y = label.top(); y <= label.bottom() && !text; ++y)
            for (int x = label.left(); x <= label.right() && !text; ++x)
                text = !near(img.pixelColor(x, y), t.gridBackground, 30);
        QVERIFY(text);
        fx.grid->setShowNames(false);
        const QImage noNames = fx.render();
        for (int y = label.top(); y < label.top() + 12; ++y)
            QVERIFY(near(noNames.pixelColor(52, y), t.gridBackground, 2));
    }

    void paintsHoverCursorBadgeAndDropBar()
    {
        GridFixture fx(6, QSize(400, 300));
        const Theme& t = currentTheme();
        sendMouse(fx.grid.get(), QEvent::MouseMove, fx.iconCentre(1));
        QCOMPARE(fx.grid->hoverIndex(), 1);
        QImage img = fx.render();
        QVERIFY(near(img.pixelColor(110, 40), t.itemHover, 3));
        fx.grid->setHoverStyle(0, QColor(255, 0, 0), 100);
        QVERIFY(near(fx.render().pixelColor(110, 40), QColor(255, 0, 0), 3));

        sendKey(fx.grid.get(), Qt::Key_Right); // no cursor yet: the first cell
        QCOMPARE(fx.grid->keyCursor(), 0);
        img = fx.render();
        QVERIFY(near(img.pixelColor(9, 60), t.accent, 20));
        QVERIFY(near(img.pixelColor(14, 40), t.itemHover, 3));

        const QString invalidPath = fx.groups[0].items[2].path;
        fx.grid->setInvalidPaths({invalidPath});
        fx.cache.remove(invalidPath); // an invalid item without any icon still has its badge
        img = fx.render();
        const QRect r = fx.grid->cellRect(2);
        const double o = 0.3 * 8;
        const double cx = r.left() + (r.width() - 48) / 2 + 48 - 1 - o;
        const double cy = 8 + 8 + 48 - 1 - o;
        QVERIFY(near(img.pixelColor(int(cx - 5), int(cy)), QColor(0xD9, 0x53, 0x4F), 10));
        QVERIFY(near(img.pixelColor(int(cx), int(cy - 2)), Qt::white, 10));

        auto* mime = new QMimeData;
        mime->setData(QString::fromLatin1(kItemMime), encodeItemPayload(0, 0, {}));
        QDragEnterEvent enter(QPoint(110, 50), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(fx.grid.get(), &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(fx.grid->dropIndex(), 1);
        img = fx.render();
        QVERIFY(near(img.pixelColor(103, 60), t.accent, 3));
        QDragMoveEvent move(QPoint(380, 200), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(fx.grid.get(), &move);
        QCOMPARE(fx.grid->dropIndex(), 6);
        const QRect last = fx.grid->cellRect(5);
        QVERIFY(near(fx.render().pixelColor(last.right(), last.center().y()), t.accent, 3));
        QDragLeaveEvent leave;
        QApplication::sendEvent(fx.grid.get(), &leave);
        QCOMPARE(fx.grid->dropIndex(), -1);
        QVERIFY(!fx.grid->isDragActive());
        delete mime;
    }

    void paintsGridLines()
    {
        setThemeDivider(QColor(255, 0, 255), 1, 255);
        GridFixture fx(6, QSize(400, 300));
        fx.grid->setColumns(4);
        const QImage img = fx.render();
        const QColor line = themeDividerColor(currentTheme().controlBorder);
        QVERIFY(near(img.pixelColor(100, 50), line, 3));                           // between cells 0 and 1
        QVERIFY(near(img.pixelColor(200, 150), line, 3));                          // right of cell 5, the last one
        QVERIFY(!near(img.pixelColor(300, 150), line, 3));                         // no line right of the empty slot
        QVERIFY(near(img.pixelColor(50, 100), line, 3));                           // between the rows
        QVERIFY(near(img.pixelColor(350, 200), currentTheme().gridBackground, 3)); // no bottom line there
        setThemeDivider(QColor(), 0, 255);
        QVERIFY(near(fx.render().pixelColor(100, 50), currentTheme().gridBackground, 3));
        setThemeDivider(QColor(), 1, 255);
    }

    void emptyGroupShowsHintHiddenGroupShowsNothing()
    {
        const auto changed = [](const QImage& img) {
            int n = 0;
            const QColor bg = currentTheme().gridBackground;
            for (int y = 100; y < 200; ++y)
                for (int x = 0; x < 399; ++x) // the last column stays open
                    n += !near(img.pixelColor(x, y), bg, 10);
            return n;
        };
        GridFixture empty(0, QSize(400, 300));
        QVERIFY(changed(empty.render()) > 20);
        GridFixture hidden(3, QSize(400, 300), {0, 1, 2});
        QCOMPARE(changed(hidden.render()), 0);
    }

    // With more cells on screen than the old fixed 64 copies, a repaint must reuse every scaled icon.
    void displayCacheHoldsEveryDrawnCell()
    {
        GridFixture fx(150, QSize(1400, 1000));
        fx.render();
        const quint64 first = fx.grid->displayScaleCount();
        QVERIFY(first > 64);
        fx.render();
        sendMouse(fx.grid.get(), QEvent::MouseMove, fx.iconCentre(3));
        fx.render();
        QCOMPARE(fx.grid->displayScaleCount(), first);
        // A new icon size rescales each drawn icon once.
        fx.grid->setIconSize(64);
        fx.render();
        fx.render();
        QVERIFY(fx.grid->displayScaleCount() > first);
        QVERIFY(fx.grid->displayScaleCount() <= 2 * first + 20);
        // forgetCustomIcon drops the plain-path copy only.
        const QString path = fx.groups[0].items[0].path;
        QVERIFY(fx.grid->hasDisplayCopy(path));
        fx.grid->forgetCustomIcon(path);
        QVERIFY(!fx.grid->hasDisplayCopy(path));
    }

    void hoverAnimations()
    {
        GridFixture fx(6, QSize(400, 300));
        fx.grid->setHoverStyle(1, QColor(), 100);
        sendMouse(fx.grid.get(), QEvent::MouseMove, fx.iconCentre(0));
        QCOMPARE(fx.grid->fadeInIndex(), 0);
        sendMouse(fx.grid.get(), QEvent::MouseMove, fx.iconCentre(1));
        QCOMPARE(fx.grid->fadeInIndex(), 1);
        QCOMPARE(fx.grid->fadeOutIndex(), 0);
        // No fill in zoom mode.
        QVERIFY(near(fx.render().pixelColor(110, 40), currentTheme().gridBackground, 2));
        // Back onto the fading cell: the fade-out is taken over by the fade-in.
        sendMouse(fx.grid.get(), QEvent::MouseMove, fx.iconCentre(0));
        QCOMPARE(fx.grid->fadeInIndex(), 0);
        QCOMPARE(fx.grid->fadeOutIndex(), 1);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(fx.grid.get(), &leave);
        QCOMPARE(fx.grid->hoverIndex(), -1);
        QCOMPARE(fx.grid->fadeInIndex(), -1);
        QCOMPARE(fx.grid->fadeOutIndex(), 0);
        // The zoomed icon grows past its box while the level is up.
        sendMouse(fx.grid.get(), QEvent::MouseMove, fx.iconCentre(2));
        QTRY_VERIFY(near(fx.render().pixelColor(fx.iconCentre(2) + QPoint(0, 26)), colorOf(2)));
        fx.grid->setHoverStyle(0, QColor(), 100);
        QCOMPARE(fx.grid->fadeInIndex(), -1);
        QCOMPARE(fx.grid->fadeOutIndex(), -1);
    }

    void pressHoldAndDrag_data()
    {
        QTest::addColumn<QPoint>("pressAt");
        QTest::addColumn<QPoint>("moveBy");
        QTest::addColumn<bool>("hold");
        QTest::addColumn<bool>("singleClick");
        QTest::addColumn<bool>("drags");
        QTest::addColumn<int>("activated"); // model index, -2 = none
        QTest::newRow("move 9 px drags") << QPoint(110, 40) << QPoint(5, 4) << false << true << true << -2;
        QTest::newRow("move 8 px then release activates")
            << QPoint(110, 40) << QPoint(4, 4) << false << true << false << 2;
        QTest::newRow("double-click mode click does nothing")
            << QPoint(110, 40) << QPoint() << false << false << false << -2;
        QTest::newRow("hold drags") << QPoint(110, 40) << QPoint() << true << true << true << -2;
        QTest::newRow("blank press holds nothing") << QPoint(390, 280) << QPoint(30, 0) << true << true << false << -2;
    }

    void pressHoldAndDrag()
    {
        QFETCH(QPoint, pressAt);
        QFETCH(QPoint, moveBy);
        QFETCH(bool, hold);
        QFETCH(bool, singleClick);
        QFETCH(bool, drags);
        QFETCH(int, activated);
        GridFixture fx(6, QSize(400, 300), {1}); // position 1 shows model item 2
        fx.grid->setSingleClickOpen(singleClick);
        QList<QByteArray> payloads;
        fx.grid->setDragRunnerForTesting([&](QDrag* drag) {
            QVERIFY(fx.grid->isDragActive());
            payloads.append(drag->mimeData()->data(QString::fromLatin1(kItemMime)));
        });
        QSignalSpy spy(fx.grid.get(), &IconGrid::itemActivated);
        auto* timer = fx.grid->findChild<QTimer*>();
        QVERIFY(timer);
        sendMouse(fx.grid.get(), QEvent::MouseButtonPress, pressAt);
        QCOMPARE(timer->isActive(), fx.grid->hitTest(pressAt) >= 0);
        if (hold && timer->isActive())
            QMetaObject::invokeMethod(timer, "timeout");
        if (!moveBy.isNull())
            sendMouse(fx.grid.get(), QEvent::MouseMove, pressAt + moveBy);
        // The drag swallowed the press: further moves start nothing.
        if (drags)
            sendMouse(fx.grid.get(), QEvent::MouseMove, pressAt + moveBy + QPoint(20, 0));
        sendMouse(fx.grid.get(), QEvent::MouseButtonRelease, pressAt + moveBy);
        QCOMPARE(payloads.size(), drags ? 1 : 0);
        if (drags)
            QCOMPARE(payloads.first(), encodeItemPayload(0, 2, fx.groups[0].items[2].path));
        QVERIFY(!fx.grid->isDragActive());
        QCOMPARE(spy.size(), activated == -2 ? 0 : 1);
        if (activated != -2)
            QCOMPARE(spy.first().at(0).toInt(), activated);
    }

    void dragPixmapAndClicks()
    {
        GridFixture fx(6, QSize(400, 300));
        std::unique_ptr<QDrag> drag(fx.grid->createDrag(1));
        QVERIFY(drag);
        QCOMPARE(drag->pixmap().size(), QSize(32, 32));
        QVERIFY(near(drag->pixmap().toImage().pixelColor(16, 16), colorOf(1)));
        QVERIFY(!fx.grid->createDrag(6));

        QSignalSpy activated(fx.grid.get(), &IconGrid::itemActivated);
        QSignalSpy blank(fx.grid.get(), &IconGrid::blankDoubleClicked);
        QSignalSpy menu(fx.grid.get(), &IconGrid::itemMenuRequested);
        sendMouse(fx.grid.get(), QEvent::MouseButtonDblClick, fx.iconCentre(4));
        sendMouse(fx.grid.get(), QEvent::MouseButtonDblClick, QPoint(390, 280));
        QCOMPARE(activated.size(), 1);
        QCOMPARE(activated.first().at(0).toInt(), 4);
        QCOMPARE(blank.size(), 1);
        const QPoint at = fx.iconCentre(3);
        QContextMenuEvent ctx(QContextMenuEvent::Mouse, at, QPoint(1000, 700));
        QApplication::sendEvent(fx.grid.get(), &ctx);
        QContextMenuEvent ctxBlank(QContextMenuEvent::Mouse, QPoint(390, 280), QPoint(1000, 700));
        QApplication::sendEvent(fx.grid.get(), &ctxBlank);
        QCOMPARE(menu.size(), 1);
        QCOMPARE(menu.first().at(0).toInt(), 3);
        QCOMPARE(menu.first().at(1).toPoint(), QPoint(1000, 700));
        // A right press clears the keyboard cursor and starts nothing.
        sendKey(fx.grid.get(), Qt::Key_Home);
        QCOMPARE(fx.grid->keyCursor(), 0);
        sendMouse(fx.grid.get(), QEvent::MouseButtonPress, at, Qt::RightButton);
        QCOMPARE(fx.grid->keyCursor(), -1);
        QVERIFY(!fx.grid->findChild<QTimer*>()->isActive());
    }

    void keyboard_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<int>("scroll");
        // 30 items, 4 per row, stride 112, 300 px high.
        QTest::newRow("arrow without cursor") << QList<int>{Qt::Key_Down} << 0 << 0;
        QTest::newRow("right then down") << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Down} << 5 << 0;
        QTest::newRow("left stops at 0") << QList<int>{Qt::Key_Home, Qt::Key_Left} << 0 << 0;
        QTest::newRow("end then right stays") << QList<int>{Qt::Key_End, Qt::Key_Right} << 29 << 612;
        QTest::newRow("down past end") << QList<int>{Qt::Key_End, Qt::Key_Up, Qt::Key_Down} << 29 << 612;
        QTest::newRow("down scrolls a row") << QList<int>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Down} << 8 << 112;
        QTest::newRow("end then home") << QList<int>{Qt::Key_End, Qt::Key_Home} << 0 << 0;
        QTest::newRow("escape clears") << QList<int>{Qt::Key_Down, Qt::Key_Escape} << -1 << 0;
    }

    void keyboard()
    {
        QFETCH(QList<int>, keys);
        QFETCH(int, cursor);
        QFETCH(int, scroll);
        GridFixture fx(30, QSize(400, 300));
        for (const int k : keys)
            sendKey(fx.grid.get(), k);
        QCOMPARE(fx.grid->keyCursor(), cursor);
        QCOMPARE(fx.grid->scrollOffset(), scroll);
    }

    void keyboardActivates()
    {
        GridFixture fx(6, QSize(400, 300), {0});
        QSignalSpy spy(fx.grid.get(), &IconGrid::itemActivated);
        sendKey(fx.grid.get(), Qt::Key_Return); // no cursor: nothing
        sendKey(fx.grid.get(), Qt::Key_Right);
        sendKey(fx.grid.get(), Qt::Key_Right);
        sendKey(fx.grid.get(), Qt::Key_Space);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.first().at(0).toInt(), 2); // visible position 1 = model item 2
        GridFixture empty(0);
        QKeyEvent ev(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QApplication::sendEvent(empty.grid.get(), &ev);
        QVERIFY(!ev.isAccepted());
    }

    // Single-click mode launches on the first release; the double click that follows adds nothing.
    void doubleClickLaunchesOnce_data()
    {
        QTest::addColumn<bool>("singleClick");
        QTest::newRow("single-click mode") << true;
        QTest::newRow("double-click mode") << false;
    }

    void doubleClickLaunchesOnce()
    {
        QFETCH(bool, singleClick);
        GridFixture fx(6, QSize(400, 300));
        fx.grid->setSingleClickOpen(singleClick);
        QSignalSpy spy(fx.grid.get(), &IconGrid::itemActivated);
        const auto doubleClick = [&](QPoint at) {
            sendMouse(fx.grid.get(), QEvent::MouseButtonPress, at);
            sendMouse(fx.grid.get(), QEvent::MouseButtonRelease, at);
            sendMouse(fx.grid.get(), QEvent::MouseButtonDblClick, at);
            sendMouse(fx.grid.get(), QEvent::MouseButtonRelease, at);
        };
        doubleClick(fx.iconCentre(2));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.first().at(0).toInt(), 2);
        // The next double click is a launch of its own.
        doubleClick(fx.iconCentre(4));
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy.last().at(0).toInt(), 4);
    }

    // Without labels the name shows as a tooltip; with labels there is none.
    void tooltipWithoutNames()
    {
        GridFixture fx(3, QSize(400, 300));
        fx.grid->show();
        const auto help = [&](QPoint at) {
            QHelpEvent ev(QEvent::ToolTip, at, fx.grid->mapToGlobal(at));
            QApplication::sendEvent(fx.grid.get(), &ev);
        };
        help(fx.iconCentre(1));
        QVERIFY(QToolTip::text().isEmpty());
        fx.grid->setShowNames(false);
        help(fx.iconCentre(1));
        QCOMPARE(QToolTip::text(), fx.groups[0].items[1].name);
        help(QPoint(390, 290)); // blank space
        QTRY_VERIFY(QToolTip::text().isEmpty());
    }

    // Hover follows where the pointer is: a menu, a scroll or a removal changes the cell under a pointer that
    // has not moved.
    void hoverFollowsPointer()
    {
        GridFixture fx(30, QSize(400, 300)); // 4 per row, stride 112
        QPoint pointer = fx.grid->mapToGlobal(fx.iconCentre(1));
        fx.grid->setPointerSourceForTesting([&] { return pointer; });
        sendMouse(fx.grid.get(), QEvent::MouseMove, fx.iconCentre(1));
        QCOMPARE(fx.grid->hoverIndex(), 1);
        // The menu runs inside the signal; the user leaves the pointer on blank space.
        connect(fx.grid.get(), &IconGrid::itemMenuRequested, fx.grid.get(),
                [&] { pointer = fx.grid->mapToGlobal(QPoint(395, 295)); });
        QContextMenuEvent ctx(QContextMenuEvent::Mouse, fx.iconCentre(1), pointer);
        QApplication::sendEvent(fx.grid.get(), &ctx);
        QCOMPARE(fx.grid->hoverIndex(), -1);
        pointer = fx.grid->mapToGlobal(fx.iconCentre(1));
        sendMouse(fx.grid.get(), QEvent::MouseMove, fx.iconCentre(1));
        QWheelEvent notch(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(fx.grid.get(), &notch);
        QCOMPARE(fx.grid->hoverIndex(), 5);
        // The items under the pointer are removed.
        fx.groups[0].items.resize(1);
        fx.grid->relayout();
        QCOMPARE(fx.grid->hoverIndex(), -1);
    }

    // A layout far beyond the 256 icons of the memory cache: every group, visited in turn, paints an icon in
    // every visible cell, served from the snapshots the first loads left.
    void iconsOfLargeLayoutsStay()
    {
        clearIconCache();
        QList<Group> groups;
        QHash<QString, QColor> colours;
        for (int g = 0; g < 20; ++g) {
            Group group{QStringLiteral("G%1").arg(g), {}};
            for (int i = 0; i < 100; ++i) {
                Item item;
                item.path = QStringLiteral("/big/g%1/item%2").arg(g).arg(i);
                item.name = QStringLiteral("item%1").arg(i);
                group.items.append(item);
                colours.insert(item.path, colorOf(g * 100 + i));
            }
            groups.append(group);
        }
        int current = 0;
        IconGrid grid;
        grid.attachOwner(&groups, &current);
        grid.setIconCache(iconCache());
        grid.resize(800, 600);
        // The start-up loads: each icon extracted once, snapshotted and cached in layout order. The snapshots
        // are written plainly here: the atomic writer's sync per file would make the test slow.
        QDir().mkpath(iconSnapDir());
        for (const Group& g : std::as_const(groups)) {
            for (const Item& item : g.items) {
                QImage img(64, 64, QImage::Format_ARGB32);
                img.fill(colours.value(item.path));
                QVERIFY(img.save(iconSnapPath(item.path), "PNG"));
                cacheIconImage(item.path, img);
            }
        }
        std::atomic<int> extracted{0};
        setIconExtractorForTesting([&](const QString&) {
            ++extracted;
            return QImage();
        });
        const auto missing = [&] {
            QImage img(grid.size(), QImage::Format_ARGB32_Premultiplied);
            img.fill(Qt::black);
            grid.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
            QStringList lacking;
            const QList<Item>& items = groups[current].items;
            for (int pos = 0; pos < items.size(); ++pos) {
                const QRect r = grid.cellRect(pos);
                const QPoint centre(r.left() + r.width() / 2, r.top() + 8 + grid.iconSize() / 2);
                if (centre.y() >= grid.height())
                    break;
                if (!near(img.pixelColor(centre), colours.value(items[pos].path)))
                    lacking.append(items[pos].path);
            }
            return lacking;
        };
        for (const int g : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0}) {
            current = g;
            grid.relayout(); // what the owner does on a group switch
            QTRY_VERIFY2(missing().isEmpty(), qPrintable(QString::number(g) + QLatin1Char(' ') + missing().join(' ')));
        }
        // The icons of the group on show stay in the memory cache however many other icons arrive.
        QStringList shown;
        for (int pos = 0; pos < 40; ++pos)
            shown.append(groups[0].items[pos].path);
        for (int i = 0; i < 400; ++i)
            cacheIconImage(QStringLiteral("/other/%1").arg(i), QImage(4, 4, QImage::Format_ARGB32));
        for (const QString& path : std::as_const(shown))
            QVERIFY2(iconCache()->contains(path), qPrintable(path));
        QCOMPARE(extracted.load(), 0);
        setIconExtractorForTesting({});
        pinIconPaths({});
        clearIconCache();
    }

    void itemDrops_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QString>("signal");
        QTest::addColumn<QList<int>>("args");
        // Group 0: 6 items, model item 1 hidden; visible positions show 0 2 3 4 5.
        QTest::newRow("reorder before third cell")
            << QByteArray(R"({"g":0,"i":5})") << QPoint(210, 50) << "reordered" << QList<int>{5, 3};
        QTest::newRow("reorder at own place")
            << QByteArray(R"({"g":0,"i":2})") << QPoint(110, 50) << "reordered" << QList<int>{2, 2};
        QTest::newRow("behind the last cell")
            << QByteArray(R"({"g":0,"i":0})") << QPoint(300, 170) << "reordered" << QList<int>{0, 6};
        QTest::newRow("no g") << QByteArray(R"({"i":3})") << QPoint(20, 50) << "" << QList<int>{};
        QTest::newRow("from another group")
            << QByteArray(R"({"g":1,"i":2})") << QPoint(20, 50) << "moved" << QList<int>{1, 2, 0};
        QTest::newRow("item beyond its group")
            << QByteArray(R"({"g":1,"i":3})") << QPoint(20, 50) << "" << QList<int>{};
        QTest::newRow("group beyond the list")
            << QByteArray(R"({"g":7,"i":0})") << QPoint(20, 50) << "" << QList<int>{};
        QTest::newRow("garbage") << QByteArray("{\"g\":") << QPoint(20, 50) << "" << QList<int>{};
    }

    void itemDrops()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QPoint, at);
        QFETCH(QString, signal);
        QFETCH(QList<int>, args);
        GridFixture fx(6, QSize(400, 300), {1});
        QSignalSpy reordered(fx.grid.get(), &IconGrid::itemReordered);
        QSignalSpy moved(fx.grid.get(), &IconGrid::itemMoved);
        QMimeData mime;
        mime.setData(QString::fromLatin1(kItemMime), payload);
        QVERIFY(dropAt(fx.grid.get(), &mime, at)); // accepted whether or not the data is usable
        QCOMPARE(reordered.size(), signal == "reordered" ? 1 : 0);
        QCOMPARE(moved.size(), signal == "moved" ? 1 : 0);
        QSignalSpy& spy = signal == "moved" ? moved : reordered;
        if (!signal.isEmpty()) {
            QList<int> got;
            for (const QVariant& v : spy.first())
                got.append(v.toInt());
            QCOMPARE(got, args);
        }
        QCOMPARE(fx.grid->dropIndex(), -1);
        QVERIFY(!fx.grid->isDragActive());
    }

    // Files from another program are taken as a link, or a copy where no link is offered, never as a move
    // (after which the source may delete the originals): on entering, moving and dropping alike.
    void fileDropsAreNeverMoves_data() { addFileDropActionRows(); }
    void fileDropsAreNeverMoves()
    {
        QFETCH(int, offered);
        QFETCH(bool, shift);
        QFETCH(int, taken);
        const Qt::KeyboardModifiers keys = shift ? Qt::ShiftModifier : Qt::NoModifier;
        GridFixture fx(3, QSize(400, 300));
        QSignalSpy urls(fx.grid.get(), &IconGrid::urlsDropped);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/home/u/report.txt"))});
        const Qt::DropActions actions(offered);
        const bool accept = taken != Qt::IgnoreAction;
        QDragEnterEvent enter(QPoint(50, 50), actions, &mime, Qt::LeftButton, keys);
        QApplication::sendEvent(fx.grid.get(), &enter);
        QCOMPARE(enter.isAccepted(), accept);
        QDragMoveEvent move(QPoint(50, 50), actions, &mime, Qt::LeftButton, keys);
        QApplication::sendEvent(fx.grid.get(), &move);
        QCOMPARE(move.isAccepted(), accept);
        QDropEvent drop(QPointF(QPoint(50, 50)), actions, &mime, Qt::LeftButton, keys);
        drop.setAccepted(false);
        QApplication::sendEvent(fx.grid.get(), &drop);
        QCOMPARE(drop.isAccepted(), accept);
        QCOMPARE(urls.count(), accept ? 1 : 0);
        if (accept) {
            QCOMPARE(int(enter.dropAction()), taken);
            QCOMPARE(int(move.dropAction()), taken);
            QCOMPARE(int(drop.dropAction()), taken);
        }
    }

    void foreignDrops()
    {
        GridFixture fx(3, QSize(400, 300));
        QSignalSpy urls(fx.grid.get(), &IconGrid::urlsDropped);
        QSignalSpy shell(fx.grid.get(), &IconGrid::shellItemsDropped);

        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.txt")), QUrl(QStringLiteral("trash:///")),
                       QUrl::fromLocalFile(QStringLiteral("/tmp/b"))});
        QVERIFY(dropAt(fx.grid.get(), &files, QPoint(50, 50)));
        QCOMPARE(urls.size(), 1);
        QCOMPARE(urls.first().at(0).value<QList<QUrl>>(),
                 (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/a.txt")),
                              QUrl::fromLocalFile(QStringLiteral("/tmp/b"))}));
        QCOMPARE(shell.size(), 1);
        auto items = shell.first().at(0).value<QList<ShellItemPair>>();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.first().second, QStringLiteral("::{645FF040-5081-101B-9F08-00AA002F954E}"));

        QMimeData places;
        places.setUrls({QUrl(QStringLiteral("computer:///")), QUrl(QStringLiteral("network:///"))});
        QVERIFY(dropAt(fx.grid.get(), &places, QPoint(50, 50)));
        QCOMPARE(urls.size(), 1);
        QCOMPARE(shell.size(), 2);
        QCOMPARE(shell.last().at(0).value<QList<ShellItemPair>>().size(), 2);

        QMimeData idList;
        idList.setData(QString::fromLatin1(kShellIdListMime), recycleBinIdList());
        QVERIFY(dropAt(fx.grid.get(), &idList, QPoint(50, 50)));
        QCOMPARE(shell.size(), 3);
        items = shell.last().at(0).value<QList<ShellItemPair>>();
        QCOMPARE(items.first().second, QStringLiteral("::{645FF040-5081-101B-9F08-00AA002F954E}"));

        QMimeData brokenIdList;
        brokenIdList.setData(QString::fromLatin1(kShellIdListMime), QByteArray("\x01\0\0\0", 4));
        QVERIFY(!dropAt(fx.grid.get(), &brokenIdList, QPoint(50, 50)));
        QCOMPARE(shell.size(), 3);

        QMimeData text;
        text.setText(QStringLiteral("hello"));
        QVERIFY(!dropAt(fx.grid.get(), &text, QPoint(50, 50)));
        QCOMPARE(fx.grid->dropIndex(), -1);
        QVERIFY(!fx.grid->isDragActive());
    }

    void customIconLoads()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("custom"));
        const QString wide = writeImage(dir, QStringLiteral("wide.png"), QSize(1024, 512), Qt::red);
        const QString small = writeImage(dir, QStringLiteral("small.png"), QSize(40, 40), Qt::blue);
        const QString broken = dir + QStringLiteral("/broken.png");
        ktr::test::writeFile(broken, "not an image");
        GridFixture fx(4, QSize(400, 300));
        fx.groups[0].items[0].customIcon = wide;
        fx.groups[0].items[1].customIcon = broken;
        fx.groups[0].items[2].customIcon = small;
        fx.groups[0].items[3].customIcon = small; // shared: one load
        fx.grid->refreshIcons();
        QCOMPARE(fx.grid->pendingCustomIconCount(), 3);
        QTRY_COMPARE(fx.grid->pendingCustomIconCount(), 0);
        QCOMPARE(fx.grid->customIcon(wide).size(), QSize(192, 96));
        QVERIFY(fx.grid->hasCustomIconFailed(broken));
        // A failed path is never retried, not by refresh nor by painting.
        fx.grid->relayout();
        fx.render();
        fx.grid->preloadCustomIcon(broken);
        QVERIFY(!fx.grid->isCustomIconPending(broken));
        // The custom icon is drawn; the failed one falls back to the system icon.
        const QImage img = fx.render();
        QVERIFY(near(img.pixelColor(fx.iconCentre(0)), Qt::red));
        QVERIFY(near(img.pixelColor(fx.iconCentre(1)), colorOf(1)));
        QVERIFY(near(img.pixelColor(fx.iconCentre(2)), Qt::blue));
        QVERIFY(fx.grid->hasDisplayCopy(QStringLiteral("c:") + small));
        // Invalidation forgets everything about one path; the next paint asks for it again.
        fx.grid->invalidateIcon(broken);
        QVERIFY(!fx.grid->hasCustomIconFailed(broken));
        fx.grid->invalidateIcon(small);
        QVERIFY(!fx.grid->hasCustomIcon(small));
        QVERIFY(!fx.grid->hasDisplayCopy(QStringLiteral("c:") + small));
        fx.render();
        QTRY_VERIFY(fx.grid->hasCustomIcon(small));
    }

    void staleLoadsAreDropped_data()
    {
        QTest::addColumn<bool>("clearAll");
        QTest::newRow("invalidate") << false;
        QTest::newRow("clear caches") << true;
    }

    void staleLoadsAreDropped()
    {
        QFETCH(bool, clearAll);
        const QString dir = ktr::test::freshDir(QStringLiteral("stale"));
        const QString path = writeImage(dir, QStringLiteral("a.png"), QSize(16, 16), Qt::green);
        GridFixture fx(1);
        fx.groups[0].items[0].customIcon = path;
        // Hold the pool's delivery: the loads finish on the pool, their results wait in the event queue.
        fx.grid->preloadCustomIcon(path);
        QThreadPool::globalInstance()->waitForDone();
        if (clearAll)
            fx.grid->clearCaches();
        else
            fx.grid->invalidateIcon(path);
        QVERIFY(!fx.grid->isCustomIconPending(path));
        // A new load can start at once; the old result arrives first and is ignored.
        writeImage(dir, QStringLiteral("a.png"), QSize(16, 16), Qt::magenta);
        fx.grid->preloadCustomIcon(path);
        QVERIFY(fx.grid->isCustomIconPending(path));
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QVERIFY(fx.grid->hasCustomIcon(path));
        QCOMPARE(fx.grid->customIcon(path).toImage().pixelColor(8, 8), QColor(Qt::magenta));
        QVERIFY(!fx.grid->isCustomIconPending(path));
    }

    void refreshStartsAtMost64()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("many"));
        GridFixture fx(100, QSize(400, 300));
        for (int i = 0; i < 100; ++i)
            fx.groups[0].items[i].customIcon = writeImage(dir, QStringLiteral("%1.png").arg(i), QSize(4, 4), Qt::red);
        fx.groups[0].items[99].hidden = true; // hidden items load too
        fx.grid->refreshIcons();
        QCOMPARE(fx.grid->pendingCustomIconCount(), 64);
        fx.grid->refreshIcons(); // loads in flight: the refresh goes on with the rest
        QCOMPARE(fx.grid->pendingCustomIconCount(), 100);
        QTRY_COMPARE(fx.grid->customIconCount(), 100);
    }

    void mapKeeps256()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("evict"));
        GridFixture fx(1);
        QStringList paths;
        for (int i = 0; i < 257; ++i)
            paths.append(writeImage(dir, QStringLiteral("%1.png").arg(i), QSize(2, 2), Qt::red));
        // One at a time, so the insertion order is known.
        for (const QString& p : paths) {
            fx.grid->preloadCustomIcon(p);
            QThreadPool::globalInstance()->waitForDone();
            QCoreApplication::processEvents();
            QVERIFY(fx.grid->hasCustomIcon(p));
        }
        QCOMPARE(fx.grid->customIconCount(), 256);
        QVERIFY(!fx.grid->hasCustomIcon(paths.first()));
        QVERIFY(fx.grid->hasCustomIcon(paths.at(1)));
    }

    void gridDestroyedWhileLoading()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("gone"));
        const QString path = writeImage(dir, QStringLiteral("a.png"), QSize(16, 16), Qt::green);
        auto fx = std::make_unique<GridFixture>(1);
        fx->grid->preloadCustomIcon(path);
        fx->grid.reset();
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents(); // the late result finds no grid
        QVERIFY(true);
    }
};

KTR_TEST_MAIN(TestIconGrid)
#include "tst_icongrid.moc"
