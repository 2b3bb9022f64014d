// The size remembered for the next start is the landscape one, also when the panel quits in portrait
// (portrait is not remembered: the next start is landscape again).
#include "icons/iconloader.h"
#include "mainwindow/mainwindow.h"
#include "testenv.h"
#include "ui/uibtn.h"
#include "windowfixture.h"

#include <QFile>
#include <QJsonArray>
#include <QtTest/QtTest>

using namespace ktr::test;

class TestPortraitSize : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { useRedIconExtractor(); }
    void cleanupTestCase() { setIconExtractorForTesting({}); }

    void quittingInPortraitKeepsTheLandscapeSize()
    {
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());
        auto w = shownWindow();
        QVERIFY(w);
        w->resize(760, 520);
        const QSize landscape = w->size();

        w->onUiButton(UiBtn::Orientation);
        QVERIFY(w->size() != landscape);
        QVERIFY(w->saveSettings());
        QCOMPARE(readObject(settingsFile()).value(QStringLiteral("geometry")).toArray(),
                 (QJsonArray{landscape.width(), landscape.height()}));

        w->onUiButton(UiBtn::Orientation);
        QCOMPARE(w->size(), landscape);
        QVERIFY(w->saveSettings());
        QCOMPARE(readObject(settingsFile()).value(QStringLiteral("geometry")).toArray(),
                 (QJsonArray{landscape.width(), landscape.height()}));
    }
};

KTR_TEST_MAIN(TestPortraitSize)
#include "tst_portraitsize.moc"
