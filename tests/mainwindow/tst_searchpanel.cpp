#include "mainwindow/searchpanel.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QTimer>

namespace {

Item item(const QString& name, const QString& path, bool hidden = false)
{
    Item it;
    it.name = name;
    it.path = path;
    it.hidden = hidden;
    return it;
}

QList<Group> sampleGroups()
{
    return {
        {QString::fromUtf8("工具"),
         {item(QStringLiteral("Notepad"), QStringLiteral("/usr/bin/notepad")),
          item(QString(), QStringLiteral("/opt/app.beta.exe")),
          item(QStringLiteral("Calculator"), QStringLiteral("/usr/share/notes/calc")),
          item(QStringLiteral("Secret Notes"), QStringLiteral("/home/u/secret.txt"), true)}},
        {QStringLiteral("Notes group"), {item(QStringLiteral("Terminal"), QStringLiteral("/usr/bin/xterm"))}},
        {QString::fromUtf8("办公"), {item(QString::fromUtf8("记事本"), QStringLiteral("/usr/bin/jishiben"))}},
    };
}

// The three items of the debounce cases: "a" lists all three, "am" only Gamma.
QList<Group> greekGroups()
{
    return {{QStringLiteral("G"),
             {item(QStringLiteral("Alpha tool"), QStringLiteral("/a/alpha")),
              item(QStringLiteral("Beta tool"), QStringLiteral("/a/beta")),
              item(QStringLiteral("Gamma"), QStringLiteral("/a/gamma"))}},
            {QStringLiteral("H"), {item(QStringLiteral("Delta"), QStringLiteral("/h/delta"))}}};
}

QStringList rowTexts(const SearchPanel& panel)
{
    QStringList out;
    for (int r = 0; r < panel.list()->count(); ++r)
        out << panel.list()->item(r)->text();
    return out;
}

QString row(const char* name, const char* group)
{
    return QString::fromUtf8(name) + QString::fromUtf8("\u3000\u00B7\u3000") + QString::fromUtf8(group);
}

// Lets the debounce run out without waiting for it.
void fireDebounce(SearchPanel& panel)
{
    QVERIFY(panel.debounceTimer()->isActive());
    panel.debounceTimer()->stop();
    QMetaObject::invokeMethod(panel.debounceTimer(), "timeout");
}

// A window-like host that owns the panel, as the main window will.
struct Host
{
    explicit Host(const QList<Group>* groups) : panel(groups, &window)
    {
        window.resize(600, 480);
        panel.placeIn(window.width());
        window.show();
        window.activateWindow();
    }
    QWidget window;
    SearchPanel panel;
};

} // namespace

