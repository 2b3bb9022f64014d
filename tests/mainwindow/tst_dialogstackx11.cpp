// The settings dialog among the panel's windows on a real X server with a window manager (openbox and
// fluxbox, started here): it is transient for the panel, stays above it when an export or import shows its
// chooser and its outcome, also above a pinned panel, the outcome's message is seen above the dialog, the
// dialog opens whole inside the work area, above a dock that reserves the bottom of the screen, wherever
// the panel stands, and so do the panel's popup menus. The outcome's bubble asks for no taskbar button each
// time it shows (fluxbox gives every window without that hint one).
#include "mainwindow/itemmenucontroller.h"
#include "mainwindow/mainwindow.h"
#include "panel/titlebaractions.h"
#include "platform/windowhints.h"
#include "settings/settingsdialog.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/toast.h"
#include "ui/uibtn.h"
#include "windowfixture.h"
#include "windowmanager.h"
#include "x11tools.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <functional>
#include <memory>

using namespace ktr::test;

namespace {

Display* display()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

QList<unsigned long> rootWindows(const char* property)
{
    Display* d = display();
    Atom atom = XInternAtom(d, property, False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    QList<unsigned long> out;
    if (XGetWindowProperty(d, DefaultRootWindow(d), atom, 0, 4096, False, XA_WINDOW, &type, &format, &count, &after,
                           &data) == Success &&
        data && format == 32) {
        const auto* ids = reinterpret_cast<const unsigned long*>(data);
        for (unsigned long i = 0; i < count; ++i)
            out.append(ids[i]);
    }
    if (data)
        XFree(data);
    return out;
}

// The client windows bottom to top, as the window manager lists them.
QList<unsigned long> stacking()
{
    XSync(display(), False);
    return rootWindows("_NET_CLIENT_LIST_STACKING");
}

// The child of the root window that holds `window`: the frame a reparenting window manager put it in, or
// the window itself.
Window topLevelOf(Window window)
{
    Display* d = display();
    for (;;) {
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(d, window, &root, &parent, &children, &count))
            return 0;
        if (children)
            XFree(children);
        if (parent == root || parent == 0)
            return window;
        window = parent;
    }
}

// Whether `upper` is stacked above `lower` on the screen. Read off the root window's children (bottom to
// top): fluxbox lists its clients in _NET_CLIENT_LIST_STACKING in the order they were mapped, not stacked.
bool above(const QWidget& upper, const QWidget& lower)
{
    Display* d = display();
    XSync(d, False);
    const Window u = topLevelOf(upper.winId());
    const Window l = topLevelOf(lower.winId());
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!u || !l || !XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count))
        return false;
    int ui = -1, li = -1;
    for (unsigned int i = 0; i < count; ++i) {
        if (children[i] == u)
            ui = int(i);
        if (children[i] == l)
            li = int(i);
    }
    if (children)
        XFree(children);
    return ui >= 0 && li >= 0 && ui > li;
}

// Whether `condition` holds now and still after the window manager had time to restack on its own (it
// raises a window it gave the focus to a moment later): there is no event for a restack that does not come.
bool staysTrue(const std::function<bool()>& condition)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 400) {
        if (!condition())
            return false;
        QTest::qWait(20);
    }
    return condition();
}

unsigned long transientFor(const QWidget& w)
{
    Window parent = 0;
    XGetTransientForHint(display(), w.winId(), &parent);
    return parent;
}

// A dock window along the bottom edge that reserves its strip (as a taskbar with the tray does).
void makeDock(QWidget& dock, int height)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    dock.setGeometry(screen.left(), screen.bottom() - height + 1, screen.width(), height);
    dock.winId();
    Display* d = display();
    const Window id = dock.winId();
    Atom typeAtom = XInternAtom(d, "_NET_WM_WINDOW_TYPE", False);
    Atom dockAtom = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DOCK", False);
    XChangeProperty(d, id, typeAtom, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&dockAtom), 1);
    long strut[12] = {0, 0, 0, height, 0, 0, 0, 0, 0, 0, screen.left(), screen.right()};
    Atom strutAtom = XInternAtom(d, "_NET_WM_STRUT_PARTIAL", False);
    XChangeProperty(d, id, strutAtom, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(strut), 12);
    Atom oldStrut = XInternAtom(d, "_NET_WM_STRUT", False);
    XChangeProperty(d, id, oldStrut, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(strut), 4);
    XFlush(d);
}

} // namespace

