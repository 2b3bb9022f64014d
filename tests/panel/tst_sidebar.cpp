#include "dropactioncases.h"
#include "logcapture.h"
#include "model/panelmodel.h"
#include "panel/itempayload.h"
#include "panel/sidebar.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QDrag>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QUuid>

#include <memory>

namespace {

const QString kRecycleBin = QStringLiteral("::{645FF040-5081-101B-9F08-00AA002F954E}");

// Groups named "G0", "G1", ... with the given item counts.
QList<Group> makeGroups(const QList<int>& itemCounts)
{
    QList<Group> groups;
    for (int i = 0; i < itemCounts.size(); ++i) {
        Group g;
        g.name = QStringLiteral("G%1").arg(i);
        for (int k = 0; k < itemCounts[i]; ++k) {
            Item item;
            item.path = QStringLiteral("/usr/bin/tool%1").arg(k);
            item.name = QStringLiteral("tool%1").arg(k);
            g.items.append(item);
        }
        groups.append(g);
    }
    return groups;
}

// The model the main window would own, wired to a sidebar of the given size.
struct Fixture
{
    QList<Group> groups;
    int current = 0;
    Sidebar sidebar;
    QStringList prompts; // "new:" or "rename:<preset>" per dialog run
    QString answer;      // what the name dialog returns

    explicit Fixture(const QList<int>& counts, QSize size = QSize(172, 400), bool horizontal = false)
        : groups(makeGroups(counts))
    {
        sidebar.setGroups(&groups, &current);
        sidebar.setHorizontal(horizontal);
        sidebar.resize(size);
        sidebar.setNamePrompter([this](bool rename, const QString& preset) {
            prompts.append(rename ? QStringLiteral("rename:") + preset : QStringLiteral("new:"));
            return answer;
        });
    }
};

void mouse(QWidget* w, QEvent::Type type, const QPoint& pos, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease || type == QEvent::MouseMove ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), type == QEvent::MouseMove ? Qt::NoButton : button,
                  buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void click(QWidget* w, const QPoint& pos)
{
    mouse(w, QEvent::MouseButtonPress, pos);
    mouse(w, QEvent::MouseButtonRelease, pos);
}

void wheel(QWidget* w, int delta)
{
    QWheelEvent e(QPointF(20, 20), QPointF(w->mapToGlobal(QPoint(20, 20))), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

// A drag's events as the drag loop delivers them; each returns whether the widget accepted.
bool dragEnter(QWidget* w, const QPoint& pos, const QMimeData* mime)
{
    QDragEnterEvent e(pos, Qt::MoveAction | Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
    return e.isAccepted();
}
bool dragMove(QWidget* w, const QPoint& pos, const QMimeData* mime)
{
    QDragMoveEvent e(pos, Qt::MoveAction | Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
    return e.isAccepted();
}
void dragLeave(QWidget* w)
{
    QDragLeaveEvent e;
    QApplication::sendEvent(w, &e);
}
bool drop(QWidget* w, const QPoint& pos, const QMimeData* mime)
{
    QDropEvent e(QPointF(pos), Qt::MoveAction | Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    e.setAccepted(false);
    QApplication::sendEvent(w, &e);
    return e.isAccepted();
}

// The middle of list row i (no scroll).
QPoint rowPoint(int i)
{
    return QPoint(40, 34 * i + 25);
}

QImage render(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    // Without the window background, so what the sidebar leaves unpainted stays transparent.
    w.render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
    return img;
}

// A "Shell IDList Array" holding the Recycle Bin as one root folder item.
QByteArray recycleBinIdList()
{
    const auto u16 = [](QByteArray& b, quint16 v) { b.append(char(v & 0xFF)).append(char(v >> 8)); };
    const auto u32 = [](QByteArray& b, quint32 v) {
        for (int i = 0; i < 4; ++i)
            b.append(char((v >> (8 * i)) & 0xFF));
    };
    const QUuid id = QUuid::fromString(QStringView(kRecycleBin).mid(2));
    QByteArray child;
    u16(child, 20);
    child.append(char(0x1F)).append(char(0x50));
    u32(child, id.data1);
    u16(child, id.data2);
    u16(child, id.data3);
    child.append(reinterpret_cast<const char*>(id.data4), 8);
    u16(child, 0);
    QByteArray b;
    u32(b, 1);  // one child
    u32(b, 12); // parent list: empty
    u32(b, 14); // the child's list
    u16(b, 0);
    return b + child;
}

QStringList actionTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* a : menu->actions())
        texts.append(a->isSeparator() ? QStringLiteral("-") : a->text() + (a->isEnabled() ? "" : " (off)"));
    return texts;
}

QAction* actionNamed(QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

} // namespace

class TestSidebar : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A group's number counts what its grid shows: a hidden item is not there for the user.
    void countLeavesOutHiddenItems()
    {
        Fixture withHidden({3});
        withHidden.groups[0].items[1].hidden = true;
        Fixture plain({2});
        QCOMPARE(withHidden.sidebar.shownItemCount(0), 2);
        QCOMPARE(withHidden.sidebar.grab().toImage(), plain.sidebar.grab().toImage());
    }

    void cleanup()
    {
        setDarkTheme(false);
        Lang::setLanguage(0);
    }

    // ---- geometry ----

    void listRowAt_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("showAdd");
        QTest::addColumn<int>("groups");
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<int>("row");
        QTest::newRow("top of row 0") << QSize(172, 400) << true << 5 << QPoint(20, 10) << 0;
        QTest::newRow("bottom of row 0") << QSize(172, 400) << true << 5 << QPoint(20, 40) << 0;
        QTest::newRow("gap between rows") << QSize(172, 400) << true << 5 << QPoint(20, 42) << -1;
        QTest::newRow("top of row 1") << QSize(172, 400) << true << 5 << QPoint(20, 44) << 1;
        QTest::newRow("above the list") << QSize(172, 400) << true << 5 << QPoint(20, 9) << -1;
        QTest::newRow("left margin") << QSize(172, 400) << true << 5 << QPoint(7, 20) << -1;
        QTest::newRow("left edge") << QSize(172, 400) << true << 5 << QPoint(8, 20) << 0;
        QTest::newRow("right edge") << QSize(172, 400) << true << 5 << QPoint(164, 20) << 0;
        QTest::newRow("right margin") << QSize(172, 400) << true << 5 << QPoint(165, 20) << -1;
        QTest::newRow("below the last row") << QSize(172, 400) << true << 5 << QPoint(20, 180) << -1;
        QTest::newRow("in the add row's reserve") << QSize(172, 400) << true << 20 << QPoint(20, 351) << -1;
        QTest::newRow("last line above the reserve") << QSize(172, 400) << true << 20 << QPoint(20, 350) << 10;
        QTest::newRow("small reserve without add row") << QSize(172, 400) << false << 20 << QPoint(20, 385) << 11;
        QTest::newRow("no groups") << QSize(172, 400) << true << 0 << QPoint(20, 20) << -1;
        // Too low for the add row, but the reserve stays while the add row is switched on.
        QTest::newRow("short, reserve kept") << QSize(172, 100) << true << 5 << QPoint(20, 51) << -1;
        QTest::newRow("short, above the reserve") << QSize(172, 100) << true << 5 << QPoint(20, 50) << 1;
    }
    void listRowAt()
    {
        QFETCH(QSize, size);
        QFETCH(bool, showAdd);
        QFETCH(int, groups);
        QFETCH(QPoint, point);
        QFETCH(int, row);
        QList<int> counts(groups, 1);
        Fixture f(counts, size);
        f.sidebar.setShowNewGroupButton(showAdd);
        QCOMPARE(f.sidebar.rowAt(point), row);
    }

    void addRow_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("showAdd");
        QTest::addColumn<QRect>("addRect");
        QTest::newRow("shown") << 400 << true << QRect(10, 358, 152, 32);
        QTest::newRow("lowest height with an add row") << 120 << true << QRect(10, 78, 152, 32);
        QTest::newRow("too low") << 119 << true << QRect();
        QTest::newRow("switched off") << 400 << false << QRect();
    }
    void addRow()
    {
        QFETCH(int, height);
        QFETCH(bool, showAdd);
        QFETCH(QRect, addRect);
        Fixture f({1, 2}, QSize(172, height));
        f.sidebar.setShowNewGroupButton(showAdd);
        render(f.sidebar);
        QCOMPARE(f.sidebar.addRect(), addRect);
        QSignalSpy created(&f.sidebar, &Sidebar::groupCreated);
        f.answer = QStringLiteral("  工作 ");
        // Just outside the row, within the 5 px the hit test allows.
        click(&f.sidebar, QPoint(20, height - 46));
        QCOMPARE(created.count(), addRect.isNull() ? 0 : 1);
        if (!addRect.isNull())
            QCOMPARE(created.at(0).at(0).toString(), QStringLiteral("工作"));
    }

    void newGroupDialogCancelledOrBlank_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("cancelled") << QString();
        QTest::newRow("blank") << QStringLiteral("   ");
    }
    void newGroupDialogCancelledOrBlank()
    {
        QFETCH(QString, answer);
        Fixture f({1});
        render(f.sidebar);
        f.answer = answer;
        QSignalSpy created(&f.sidebar, &Sidebar::groupCreated);
        click(&f.sidebar, f.sidebar.addRect().center());
        QCOMPARE(f.prompts, QStringList{QStringLiteral("new:")});
        QCOMPARE(created.count(), 0);
    }

