// The corners of every translucent window of ours: rounded and transparent outside the outline while a
// compositing manager composes them, square and opaque in the window's own colour without one (an X server
// shows transparent pixels black), following a compositor that starts or ends while they are open.
#include "account/accountpaint.h"
#include "account/logindialog.h"
#include "mainwindow/mainwindow.h"
#include "market/appmarketdialog.h"
#include "settings/settingsdialog.h"
#include "support/logviewerdialog.h"
#include "support/noticedialog.h"
#include "support/supportchatdialog.h"
#include "testenv.h"
#include "ui/msgdialog.h"
#include "ui/settingskit.h"
#include "ui/theme.h"
#include "ui/toast.h"
#include "ui/windowcorners.h"

#include <QMenu>
#include <QTest>

#include <functional>
#include <memory>

namespace {

using Factory = std::function<std::unique_ptr<QWidget>()>;
using Colour = std::function<QColor()>;

QImage paintAll(QWidget& w)
{
    QImage image(w.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    w.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return image;
}

// The four corner pixels and the ones diagonally inside them.
QList<QPoint> cornerPoints(const QSize& s, int inset)
{
    const int r = s.width() - 1 - inset;
    const int b = s.height() - 1 - inset;
    return {QPoint(inset, inset), QPoint(r, inset), QPoint(inset, b), QPoint(r, b)};
}

struct Forced
{
    explicit Forced(bool composited) { setWindowsCompositedForTest(composited); }
    ~Forced() { setWindowsCompositedForTest(std::nullopt); }
};

} // namespace

Q_DECLARE_METATYPE(Factory)
Q_DECLARE_METATYPE(Colour)

class TestWindowCorners : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cornersFollowTheCompositor_data()
    {
        QTest::addColumn<Factory>("make");
        QTest::addColumn<Colour>("background"); // the bottom-left corner's colour without a compositor
        QTest::addColumn<int>("inset");         // the first pixel inside the outline's pen, 0 without a pen

        QTest::newRow("toast") << Factory([] {
            auto t = std::make_unique<Toast>(nullptr);
            t->showMessage(QStringLiteral("已保存"), Toast::Info);
            return std::unique_ptr<QWidget>(std::move(t));
        }) << Colour([] { return QColor(0x33, 0x39, 0x47); })
                               << 1;
        QTest::newRow("message card") << Factory([] {
            auto d = std::make_unique<MsgDialog>(nullptr, 0, QStringLiteral("提示"), QStringLiteral("内容"),
                                                 QStringList{QStringLiteral("确定")}, 0);
            d->adjustSize();
            return std::unique_ptr<QWidget>(std::move(d));
        }) << Colour([] { return QColor(Qt::white); })
                                      << 0;
        QTest::newRow("login card") << Factory([] { return std::unique_ptr<QWidget>(new LoginDialog); })
                                    << Colour([] { return AccountRoles::of(currentTheme()).background; }) << 1;
        QTest::newRow("settings dialog") << Factory([] {
            static AppSettings settings;
            return std::unique_ptr<QWidget>(new SettingsDialog(&settings, QStringLiteral("/tmp/ktr-data"), {}, {}, {},
                                                               {}, {}, {}, {}, nullptr, {}, {}, {}));
        }) << Colour([] { return dialogRoles().navBackground; })
                                         << 1;
        QTest::newRow("chat") << Factory([] { return std::unique_ptr<QWidget>(new SupportChatDialog); })
                              << Colour([] { return currentTheme().windowBackground; }) << 1;
        QTest::newRow("notice") << Factory([] {
            return std::unique_ptr<QWidget>(
                new NoticeDialog(7, QStringLiteral("通知"), QStringLiteral("正文"), QString(), QString()));
        }) << Colour() << 1;
        QTest::newRow("log viewer") << Factory([] {
            return std::unique_ptr<QWidget>(new LogViewerDialog(ktr::test::freshDir(QStringLiteral("logs"))));
        }) << Colour([] { return currentTheme().windowBackground; })
                                    << 1;
        // The bottom bar, a child at the panel's corners, squares its own corners too.
        QTest::newRow("panel") << Factory([] { return std::unique_ptr<QWidget>(new MainWindow); })
                               << Colour([] { return currentTheme().bottomBarBackground; }) << 1;
    }
    void cornersFollowTheCompositor()
    {
        QFETCH(Factory, make);
        QFETCH(Colour, background);
        QFETCH(int, inset);
        std::unique_ptr<QWidget> w;
        {
            Forced composited(true);
            w = make();
            w->adjustSize();
            const QImage image = paintAll(*w);
            for (const QPoint& p : cornerPoints(w->size(), 0))
                QVERIFY2(image.pixelColor(p).alpha() == 0,
                         qPrintable(QStringLiteral("(%1,%2) not transparent").arg(p.x()).arg(p.y())));
        }
        // The compositor ends while the window is open.
        Forced plain(false);
        const QImage image = paintAll(*w);
        for (const QPoint& p : cornerPoints(w->size(), 0))
            QVERIFY2(image.pixelColor(p).alpha() == 255,
                     qPrintable(QStringLiteral("(%1,%2) not opaque").arg(p.x()).arg(p.y())));
        // Inside the outline's pen the bottom-left corner shows the window's own colour there.
        if (background)
            QCOMPARE(image.pixelColor(inset, w->height() - 1 - inset).name(), background().name());
    }

