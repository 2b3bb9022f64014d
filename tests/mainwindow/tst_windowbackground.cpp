// The window's background on its own: which files become a picture, that the same path is not read again
// until it is forgotten, how the picture is painted at its opacity, and when a new pixel ratio drops caches.
#include "mainwindow/windowbackground.h"
#include "testenv.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <QtTest/QtTest>

namespace {

bool writePicture(const QString& path, QColor colour, QSize size = QSize(100, 50))
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image.save(path, "PNG");
}

} // namespace

class TestWindowBackground : public QObject
{
    Q_OBJECT

    QString m_dir;
    QString file(const QString& name) const { return m_dir + QLatin1Char('/') + name; }

private slots:
    void initTestCase()
    {
        m_dir = ktr::test::freshDir(QStringLiteral("backgrounds"));
        QVERIFY(writePicture(file("red.png"), Qt::red));
        QVERIFY(ktr::test::writeFile(file("broken.png"), QByteArray("\x89PNG\r\n\x1a\n not really", 20)));
        QVERIFY(QDir().mkpath(file("folder.png")));
    }

    void whichFilesBecomeAPicture_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("shown");
        QTest::newRow("a picture") << file("red.png") << true;
        QTest::newRow("no path") << QString() << false;
        QTest::newRow("missing file") << file("gone.png") << false;
        QTest::newRow("one letter off the picture") << file("red.pn") << false;
        QTest::newRow("a folder named like a picture") << file("folder.png") << false;
        QTest::newRow("a damaged picture") << file("broken.png") << false;
    }

    void whichFilesBecomeAPicture()
    {
        QFETCH(QString, path);
        QFETCH(bool, shown);
        QWidget host;
        host.resize(100, 50);
        WindowBackground background(&host);
        background.apply(path);
        QCOMPARE(background.inForce(), shown);
        QCOMPARE(!background.still().isNull(), shown);
        QVERIFY(!background.videoPlaying());
        QVERIFY(!background.movie());
    }

    // The same path again keeps what was read; once forgotten, the file is read again.
    void samePathIsReadAgainOnlyWhenForgotten()
    {
        const QString path = file("changing.png");
        QVERIFY(writePicture(path, Qt::red));
        QWidget host;
        host.resize(100, 50);
        WindowBackground background(&host);
        background.apply(path);
        QCOMPARE(background.still().toImage().pixelColor(5, 5), QColor(Qt::red));
        QVERIFY(writePicture(path, Qt::blue));
        background.apply(path);
        QCOMPARE(background.still().toImage().pixelColor(5, 5), QColor(Qt::red));
        background.forgetPath();
        background.apply(path);
        QCOMPARE(background.still().toImage().pixelColor(5, 5), QColor(Qt::blue));
        background.apply(QString());
        QVERIFY(!background.inForce());
    }

    void paintsThePictureAtItsOpacity_data()
    {
        QTest::addColumn<int>("opacity");
        QTest::addColumn<int>("alpha");
        QTest::newRow("opaque") << 100 << 255;
        QTest::newRow("half") << 50 << 128;
        QTest::newRow("zero paints at the least opacity, not nothing") << 0 << 2;
    }

    void paintsThePictureAtItsOpacity()
    {
        QFETCH(int, opacity);
        QFETCH(int, alpha);
        QWidget host;
        host.resize(100, 50);
        WindowBackground background(&host);
        background.apply(file("red.png"));
        background.setOpacity(opacity);
        QVERIFY(background.refreshScaled());
        QImage canvas(host.size(), QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        {
            QPainter p(&canvas);
            background.paintPicture(p);
        }
        for (const QPoint& at : {QPoint(0, 0), QPoint(50, 25), QPoint(99, 49)}) {
            const QColor c = canvas.pixelColor(at);
            QVERIFY2(std::abs(c.alpha() - alpha) <= 1, qPrintable(QString::number(c.alpha())));
            QCOMPARE(c.green(), 0);
            QCOMPARE(c.blue(), 0);
        }
    }

    void aNewPixelRatioDropsTheCaches()
    {
        QWidget host;
        host.resize(100, 50);
        WindowBackground background(&host);
        background.apply(file("red.png"));
        QVERIFY(!background.noteRatio(host.devicePixelRatioF())); // the ratio it started with
        QVERIFY(background.refreshScaled());
        QVERIFY(!background.refreshScaled()); // nothing stale
        QVERIFY(background.noteRatio(2.0));
        QVERIFY(!background.noteRatio(2.0));
        QVERIFY(background.refreshScaled());
        QVERIFY(!background.still().isNull()); // the picture itself stays
    }
};

KTR_TEST_MAIN(TestWindowBackground)
#include "tst_windowbackground.moc"
