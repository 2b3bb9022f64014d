// The settings dialog among the panel's windows on a real X server with a window manager (openbox, started
// here when none runs): it is transient for the panel, stays above it when an export or import shows its
// chooser and its outcome, also above a pinned panel, and it opens whole inside the work area, above a dock
// that reserves the bottom of the screen, wherever the panel stands.
#include "mainwindow/mainwindow.h"
#include "settings/settingsdialog.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/uibtn.h"
#include "windowfixture.h"
#include "windowmanager.h"
#include "x11tools.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

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

// The client windows bottom to top, as the window manager stacks them.
QList<unsigned long> stacking()
{
    XSync(display(), False);
    return rootWindows("_NET_CLIENT_LIST_STACKING");
}

bool above(const QWidget& upper, const QWidget& lower)
{
    const QList<unsigned long> order = stacking();
    const qsizetype u = order.indexOf(upper.winId());
    const qsizetype l = order.indexOf(lower.winId());
    return u >= 0 && l >= 0 && u > l;
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

private Q_SLOTS:
    void initTestCase()
    {
        if (const char* why = missingX11())
            QSKIP(why);
        if (!windowManagerRuns()) {
            QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty(),
                     "needs openbox (scripts/deps.sh installs it)");
            m_wm = std::make_unique<WindowManager>(QStringLiteral("openbox"));
            QVERIFY(m_wm->ready());
        }
    }

    void cleanupTestCase() { m_wm.reset(); }

    // The chooser of an export or import belongs to the dialog it was asked from, and neither it, nor the
    // question, nor the outcome's toast brings the panel up over the dialog; a pinned panel does not either.
    void settingsDialogStaysAboveThePanel_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("pinned");
        QTest::newRow("export") << QStringLiteral("export") << false;
        QTest::newRow("import") << QStringLiteral("import") << false;
        QTest::newRow("export, pinned panel") << QStringLiteral("export") << true;
    }
    void settingsDialogStaysAboveThePanel()
    {
        QFETCH(QString, action);
        QFETCH(bool, pinned);
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
            return 0; // no: nothing is imported, the toast is not shown
        };
        ktr::dialogs::ScopedSeams scoped(seams);

        auto w = shownWindow();
        QVERIFY(w);
        w->move(avail().left() + 40, avail().top() + 60);
        if (pinned)
            w->onUiButton(UiBtn::Pin);
        w->openSettings();
        SettingsDialog* dialog = w->settingsDialog();
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QCOMPARE(transientFor(*dialog), (unsigned long)w->winId());
        QTRY_VERIFY(above(*dialog, *w));

        if (action == QLatin1String("import")) {
            QVERIFY(ktr::test::writeFile(backup, "{\"app\":\"KestrunePanel\",\"layout\":{},\"settings\":{}}"));
            w->importUserData();
            QCOMPARE(chooserParents.size(), 2); // the file, then the question
        } else {
            w->exportUserData();
            QCOMPARE(chooserParents.size(), 1);
            QTRY_VERIFY(w->toast() && w->toast()->isVisible());
            QTRY_VERIFY(stacking().contains(w->toast()->winId()));
        }
        for (QWidget* parent : std::as_const(chooserParents))
            QCOMPARE(parent, static_cast<QWidget*>(dialog));
        // Give the window manager the focus change of the closed chooser.
        QTRY_VERIFY(QGuiApplication::focusWindow() == dialog->windowHandle() || dialog->isActiveWindow());
        QVERIFY(above(*dialog, *w));
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
        SettingsDialog* dialog = w->settingsDialog();
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
};

KTR_TEST_MAIN(TestDialogStackX11)
#include "tst_dialogstackx11.moc"
