// The uninstall and the factory reset ask first and do nothing unless the answer is yes; a factory reset that
// can't start its script says so and neither stops the window nor ends the process.
#include "mainwindow/programmaintenance.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QWidget>
#include <QtTest/QtTest>

#include <memory>

namespace {

struct Fixture
{
    QWidget window;
    QWidget settingsDialog;
    bool dialogOpen = false;
    QStringList log;
    std::unique_ptr<ProgramMaintenance> maintenance;

    Fixture()
    {
        ProgramMaintenance::Host host;
        host.window = &window;
        host.toast = [this](const QString& text, Toast::Kind kind) {
            log << QStringLiteral("toast %1 %2").arg(kind == Toast::Error ? "error" : "info", text);
        };
        host.stopAll = [this] { log << QStringLiteral("stop all"); };
        host.closeForQuit = [this] { log << QStringLiteral("close"); };
        host.questionParent = [this] { return dialogOpen ? &settingsDialog : &window; };
        maintenance = std::make_unique<ProgramMaintenance>(std::move(host));
        maintenance->setHardExit([this](int code) { log << QStringLiteral("hard exit %1").arg(code); });
    }
};

} // namespace

class TestProgramMaintenance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The data folder is a regular file: no reset script can be made for it.
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(QDir().mkpath(QFileInfo(data).absolutePath()));
        QFile file(data);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(QFileInfo(appDataDir()).isFile());
    }

    void nothingWithoutYes_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("dialogOpen");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("askedOverDialog");

        QTest::newRow("uninstall keeping the data, no") << "keep" << false << 0 << "保留配置卸载" << false;
        QTest::newRow("full uninstall, closed") << "full" << false << -1 << "完全卸载" << false;
        // The uninstall is asked over the window even from the settings dialog (the dialog goes with it).
        QTest::newRow("uninstall from the settings dialog") << "keep" << true << 0 << "保留配置卸载" << false;
        QTest::newRow("factory reset, no") << "reset" << false << 0 << "完全初始化" << false;
        QTest::newRow("factory reset from the settings dialog, closed")
            << "reset" << true << -1 << "完全初始化" << true;
    }
    void nothingWithoutYes()
    {
        QFETCH(QString, action);
        QFETCH(bool, dialogOpen);
        QFETCH(int, answer);
        QFETCH(QString, title);
        QFETCH(bool, askedOverDialog);
        Fixture f;
        f.dialogOpen = dialogOpen;
        QList<QWidget*> parents;
        QStringList titles;
        ktr::dialogs::Seams seams;
        seams.question = [&](QWidget* parent, const QString& t, const QString&) {
            parents << parent;
            titles << t;
            return answer;
        };
        ktr::dialogs::ScopedSeams scoped(std::move(seams));

        if (action == QLatin1String("reset"))
            f.maintenance->factoryReset();
        else
            f.maintenance->uninstallProgram(action == QLatin1String("full"));

        QCOMPARE(titles, QStringList{Lang::tr(title.toUtf8().constData())});
        QCOMPARE(parents, (QList<QWidget*>{askedOverDialog ? &f.settingsDialog : &f.window}));
        QVERIFY2(f.log.isEmpty(), qPrintable(f.log.join(", ")));
    }

    void resetWithoutDataFolderStops()
    {
        Fixture f;
        ktr::dialogs::Seams seams;
        seams.question = [](QWidget*, const QString&, const QString&) { return 1; };
        ktr::dialogs::ScopedSeams scoped(std::move(seams));

        f.maintenance->factoryReset();

        // Told, and the panel goes on: nothing stopped, the process not ended.
        QCOMPARE(f.log, QStringList{QStringLiteral("toast error ") + Lang::tr("初始化失败：数据目录无效，已中止")});
    }
};

KTR_TEST_MAIN(TestProgramMaintenance)
#include "tst_programmaintenance.moc"