    // The real dialog behind the add row, run modally.
    void newGroupThroughTheNameDialog()
    {
        QList<Group> groups = makeGroups({1});
        int current = 0;
        Sidebar sidebar;
        sidebar.setGroups(&groups, &current);
        sidebar.resize(172, 400);
        sidebar.show();
        render(sidebar);
        QSignalSpy created(&sidebar, &Sidebar::groupCreated);
        bool sawDialog = false;
        QTimer::singleShot(0, &sidebar, [&sawDialog] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* edit = modal ? modal->findChild<QLineEdit*>() : nullptr;
            sawDialog = edit != nullptr;
            if (!edit) {
                if (modal)
                    modal->close();
                return;
            }
            QTest::keyClicks(edit, QStringLiteral("Games"));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        click(&sidebar, sidebar.addRect().center());
        QVERIFY(sawDialog);
        QCOMPARE(created.count(), 1);
        QCOMPARE(created.at(0).at(0).toString(), QStringLiteral("Games"));
    }

    // ---- wheel ----

    void wheelScroll_data()
    {
        QTest::addColumn<int>("start"); // wheel steps of -120 before the tested one
        QTest::addColumn<int>("delta");
        QTest::addColumn<int>("scroll");
        // 20 groups in 400 px: list height 340, 680 px of rows, at most 340 px of scroll.
        QTest::newRow("small delta moves one row") << 0 << -30 << 34;
        QTest::newRow("one notch") << 0 << -120 << 34;
        QTest::newRow("just below two notches") << 0 << -239 << 34;
        QTest::newRow("two notches") << 0 << -240 << 68;
        QTest::newRow("three notches") << 0 << -360 << 102;
        QTest::newRow("up at the top") << 0 << 120 << 0;
        QTest::newRow("up") << 3 << 30 << 68;
        QTest::newRow("no vertical delta") << 2 << 0 << 68;
        QTest::newRow("clamped at the bottom") << 0 << -12000 << 340;
    }
    void wheelScroll()
    {
        QFETCH(int, start);
        QFETCH(int, delta);
        QFETCH(int, scroll);
        Fixture f(QList<int>(20, 0));
        QCOMPARE(f.sidebar.maxScroll(), 340);
        for (int i = 0; i < start; ++i)
            wheel(&f.sidebar, -120);
        wheel(&f.sidebar, delta);
        QCOMPARE(f.sidebar.scrollOffset(), scroll);
    }

    // Hover follows where the pointer is, not where it last moved: a scroll or a dialog changes the row under a
    // pointer that stays put.
    void hoverFollowsPointer()
    {
        Fixture f(QList<int>(20, 0));
        QPoint pointer = f.sidebar.mapToGlobal(rowPoint(2));
        f.sidebar.setPointerSourceForTesting([&] { return pointer; });
        mouse(&f.sidebar, QEvent::MouseMove, rowPoint(2));
        QCOMPARE(f.sidebar.hoverRow(), 2);
        wheel(&f.sidebar, -120); // one row further down, the pointer now over row 3
        QCOMPARE(f.sidebar.hoverRow(), 3);
        // The rename dialog runs modally; the user leaves the pointer over another row.
        f.sidebar.setNamePrompter([&](bool, const QString&) {
            pointer = f.sidebar.mapToGlobal(rowPoint(5));
            return QString();
        });
        mouse(&f.sidebar, QEvent::MouseButtonDblClick, rowPoint(2));
        QCOMPARE(f.sidebar.hoverRow(), 6);
        // Off the widget: no hover.
        pointer = f.sidebar.mapToGlobal(QPoint(-50, 20));
        wheel(&f.sidebar, 120);
        QCOMPARE(f.sidebar.hoverRow(), -1);
    }

    void scrolledRowsAndResize()
    {
        Fixture f(QList<int>(20, 0));
        wheel(&f.sidebar, -120);
        QCOMPARE(f.sidebar.rowAt(QPoint(20, 10)), 1);
        wheel(&f.sidebar, -12000);
        QCOMPARE(f.sidebar.rowAt(QPoint(20, 340)), 19);
        // A taller window needs less scroll: the offset follows.
        f.sidebar.show();
        f.sidebar.resize(172, 600);
        QCOMPARE(f.sidebar.maxScroll(), 140);
        QCOMPARE(f.sidebar.scrollOffset(), 140);
        // Strip mode never scrolls.
        f.sidebar.setHorizontal(true);
        QCOMPARE(f.sidebar.scrollOffset(), 0);
        wheel(&f.sidebar, -120);
        QCOMPARE(f.sidebar.scrollOffset(), 0);
        QCOMPARE(f.sidebar.maxScroll(), 0);
    }

    // ---- strip mode ----

    void stripLayout()
    {
        Fixture f(QList<int>(20, 1), QSize(400, 40), true);
        render(f.sidebar);
        const int cw = f.sidebar.chipTextWidth(0);
        QVERIFY(cw >= 8);
        QCOMPARE(f.sidebar.chipRect(0), QRect(8, 5, cw, 30));
        QCOMPARE(f.sidebar.chipRect(1).x(), 8 + f.sidebar.chipTextWidth(0) + 10);
        QCOMPARE(f.sidebar.addRect(), QRect(380, 14, 12, 12));
        QCOMPARE(f.sidebar.overflowRect(), QRect(362, 14, 12, 12));
        const int first = f.sidebar.firstOverflowIndex();
        QVERIFY(first > 0 && first < 20);
        const QRect lastDrawn = f.sidebar.chipRect(first - 1);
        QVERIFY(lastDrawn.x() + lastDrawn.width() <= 356);
        QVERIFY(f.sidebar.chipRect(first).x() + f.sidebar.chipRect(first).width() > 356);

        // Hits: a chip and the 3 px around it; the space between the last chip and the overflow button is dead.
        QCOMPARE(f.sidebar.rowAt(QPoint(6, 20)), 0);
        QCOMPARE(f.sidebar.rowAt(QPoint(4, 20)), -1);
        QCOMPARE(f.sidebar.rowAt(QPoint(lastDrawn.right() + 3, 20)), first - 1);
        QCOMPARE(f.sidebar.rowAt(QPoint(lastDrawn.right() + 5, 20)), -1);
        QCOMPARE(f.sidebar.rowAt(QPoint(20, 4)), -1);
        QSignalSpy selected(&f.sidebar, &Sidebar::groupSelected);
        click(&f.sidebar, QPoint(lastDrawn.right() + 5, 20));
        QCOMPARE(selected.count(), 0);
        click(&f.sidebar, f.sidebar.chipRect(1).center());
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toInt(), 1);

        // The overflow menu offers exactly the chips not drawn.
        std::unique_ptr<QMenu> menu(f.sidebar.buildOverflowMenu(nullptr));
        QCOMPARE(menu->actions().size(), 20 - first);
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("G%1").arg(first));
        QCOMPARE(menu->actions().first()->data().toInt(), first);
        menu->actions().last()->trigger();
        QCOMPARE(selected.count(), 2);
        QCOMPARE(selected.at(1).at(0).toInt(), 19);
    }

    void stripAllFit()
    {
        Fixture f({1, 1}, QSize(400, 40), true);
        f.sidebar.setShowNewGroupButton(false);
        render(f.sidebar);
        QCOMPARE(f.sidebar.firstOverflowIndex(), 2);
        QVERIFY(f.sidebar.overflowRect().isNull());
        // The add button stays in strip mode whatever the list setting says.
        QCOMPARE(f.sidebar.addRect(), QRect(380, 14, 12, 12));
        std::unique_ptr<QMenu> menu(f.sidebar.buildOverflowMenu(nullptr));
        QVERIFY(menu->isEmpty());
        f.answer = QStringLiteral("New");
        QSignalSpy created(&f.sidebar, &Sidebar::groupCreated);
        click(&f.sidebar, QPoint(386, 20));
        QCOMPARE(created.count(), 1);
    }

    void chipWidthIsClamped()
    {
        QList<Group> groups = makeGroups({0, 0});
        groups[0].name = QStringLiteral("i");
        groups[1].name = QString(40, QChar(0x4E2D));
        int current = 0;
        Sidebar sidebar;
        sidebar.setGroups(&groups, &current);
        const QFontMetrics fm([] {
            QFont font(QApplication::font().family());
            font.setPixelSize(13);
            return font;
        }());
        QCOMPARE(sidebar.chipTextWidth(0), std::max(8, fm.horizontalAdvance(QStringLiteral("i"))));
        QCOMPARE(sidebar.chipTextWidth(1), 6 * fm.horizontalAdvance(QChar(0x4E2D)));
    }

    // ---- press, release, drag threshold ----

    void pressMoveRelease_data()
    {
        QTest::addColumn<QPoint>("move");
        QTest::addColumn<bool>("drags");
        QTest::newRow("no move") << QPoint(0, 0) << false;
        QTest::newRow("6 px") << QPoint(3, 3) << false;
        QTest::newRow("7 px") << QPoint(0, 7) << true;
        QTest::newRow("7 px diagonal") << QPoint(-4, 3) << true;
    }
    void pressMoveRelease()
    {
        QFETCH(QPoint, move);
        QFETCH(bool, drags);
        Fixture f({1, 1, 1});
        QList<QByteArray> payloads;
        f.sidebar.setDragRunner([&payloads](QDrag* drag) {
            payloads.append(drag->mimeData()->data(QString::fromLatin1(kGroupMime)));
            return Qt::IgnoreAction;
        });
        QSignalSpy selected(&f.sidebar, &Sidebar::groupSelected);
        const QPoint at = rowPoint(1);
        mouse(&f.sidebar, QEvent::MouseButtonPress, at);
        mouse(&f.sidebar, QEvent::MouseMove, at + move);
        mouse(&f.sidebar, QEvent::MouseButtonRelease, at + move);
        QCOMPARE(payloads.size(), drags ? 1 : 0);
        if (drags)
            QCOMPARE(payloads.first(), QByteArray(R"({"g":1})"));
        QCOMPARE(selected.count(), drags ? 0 : 1);
        if (!drags)
            QCOMPARE(selected.at(0).at(0).toInt(), 1);
    }

    void releaseAnywhereSelectsThePressedGroup()
    {
        Fixture f({1, 1, 1});
        QSignalSpy selected(&f.sidebar, &Sidebar::groupSelected);
        mouse(&f.sidebar, QEvent::MouseButtonPress, rowPoint(2));
        mouse(&f.sidebar, QEvent::MouseButtonRelease, QPoint(300, 300));
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toInt(), 2);
        // Right presses and presses on blank space select nothing.
        mouse(&f.sidebar, QEvent::MouseButtonPress, rowPoint(1), Qt::RightButton);
        mouse(&f.sidebar, QEvent::MouseButtonRelease, rowPoint(1), Qt::RightButton);
        click(&f.sidebar, QPoint(40, 300));
        QCOMPARE(selected.count(), 1);
    }

    void doubleClickRenames_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("renamed");
        QTest::newRow("new name") << QStringLiteral(" 游戏 ") << true;
        QTest::newRow("cancelled") << QString() << false;
        QTest::newRow("blank") << QStringLiteral("  ") << false;
    }
    void doubleClickRenames()
    {
        QFETCH(QString, answer);
        QFETCH(bool, renamed);
        Fixture f({1, 1});
        f.groups[1].name = QStringLiteral("默认分组");
        Lang::setLanguage(1);
        f.answer = answer;
        QSignalSpy spy(&f.sidebar, &Sidebar::groupRenamed);
        mouse(&f.sidebar, QEvent::MouseButtonDblClick, rowPoint(1));
        // The dialog is preset with the stored name, not the translated one.
        QCOMPARE(f.prompts, QStringList{QStringLiteral("rename:默认分组")});
        QCOMPARE(spy.count(), renamed ? 1 : 0);
        if (renamed)
            QCOMPARE(spy.at(0), (QVariantList{1, QStringLiteral("游戏")}));
        mouse(&f.sidebar, QEvent::MouseButtonDblClick, QPoint(40, 300));
        QCOMPARE(f.prompts.size(), 1);
    }

    void hoverFollowsThePointer()
    {
        Fixture f({1, 1, 1});
        mouse(&f.sidebar, QEvent::MouseMove, rowPoint(2));
        QCOMPARE(f.sidebar.hoverRow(), 2);
        mouse(&f.sidebar, QEvent::MouseMove, QPoint(40, 300));
        QCOMPARE(f.sidebar.hoverRow(), -1);
        mouse(&f.sidebar, QEvent::MouseMove, rowPoint(0));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&f.sidebar, &leave);
        QCOMPARE(f.sidebar.hoverRow(), -1);
    }

    // ---- context menu ----

    void contextMenu_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("entries");
        const QString rename = QStringLiteral("重命名分组");
        const QString del = QStringLiteral("删除分组");
        const QString clear = QStringLiteral("清空本分组图标");
        const QString add = QStringLiteral("新建分组");
        const QString sync = QStringLiteral("收纳桌面新图标");
        const QString off = QStringLiteral(" (off)");
        QTest::newRow("group 0") << 0 << QStringList{rename, del + off, clear, "-", add, "-", sync};
        QTest::newRow("empty group") << 2 << QStringList{rename, del, clear + off, "-", add, "-", sync};
        QTest::newRow("group with items") << 1 << QStringList{rename, del, clear, "-", add, "-", sync};
        QTest::newRow("blank space") << -1 << QStringList{add, "-", sync};
    }
    void contextMenu()
    {
        QFETCH(int, row);
        QFETCH(QStringList, entries);
        Fixture f({2, 3, 0});
        std::unique_ptr<QMenu> menu(f.sidebar.buildContextMenu(row, nullptr));
        QCOMPARE(actionTexts(menu.get()), entries);
    }

    void contextMenuActions()
    {
        Fixture f({2, 3, 0});
        QSignalSpy deleted(&f.sidebar, &Sidebar::groupDeleted);
        QSignalSpy cleared(&f.sidebar, &Sidebar::groupCleared);
        QSignalSpy renamed(&f.sidebar, &Sidebar::groupRenamed);
        QSignalSpy created(&f.sidebar, &Sidebar::groupCreated);
        QSignalSpy sync(&f.sidebar, &Sidebar::desktopSyncRequested);
        f.answer = QStringLiteral("X");
        std::unique_ptr<QMenu> menu(f.sidebar.buildContextMenu(1, nullptr));
        actionNamed(menu.get(), QStringLiteral("删除分组"))->trigger();
        actionNamed(menu.get(), QStringLiteral("清空本分组图标"))->trigger();
        actionNamed(menu.get(), QStringLiteral("重命名分组"))->trigger();
        actionNamed(menu.get(), QStringLiteral("新建分组"))->trigger();
        actionNamed(menu.get(), QStringLiteral("收纳桌面新图标"))->trigger();
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(deleted.at(0).at(0).toInt(), 1);
        QCOMPARE(cleared.count(), 1);
        QCOMPARE(cleared.at(0).at(0).toInt(), 1);
        QCOMPARE(renamed.count(), 1);
        QCOMPARE(renamed.at(0), (QVariantList{1, QStringLiteral("X")}));
        QCOMPARE(created.count(), 1);
        QCOMPARE(sync.count(), 1);
        QCOMPARE(f.prompts, (QStringList{QStringLiteral("rename:G1"), QStringLiteral("new:")}));
    }

    void menusShowTranslatedNames()
    {
        Fixture f({1, 1}, QSize(60, 40), true);
        f.groups[1].name = QStringLiteral("默认分组");
        Lang::setLanguage(1);
        render(f.sidebar);
        std::unique_ptr<QMenu> menu(f.sidebar.buildOverflowMenu(nullptr));
        QVERIFY(!menu->isEmpty());
        QCOMPARE(menu->actions().last()->text(), QStringLiteral("Default Group"));
        std::unique_ptr<QMenu> context(f.sidebar.buildContextMenu(1, nullptr));
        QCOMPARE(context->actions().first()->text(), QStringLiteral("Rename Group"));
    }

    // Both group menus take the theme's menu look: dark colours in the dark theme, never the stock white.
    void menusFollowTheTheme_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void menusFollowTheTheme()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        auto restore = qScopeGuard([] { setDarkTheme(false); });
        Fixture f({1, 1}, QSize(60, 40), true);
        render(f.sidebar);
        std::unique_ptr<QMenu> context(f.sidebar.buildContextMenu(1, nullptr));
        std::unique_ptr<QMenu> overflow(f.sidebar.buildOverflowMenu(nullptr));
        for (QMenu* menu : {context.get(), overflow.get()}) {
            QCOMPARE(menu->styleSheet(), themedMenuStyleSheet());
            QCOMPARE(menu->styleSheet().contains(QStringLiteral("background:#2a2f3a")), dark);
        }
    }

    // ---- group drag ----

    void groupDragLooks()
    {
        Fixture f({1, 1, 1});
        std::unique_ptr<QMimeData> mime(f.sidebar.groupDragMimeData(2));
        QCOMPARE(mime->formats(), QStringList{QStringLiteral("application/x-ktr-group")});
        QCOMPARE(mime->data(QStringLiteral("application/x-ktr-group")), QByteArray(R"({"g":2})"));
        f.groups[2].name = QStringLiteral("i");
        const QPixmap pixmap = f.sidebar.groupDragPixmap(2);
        QCOMPARE(pixmap.deviceIndependentSize().toSize(), QSize(40, 24)); // a short name keeps the least width
        QList<Group> longName = makeGroups({0});
        longName[0].name = QString(30, QLatin1Char('W'));
        int current = 0;
        f.sidebar.setGroups(&longName, &current);
        QVERIFY(f.sidebar.groupDragPixmap(0).width() > 100);
        QDrag* seen = nullptr;
        QPoint hotSpot;
        f.sidebar.setDragRunner([&](QDrag* drag) {
            seen = drag;
            hotSpot = drag->hotSpot();
            return Qt::IgnoreAction;
        });
        f.sidebar.startGroupDrag(5); // out of range: nothing
        QVERIFY(!seen);
        f.sidebar.startGroupDrag(0);
        QVERIFY(seen);
        QCOMPARE(hotSpot, QPoint(8, 12));
    }

    // The live reorder: the runner plays the drag loop, the model is moved as the main window would.
    void groupDragReorders_data()
    {
        QTest::addColumn<QString>("path"); // rows visited; "L" = leave the sidebar, "D" = drop on the last row
        QTest::addColumn<QStringList>("displaced");
        QTest::addColumn<int>("finished");
        QTest::newRow("over 3 and 4, dropped") << "234D" << QStringList{"2>3", "3>4"} << 1;
        QTest::newRow("dropped outside") << "23L" << QStringList{"2>3"} << 1;
        QTest::newRow("back and forth") << "2321" << QStringList{"2>3", "3>2", "2>1"} << 1;
        QTest::newRow("stays on its own row") << "22D" << QStringList{} << 0;
        QTest::newRow("left and came back") << "23L4D" << QStringList{"2>3"} << 1;
    }
    void groupDragReorders()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, displaced);
        QFETCH(int, finished);
        Fixture f({1, 1, 1, 1, 1, 1});
        QStringList seen;
        connect(&f.sidebar, &Sidebar::groupDragDisplace, &f.sidebar, [&](int from, int to) {
            seen.append(QStringLiteral("%1>%2").arg(from).arg(to));
            f.groups.move(from, to);
        });
        QSignalSpy done(&f.sidebar, &Sidebar::groupDragFinished);
        bool dropAccepted = false;
        f.sidebar.setDragRunner([&](QDrag* drag) {
            const QMimeData* mime = drag->mimeData();
            bool inside = false;
            int last = -1;
            for (QChar c : path) {
                if (c == 'L') {
                    dragLeave(&f.sidebar);
                    inside = false;
                } else if (c == 'D') {
                    dropAccepted = drop(&f.sidebar, rowPoint(last), mime);
                } else {
                    last = c.digitValue();
                    if (!inside)
                        inside = dragEnter(&f.sidebar, rowPoint(last), mime);
                    if (!dragMove(&f.sidebar, rowPoint(last), mime))
                        return Qt::IgnoreAction;
                }
            }
            return dropAccepted ? Qt::MoveAction : Qt::IgnoreAction;
        });
        mouse(&f.sidebar, QEvent::MouseButtonPress, rowPoint(2));
        mouse(&f.sidebar, QEvent::MouseMove, rowPoint(2) + QPoint(0, 10));
        QCOMPARE(seen, displaced);
        QCOMPARE(done.count(), finished);
        if (path.endsWith('D'))
            QVERIFY(dropAccepted);
        QCOMPARE(f.sidebar.dropRow(), -1);
        // The release after the drag selects nothing.
        QSignalSpy selected(&f.sidebar, &Sidebar::groupSelected);
        mouse(&f.sidebar, QEvent::MouseButtonRelease, rowPoint(2));
        QCOMPARE(selected.count(), 0);
    }

    // ---- drops ----

    void dropEnter_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("urls") << "text/uri-list" << true;
        QTest::newRow("shell items") << QString::fromLatin1(kShellIdListMime) << true;
        QTest::newRow("item") << "application/x-ktr-item" << true;
        QTest::newRow("group") << "application/x-ktr-group" << true;
        QTest::newRow("plain text") << "text/plain" << false;
    }
    void dropEnter()
    {
        QFETCH(QString, format);
        QFETCH(bool, accepted);
        Fixture f({1, 1});
        QMimeData mime;
        mime.setData(format, format == "text/uri-list" ? QByteArray("file:///tmp/a\r\n") : QByteArray("{}"));
        QCOMPARE(dragEnter(&f.sidebar, rowPoint(1), &mime), accepted);
        QCOMPARE(f.sidebar.dropRow(), accepted ? 1 : -1);
        if (accepted) {
            QVERIFY(dragMove(&f.sidebar, rowPoint(0), &mime));
            QCOMPARE(f.sidebar.dropRow(), 0);
            dragLeave(&f.sidebar);
            QCOMPARE(f.sidebar.dropRow(), -1);
        }
    }

    void dropItem_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("target");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QVariantList>("moved"); // empty: no itemMoved
        QTest::addColumn<QString>("warning");
        // Groups: 0 with 2 items, 1 with 3, 2 with none, 3 with 1.
        QTest::newRow("to another group")
            << encodeItemPayload(1, 2, "/usr/bin/tool2") << 3 << true << QVariantList{1, 2, 3} << QString();
        QTest::newRow("onto its own group")
            << encodeItemPayload(1, 0, "/usr/bin/tool0") << 1 << true << QVariantList{} << QString();
        QTest::newRow("fractional group") << QByteArray(R"({"g":1.5,"i":0})") << 3 << false << QVariantList{}
                                          << "sidebar drop: invalid item mime, ignored g = -1 i = -1";
        QTest::newRow("negative item") << QByteArray(R"({"g":1,"i":-1})") << 3 << false << QVariantList{}
                                       << "sidebar drop: invalid item mime, ignored g = 1 i = -1";
        QTest::newRow("item out of range") << QByteArray(R"({"g":1,"i":3})") << 3 << false << QVariantList{}
                                           << "sidebar drop: invalid item mime, ignored g = 1 i = 3";
        QTest::newRow("group out of range") << QByteArray(R"({"g":4,"i":0})") << 3 << false << QVariantList{}
                                            << "sidebar drop: invalid item mime, ignored g = -1 i = -1";
        QTest::newRow("empty group") << QByteArray(R"({"g":2,"i":0})") << 3 << false << QVariantList{}
                                     << "sidebar drop: invalid item mime, ignored g = 2 i = 0";
        QTest::newRow("huge index") << QByteArray(R"({"g":1,"i":4294967296})") << 3 << false << QVariantList{}
                                    << "sidebar drop: invalid item mime, ignored g = 1 i = -1";
        QTest::newRow("string index") << QByteArray(R"({"g":"1","i":0})") << 3 << false << QVariantList{}
                                      << "sidebar drop: invalid item mime, ignored g = -1 i = -1";
        QTest::newRow("no group") << QByteArray(R"({"i":1})") << 3 << false << QVariantList{}
                                  << "sidebar drop: invalid item mime, ignored g = -1 i = -1";
        QTest::newRow("no item") << QByteArray(R"({"g":1,"path":"/usr/bin/tool0"})") << 3 << false << QVariantList{}
                                 << "sidebar drop: invalid item mime, ignored g = 1 i = -1";
        QTest::newRow("not json") << QByteArray("g=1,i=0") << 3 << false << QVariantList{}
                                  << "sidebar drop: unparsable item mime, ignored";
        QTest::newRow("json array") << QByteArray("[1,0]") << 3 << false << QVariantList{}
                                    << "sidebar drop: unparsable item mime, ignored";
        QTest::newRow("on blank space") << encodeItemPayload(1, 2, "/x") << -1 << false << QVariantList{} << QString();
    }
    void dropItem()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, target);
        QFETCH(bool, accepted);
        QFETCH(QVariantList, moved);
        QFETCH(QString, warning);
        Fixture f({2, 3, 0, 1});
        QSignalSpy spy(&f.sidebar, &Sidebar::itemMoved);
        QSignalSpy urls(&f.sidebar, &Sidebar::urlsDropped);
        QMimeData mime;
        mime.setData(QStringLiteral("application/x-ktr-item"), payload);
        // The grid also offers the file to other programs; the item payload wins.
        mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/usr/bin/tool2"))});
        const QPoint at = target < 0 ? QPoint(40, 300) : rowPoint(target);
        QVERIFY(dragEnter(&f.sidebar, at, &mime));
        ktr::test::LogCapture log;
        QCOMPARE(drop(&f.sidebar, at, &mime), accepted);
        QCOMPARE(spy.count(), moved.isEmpty() ? 0 : 1);
        if (!moved.isEmpty())
            QCOMPARE(spy.at(0), moved);
        QCOMPARE(urls.count(), 0);
        if (warning.isEmpty())
            QVERIFY2(!log.contains(QStringLiteral("sidebar drop")), qPrintable(log.messages().join('\n')));
        else
            QVERIFY2(log.contains(warning), qPrintable(log.messages().join('\n')));
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
        Fixture f({1, 1, 1});
        QSignalSpy urls(&f.sidebar, &Sidebar::urlsDropped);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/home/u/report.txt"))});
        const Qt::DropActions actions(offered);
        const bool accept = taken != Qt::IgnoreAction;
        QDragEnterEvent enter(rowPoint(2), actions, &mime, Qt::LeftButton, keys);
        QApplication::sendEvent(&f.sidebar, &enter);
        QCOMPARE(enter.isAccepted(), accept);
        QDragMoveEvent move(rowPoint(2), actions, &mime, Qt::LeftButton, keys);
        QApplication::sendEvent(&f.sidebar, &move);
        QCOMPARE(move.isAccepted(), accept);
        QDropEvent drop(QPointF(rowPoint(2)), actions, &mime, Qt::LeftButton, keys);
        drop.setAccepted(false);
        QApplication::sendEvent(&f.sidebar, &drop);
        QCOMPARE(drop.isAccepted(), accept);
        QCOMPARE(urls.count(), accept ? 1 : 0);
        if (accept) {
            QCOMPARE(int(enter.dropAction()), taken);
            QCOMPARE(int(move.dropAction()), taken);
            QCOMPARE(int(drop.dropAction()), taken);
        }
    }

    void dropUrlsAndShellItems_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QByteArray>("idList");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QList<QUrl>>("files");
        QTest::addColumn<QStringList>("places");
        const QUrl a = QUrl::fromLocalFile(QStringLiteral("/home/u/a.txt"));
        const QUrl b = QUrl::fromLocalFile(QStringLiteral("/usr/bin/b"));
        QTest::newRow("files") << QList<QUrl>{a, b} << QByteArray() << true << QList<QUrl>{a, b} << QStringList{};
        QTest::newRow("the trash as a URI") << QList<QUrl>{QUrl(QStringLiteral("trash:///"))} << QByteArray() << true
                                            << QList<QUrl>{} << QStringList{kRecycleBin};
        QTest::newRow("file and trash") << QList<QUrl>{a, QUrl(QStringLiteral("trash:///"))} << QByteArray() << true
                                        << QList<QUrl>{a} << QStringList{kRecycleBin};
        QTest::newRow("shell item list") << QList<QUrl>{} << recycleBinIdList() << true << QList<QUrl>{}
                                         << QStringList{kRecycleBin};
        QTest::newRow("broken shell item list")
            << QList<QUrl>{} << QByteArray("\x01\x00\x00\x00", 4) << false << QList<QUrl>{} << QStringList{};
        // URLs come first when both are offered, as the shell offers both.
        QTest::newRow("urls and shell list")
            << QList<QUrl>{a} << recycleBinIdList() << true << QList<QUrl>{a} << QStringList{};
    }
    void dropUrlsAndShellItems()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(QByteArray, idList);
        QFETCH(bool, accepted);
        QFETCH(QList<QUrl>, files);
        QFETCH(QStringList, places);
        Fixture f({1, 1, 1});
        QSignalSpy urlSpy(&f.sidebar, &Sidebar::urlsDropped);
        QSignalSpy shellSpy(&f.sidebar, &Sidebar::shellItemsDropped);
        QMimeData mime;
        if (!urls.isEmpty())
            mime.setUrls(urls);
        if (!idList.isEmpty())
            mime.setData(QString::fromLatin1(kShellIdListMime), idList);
        QVERIFY(dragEnter(&f.sidebar, rowPoint(2), &mime));
        QCOMPARE(drop(&f.sidebar, rowPoint(2), &mime), accepted);
        QCOMPARE(f.sidebar.dropRow(), -1);
        QCOMPARE(urlSpy.count(), files.isEmpty() ? 0 : 1);
        if (!files.isEmpty()) {
            QCOMPARE(urlSpy.at(0).at(0).toInt(), 2);
            QCOMPARE(urlSpy.at(0).at(1).value<QList<QUrl>>(), files);
        }
        QCOMPARE(shellSpy.count(), places.isEmpty() ? 0 : 1);
        if (!places.isEmpty()) {
            QCOMPARE(shellSpy.at(0).at(0).toInt(), 2);
            const auto items = shellSpy.at(0).at(1).value<QList<ShellItemPair>>();
            QStringList parsing;
            for (const auto& item : items)
                parsing.append(item.second);
            QCOMPARE(parsing, places);
        }
    }

    // A group payload that did not come from this sidebar's own drag: nothing moves, and a payload that is not
    // sound is refused.
    void dropForeignGroupPayload_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("valid") << QByteArray(R"({"g":1})") << true;
        QTest::newRow("out of range") << QByteArray(R"({"g":3})") << false;
        QTest::newRow("negative") << QByteArray(R"({"g":-1})") << false;
        QTest::newRow("fractional") << QByteArray(R"({"g":0.5})") << false;
        QTest::newRow("string") << QByteArray(R"({"g":"1"})") << false;
        QTest::newRow("missing") << QByteArray("{}") << false;
        QTest::newRow("garbage") << QByteArray("\xff\xfe") << false;
    }
    void dropForeignGroupPayload()
    {
        QFETCH(QByteArray, payload);
        QFETCH(bool, accepted);
        Fixture f({1, 1, 1});
        QSignalSpy displace(&f.sidebar, &Sidebar::groupDragDisplace);
        QSignalSpy finished(&f.sidebar, &Sidebar::groupDragFinished);
        QMimeData mime;
        mime.setData(QString::fromLatin1(kGroupMime), payload);
        QVERIFY(dragEnter(&f.sidebar, rowPoint(0), &mime));
        QVERIFY(dragMove(&f.sidebar, rowPoint(2), &mime));
        ktr::test::LogCapture log;
        QCOMPARE(drop(&f.sidebar, rowPoint(2), &mime), accepted);
        QCOMPARE(displace.count() + finished.count(), 0);
        QCOMPARE(log.contains(QStringLiteral("sidebar drop: invalid group mime, ignored")), !accepted);
        int index = -1;
        QCOMPARE(decodeGroupPayload(payload, 3, &index), accepted);
        if (accepted)
            QCOMPARE(index, 1);
    }

    // ---- painting ----

    void paintList_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void paintList()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        const Theme& theme = currentTheme();
        Fixture f({3, 12, 0, 1, 5, 2, 0, 0, 1, 1, 1, 1});
        f.groups[0].name = QStringLiteral("默认分组");
        f.groups[1].name = QStringLiteral("办公软件");
        f.groups[2].name = QStringLiteral("一个名字非常非常长的分组用来看省略号");
        f.current = 1;
        mouse(&f.sidebar, QEvent::MouseMove, rowPoint(3));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a"))});
        dragEnter(&f.sidebar, rowPoint(5), &mime);
        f.sidebar.resize(172, 330);
        const QImage img = render(f.sidebar);
        ktr::test::saveShot(img, QStringLiteral("sidebar-list-%1").arg(dark ? "dark" : "light"));

        const int w = 172;
        const int h = 330;
        QCOMPARE(img.pixelColor(0, 100).alpha(), 0); // the leftmost column stays free
        QCOMPARE(img.pixelColor(w / 2, 3), theme.sidebarBackground);
        QCOMPARE(img.pixelColor(w - 1, 100), themeDividerColor(theme.separatorLine));
        QCOMPARE(img.pixelColor(2, h - 2).alpha(), 0); // rounded bottom-left corner
        QCOMPARE(img.pixelColor(10, 34 * 1 + 25), theme.activeBackground);
        QCOMPARE(img.pixelColor(10, 34 * 3 + 25), theme.barButtonHover);
        QCOMPARE(img.pixelColor(12, 34 * 5 + 25), theme.dropTargetBackground);
        QCOMPARE(img.pixelColor(w / 2, 34 * 5 + 10).rgb(), theme.accent.rgb());
        QCOMPARE(img.pixelColor(10, 34 * 0 + 25), theme.sidebarBackground);
        // 12 rows in 270 px: the handle sits at the top of the track.
        QCOMPARE(img.pixelColor(w - 5, 20), theme.scrollHandle);
        QCOMPARE(f.sidebar.addRect(), QRect(10, h - 42, w - 20, 32));
        QCOMPARE(img.pixelColor(16, h - 26), theme.addRowBackground);
        // Some text in the current row's name and in its count.
        bool strong = false;
        bool hint = false;
        for (int x = 20; x < w - 20; ++x) {
            strong = strong || img.pixelColor(x, 34 + 25) == theme.strongText;
            hint = hint || (x > w - 40 && img.pixelColor(x, 34 + 25) == theme.hintText);
        }
        QVERIFY(strong);
        QVERIFY(hint);
    }

    void paintStrip_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void paintStrip()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        const Theme& theme = currentTheme();
        Fixture f(QList<int>(9, 1), QSize(420, 40), true);
        const QStringList names = {QStringLiteral("默认分组"), QStringLiteral("办公"), QStringLiteral("游戏"),
                                   QStringLiteral("开发工具"), QStringLiteral("设计"), QStringLiteral("影音娱乐"),
                                   QStringLiteral("系统"),     QStringLiteral("网络"), QStringLiteral("其他")};
        for (int i = 0; i < names.size(); ++i)
            f.groups[i].name = names[i];
        f.current = 1;
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a"))});
        dragEnter(&f.sidebar, f.sidebar.chipRect(2).center(), &mime);
        const QImage img = render(f.sidebar);
        ktr::test::saveShot(img, QStringLiteral("sidebar-strip-%1").arg(dark ? "dark" : "light"));

        QVERIFY(!f.sidebar.overflowRect().isNull());
        QCOMPARE(img.pixelColor(200, 2), theme.sidebarBackground);
        QCOMPARE(img.pixelColor(200, 39), themeDividerColor(theme.separatorLine));
        const QRect current = f.sidebar.chipRect(1);
        QCOMPARE(img.pixelColor(current.x() + 1, 32), theme.accent);
        QCOMPARE(img.pixelColor(current.x() + 1, 33), theme.accent);
        const QRect target = f.sidebar.chipRect(2);
        QCOMPARE(img.pixelColor(target.x() + 3, target.center().y()), theme.dropTargetBackground);
        // The plus of the add button crosses its centre.
        QCOMPARE(img.pixelColor(386, 20).alpha(), 255);
        QVERIFY(img.pixelColor(386, 20) != theme.sidebarBackground);
    }

    // Buttons under the pointer: the add row's fill and the strip glyphs change with the cursor at paint time.
    void buttonsUnderThePointer()
    {
        Fixture list({1});
        list.sidebar.show();
        render(list.sidebar);
        const QRect add = list.sidebar.addRect();
        QCursor::setPos(list.sidebar.mapToGlobal(add.topLeft() + QPoint(6, 16)));
        QCOMPARE(render(list.sidebar).pixelColor(16, add.center().y()), currentTheme().addRowHover);
        QCursor::setPos(list.sidebar.mapToGlobal(QPoint(40, 100)));
        QCOMPARE(render(list.sidebar).pixelColor(16, add.center().y()), currentTheme().addRowBackground);

        Fixture strip({1}, QSize(300, 40), true);
        strip.sidebar.show();
        // The plus's 1.4 px strokes cover no pixel fully: tell the blue highlight from the grey label by how much
        // bluer than red the centre is.
        const auto blueness = [&strip] {
            const QColor c = render(strip.sidebar).pixelColor(286, 20);
            return c.blue() - c.red();
        };
        QCursor::setPos(strip.sidebar.mapToGlobal(QPoint(150, 20)));
        QVERIFY(blueness() < 40);
        // Within 8 px below the square.
        QCursor::setPos(strip.sidebar.mapToGlobal(QPoint(286, 33)));
        QVERIFY(blueness() > 80);
    }

    void nothingPaintedWithoutGroups()
    {
        Sidebar sidebar;
        sidebar.resize(172, 400);
        const QImage img = render(sidebar);
        QCOMPARE(img.pixelColor(80, 100).alpha(), 0);
        QCOMPARE(sidebar.rowAt(QPoint(40, 25)), -1);
    }

    // Group chips of the strip are as wide as their names: a short name is never drawn elided in its own chip.
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
        // The panel switches the application font to the UI family before anything is painted.
        const QFont before = QApplication::font();
        QFont appFont = before;
        appFont.setFamily(uiFontFamily());
        QApplication::setFont(appFont);
        const auto restore = qScopeGuard([&] { QApplication::setFont(before); });
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

KTR_TEST_MAIN(TestSidebar)
#include "tst_sidebar.moc"
