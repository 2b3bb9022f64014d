// The line under the title strip: hidden while the lock screen covers the window, back once it is gone.
#include "icons/iconloader.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/borderframe.h"
#include "mainwindow/mainwindow.h"
#include "testenv.h"
#include "ui/uibtn.h"
#include "windowfixture.h"

#include <QFile>
#include <QtTest/QtTest>

using namespace ktr::test;

class TestAuditDivider : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { useRedIconExtractor(); }
    void cleanupTestCase() { setIconExtractorForTesting({}); }

    void dividerFollowsTheLockScreen()
    {
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());
        auto w = shownWindow();
        QVERIFY(w);
        QCOMPARE(w->borderFrame()->dividerY(), 28);

        w->settings().protectPasswordHash = QStringLiteral("hash");
        w->onUiButton(UiBtn::Lock);
        QVERIFY(w->lockOverlay() && w->lockOverlay()->isVisible());
        w->resize(w->width() + 20, w->height() + 10);
        QCOMPARE(w->borderFrame()->dividerY(), -100);
        // Applying the appearance while locked does not draw the line over the lock screen.
        w->applyAppearance(w->settings());
        QCOMPARE(w->borderFrame()->dividerY(), -100);

        // Unlocked: the lock screen is hidden; the next layout puts the line back under the title strip.
        w->lockOverlay()->hide();
        w->settings().uiLocked = false;
        w->resize(w->width() - 20, w->height() - 10);
        QCOMPARE(w->borderFrame()->dividerY(), 28);
    }
};

KTR_TEST_MAIN(TestAuditDivider)
#include "tst_audit_divider.moc"
