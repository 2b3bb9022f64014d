// The window icon follows the pictures the appearance applies, so a live preview of the settings shows the
// chosen icon, and accepting the preview keeps it.
#include "icons/iconloader.h"
#include "mainwindow/mainwindow.h"
#include "testenv.h"
#include "windowfixture.h"

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QSystemTrayIcon>
#include <QtTest/QtTest>

#include <memory>

using namespace ktr::test;

namespace {

QColor iconCentre(const QIcon& icon)
{
    const QImage image = icon.pixmap(QSize(32, 32)).toImage();
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

QString picture(const QString& path, const QColor& colour)
{
    QImage image(48, 48, QImage::Format_RGB32);
    image.fill(colour);
    return image.save(path) ? path : QString();
}

} // namespace

class TestAuditAppIcon : public QObject
{
    Q_OBJECT

    QString m_files;

private Q_SLOTS:
    void initTestCase()
    {
        m_files = freshDir(QStringLiteral("files"));
        useRedIconExtractor();
    }

    void cleanupTestCase() { setIconExtractorForTesting({}); }

    void previewedIconStaysAfterApply_data()
    {
        QTest::addColumn<bool>("programIcon"); // the program icon picture, else the custom logo
        QTest::newRow("program icon") << true;
        QTest::newRow("custom logo") << false;
    }

    void previewedIconStaysAfterApply()
    {
        QFETCH(bool, programIcon);
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());
        const QString path = picture(m_files + "/chosen.png", QColor(0, 0, 255));
        QVERIFY(!path.isEmpty());

        MainWindow w;
        const QColor builtIn = iconCentre(w.windowIcon());

        // The settings dialog previews an edited copy of the record.
        AppSettings edited = w.settings();
        (programIcon ? edited.appIconPath : edited.customLogoPath) = path;
        w.applyAppearance(edited);
        QCOMPARE(iconCentre(w.windowIcon()), QColor(0, 0, 255));

        // Cancelled: the record's own picture comes back.
        w.applyAppearance(w.settings());
        QCOMPARE(iconCentre(w.windowIcon()), builtIn);

        // Previewed again and accepted: the record takes the copy and everything is applied.
        w.applyAppearance(edited);
        w.settings() = edited;
        w.applySettings();
        QCOMPARE(iconCentre(w.windowIcon()), QColor(0, 0, 255));
        w.createTrayIcon();
        QCOMPARE(iconCentre(w.trayIcon()->icon()), QColor(0, 0, 255));
    }

    void unloadableProgramIconFallsBackToTheLogo()
    {
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());
        const QString logo = picture(m_files + "/logo.png", QColor(0, 255, 0));
        const QString broken = m_files + "/broken.png";
        QVERIFY(writeFile(broken, "not a picture"));

        MainWindow w;
        w.settings().customLogoPath = logo;
        w.settings().appIconPath = broken;
        w.applyAppearance(w.settings());
        QCOMPARE(iconCentre(w.windowIcon()), QColor(0, 255, 0));
    }
};

KTR_TEST_MAIN(TestAuditAppIcon)
#include "tst_audit_appicon.moc"
