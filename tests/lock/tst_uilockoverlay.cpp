#include "fifoguard.h"
#include "lock/passwordhash.h"
#include "lock/uilockoverlay.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QLineEdit>
#include <QMimeData>
#include <QMovie>
#include <QPainter>
#include <QShortcut>
#include <QTimer>

namespace {

// The panel the lock screen covers: it counts everything that reaches it.
class Panel : public QWidget
{
public:
    Panel()
    {
        resize(800, 560);
        setAcceptDrops(true);
        grid = new Counter(this);
        grid->setGeometry(40, 60, 400, 300);
        auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+F")), this);
        QObject::connect(shortcut, &QShortcut::activated, [this] { ++shortcuts; });
    }
    struct Counter : QWidget
    {
        explicit Counter(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::StrongFocus); }
        void keyPressEvent(QKeyEvent*) override { ++keys; }
        int keys = 0;
    };
    void keyPressEvent(QKeyEvent*) override { ++keys; }
    void wheelEvent(QWheelEvent*) override { ++wheels; }
    void dragEnterEvent(QDragEnterEvent* e) override
    {
        ++drops;
        e->acceptProposedAction();
    }
    void dropEvent(QDropEvent* e) override
    {
        ++drops;
        e->acceptProposedAction();
    }
    Counter* grid;
    int keys = 0, wheels = 0, drops = 0, shortcuts = 0;
};

class FakeVideo : public LockVideoSource
{
public:
    explicit FakeVideo(int* stops) : m_stops(stops) {}
    void setTargetSize(QSize size) override { target = size; }
    void start(const QString& p) override { path = p; }
    void stop() override { ++*m_stops; }
    QImage currentFrame(quint64* number) const override
    {
        if (number)
            *number = 1;
        QImage img(64, 48, QImage::Format_RGB32);
        img.fill(QColor(0, 200, 0));
        return img;
    }
    QSize target;
    QString path;

private:
    int* m_stops;
};

QImage grab(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img);
    return img;
}

void click(QWidget* w, QPoint at)
{
    QTest::mouseMove(w, at);
    QTest::mousePress(w, Qt::LeftButton, {}, at);
    QTest::mouseRelease(w, Qt::LeftButton, {}, at);
}

#define QVERIFY_ACTIVE(w) active = QTest::qWaitForWindowActive(&(w))

struct Locked
{
    bool active = false;
    Locked()
    {
        overlay = new UiLockOverlay(&panel);
        overlay->setGeometry(panel.rect());
        panel.show();
        panel.activateWindow();
        // Window shortcuts fire only in the active window.
        QVERIFY_ACTIVE(panel);
        overlay->show();
        overlay->raise();
        overlay->setFocus();
        grab(panel); // places the buttons
    }
    Panel panel;
    UiLockOverlay* overlay;
};

} // namespace

