// Stopping the window's work also stops the timers its backgrounds and the ratio refresh make on demand.
#include "icons/iconloader.h"
#include "mainwindow/mainwindow.h"
#include "manualclock.h"
#include "testenv.h"
#include "windowfixture.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QtTest/QtTest>

#include <memory>

using namespace ktr::test;

namespace {

enum class Setup { RatioChange, StalePicture, Video, GifResize };

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestAuditAbortNetwork : public QObject
{
    Q_OBJECT

    QString m_files;
    ManualClock m_clock;

private Q_SLOTS:
    void initTestCase()
    {
        m_files = freshDir(QStringLiteral("files"));
        useRedIconExtractor();
    }

    void cleanupTestCase() { setIconExtractorForTesting({}); }

    void appearanceTimersStop_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("timer");
        QTest::newRow("ratio debounce") << Setup::RatioChange << "ratioDebounce";
        QTest::newRow("scaled picture refresh") << Setup::StalePicture << "scaledRefreshTimer";
        QTest::newRow("video frames") << Setup::Video << "videoFrameTimer";
        QTest::newRow("gif resize debounce") << Setup::GifResize << "resizeDebounce";
    }

    void appearanceTimersStop()
    {
        QFETCH(Setup, setup);
        QFETCH(QString, timer);
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());

        auto w = shownWindow();
        QVERIFY(w);
        w->setVideoClock(&m_clock); // no time limit runs out while the test looks
        const QString picture = m_files + "/still.png";
        QImage image(40, 40, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(picture));

        switch (setup) {
        case Setup::RatioChange:
            w->noteDevicePixelRatio(w->devicePixelRatioF() + 1.0);
            break;
        case Setup::StalePicture: {
            w->settings().bgImagePath = picture;
            w->applyAppearance(w->settings());
            // A new ratio drops the scaled picture; the next paint asks for it again.
            w->noteDevicePixelRatio(w->devicePixelRatioF() + 1.0);
            QImage target(w->size(), QImage::Format_ARGB32);
            w->render(&target);
            break;
        }
        case Setup::Video:
            w->settings().bgImagePath = QFINDTESTDATA("../data/video/bars-320x240.mp4");
            w->applyAppearance(w->settings());
            QVERIFY(w->isVideoPlaying());
            break;
        case Setup::GifResize:
            w->settings().bgImagePath = QFINDTESTDATA("../data/gif/redblue-40x20.gif");
            w->applyAppearance(w->settings());
            QVERIFY(w->backgroundMovie());
            w->resize(w->width() + 40, w->height());
            break;
        }

        auto* t = w->findChild<QTimer*>(timer);
        QVERIFY2(t, qPrintable(timer));
        QVERIFY2(t->isActive(), qPrintable(timer));

        w->abortNetwork();
        const QList<QTimer*> all = w->findChildren<QTimer*>();
        for (const QTimer* each : all)
            QVERIFY2(!each->isActive(), qPrintable(each->objectName()));
    }
};

KTR_TEST_MAIN(TestAuditAbortNetwork)
#include "tst_audit_abortnetwork.moc"