class TestDialogStackX11 : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowManager> m_wm;
    bool m_foreignWm = false;

    // Runs `name` as the window manager of the display, stopping the one started before. A window manager
    // that was running before the test stays: it serves every row, and rows for another one are skipped.
    bool useWindowManager(const QString& name, QString* why)
    {
        if (m_foreignWm)
            return true;
        if (m_wm && m_wm->name() == name)
            return true;
        m_wm.reset();
        if (QStandardPaths::findExecutable(name).isEmpty()) {
            *why = name + QStringLiteral(" is not installed (scripts/deps.sh installs it)");
            return false;
        }
        m_wm = std::make_unique<WindowManager>(name);
        if (!m_wm->ready()) {
            *why = name + QStringLiteral(" could not be started");
            return false;
        }
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (const char* why = missingX11())
            QSKIP(why);
        m_foreignWm = windowManagerRuns();
    }

    void cleanupTestCase() { m_wm.reset(); }

    // The chooser of an export or import belongs to the dialog it was asked from, and neither it, nor the
    // question, nor the outcome's toast brings the panel up over the dialog; a pinned panel does not either.
    // The outcome itself is seen above the dialog: fluxbox keeps a window that belongs to the panel in the
    // panel's group, under the dialog.
    void settingsDialogStaysAboveThePanel_data()
    {
        QTest::addColumn<QString>("wm");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("pinned");
        QTest::addColumn<bool>("answer");
        for (const char* wm : {"openbox", "fluxbox"}) {
            const QString name = QString::fromLatin1(wm);
            QTest::addRow("%s, export", wm) << name << QStringLiteral("export") << false << true;
            QTest::addRow("%s, import", wm) << name << QStringLiteral("import") << false << true;
            QTest::addRow("%s, import refused", wm) << name << QStringLiteral("import") << false << false;
            QTest::addRow("%s, export, pinned panel", wm) << name << QStringLiteral("export") << true << true;
        }
    }
    void settingsDialogStaysAboveThePanel()
    {
        QFETCH(QString, wm);
        QFETCH(QString, action);
        QFETCH(bool, pinned);
        QFETCH(bool, answer);
        QString why;
        if (!useWindowManager(wm, &why))
            QSKIP(qPrintable(why));
        const QString backup = freshDir(QStringLiteral("stack")) + QStringLiteral("/backup.json");
        QList<QWidget*> chooserParents;
        const auto chooser = [&chooserParents](QWidget* parent) {
            // A real modal window in the chooser's place, closed after a moment.
            chooserParents.append(parent);
            QDialog stand(parent);
            stand.resize(300, 200);
            QTimer::singleShot(300, &stand, &QDialog::accept);
            stand.exec();
        };
        ktr::dialogs::Seams seams;
        seams.saveFile = [&](QWidget* parent, const QString&, const QString&, const QString&) {
            chooser(parent);
            return backup;
        };
        seams.openFile = [&](QWidget* parent, const QString&, const QString&, const QString&) {
            chooser(parent);
            return backup;
        };
        seams.question = [&](QWidget* parent, const QString&, const QString&) {
            chooser(parent);
            return answer ? 1 : 0; // no: nothing is imported, the toast is not shown
        };
        ktr::dialogs::ScopedSeams scoped(seams);

        auto w = shownWindow();
        QVERIFY(w);
        w->move(avail().left() + 40, avail().top() + 60);
        // A message of the panel's came and went before, as at every start: the window manager knows the
        // bubble's window from then on.
        w->showToast(QStringLiteral("ready"), Toast::Info);
        QTRY_VERIFY(w->toast() && stacking().contains(w->toast()->winId()));
        w->toast()->hide();
        if (pinned)
            w->onUiButton(UiBtn::Pin);
        w->openSettings();
        SettingsDialog* dialog = w->settingsBridge()->dialog();
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QCOMPARE(transientFor(*dialog), (unsigned long)w->winId());
        QTRY_VERIFY(above(*dialog, *w));

        // Twice: the second outcome shows in a bubble the window manager has stacked before.
        for (int round = 0; round < 2; ++round) {
            chooserParents.clear();
            if (action == QLatin1String("import")) {
                QVERIFY(ktr::test::writeFile(backup, "{\"app\":\"KestrunePanel\",\"layout\":{},\"settings\":{}}"));
                w->settingsBridge()->importUserData();
                QCOMPARE(chooserParents.size(), 2); // the file, then the question
            } else {
                w->settingsBridge()->exportUserData();
                QCOMPARE(chooserParents.size(), 1);
            }
            for (QWidget* parent : std::as_const(chooserParents))
                QCOMPARE(parent, static_cast<QWidget*>(dialog));
            // Give the window manager the focus change of the closed chooser: the dialog it raises then
            // must not cover the outcome.
            const auto dialogFocused = [&] {
                return QGuiApplication::focusWindow() == dialog->windowHandle() || dialog->isActiveWindow();
            };
            // Fluxbox at times gives the focus to no window when a transient closes; the user's click into
            // the dialog then, as here, gives it back.
            if (!QTest::qWaitFor(dialogFocused, 2000) && wm == QLatin1String("fluxbox"))
                dialog->activateWindow();
            QTRY_VERIFY2(dialogFocused(),
                         qPrintable(QStringLiteral("focus on %1 (panel %2, dialog %3)")
                                        .arg(QGuiApplication::focusWindow()
                                                 ? QString::number(QGuiApplication::focusWindow()->winId())
                                                 : QStringLiteral("nothing"))
                                        .arg(w->winId())
                                        .arg(dialog->winId())));
            QVERIFY(above(*dialog, *w));
            if (answer) {
                QTRY_VERIFY(w->toast() && w->toast()->isVisible());
                QTRY_VERIFY(stacking().contains(w->toast()->winId()));
                QVERIFY2(staysTrue([&] { return above(*w->toast(), *dialog); }),
                         "the outcome's message lies under the settings dialog");
                QVERIFY2(ktr::platform::windowStateHints(w->toast()->windowHandle())
                             .contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")),
                         "the outcome's message has a taskbar button");
                w->toast()->hide(); // as at the end of its fade
            }
        }
        dialog->reject();
        if (pinned)
            w->onUiButton(UiBtn::Pin);
    }

    // With a dock reserving the bottom of the screen, the dialog opens inside the rest wherever the panel
    // stands, also half into an edge.
    void settingsDialogInsideTheWorkArea_data()
    {
        QTest::addColumn<QString>("edge");
        QTest::newRow("left") << QStringLiteral("left");
        QTest::newRow("right") << QStringLiteral("right");
        QTest::newRow("top") << QStringLiteral("top");
        QTest::newRow("bottom") << QStringLiteral("bottom");
        QTest::newRow("bottom right, half off") << QStringLiteral("corner");
    }
    void settingsDialogInsideTheWorkArea()
    {
        QFETCH(QString, edge);
        QString why;
        if (!useWindowManager(QStringLiteral("openbox"), &why))
            QSKIP(qPrintable(why));
        const int dockHeight = 48;
        QWidget dock;
        makeDock(dock, dockHeight);
        dock.show();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QTRY_VERIFY_WITH_TIMEOUT(avail().bottom() <= screen.bottom() - dockHeight, 5000);
        const QRect work = avail();

        auto w = shownWindow();
        QVERIFY(w);
        const QSize s = w->frameGeometry().size();
        QPoint at;
        if (edge == QLatin1String("left"))
            at = QPoint(work.left(), work.top() + 100);
        else if (edge == QLatin1String("right"))
            at = QPoint(work.right() - s.width() + 1, work.top() + 100);
        else if (edge == QLatin1String("top"))
            at = QPoint(work.left() + 200, work.top());
        else if (edge == QLatin1String("bottom"))
            at = QPoint(work.left() + 200, work.bottom() - s.height() + 1);
        else
            at = QPoint(work.right() - s.width() / 2, work.bottom() - s.height() / 2);
        w->move(at);
        QTRY_COMPARE(w->frameGeometry().topLeft(), at);
        w->openSettings();
        SettingsDialog* dialog = w->settingsBridge()->dialog();
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QTRY_VERIFY2(work.contains(dialog->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4 in %5,%6 %7x%8")
                                                                            .arg(dialog->frameGeometry().x())
                                                                            .arg(dialog->frameGeometry().y())
                                                                            .arg(dialog->frameGeometry().width())
                                                                            .arg(dialog->frameGeometry().height())
                                                                            .arg(work.x())
                                                                            .arg(work.y())
                                                                            .arg(work.width())
                                                                            .arg(work.height())));
        dialog->reject();
    }

    // With the panel at the right or bottom edge of the work area, the gear menu under the title bar's
    // settings button and an item's menu opened at the panel's far corner stay whole inside the work area.
    void popupMenusInsideTheWorkArea_data()
    {
        QTest::addColumn<QString>("edge");
        QTest::addColumn<int>("language");
        QTest::newRow("right") << QStringLiteral("right") << 0;
        QTest::newRow("right, English") << QStringLiteral("right") << 1;
        QTest::newRow("bottom") << QStringLiteral("bottom") << 0;
        QTest::newRow("bottom right, half off") << QStringLiteral("corner") << 1;
    }
    void popupMenusInsideTheWorkArea()
    {
        QFETCH(QString, edge);
        QFETCH(int, language);
        QString why;
        if (!useWindowManager(QStringLiteral("openbox"), &why))
            QSKIP(qPrintable(why));
        const int dockHeight = 48;
        QWidget dock;
        makeDock(dock, dockHeight);
        dock.show();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QTRY_VERIFY_WITH_TIMEOUT(avail().bottom() <= screen.bottom() - dockHeight, 5000);
        const QRect work = avail();
        Lang::setLanguage(language);
        // An item to open a menu on (an import of the rows above may have left the panel empty).
        writeLayout({Group{QStringLiteral("g"), {item(QStringLiteral("/bin/sh"))}}});

        auto w = shownWindow();
        QVERIFY(w);
        const QSize s = w->frameGeometry().size();
        QPoint at;
        if (edge == QLatin1String("right"))
            at = QPoint(work.right() - s.width() + 1, work.top() + 100);
        else if (edge == QLatin1String("bottom"))
            at = QPoint(work.left() + 200, work.bottom() - s.height() + 1);
        else
            at = QPoint(work.right() - s.width() / 2, work.bottom() - s.height() / 2);
        w->move(at);
        QTRY_COMPARE(w->frameGeometry().topLeft(), at);
        const auto where = [&work](const QRect& r) {
            return QStringLiteral("%1,%2 %3x%4 in %5,%6 %7x%8")
                .arg(r.x())
                .arg(r.y())
                .arg(r.width())
                .arg(r.height())
                .arg(work.x())
                .arg(work.y())
                .arg(work.width())
                .arg(work.height());
        };

        w->titleBar()->showGearMenu();
        GearMenuPopup* gear = w->titleBar()->gearMenu();
        QVERIFY(gear);
        QTRY_VERIFY(gear->isVisible());
        QTRY_VERIFY2(work.contains(gear->frameGeometry()), qPrintable(where(gear->frameGeometry())));
        gear->hide();

        std::unique_ptr<QMenu> menu(w->itemMenu()->build(0));
        QVERIFY(menu);
        const QRect panel = w->frameGeometry().intersected(screen);
        menu->popup(panel.bottomRight() - QPoint(4, 4));
        QTRY_VERIFY(menu->isVisible());
        QTRY_VERIFY2(work.contains(menu->frameGeometry()), qPrintable(where(menu->frameGeometry())));
        menu->hide();
        Lang::setLanguage(0);
    }
};

KTR_TEST_MAIN(TestDialogStackX11)
#include "tst_dialogstackx11.moc"