class TestSearchPanel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        setDarkTheme(false);
        Lang::setLanguage(0);
    }

    void matching_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("paths");
        QTest::newRow("trimmed, any case, hidden items too")
            << QStringLiteral("  NOTE ") << QStringList{row("Notepad", "工具"), row("Secret Notes", "工具")}
            << QStringList{QStringLiteral("/usr/bin/notepad"), QStringLiteral("/home/u/secret.txt")};
        QTest::newRow("nameless item matched by its complete base name")
            << QStringLiteral("app.BETA") << QStringList{row("app.beta", "工具")}
            << QStringList{QStringLiteral("/opt/app.beta.exe")};
        QTest::newRow("the suffix is not part of the name")
            << QStringLiteral("beta.exe") << QStringList() << QStringList();
        QTest::newRow("group names are not matched") << QStringLiteral("group") << QStringList() << QStringList();
        QTest::newRow("paths are not matched") << QStringLiteral("/usr/share") << QStringList() << QStringList();
        QTest::newRow("later group") << QStringLiteral("terMINAL") << QStringList{row("Terminal", "Notes group")}
                                     << QStringList{QStringLiteral("/usr/bin/xterm")};
        QTest::newRow("chinese") << QString::fromUtf8("记事") << QStringList{row("记事本", "办公")}
                                 << QStringList{QStringLiteral("/usr/bin/jishiben")};
        QTest::newRow("empty") << QString() << QStringList() << QStringList();
        QTest::newRow("blanks") << QStringLiteral("   ") << QStringList() << QStringList();
    }
    void matching()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, paths);
        const QList<Group> groups = sampleGroups();
        SearchPanel panel(&groups);
        panel.refresh(query);
        QCOMPARE(rowTexts(panel), rows);
        QCOMPARE(panel.resultCount(), rows.size());
        for (int r = 0; r < paths.size(); ++r)
            QCOMPARE(panel.list()->item(r)->data(Qt::UserRole).toString(), paths.at(r));
        QCOMPARE(panel.list()->currentRow(), rows.isEmpty() ? -1 : 0);
    }

    void overflow()
    {
        QList<Group> groups(2);
        groups[0].name = QStringLiteral("A");
        groups[1].name = QStringLiteral("B");
        for (int n = 0; n < 250; ++n)
            groups[n % 2].items.append(item(QStringLiteral("match %1").arg(n), QStringLiteral("/m/%1").arg(n)));
        Host host(&groups);
        QSignalSpy launched(&host.panel, &SearchPanel::launchRequested);
        host.panel.edit()->setText(QStringLiteral("MATCH"));
        host.panel.toggle();
        QCOMPARE(host.panel.resultCount(), 200);
        QCOMPARE(host.panel.list()->count(), 201);
        QListWidgetItem* last = host.panel.list()->item(200);
        QCOMPARE(last->text(), QString::fromUtf8("（结果过多，仅显示前 200 条）"));
        QCOMPARE(last->flags(), Qt::NoItemFlags);
        QVERIFY(last->data(Qt::UserRole).isNull());
        // Group A's 125 come first, then B's, in model order.
        QCOMPARE(host.panel.list()->item(124)->text(), QStringLiteral("match 248") + row("", "A"));
        QCOMPARE(host.panel.list()->item(125)->text(), QStringLiteral("match 1") + row("", "B"));

        host.panel.runResult(200);
        host.panel.runResult(-1);
        QCOMPARE(launched.count(), 0);
        QVERIFY(host.panel.isVisible());
        host.panel.runResult(199);
        QCOMPARE(launched.count(), 1);
        QCOMPARE(launched.at(0), (QVariantList{1, 74}));
        QVERIFY(!host.panel.isVisible());
    }

    // Typing restarts the debounce; only its expiry searches.
    void typingIsDebounced()
    {
        const QList<Group> groups = sampleGroups();
        Host host(&groups);
        host.panel.toggle();
        QVERIFY(QTest::qWaitForWindowActive(&host.window));
        QVERIFY(host.panel.edit()->hasFocus());
        QTest::keyClicks(host.panel.edit(), QStringLiteral("note"));
        QCOMPARE(host.panel.debounceTimer()->interval(), 150);
        QCOMPARE(host.panel.list()->count(), 0);
        fireDebounce(host.panel);
        QCOMPARE(rowTexts(host.panel), (QStringList{row("Notepad", "工具"), row("Secret Notes", "工具")}));
    }

    // Enter on a row while the debounce is pending: the list is brought up to date first, and the item the
    // user pointed at runs, never another one.
    void enterWhileDebouncing_data()
    {
        QTest::addColumn<int>("pointedRow"); // in the results of "a"
        QTest::addColumn<QString>("typed");  // typed after pointing, before the debounce expired
        QTest::addColumn<int>("rowAfter");   // the row run in the updated list, -1 = none
        QTest::addColumn<QVariantList>("launched");
        QTest::newRow("pointed item moved to another row") << 2 << QStringLiteral("m") << 0 << QVariantList{0, 2};
        QTest::newRow("pointed item no longer listed still runs")
            << 1 << QStringLiteral("m") << -1 << QVariantList{0, 1};
        QTest::newRow("nothing pending runs the current row") << 3 << QString() << 3 << QVariantList{1, 0};
    }
    void enterWhileDebouncing()
    {
        QFETCH(int, pointedRow);
        QFETCH(QString, typed);
        QFETCH(int, rowAfter);
        QFETCH(QVariantList, launched);
        const QList<Group> groups = greekGroups();
        Host host(&groups);
        host.panel.toggle();
        QVERIFY(QTest::qWaitForWindowActive(&host.window));
        QTest::keyClicks(host.panel.edit(), QStringLiteral("a"));
        fireDebounce(host.panel);
        QCOMPARE(host.panel.resultCount(), 4);
        host.panel.list()->setFocus();
        host.panel.list()->setCurrentRow(pointedRow);
        QTest::keyClicks(host.panel.edit(), typed);
        QCOMPARE(host.panel.debounceTimer()->isActive(), !typed.isEmpty());

        QSignalSpy spy(&host.panel, &SearchPanel::launchRequested);
        QTest::keyClick(host.panel.list(), Qt::Key_Return);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0), launched);
        QVERIFY(!host.panel.debounceTimer()->isActive());
        QVERIFY(!host.panel.isVisible());
        if (rowAfter >= 0)
            QCOMPARE(host.panel.list()->currentRow(), rowAfter);
        QCOMPARE(host.panel.edit()->text(), QStringLiteral("a") + typed);
    }

    // The model changes while the panel is open: a row runs the item whose path it shows, wherever that item
    // is now, or nothing when it is gone.
    void modelChangedWhileOpen_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QVariantList>("launched"); // empty = nothing runs
        QTest::newRow("unchanged") << QString() << QVariantList{1, 1};
        QTest::newRow("item inserted before it") << QStringLiteral("insert") << QVariantList{1, 2};
        QTest::newRow("item removed") << QStringLiteral("remove") << QVariantList();
        QTest::newRow("moved to another group") << QStringLiteral("move") << QVariantList{2, 1};
        QTest::newRow("group before it removed") << QStringLiteral("dropGroup") << QVariantList{0, 1};
        QTest::newRow("replaced by another path at its place") << QStringLiteral("replace") << QVariantList();
        QTest::newRow("all groups gone") << QStringLiteral("clear") << QVariantList();
    }
    void modelChangedWhileOpen()
    {
        QFETCH(QString, change);
        QFETCH(QVariantList, launched);
        QList<Group> groups = greekGroups();
        groups.prepend({QStringLiteral("First"), {item(QStringLiteral("Omega"), QStringLiteral("/o/omega"))}});
        Host host(&groups);
        host.panel.toggle();
        host.panel.refresh(QStringLiteral("beta"));
        QCOMPARE(host.panel.resultCount(), 1); // Beta tool at (1, 1)

        if (change == QLatin1String("insert")) {
            groups[1].items.prepend(item(QStringLiteral("New"), QStringLiteral("/n/new")));
        } else if (change == QLatin1String("remove")) {
            groups[1].items.removeAt(1);
        } else if (change == QLatin1String("move")) {
            groups[2].items.append(groups[1].items.takeAt(1));
        } else if (change == QLatin1String("dropGroup")) {
            groups.removeFirst();
        } else if (change == QLatin1String("replace")) {
            groups[1].items[1] = item(QStringLiteral("Beta tool"), QStringLiteral("/a/other-beta"));
        } else if (change == QLatin1String("clear")) {
            groups.clear();
        }

        QSignalSpy spy(&host.panel, &SearchPanel::launchRequested);
        host.panel.runResult(0);
        QVERIFY(!host.panel.isVisible());
        if (launched.isEmpty()) {
            QCOMPARE(spy.count(), 0);
        } else {
            QCOMPARE(spy.count(), 1);
            QCOMPARE(spy.at(0), launched);
        }
    }

    void toggleAndKeys()
    {
        const QList<Group> groups = sampleGroups();
        Host host(&groups);
        QVERIFY(!host.panel.isVisible());
        QKeyEvent ctrlF(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(host.panel.handleKey(&ctrlF));
        QVERIFY(host.panel.isVisible());
        QVERIFY(QTest::qWaitForWindowActive(&host.window));
        QTest::keyClicks(host.panel.edit(), QStringLiteral("note"));
        fireDebounce(host.panel);
        QCOMPARE(host.panel.resultCount(), 2);

        // Ctrl+F typed in the edit closes the panel.
        QTest::keyClick(host.panel.edit(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(!host.panel.isVisible());
        QCOMPARE(host.panel.edit()->text(), QStringLiteral("note"));

        // Opening again shows the last query, selected, with its results.
        host.panel.toggle();
        QVERIFY(host.panel.isVisible());
        QCOMPARE(host.panel.edit()->selectedText(), QStringLiteral("note"));
        QCOMPARE(host.panel.resultCount(), 2);
        QVERIFY(host.panel.edit()->hasFocus());

        // Escape in the edit closes it; a hidden panel leaves Escape and other keys to the window.
        QTest::keyClick(host.panel.edit(), Qt::Key_Escape);
        QVERIFY(!host.panel.isVisible());
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QVERIFY(!host.panel.handleKey(&escape));
        QKeyEvent plainF(QEvent::KeyPress, Qt::Key_F, Qt::NoModifier);
        QVERIFY(!host.panel.handleKey(&plainF));
        QVERIFY(!host.panel.isVisible());
    }

    // The search field works as any launcher's: Up and Down move the highlight, Return runs it, also when
    // typed within the debounce (then the newest text's top row runs).
    void keysOfTheSearchField()
    {
        const QList<Group> groups = sampleGroups();
        Host host(&groups);
        QSignalSpy spy(&host.panel, &SearchPanel::launchRequested);
        host.panel.toggle();
        QVERIFY(QTest::qWaitForWindowActive(&host.window));
        QTest::keyClicks(host.panel.edit(), QStringLiteral("note"));
        fireDebounce(host.panel);
        QCOMPARE(host.panel.list()->currentRow(), 0);
        for (const auto& [key, row] :
             {std::pair{Qt::Key_Down, 1}, {Qt::Key_Down, 1}, {Qt::Key_Up, 0}, {Qt::Key_Up, 0}, {Qt::Key_Down, 1}}) {
            QTest::keyClick(host.panel.edit(), key);
            QCOMPARE(host.panel.list()->currentRow(), row);
        }
        QVERIFY(host.panel.edit()->hasFocus());
        QTest::keyClick(host.panel.edit(), Qt::Key_Return);
        QVERIFY(!host.panel.isVisible());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0), (QVariantList{0, 3})); // Secret Notes

        host.panel.toggle();
        QTest::keyClicks(host.panel.edit(), QStringLiteral("term")); // replaces the selected text
        QVERIFY(host.panel.debounceTimer()->isActive());
        QTest::keyClick(host.panel.edit(), Qt::Key_Enter);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1), (QVariantList{1, 0})); // Terminal
    }

    // In English an item is found by the name the grid shows and by the stored one; rows show the names of
    // the item and of its group as the panel displays them.
    void displayedNamesInEnglish_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("shown name") << QStringLiteral("desk") << QStringList{row("Desktop", "Favorites")};
        QTest::newRow("stored name") << QString::fromUtf8("桌面") << QStringList{row("Desktop", "Favorites")};
        QTest::newRow("shell place") << QStringLiteral("comp") << QStringList{row("Computer", "Favorites")};
        QTest::newRow("own name kept") << QStringLiteral("mine") << QStringList{row("Mine", "Favorites")};
    }
    void displayedNamesInEnglish()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, rows);
        const QList<Group> groups = {
            {QString::fromUtf8("常用"),
             {item(QString::fromUtf8("桌面"), QStringLiteral("/home/u/Desktop")),
              item(QString::fromUtf8("此电脑"), QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}")),
              item(QStringLiteral("Mine"), QStringLiteral("/home/u/mine"))}}};
        Lang::setLanguage(1);
        SearchPanel panel(&groups);
        panel.refresh(query);
        QCOMPARE(rowTexts(panel), rows);
    }

    void placement_data()
    {
        QTest::addColumn<int>("areaWidth");
        QTest::addColumn<QRect>("panel");
        QTest::newRow("wide") << 800 << QRect(170, 64, 460, 320);
        QTest::newRow("narrow") << 300 << QRect(30, 64, 240, 320);
    }
    void placement()
    {
        QFETCH(int, areaWidth);
        QFETCH(QRect, panel);
        const QList<Group> groups;
        SearchPanel p(&groups);
        p.placeIn(areaWidth);
        QCOMPARE(p.geometry(), panel);
        QCOMPARE(p.edit()->geometry(), QRect(10, 10, panel.width() - 20, 30));
        QCOMPARE(p.list()->geometry(), QRect(10, 48, panel.width() - 20, 262));
        QCOMPARE(p.objectName(), QStringLiteral("searchPanel"));
        QCOMPARE(p.edit()->placeholderText(), QString::fromUtf8("搜索面板内的项目…（Esc 关闭）"));
    }

    void painting_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("field");
        QTest::newRow("light") << false << QColor(0xFF, 0xFF, 0xFF) << QColor(0xF4, 0xF6, 0xFA);
        QTest::newRow("dark") << true << QColor(0x25, 0x2A, 0x34) << QColor(0x2F, 0x35, 0x3F);
    }
    void painting()
    {
        QFETCH(bool, dark);
        QFETCH(QColor, background);
        QFETCH(QColor, field);
        setDarkTheme(dark);
        const QList<Group> groups = sampleGroups();
        Host host(&groups);
        host.window.setAutoFillBackground(true);
        QPalette pal = host.window.palette();
        pal.setColor(QPalette::Window, currentTheme().gridBackground);
        host.window.setPalette(pal);
        host.panel.edit()->setText(QStringLiteral("e"));
        host.panel.toggle();
        QCOMPARE(host.panel.resultCount(), 4);

        QImage img(host.window.size(), QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        host.window.render(&img);
        if (qEnvironmentVariableIsSet("KTR_SHOT_DIR"))
            img.save(QStringLiteral("%1/searchpanel-%2.png")
                         .arg(qEnvironmentVariable("KTR_SHOT_DIR"), QString::fromLatin1(QTest::currentDataTag())));

        const QRect g = host.panel.geometry();
        QCOMPARE(img.pixelColor(g.left() + 5, g.bottom() - 4), background);
        const QRect e = host.panel.edit()->geometry().translated(g.topLeft());
        QCOMPARE(img.pixelColor(e.right() - 30, e.center().y()), field);
        // Row 0 is selected and drawn in the selection blue.
        const QRect r0 = host.panel.list()->visualItemRect(host.panel.list()->item(0));
        const QPoint inRow0 =
            host.panel.list()->viewport()->mapTo(&host.window, QPoint(r0.right() - 4, r0.center().y()));
        QCOMPARE(img.pixelColor(inRow0), QColor(0x2C, 0x6B, 0xE0));
        // Outside the panel the window shows through.
        QCOMPARE(img.pixelColor(g.left() - 5, g.top() + 20), currentTheme().gridBackground);
    }
};

KTR_TEST_MAIN(TestSearchPanel)
#include "tst_searchpanel.moc"
