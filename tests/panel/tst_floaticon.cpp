#include "panel/floaticon.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QMenu>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>

namespace {

QImage render(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img);
    return img;
}

// A pattern whose fast and smooth scalings differ: one-pixel stripes of red and blue.
QPixmap stripes(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, (x + y) % 2 ? QColor(Qt::red) : QColor(Qt::blue));
    return QPixmap::fromImage(img);
}

void sendMouse(QWidget* w, QEvent::Type type, const QPoint& global, Qt::MouseButton button)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, QPointF(w->mapFromGlobal(global)), QPointF(global), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

QScreen* screenNamed(const QString& name)
{
    for (QScreen* s : QGuiApplication::screens())
        if (s->name() == name)
            return s;
    return nullptr;
}

} // namespace

class TestFloatIcon : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void windowSetup()
    {
        FloatIcon icon(stripes(48, 48), QStringLiteral("终端"), QPoint(120, 80));
        QCOMPARE(icon.size(), QSize(74, 74));
        QCOMPARE(icon.minimumSize(), icon.maximumSize());
        QVERIFY(icon.isWindow());
        const Qt::WindowFlags flags = icon.windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
        QVERIFY(flags & Qt::FramelessWindowHint);
        QVERIFY(flags & Qt::WindowStaysOnTopHint);
        QVERIFY(icon.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(icon.pos(), QPoint(120, 80));
        QCOMPARE(icon.windowTitle(), QStringLiteral("终端"));
        QCOMPARE(icon.toolTip(), QStringLiteral("终端"));
        QCOMPARE(icon.cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!icon.isVisible());
    }

    // The tile's title and tooltip read as the grid's label does: the stored name in the language shown,
    // also after the language changes while it floats.
    void nameInTheLanguageShown_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("afterSwitch");
        QTest::newRow("Chinese, then English") << 0 << "此电脑"
                                               << "Computer";
        QTest::newRow("English, then Chinese") << 1 << "Computer"
                                               << "此电脑";
    }
    void nameInTheLanguageShown()
    {
        QFETCH(int, language);
        QFETCH(QString, shown);
        QFETCH(QString, afterSwitch);
        const auto restore = qScopeGuard([] {
            Lang::setLanguage(0);
            Lang::notifyChanged();
        });
        Lang::setLanguage(language);
        FloatIcon icon(stripes(48, 48), QStringLiteral("此电脑"), QPoint(120, 80));
        QCOMPARE(icon.windowTitle(), shown);
        QCOMPARE(icon.toolTip(), shown);
        Lang::setLanguage(1 - language);
        Lang::notifyChanged();
        QCOMPARE(icon.windowTitle(), afterSwitch);
        QCOMPARE(icon.toolTip(), afterSwitch);
    }

    // Press, move the pointer by (dx, dy), release: small wobbles launch, larger moves drag.
    void clickOrDrag_data()
    {
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<bool>("opens");
        QTest::newRow("still") << QPoint(0, 0) << true;
        QTest::newRow("3 px wobble") << QPoint(2, -1) << true;
        QTest::newRow("4 px is the limit") << QPoint(2, 2) << true;
        QTest::newRow("5 px drags") << QPoint(3, 2) << false;
        QTest::newRow("long drag") << QPoint(-60, 140) << false;
    }
    void clickOrDrag()
    {
        QFETCH(QPoint, delta);
        QFETCH(bool, opens);
        FloatIcon icon(stripes(48, 48), QStringLiteral("x"), QPoint(200, 200));
        icon.show();
        QSignalSpy open(&icon, &FloatIcon::openRequested);
        const QPoint start = icon.frameGeometry().topLeft() + QPoint(30, 40);
        sendMouse(&icon, QEvent::MouseButtonPress, start, Qt::LeftButton);
        sendMouse(&icon, QEvent::MouseMove, start + delta, Qt::LeftButton);
        QCOMPARE(icon.pos(), opens ? QPoint(200, 200) : QPoint(200, 200) + delta);
        // Once dragging, every move follows the pointer, also back within the threshold.
        if (!opens) {
            sendMouse(&icon, QEvent::MouseMove, start + QPoint(1, 0), Qt::LeftButton);
            QCOMPARE(icon.pos(), QPoint(201, 200));
        }
        sendMouse(&icon, QEvent::MouseButtonRelease, start, Qt::LeftButton);
        QCOMPARE(open.count(), opens ? 1 : 0);
        QVERIFY(!icon.isDragging());
        // The next click launches again.
        sendMouse(&icon, QEvent::MouseButtonPress, start, Qt::LeftButton);
        sendMouse(&icon, QEvent::MouseButtonRelease, start, Qt::LeftButton);
        QCOMPARE(open.count(), opens ? 2 : 1);
    }

    // One gesture, one launch, in the grid's open mode: a double click is press, release, double-click
    // press, release.
    void oneOpenPerGesture_data()
    {
        QTest::addColumn<bool>("singleClick");
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<int>("opens");
        QTest::newRow("single-click mode, click") << true << false << 1;
        QTest::newRow("single-click mode, double click") << true << true << 1;
        QTest::newRow("double-click mode, click") << false << false << 0;
        QTest::newRow("double-click mode, double click") << false << true << 1;
    }
    void oneOpenPerGesture()
    {
        QFETCH(bool, singleClick);
        QFETCH(bool, doubleClick);
        QFETCH(int, opens);
        FloatIcon icon(stripes(48, 48), QStringLiteral("x"), QPoint(200, 200));
        icon.setSingleClickOpen(singleClick);
        icon.show();
        QSignalSpy open(&icon, &FloatIcon::openRequested);
        const QPoint at = icon.frameGeometry().topLeft() + QPoint(30, 40);
        sendMouse(&icon, QEvent::MouseButtonPress, at, Qt::LeftButton);
        sendMouse(&icon, QEvent::MouseButtonRelease, at, Qt::LeftButton);
        if (doubleClick) {
            sendMouse(&icon, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
            sendMouse(&icon, QEvent::MouseButtonRelease, at, Qt::LeftButton);
        }
        QCOMPARE(open.count(), opens);
        QCOMPARE(icon.pos(), QPoint(200, 200));
    }

    void otherButtonsNeitherDragNorOpen()
    {
        FloatIcon icon(QPixmap(), QStringLiteral("x"), QPoint(200, 200));
        icon.show();
        QSignalSpy open(&icon, &FloatIcon::openRequested);
        const QPoint at(230, 230);
        sendMouse(&icon, QEvent::MouseButtonPress, at, Qt::RightButton);
        sendMouse(&icon, QEvent::MouseMove, at + QPoint(30, 0), Qt::RightButton);
        sendMouse(&icon, QEvent::MouseButtonRelease, at, Qt::RightButton);
        QCOMPARE(icon.pos(), QPoint(200, 200));
        QCOMPARE(open.count(), 0);
    }

    void scaling_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QSize>("expected"); // device pixels
        QTest::addColumn<int>("mode");       // -1 unchanged, else the Qt::TransformationMode used
        QTest::newRow("48 at 1 unchanged") << QSize(48, 48) << 1.0 << QSize(48, 48) << -1;
        QTest::newRow("32 enlarged fast") << QSize(32, 32) << 1.0 << QSize(48, 48) << int(Qt::FastTransformation);
        QTest::newRow("256 reduced smoothly")
            << QSize(256, 256) << 1.0 << QSize(48, 48) << int(Qt::SmoothTransformation);
        QTest::newRow("72 at 1.5 unchanged") << QSize(72, 72) << 1.5 << QSize(72, 72) << -1;
        QTest::newRow("48 at 1.5 enlarged") << QSize(48, 48) << 1.5 << QSize(72, 72) << int(Qt::FastTransformation);
        QTest::newRow("48 at 1.25 rounds to 60")
            << QSize(48, 48) << 1.25 << QSize(60, 60) << int(Qt::FastTransformation);
        QTest::newRow("wide keeps its aspect")
            << QSize(96, 48) << 1.0 << QSize(48, 24) << int(Qt::SmoothTransformation);
        // Narrower than the target in one dimension: enlarged, not smoothed.
        QTest::newRow("tall and thin") << QSize(24, 96) << 1.0 << QSize(12, 48) << int(Qt::FastTransformation);
        QTest::newRow("ratio 0 counts as 1") << QSize(32, 32) << 0.0 << QSize(48, 48) << int(Qt::FastTransformation);
    }
    void scaling()
    {
        QFETCH(QSize, source);
        QFETCH(qreal, ratio);
        QFETCH(QSize, expected);
        QFETCH(int, mode);
        const QPixmap src = stripes(source.width(), source.height());
        FloatIcon icon(src, QStringLiteral("x"));
        icon.updateScaledPixmap(ratio);
        const QPixmap& scaled = icon.scaledPixmap();
        QCOMPARE(scaled.size(), expected);
        const qreal effective = ratio > 0 ? ratio : 1.0;
        QCOMPARE(icon.scaledRatio(), effective);
        QCOMPARE(scaled.devicePixelRatio(), effective);
        QImage want = mode < 0 ? src.toImage()
                               : src.scaled(expected, Qt::KeepAspectRatio, Qt::TransformationMode(mode)).toImage();
        want.setDevicePixelRatio(effective);
        QCOMPARE(scaled.toImage(), want);
    }

    void paint_data()
    {
        QTest::addColumn<bool>("withIcon");
        QTest::addColumn<bool>("hovered");
        QTest::newRow("icon") << true << false;
        QTest::newRow("icon, hovered") << true << true;
        QTest::newRow("null pixmap") << false << false;
    }
    void paint()
    {
        QFETCH(bool, withIcon);
        QFETCH(bool, hovered);
        QPixmap green(48, 48);
        green.fill(Qt::green);
        FloatIcon icon(withIcon ? green : QPixmap(), QStringLiteral("x"));
        icon.updateScaledPixmap(1.0);
        if (hovered) {
            QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
            QApplication::sendEvent(&icon, &enter);
            QVERIFY(icon.isHovered());
        }
        const QImage img = render(icon);
        ktr::test::saveShot(img, QStringLiteral("floaticon-%1").arg(QTest::currentDataTag()).replace(' ', '_'));
        const QColor accent = currentTheme().accent;
        // Tile white, outlined in the highlight colour along y = 1.5: the 1.5 px pen covers a quarter of row 0,
        // the 2 px pen of a hovered tile half of it.
        QCOMPARE(img.pixelColor(37, 1).rgb(), accent.rgb());
        QCOMPARE(img.pixelColor(37, 0).alpha() > 96, hovered);
        QVERIFY(img.pixelColor(37, 0).alpha() > 32);
        QCOMPARE(img.pixelColor(8, 37), QColor(Qt::white));
        // The icon: 48 x 48 centred, from 13 to 60.
        QCOMPARE(img.pixelColor(13, 13), withIcon ? QColor(Qt::green) : QColor(Qt::white));
        QCOMPARE(img.pixelColor(60, 60), withIcon ? QColor(Qt::green) : QColor(Qt::white));
        QCOMPARE(img.pixelColor(12, 37), QColor(Qt::white));
        QCOMPARE(img.pixelColor(61, 37), QColor(Qt::white));

        QApplication::sendEvent(&icon, std::make_unique<QEvent>(QEvent::Leave).get());
        QVERIFY(!icon.isHovered());
    }

    void menu()
    {
        FloatIcon icon(QPixmap(), QStringLiteral("x"));
        std::unique_ptr<QMenu> menu(icon.buildMenu(&icon));
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(actions[0]->text(), QStringLiteral("打开"));
        QVERIFY(actions[1]->isSeparator());
        QCOMPARE(actions[2]->text(), QStringLiteral("取消悬浮"));
        QCOMPARE(actions[3]->text(), QStringLiteral("取消所有悬浮"));
        QSignalSpy open(&icon, &FloatIcon::openRequested);
        QSignalSpy remove(&icon, &FloatIcon::removeRequested);
        QSignalSpy removeAll(&icon, &FloatIcon::removeAllRequested);
        actions[0]->trigger();
        actions[2]->trigger();
        actions[3]->trigger();
        QCOMPARE(open.count(), 1);
        QCOMPARE(remove.count(), 1);
        QCOMPARE(removeAll.count(), 1);
    }

    void contextMenuDismissedEmitsNothing()
    {
        FloatIcon icon(QPixmap(), QStringLiteral("x"), QPoint(100, 100));
        icon.show();
        QSignalSpy open(&icon, &FloatIcon::openRequested);
        QSignalSpy remove(&icon, &FloatIcon::removeRequested);
        QTimer::singleShot(0, [] {
            if (QWidget* popup = QApplication::activePopupWidget())
                popup->close();
        });
        QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(10, 10), QPoint(110, 110));
        QApplication::sendEvent(&icon, &e);
        QCOMPARE(open.count() + remove.count(), 0);
    }

    // Two screens (see main): "a" at ratio 1 from x 0, "b" at ratio 1.5 from x 800.
    void followsTheScreenRatio()
    {
        QScreen* b = screenNamed(QStringLiteral("b"));
        QVERIFY(b);
        QCOMPARE(b->devicePixelRatio(), 1.5);
        FloatIcon icon(stripes(48, 48), QStringLiteral("x"), QPoint(100, 100));
        QCOMPARE(icon.scaledRatio(), 1.0);
        icon.show();
        QCOMPARE(icon.scaledPixmap().size(), QSize(48, 48));

        const QPoint start(130, 130);
        sendMouse(&icon, QEvent::MouseButtonPress, start, Qt::LeftButton);
        sendMouse(&icon, QEvent::MouseMove, QPoint(860, 130), Qt::LeftButton);
        QCOMPARE(icon.screen(), b);
        QCOMPARE(icon.scaledRatio(), 1.5);
        QCOMPARE(icon.scaledPixmap().size(), QSize(72, 72));
        const qint64 key = icon.scaledPixmap().cacheKey();
        sendMouse(&icon, QEvent::MouseMove, QPoint(900, 200), Qt::LeftButton);
        sendMouse(&icon, QEvent::MouseButtonRelease, QPoint(900, 200), Qt::LeftButton);
        QCOMPARE(icon.scaledPixmap().cacheKey(), key);

        icon.move(100, 100);
        QCOMPARE(icon.scaledRatio(), 1.0);
        QCOMPARE(icon.scaledPixmap().size(), QSize(48, 48));
    }

    void createdOnAHighRatioScreen()
    {
        FloatIcon icon(stripes(256, 256), QStringLiteral("x"), QPoint(900, 100));
        QCOMPARE(icon.scaledRatio(), 1.5);
        QCOMPARE(icon.scaledPixmap().size(), QSize(72, 72));
    }
};

int main(int argc, char** argv)
{
    ktr::test::prepareEnvironment();
    // Two offscreen screens side by side; the second one's 144 dpi gives a pixel ratio of 1.5.
    const QString config = ktr::test::testRoot() + QStringLiteral("/screens.json");
    ktr::test::writeFile(config, R"({"screens":[
        {"name":"a","x":0,"y":0,"width":800,"height":600,"logicalDpi":96,"logicalBaseDpi":96},
        {"name":"b","x":800,"y":0,"width":800,"height":600,"logicalDpi":144,"logicalBaseDpi":96}]})");
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toUtf8());
    QApplication app(argc, argv);
    TestFloatIcon tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_floaticon.moc"