    // The panel has an alpha channel only when a compositor ran at its start: one made without keeps its
    // corners square and painted when a compositor starts later (transparent pixels would show black).
    void panelTranslucentOnlyWithACompositorAtItsStart_data()
    {
        QTest::addColumn<bool>("atStart");
        QTest::addColumn<bool>("later");
        QTest::addColumn<bool>("roundCorners");
        QTest::newRow("compositor at start and later") << true << true << true;
        QTest::newRow("compositor at start, gone later") << true << false << false;
        QTest::newRow("no compositor at start, one later") << false << true << false;
        QTest::newRow("no compositor at all") << false << false << false;
    }
    void panelTranslucentOnlyWithACompositorAtItsStart()
    {
        QFETCH(bool, atStart);
        QFETCH(bool, later);
        QFETCH(bool, roundCorners);
        std::unique_ptr<MainWindow> w;
        {
            Forced start(atStart);
            w = std::make_unique<MainWindow>();
        }
        QCOMPARE(w->testAttribute(Qt::WA_TranslucentBackground), atStart);
        Forced now(later);
        QCOMPARE(windowComposed(w.get()), roundCorners);
        const QImage image = paintAll(*w);
        for (const QPoint& p : cornerPoints(w->size(), 0))
            QCOMPARE(image.pixelColor(p).alpha(), roundCorners ? 0 : 255);
    }

    // A themed menu is built square without a compositor.
    void menuCorners()
    {
        for (const bool composited : {true, false}) {
            Forced forced(composited);
            QVERIFY(themedMenuStyleSheet().contains(composited ? QStringLiteral("border-radius:10px;padding")
                                                               : QStringLiteral("border-radius:0px;padding")));
        }
    }

    // Every follower repaints when the compositor comes or goes.
    void followersRepaint()
    {
        QWidget w;
        w.setAttribute(Qt::WA_TranslucentBackground);
        w.resize(50, 50);
        followCompositing(&w, [] { return QColor(Qt::red); });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        int paints = 0;
        struct Counter : QObject
        {
            int* n;
            explicit Counter(int* count) : n(count) {}
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::Paint)
                    ++*n;
                return false;
            }
        } counter(&paints);
        w.installEventFilter(&counter);
        {
            Forced plain(false);
            QTRY_VERIFY(paints > 0);
            const int before = paints;
            setWindowsCompositedForTest(true);
            QTRY_VERIFY(paints > before);
        }
    }
};

KTR_TEST_MAIN(TestWindowCorners)
#include "tst_windowcorners.moc"
