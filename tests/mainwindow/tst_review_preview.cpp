#include "mainwindow/mainwindow.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "settings/settingsdialog.h"
#include "testenv.h"

#include <QtTest/QtTest>

#include <memory>

// The settings dialog previews its edited copy on the running window before anything is saved: the sidebar
// and the grid must be placed for the arrangement the preview shows, and back when it is cancelled.
class TestReviewPreview : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void previewedGroupArrangementIsLaidOut_data()
    {
        QTest::addColumn<bool>("horizontal");
        QTest::newRow("groups across the top") << true;
        QTest::newRow("groups down the side") << false;
    }

    void previewedGroupArrangementIsLaidOut()
    {
        QFETCH(bool, horizontal);
        auto w = std::make_unique<MainWindow>();
        w->settings().horizontalGroups = !horizontal;
        w->applySettings();
        const QRect sidebarBefore = w->sidebar()->geometry();
        const QRect gridBefore = w->iconGrid()->geometry();

        w->openSettings();
        SettingsDialog* dialog = w->settingsDialog();
        QVERIFY(dialog);
        dialog->editSettings([horizontal](AppSettings& s) { s.horizontalGroups = horizontal; });
        QCOMPARE(w->sidebar()->isHorizontal(), horizontal);
        const int width = w->width();
        const int height = w->height();
        if (horizontal) {
            QCOMPARE(w->sidebar()->geometry(), QRect(0, 28, width, 40));
            QCOMPARE(w->iconGrid()->geometry(), QRect(0, 68, width, height - 96));
        } else {
            QCOMPARE(w->sidebar()->geometry(), QRect(0, 28, 172, height - 56));
            QCOMPARE(w->iconGrid()->geometry(), QRect(172, 28, width - 172, height - 56));
        }

        dialog->reject();
        QCOMPARE(w->sidebar()->isHorizontal(), !horizontal);
        QCOMPARE(w->sidebar()->geometry(), sidebarBefore);
        QCOMPARE(w->iconGrid()->geometry(), gridBefore);
    }
};

KTR_TEST_MAIN(TestReviewPreview)
#include "tst_review_preview.moc"