class TestUiLockOverlay : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        Lang::setLanguage(0);
        setDarkTheme(false);
        UiLockOverlay::setVideoFactory({});
    }

    void idleInputIdle()
    {
        Locked l;
        QVERIFY(!l.overlay->isInputMode());
        click(l.overlay, QPoint(400, 500));
        QVERIFY(l.overlay->isInputMode());
        QLineEdit* edit = l.overlay->passwordEdit();
        QVERIFY(edit->isVisible());
        edit->setText(QStringLiteral("x"));
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(!l.overlay->isInputMode());
        QVERIFY(!edit->isVisible());
        QVERIFY(l.overlay->errorText().isEmpty());
        QTest::keyClick(l.overlay, Qt::Key_Return);
        QVERIFY(l.overlay->isInputMode());
        QVERIFY(edit->text().isEmpty());
    }

    void wrongThenRight_data()
    {
        QTest::addColumn<bool>("removeMode");
        QTest::newRow("unlock") << false;
        QTest::newRow("remove") << true;
    }
    void wrongThenRight()
    {
        QFETCH(bool, removeMode);
        Locked l;
        int unlocked = 0, removed = 0, finished = 0;
        l.overlay->checkPassword = [](const QString& p) { return p == QLatin1String("abcd"); };
        l.overlay->onUnlocked = [&] { ++unlocked; };
        l.overlay->onRemovePassword = [&] { ++removed; };
        l.overlay->onUnlockFinished = [&] { ++finished; };
        l.overlay->setMode(removeMode);
        QLineEdit* edit = l.overlay->passwordEdit();
        QTest::keyClicks(edit, QStringLiteral("abce"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(l.overlay->errorText(), QString::fromUtf8("密码错误，请重试"));
        QCOMPARE(edit->selectedText(), QStringLiteral("abce"));
        QCOMPARE(l.overlay->shake(), 1.0);
        for (int i = 0; i < 10; ++i)
            l.overlay->animationTick();
        QVERIFY(l.overlay->shake() > 0);
        l.overlay->animationTick();
        QCOMPARE(l.overlay->shake(), 0.0); // 11 ticks, about 0.36 s
        QTest::keyClicks(edit, QStringLiteral("abcd"));
        QVERIFY(l.overlay->errorText().isEmpty()); // typing clears the error
        // The main button submits as Return does.
        grab(l.panel);
        click(l.overlay, l.overlay->mainButtonRect().center().toPoint());
        QCOMPARE(unlocked, removeMode ? 0 : 1);
        QCOMPARE(removed, removeMode ? 1 : 0);
        QVERIFY(l.overlay->isUnlocking());
        QTest::keyClick(edit, Qt::Key_Return); // a second submit while unlocking does nothing
        for (int i = 0; i < 7; ++i)
            l.overlay->animationTick();
        QVERIFY(l.overlay->isVisible());
        QCOMPARE(finished, 0);
        l.overlay->animationTick();
        QVERIFY(!l.overlay->isVisible());
        QCOMPARE(finished, 1);
        QCOMPARE(unlocked + removed, 1);
    }

    // Against a stored hash of the full 100,000 rounds the check runs off the GUI thread: the lock screen keeps
    // answering (timers fire, a second submit waits), then the wrong entry shakes and the right one unlocks.
    // The wrong entries are the near misses a user types: empty, one character short, a trailing space, the
    // other case.
    void storedHashCheckedOffTheGuiThread_data()
    {
        QTest::addColumn<QString>("wrong");
        QTest::newRow("last character wrong") << QStringLiteral("abce");
        QTest::newRow("empty field") << QString();
        QTest::newRow("one character short") << QStringLiteral("abc");
        QTest::newRow("trailing space") << QStringLiteral("abcd ");
        QTest::newRow("other case") << QStringLiteral("ABCD");
    }
    void storedHashCheckedOffTheGuiThread()
    {
        QFETCH(QString, wrong);
        static const QString stored = makePasswordHash(QStringLiteral("abcd"));
        Locked l;
        int unlocked = 0;
        QStringList verified;
        l.overlay->setVerifier(stored);
        l.overlay->checkPassword = [](const QString&) { return true; }; // not asked when a hash is set
        l.overlay->onPasswordVerified = [&](const QString& p) { verified.append(p); };
        l.overlay->onUnlocked = [&] { ++unlocked; };
        l.overlay->setMode(false);
        QLineEdit* edit = l.overlay->passwordEdit();
        QTest::keyClicks(edit, wrong);
        QCOMPARE(edit->text(), wrong);
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(l.overlay->isChecking());
        QVERIFY(l.overlay->errorText().isEmpty());
        int ticks = 0;
        QTimer::singleShot(0, l.overlay, [&] { ticks += l.overlay->isChecking() ? 1 : 0; });
        QTest::keyClick(edit, Qt::Key_Return); // waits for the first
        QTRY_VERIFY(!l.overlay->isChecking());
        QCOMPARE(ticks, 1);
        QCOMPARE(l.overlay->errorText(), QString::fromUtf8("密码错误，请重试"));
        QCOMPARE(unlocked, 0);
        QVERIFY(verified.isEmpty());
        edit->setText(QStringLiteral("abcd"));
        l.overlay->submitPassword();
        QTRY_COMPARE(unlocked, 1);
        QCOMPARE(verified, QStringList{QStringLiteral("abcd")});
        QVERIFY(l.overlay->isUnlocking());
    }

    // A named pipe as the background (a still picture or a GIF by its name) is never opened: the locked panel
    // paints its plain lock screen instead of waiting for a writer.
    void namedPipeBackgroundNeverOpened_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("picture") << "bg.png";
        QTest::newRow("animation") << "bg.gif";
    }
    void namedPipeBackgroundNeverOpened()
    {
        QFETCH(QString, name);
        const QString path = ktr::test::freshDir(QStringLiteral("pipe")) + QLatin1Char('/') + name;
        ktr::test::FifoGuard pipe(path);
        QVERIFY(pipe.made());
        Locked l;
        l.overlay->setBackgroundPath(path);
        grab(l.panel);
        const bool usable = UiLockOverlay::isAnimatedImageUsable(path);
        QVERIFY2(pipe.done(), "the lock screen waited on a named pipe");
        QVERIFY(!usable);
        QCOMPARE(l.overlay->backgroundPath(), path);
    }

    void noCheckerAccepts()
    {
        Locked l;
        int unlocked = 0;
        l.overlay->onUnlocked = [&] { ++unlocked; };
        l.overlay->setMode(false);
        l.overlay->submitPassword();
        QCOMPARE(unlocked, 1);
    }

    void links()
    {
        QList<QUrl> opened;
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl& url) {
            opened << url;
            return true;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        Locked l;
        l.overlay->setMode(false);
        grab(l.panel);
        click(l.overlay, l.overlay->forgotLinkRect().center().toPoint());
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0].path(), QStringLiteral("/forgot-lock.html"));
        click(l.overlay, l.overlay->secondaryLinkRect().center().toPoint());
        QCOMPARE(l.overlay->mode(), UiLockOverlay::Mode::RemoveProtection);
        grab(l.panel);
        QVERIFY(l.overlay->forgotLinkRect().isEmpty());
        // Pressing the link and releasing away from it does nothing.
        const QPoint link = l.overlay->secondaryLinkRect().center().toPoint();
        QTest::mousePress(l.overlay, Qt::LeftButton, {}, link);
        QTest::mouseRelease(l.overlay, Qt::LeftButton, {}, QPoint(5, 500));
        QCOMPARE(l.overlay->mode(), UiLockOverlay::Mode::RemoveProtection);
        click(l.overlay, link);
        QCOMPARE(l.overlay->mode(), UiLockOverlay::Mode::Unlock);
    }

    void windowButtons()
    {
        Locked l;
        const QPoint min = l.overlay->minimiseButtonRect().center().toPoint();
        const QPoint close = l.overlay->closeButtonRect().center().toPoint();
        QTest::mousePress(l.overlay, Qt::LeftButton, {}, close);
        QTest::mouseRelease(l.overlay, Qt::LeftButton, {}, QPoint(300, 300));
        QVERIFY(l.panel.isVisible());
        QVERIFY(!l.overlay->isInputMode()); // a title button press is never a click on the screen
        click(l.overlay, min);
        QVERIFY(l.panel.windowState() & Qt::WindowMinimized);
        click(l.overlay, close);
        QVERIFY(!l.panel.isVisible());
    }

    void holdStartsMove()
    {
        Locked l;
        QTest::mousePress(l.overlay, Qt::LeftButton, {}, QPoint(300, 450));
        auto* hold = l.overlay->findChild<QTimer*>(QStringLiteral("lockOverlayHold"));
        QVERIFY(hold && hold->isActive());
        QCOMPARE(hold->interval(), 260);
        QMetaObject::invokeMethod(hold, "timeout");
        QVERIFY(l.overlay->isMoving());
        QTest::mouseRelease(l.overlay, Qt::LeftButton, {}, QPoint(300, 450));
        QVERIFY(!l.overlay->isInputMode()); // the release ends the move, it is no click

        // Moving more than 4 px first cancels the hold; the release is then a click.
        QTest::mousePress(l.overlay, Qt::LeftButton, {}, QPoint(300, 450));
        QMouseEvent move(QEvent::MouseMove, QPointF(303, 452), l.overlay->mapToGlobal(QPointF(303, 452)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(l.overlay, &move);
        QVERIFY(!hold->isActive());
        QTest::mouseRelease(l.overlay, Qt::LeftButton, {}, QPoint(303, 452));
        QVERIFY(!l.overlay->isMoving());
        QVERIFY(l.overlay->isInputMode());
    }

    // While the lock screen shows, nothing typed, tabbed, scrolled or dropped reaches the panel, wherever the
    // keyboard focus was left.
    void nothingPassesThrough_data()
    {
        QTest::addColumn<int>("target"); // 0 the panel's grid, 1 the lock screen idle, 2 its password field
        QTest::newRow("focus left on the grid") << 0;
        QTest::newRow("idle lock screen") << 1;
        QTest::newRow("password field") << 2;
    }
    void nothingPassesThrough()
    {
        QFETCH(int, target);
        Locked l;
        QWidget* to = l.overlay;
        QVERIFY(l.active);
        if (target == 0) {
            l.panel.grid->setFocus();
            to = l.panel.grid;
        } else if (target == 2) {
            l.overlay->setMode(false);
            to = l.overlay->passwordEdit();
        }
        QTest::keyClick(to, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClick(to, Qt::Key_Space);
        QTest::keyClick(to, Qt::Key_A);
        QTest::keyClick(to, Qt::Key_Return);
        QTest::keyClick(to, Qt::Key_Escape);
        QTest::keyClick(to, Qt::Key_Tab);
        QTest::keyClick(to, Qt::Key_Backtab);
        QCOMPARE(l.panel.shortcuts, 0);
        QCOMPARE(l.panel.keys, 0);
        QCOMPARE(l.panel.grid->keys, 0);
        if (target != 0)
            QVERIFY(!l.panel.grid->hasFocus());

        QWheelEvent wheel(QPointF(100, 100), l.overlay->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(to, &wheel);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/usr/bin/env"))});
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(to, &enter);
        QVERIFY(!enter.isAccepted());
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(to, &drop);
        QVERIFY(!drop.isAccepted());
        QCOMPARE(l.panel.wheels, 0);
        QCOMPARE(l.panel.drops, 0);

        // Once the lock screen is gone the panel hears its keys again.
        l.overlay->hide();
        QTest::keyClick(l.panel.grid, Qt::Key_A);
        QCOMPARE(l.panel.grid->keys, 1);
    }

    void backgrounds()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("bg"));
        // Four bands, blue | red | green | blue: covering a square cuts off the blue ends; fitting would keep them.
        QImage bands(200, 100, QImage::Format_RGB32);
        QPainter(&bands).fillRect(0, 0, 200, 100, Qt::blue);
        {
            QPainter p(&bands);
            p.fillRect(50, 0, 50, 100, Qt::red);
            p.fillRect(100, 0, 50, 100, Qt::green);
        }
        const QString picture = dir + QStringLiteral("/bands.png");
        QVERIFY(bands.save(picture));

        Panel panel;
        panel.resize(400, 400);
        auto* overlay = new UiLockOverlay(&panel);
        overlay->setGeometry(panel.rect());
        panel.show();
        overlay->setBackgroundPath(picture);
        QImage img = grab(panel);
        const QColor left = img.pixelColor(8, 200), right = img.pixelColor(392, 200);
        QVERIFY2(left.red() > 2 * left.blue() && left.red() > 2 * left.green(), qPrintable(left.name()));
        QVERIFY2(right.green() > 2 * right.blue() && right.green() > 2 * right.red(), qPrintable(right.name()));
        // A still picture needs no timer while idle.
        auto* anim = overlay->findChild<QTimer*>(QStringLiteral("lockOverlayAnimation"));
        QVERIFY(!anim || !anim->isActive());

        overlay->setBackgroundPath(dir + QStringLiteral("/missing.png"));
        img = grab(panel);
        const QColor gradient = img.pixelColor(2, 2);
        QVERIFY2(gradient.blue() > gradient.red() && gradient.red() > 200, qPrintable(gradient.name()));

        overlay->setBackgroundPath(QFINDTESTDATA("../data/gif/redblue-40x20.gif"));
        auto* movie = overlay->findChild<QMovie*>();
        QVERIFY(movie);
        QCOMPARE(movie->state(), QMovie::Running);
        QCOMPARE(movie->cacheMode(), QMovie::CacheAll);
        QCOMPARE(movie->scaledSize(), QSize(400, 400));
        img = grab(panel);
        QVERIFY(img.pixelColor(8, 200).red() > 2 * img.pixelColor(8, 200).green());

        // A resize rescales the GIF only after the 200 ms pause.
        panel.resize(500, 400);
        overlay->setGeometry(panel.rect());
        QCOMPARE(movie->scaledSize(), QSize(400, 400));
        QMetaObject::invokeMethod(overlay->findChild<QTimer*>(QStringLiteral("lockOverlayResize")), "timeout");
        QCOMPARE(movie->scaledSize(), QSize(500, 400));

        int stops = 0;
        FakeVideo* video = nullptr;
        UiLockOverlay::setVideoFactory([&](const QString& path) -> std::unique_ptr<LockVideoSource> {
            if (!path.endsWith(QLatin1String(".mp4")))
                return nullptr;
            auto v = std::make_unique<FakeVideo>(&stops);
            video = v.get();
            return v;
        });
        const QString clip = QFINDTESTDATA("../data/video/bars-64x48-2fps.mp4");
        overlay->setBackgroundPath(clip);
        QVERIFY(video);
        QCOMPARE(video->path, clip);
        QCOMPARE(video->target, QSize(500, 400));
        QTRY_VERIFY(!overlay->findChild<QMovie*>()); // the GIF was let go
        anim = overlay->findChild<QTimer*>(QStringLiteral("lockOverlayAnimation"));
        QVERIFY(anim && anim->isActive()); // frames are fetched on the tick
        overlay->animationTick();
        img = grab(panel);
        QVERIFY(img.pixelColor(250, 200).green() > 2 * img.pixelColor(250, 200).red());
        overlay->setBackgroundPath(QString());
        QCOMPARE(stops, 1);
    }

    void render_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("language");
        QTest::newRow("light zh") << false << 0;
        QTest::newRow("dark en") << true << 1;
    }
    void render()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        Locked l;
        const QString tag = QStringLiteral("%1_%2").arg(dark ? "dark" : "light", language ? "en" : "zh");
        QImage idle = ::grab(l.panel);
        ktr::test::saveShot(idle, QStringLiteral("lockoverlay_idle_") + tag);
        l.overlay->checkPassword = [](const QString&) { return false; };
        l.overlay->setMode(false);
        QTest::keyClicks(l.overlay->passwordEdit(), QStringLiteral("wrong"));
        l.overlay->submitPassword();
        for (int i = 0; i < 12; ++i)
            l.overlay->animationTick();
        QImage input = ::grab(l.panel);
        ktr::test::saveShot(input, QStringLiteral("lockoverlay_input_") + tag);
        // The main button is filled with the accent colour where no label is drawn.
        const QRectF b = l.overlay->mainButtonRect();
        QCOMPARE(input.pixelColor(int(b.left()) + 6, int(b.center().y())).rgb(), currentTheme().accent.rgb());
        // The error line sits between the field and the button, in the error red.
        const QColor red(232, 17, 35);
        bool found = false;
        for (int x = 0; x < input.width() && !found; ++x)
            for (int y = int(l.overlay->passwordEdit()->geometry().bottom()); y < int(b.top()) && !found; ++y)
                found = input.pixelColor(x, y).rgb() == red.rgb();
        QVERIFY(found);
    }
};

KTR_TEST_MAIN(TestUiLockOverlay)
#include "tst_uilockoverlay.moc"
