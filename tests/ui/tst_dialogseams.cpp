#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/theme.h"
#include "ui/uisignals.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QSignalSpy>
#include <QTimer>

using namespace ktr;

class TestDialogSeams : public QObject
{
    Q_OBJECT
private slots:
    // A replacement answers instead of the real dialog, and the scope puts the previous one back.
    void replacementsAnswerAndScopeRestores()
    {
        QStringList asked;
        dialogs::Seams outer;
        outer.question = [&](QWidget*, const QString& title, const QString&) {
            asked << title;
            return 0;
        };
        dialogs::ScopedSeams outerScope(outer);
        {
            dialogs::Seams inner;
            inner.question = [&](QWidget*, const QString& title, const QString&) {
                asked << QStringLiteral("inner:") + title;
                return 1;
            };
            inner.openFile = [](QWidget*, const QString&, const QString& folder, const QString&) {
                return folder + QStringLiteral("/chosen.txt");
            };
            dialogs::ScopedSeams innerScope(inner);
            QCOMPARE(dialogs::question(nullptr, QStringLiteral("a"), QString()), 1);
            QCOMPARE(dialogs::openFile(nullptr, QString(), QStringLiteral("/x"), QString()),
                     QStringLiteral("/x/chosen.txt"));
        }
        QCOMPARE(dialogs::question(nullptr, QStringLiteral("b"), QString()), 0);
        QCOMPARE(asked, (QStringList{QStringLiteral("inner:a"), QStringLiteral("b")}));
        QVERIFY(!dialogs::seams().openFile);
    }

    // A replacement that installs other seams while it runs keeps running on its own copy.
    void replacementMayReplaceItself()
    {
        int calls = 0;
        dialogs::Seams s;
        s.question = [&](QWidget*, const QString&, const QString&) {
            ++calls;
            dialogs::setSeams(dialogs::Seams{});
            return calls;
        };
        dialogs::ScopedSeams scope(s);
        QCOMPARE(dialogs::question(nullptr, QString(), QString()), 1);
        QCOMPARE(calls, 1);
    }

    // Without a replacement, the default cards serve before Qt's own message boxes.
    void defaultCardsServeWhenNothingIsInstalled()
    {
        int shown = -1;
        dialogs::setDefaultCards([](QWidget*, const QString&, const QString&) { return -1; },
                                 [&](QWidget*, const QString&, const QString&, int kind) { shown = kind; });
        QCOMPARE(dialogs::question(nullptr, QString(), QString()), -1);
        dialogs::information(nullptr, QString(), QString(), 2);
        QCOMPARE(shown, 2);
        dialogs::setDefaultCards({}, {});
    }

    // Any number of windows follow a language or theme change.
    void languageAndThemeChangesReachEveryListener()
    {
        QSignalSpy lang1(&UiSignals::instance(), &UiSignals::languageChanged);
        QSignalSpy lang2(&UiSignals::instance(), &UiSignals::languageChanged);
        QSignalSpy theme(&UiSignals::instance(), &UiSignals::themeChanged);
        Lang::setLanguage(1);
        Lang::notifyChanged();
        Lang::setLanguage(0);
        Lang::notifyChanged();
        QCOMPARE(lang1.count(), 2);
        QCOMPARE(lang2.count(), 2);
        setDarkTheme(true);
        setDarkTheme(true); // no change, no signal
        setDarkTheme(false);
        QCOMPARE(theme.count(), 2);
        QCOMPARE(theme.at(0).at(0).toBool(), true);
        QCOMPARE(theme.at(1).at(0).toBool(), false);
    }

    // The real file choosers: where they open (never the process's working folder) and in which colours.
    void realChoosersOpenInASensibleFolderInTheTheme_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("given"); // "@" stands for a fresh existing folder, "~" for home
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("dark");
        QTest::newRow("open, no folder: home") << "open"
                                               << ""
                                               << "~" << false;
        QTest::newRow("open, a missing folder: home") << "open"
                                                      << "~/Desktop"
                                                      << "~" << true;
        QTest::newRow("open, an existing folder") << "open"
                                                  << "@"
                                                  << "@" << false;
        QTest::newRow("save, in a missing folder: home") << "save"
                                                         << "~/Desktop/b.json"
                                                         << "~" << true;
        QTest::newRow("save, in an existing folder") << "save"
                                                     << "@/b.json"
                                                     << "@" << false;
        QTest::newRow("folder, none given: home") << "folder"
                                                  << ""
                                                  << "~" << true;
    }
    void realChoosersOpenInASensibleFolderInTheTheme()
    {
        QFETCH(QString, kind);
        QFETCH(QString, given);
        QFETCH(QString, expected);
        QFETCH(bool, dark);
        const QString fresh = ktr::test::freshDir(QStringLiteral("chooser"));
        const auto expand = [&](QString s) {
            if (s.startsWith(QLatin1Char('@')))
                s.replace(0, 1, fresh);
            else if (s.startsWith(QLatin1Char('~')))
                s.replace(0, 1, QDir::homePath());
            return s;
        };
        QVERIFY(QDir::setCurrent(fresh)); // the working folder is never where a chooser opens unasked
        setDarkTheme(dark);
        QString folder;
        QColor window;
        QTimer::singleShot(0, [&] {
            if (auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                folder = chooser->directory().absolutePath();
                window = chooser->palette().color(QPalette::Window);
                chooser->reject();
            }
        });
        const QString path = expand(given);
        if (kind == QLatin1String("open"))
            ktr::dialogs::openFile(nullptr, QStringLiteral("t"), path, QStringLiteral("*"));
        else if (kind == QLatin1String("save"))
            ktr::dialogs::saveFile(nullptr, QStringLiteral("t"), path, QStringLiteral("*"));
        else
            ktr::dialogs::chooseFolder(nullptr, QStringLiteral("t"), path);
        setDarkTheme(false);
        QCOMPARE(folder, QDir(expand(expected)).absolutePath());
        QCOMPARE(window, defaultTheme(dark).windowBackground);
    }
};

KTR_TEST_MAIN(TestDialogSeams)
#include "tst_dialogseams.moc"
