// The interface-buttons section, the icon management page and the protection page of the settings dialog: their
// layout, every row action as a click on the real dialog offscreen, the right-click exports, the password
// gate, and the stale-index fault (the panel rebuilds the lists while a chooser is open). Renders of a
// 600-item layout in both palettes and languages are saved for a person to look at.
#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "lock/lockdialog.h"
#include "lock/passwordhash.h"
#include "looktable.h"
#include "model/panelmodel.h"
#include "settings/settingsdialog.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/settingskit.h"
#include "ui/theme.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QTest>

#include <memory>

namespace {

struct Calls
{
    int changed = 0;
    AppSettings lastChanged;
    int iconsChanged = 0;
    QList<QPair<QString, QMap<QString, QString>>> commits;
    QStringList warnings;
    QStringList notices;
    QStringList openCaptions;
};

struct Fixture
{
    AppSettings live;
    QList<Group> groups;
    Calls calls;
    std::unique_ptr<SettingsDialog> dialog;

    explicit Fixture(QList<Group> start = {}, const AppSettings& settings = AppSettings(), bool withGroups = true)
        : live(settings), groups(std::move(start))
    {
        Calls* c = &calls;
        dialog = std::make_unique<SettingsDialog>(
            &live, QStringLiteral("/tmp/ktr-data"), std::function<void()>(),
            std::function<void(const AppSettings&)>([c](const AppSettings& s) {
                ++c->changed;
                c->lastChanged = s;
            }),
            std::function<void()>(), std::function<void()>(), std::function<void()>(), std::function<void()>(),
            std::function<void(bool)>(), withGroups ? &groups : nullptr,
            std::function<void()>([c] { ++c->iconsChanged; }), std::function<void(const QString&)>(),
            std::function<void(const QString&, const QMap<QString, QString>&)>(
                [c](const QString& hash, const QMap<QString, QString>& map) {
                    c->commits.append({hash, map});
                }));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }

    QPoint at(int id) const
    {
        const QRect r = dialog->hitRectInWindow(id);
        return r.isNull() ? QPoint(-100, -100) : r.center();
    }
    void click(int id)
    {
        const QPoint p = at(id);
        QTest::mouseMove(dialog.get(), p);
        QTest::mousePress(dialog.get(), Qt::LeftButton, {}, p);
        QTest::mouseRelease(dialog.get(), Qt::LeftButton, {}, p);
    }
    // Scrolls until the hit rectangle of id lies inside the page area.
    void reveal(int id)
    {
        for (int i = 0; i < 400; ++i) {
            const QRect r = dialog->hitRectInWindow(id);
            if (r.top() > 60 && r.bottom() < dialog->height() - 64)
                return;
            QWheelEvent wheel(QPointF(400, 300), dialog->mapToGlobal(QPointF(400, 300)), QPoint(), QPoint(0, -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(dialog.get(), &wheel);
        }
    }
    QImage render() const { return dialog->grab().toImage(); }
};

Group group(const QString& name, int items, const QString& prefix = QString())
{
    Group g;
    g.name = name;
    for (int i = 0; i < items; ++i) {
        Item item;
        item.name = QStringLiteral("%1项目 %2").arg(prefix).arg(i);
        item.path = QStringLiteral("/opt/%1%2/app%3").arg(prefix, name).arg(i);
        g.items.append(item);
    }
    return g;
}

QString writePng(const QString& name, const QColor& colour)
{
    const QString path = ktr::test::freshDir(QStringLiteral("img")) + QLatin1Char('/') + name;
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(colour);
    image.save(path, "PNG");
    return path;
}

// Seams that answer the file choosers from a queue and record every notice.
ktr::dialogs::Seams recordingSeams(Calls* calls, QStringList* answers, std::function<void()> during = {})
{
    ktr::dialogs::Seams seams;
    auto answer = [calls, answers, during](const QString& caption) {
        calls->openCaptions.append(caption);
        if (during)
            during();
        return answers->isEmpty() ? QString() : answers->takeFirst();
    };
    seams.openFile = [answer](QWidget*, const QString& caption, const QString&, const QString&) {
        return answer(caption);
    };
    seams.saveFile = [answer](QWidget*, const QString& caption, const QString&, const QString&) {
        return answer(caption);
    };
    seams.folder = [answer](QWidget*, const QString& caption, const QString&) { return answer(caption); };
    seams.information = [calls](QWidget*, const QString&, const QString& text, int kind) {
        (kind == 0 ? calls->notices : calls->warnings).append(text);
    };
    return seams;
}

// Answers a password card the way a person would: types the texts and presses OK, or closes it.
CardRunner passwordRunner(QList<int>* modes, QString first, QString second = QString(), bool cancel = false)
{
    return [=](QDialog& card) {
        auto* lock = qobject_cast<LockDialog*>(&card);
        if (!lock)
            return 0;
        modes->append(lock->mode());
        if (cancel)
            return 0;
        lock->findChild<QLineEdit*>(QStringLiteral("lockPassword"))->setText(first);
        if (auto* e = lock->findChild<QLineEdit*>(QStringLiteral("lockSecond")))
            e->setText(lock->mode() == LockDialog::Set ? first : second);
        lock->tryAccept(false);
        if (!QTest::qWaitFor([lock] { return lock->isClosing() || !lock->errorText().isEmpty(); }, 5000))
            return 0;
        return lock->isClosing() ? 1 : 0;
    };
}

QColor pixel(const QImage& image, const QPoint& p)
{
    return image.pixelColor(p);
}

} // namespace

class TestSettingsPages : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        Lang::setLanguage(0);
        setDarkTheme(false);
        setIconExtractorForTesting({});
    }

    void buttonSectionLayout()
    {
        Fixture f;
        f.dialog->setPage(1);
        const SettingsDialog& d = *f.dialog;
        QCOMPARE(d.iconRows().size(), 11);
        const QRect s = d.buttonsSectionRect();
        const int w = d.width() - 200;
        QCOMPARE(s, QRect(QPoint(176, s.top()), QPoint(w + 175, s.top() + 57 + 56 * 11)));
        QCOMPARE(d.iconRowRects().at(3),
                 QRect(QPoint(192, s.top() + 46 + 168), QPoint(w + 159, s.top() + 46 + 168 + 47)));
        QCOMPARE(d.contentBottom(), s.bottom() + 12);
        // The settings button has no visibility control; without images no clear badge is registered.
        QVERIFY(d.hitRectInWindow(1000 + 16).isNull());
        QVERIFY(!d.hitRectInWindow(1000).isNull());
        for (int column : {2, 5, 6, 8})
            QVERIFY(d.hitRectInWindow(1000 + column).isNull());
    }

    void buttonRowActions_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("answer"); // "png", "text", "" (cancelled), "-" (no chooser)
        QTest::addColumn<int>("sends");
        QTest::addColumn<int>("warnings");
        QTest::newRow("hide") << 3 << 0 << "-" << 1 << 0;
        QTest::newRow("settings button stays") << 1 << 0 << "-" << 0 << 0;
        QTest::newRow("light image") << 5 << 1 << "png" << 1 << 0;
        QTest::newRow("night image") << 5 << 7 << "png" << 1 << 0;
        QTest::newRow("hover image") << 0 << 3 << "png" << 1 << 0;
        QTest::newRow("pressed image") << 10 << 4 << "png" << 1 << 0;
        QTest::newRow("cancelled") << 5 << 1 << "" << 0 << 0;
        QTest::newRow("not an image") << 5 << 1 << "text" << 1 << 1;
    }
    void buttonRowActions()
    {
        QFETCH(int, button);
        QFETCH(int, column);
        QFETCH(QString, answer);
        QFETCH(int, sends);
        QFETCH(int, warnings);
        Fixture f;
        f.dialog->setPage(1);
        QStringList answers;
        if (answer == QLatin1String("png"))
            answers << writePng(QStringLiteral("b.png"), Qt::red);
        else if (answer == QLatin1String("text")) {
            answers << ktr::test::testRoot() + QStringLiteral("/notimage.png");
            QVERIFY(ktr::test::writeFile(answers.first(), "plain text"));
        } else if (answer.isEmpty())
            answers << QString();
        const QString expected = answer == QLatin1String("png") ? QDir::toNativeSeparators(answers.first()) : QString();
        ktr::dialogs::ScopedSeams seams(recordingSeams(&f.calls, &answers));
        f.dialog->applyButtonRowAction(button, column);
        QCOMPARE(f.calls.changed, sends);
        QCOMPARE(f.calls.warnings.size(), warnings);
        QCOMPARE(f.calls.openCaptions.size(), answer == QLatin1String("-") ? 0 : 1);
        const AppSettings& s = f.dialog->editedSettings();
        QCOMPARE(s.btnVisible[button], !(column == 0 && button != 1));
        const std::array<QString, 11>* lists[] = {&s.btnIcons, &s.btnIconsHover, &s.btnIconsActive, &s.btnIconsNight};
        const int listOf = column == 1 ? 0 : column == 3 ? 1 : column == 4 ? 2 : column == 7 ? 3 : -1;
        for (int l = 0; l < 4; ++l)
            QCOMPARE((*lists[l])[button], l == listOf ? expected : QString());
        if (sends)
            QCOMPARE(f.calls.lastChanged.btnVisible, s.btnVisible); // the panel got the copy as it is now
    }

    void clearBadgeWinsOverSlot()
    {
        AppSettings start;
        start.btnIcons[4] = writePng(QStringLiteral("light.png"), Qt::blue);
        start.btnIconsHover[4] = writePng(QStringLiteral("hover.png"), Qt::green);
        Fixture f({}, start);
        f.dialog->setPage(1);
        QStringList answers;
        ktr::dialogs::ScopedSeams seams(recordingSeams(&f.calls, &answers));
        const int B = 1000 + 16 * 4;
        f.reveal(B + 2);
        f.click(B + 2);
        QVERIFY(f.calls.openCaptions.isEmpty());
        QCOMPARE(f.dialog->editedSettings().btnIcons[4], QString());
        QCOMPARE(f.dialog->editedSettings().btnIconsHover[4], start.btnIconsHover[4]);
        QCOMPARE(f.calls.changed, 1);
        QVERIFY(f.dialog->hitRectInWindow(B + 2).isNull());
        // The hidden row's chip is tinted.
        f.click(B);
        f.reveal(B);
        QTest::mouseMove(f.dialog.get(), QPoint(5, f.dialog->height() / 2));
        const QRect chip = f.dialog->hitRectInWindow(B);
        QCOMPARE(pixel(f.render(), QPoint(chip.left() + 4, chip.top() + 4)), dialogRoles().accentTint);
    }

    void iconPageLayout()
    {
        {
            Fixture f({group(QStringLiteral("A"), 0), group(QStringLiteral("B"), 3)});
            f.dialog->setPage(3);
            const QList<QRect>& cards = f.dialog->groupCardRects();
            QCOMPARE(cards.size(), 2);
            QCOMPARE(cards[0].height(), 98); // an empty group still gets its card
            QCOMPARE(cards[1].top(), cards[0].bottom() + 17);
            QCOMPARE(cards[1].height(), 50 + 96);
            QCOMPARE(f.dialog->iconRows().size(), 3);
            const int c = (f.dialog->width() - 248) / 2;
            QCOMPARE(f.dialog->iconRowRects()[1], QRect(192 + c + 16, cards[1].top() + 46, c, 40));
            QCOMPARE(f.dialog->contentBottom(), cards[1].bottom() + 28);
        }
        Fixture none({}, AppSettings(), false);
        none.dialog->setPage(3);
        QCOMPARE(none.dialog->groupCardRects(),
                 QList<QRect>{QRect(QPoint(176, 78), QPoint(none.dialog->width() - 25, 175))});
        QCOMPARE(none.dialog->contentBottom(), 187);
    }

    void iconRowEditsModelInPlace()
    {
        Fixture f({group(QStringLiteral("G"), 4)});
        f.dialog->setPage(3);
        const QString image = writePng(QStringLiteral("custom.png"), Qt::magenta);
        QStringList answers{image};
        ktr::dialogs::ScopedSeams seams(recordingSeams(&f.calls, &answers));
        f.click(1000 + 16 * 2); // hide item 2
        QVERIFY(f.groups[0].items[2].hidden);
        f.click(1000 + 16 * 1 + 1); // custom icon for item 1
        QCOMPARE(f.groups[0].items[1].customIcon, QDir::toNativeSeparators(image));
        QCOMPARE(f.calls.iconsChanged, 2);
        QVERIFY(!f.dialog->hitRectInWindow(1000 + 16 + 2).isNull());
        // Press on the clear badge clears at once.
        const QPoint badge = f.at(1000 + 16 + 2);
        QTest::mousePress(f.dialog.get(), Qt::LeftButton, {}, badge);
        QCOMPARE(f.groups[0].items[1].customIcon, QString());
        QTest::mouseRelease(f.dialog.get(), Qt::LeftButton, {}, badge);
        QCOMPARE(f.calls.iconsChanged, 3);
        f.dialog->reject();
        QVERIFY(f.groups[0].items[2].hidden); // Cancel does not undo this page
    }

    // The panel's queued refresh may rebuild the model and the rows while a chooser runs its event loop.
    void rowsRebuiltDuringChooser()
    {
        Fixture f({group(QStringLiteral("G"), 3)});
        f.dialog->setPage(3);
        const QString image = writePng(QStringLiteral("late.png"), Qt::cyan);
        QStringList answers{image};
        auto rebuild = [&f] {
            Item newcomer;
            newcomer.name = QStringLiteral("new");
            newcomer.path = QStringLiteral("/opt/new");
            f.groups[0].items.prepend(newcomer);
            f.groups.prepend(group(QStringLiteral("Front"), 2));
            f.dialog->refresh();
        };
        {
            ktr::dialogs::ScopedSeams seams(recordingSeams(&f.calls, &answers, rebuild));
            f.dialog->applyIconRowAction(2, 1); // item 2 of "G": /opt/G/app2
        }
        QCOMPARE(f.groups[1].items[3].path, QStringLiteral("/opt/G/app2"));
        QCOMPARE(f.groups[1].items[3].customIcon, QDir::toNativeSeparators(image));
        for (const Group& g : f.groups)
            for (const Item& item : g.items)
                QVERIFY(item.path == QStringLiteral("/opt/G/app2") || item.customIcon.isEmpty());

        // The protection page: the rule goes to the path that was clicked, the entry gone from the panel.
        f.dialog->showProtectPage();
        const int row = 3; // Front 0..1, G: new, app0
        QCOMPARE(f.dialog->protectRows()[row].path, QStringLiteral("/opt/G/app0"));
        answers = QStringList{QStringLiteral("/srv/decoy")};
        const auto previous =
            SettingsDialog::setMenuRunner([](QMenu& menu, const QPoint&) { return menu.actions().first(); });
        {
            ktr::dialogs::ScopedSeams seams(recordingSeams(&f.calls, &answers, [&f] {
                f.groups.removeFirst();
                f.dialog->refresh();
            }));
            f.dialog->chooseObfuscationTarget(row, false);
        }
        SettingsDialog::setMenuRunner(previous);
        QCOMPARE(f.calls.commits.size(), 1);
        QCOMPARE(f.calls.commits.last().second,
                 (QMap<QString, QString>{{QStringLiteral("/opt/G/app0"), QStringLiteral("/srv/decoy")}}));
        QCOMPARE(f.dialog->protectRows()[1].target, QStringLiteral("/srv/decoy")); // G: new, app0, ...
    }

    void rightClickExports()
    {
        Group g;
        g.name = QStringLiteral("G");
        Item item;
        item.name = QStringLiteral("a/b:c*d");
        item.path = QStringLiteral("/nowhere/icon-less");
        item.customIcon = writePng(QStringLiteral("own.png"), Qt::yellow);
        g.items << item;
        cacheIconPixmap(item.path, QPixmap()); // the system icon can't be had
        Fixture f({g});
        f.dialog->setPage(3);
        const QString out = ktr::test::freshDir(QStringLiteral("export"));
        QStringList suggested;
        QStringList answers{out + QStringLiteral("/icon.png")};
        ktr::dialogs::Seams seams = recordingSeams(&f.calls, &answers);
        auto save = seams.saveFile;
        seams.saveFile = [&suggested, save](QWidget* w, const QString& c, const QString& s, const QString& filter) {
            suggested << s;
            return save(w, c, s, filter);
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        const QRect row = f.dialog->iconRowRects()[0].translated(0, -f.dialog->scrollOffset());
        QTest::mousePress(f.dialog.get(), Qt::RightButton, {}, row.topLeft() + QPoint(20, 20));
        QCOMPARE(suggested, QStringList{QDir::homePath() + QStringLiteral("/a_b_c_d.png")});
        const QImage png(out + QStringLiteral("/icon.png"));
        QCOMPARE(png.size(), QSize(256, 256));
        QCOMPARE(qAlpha(png.pixel(128, 128)), 0);
        QCOMPARE(f.calls.notices.size(), 1);

        // The image slot saves a copy of the custom image through a temporary name; the source stays.
        answers = QStringList{out + QStringLiteral("/copy.png")};
        ktr::test::writeFile(out + QStringLiteral("/copy.png"), "old");
        QTest::mousePress(f.dialog.get(), Qt::RightButton, {}, f.at(1000 + 1) + QPoint(-8, 8));
        QCOMPARE(ktr::test::readFile(out + QStringLiteral("/copy.png")), ktr::test::readFile(item.customIcon));
        QVERIFY(!QFile::exists(out + QStringLiteral("/copy.png.ktr_tmp")));
        QCOMPARE(f.calls.notices.size(), 2);
    }

    void saveIconAsFailures_data()
    {
        QTest::addColumn<QString>("setup"); // what lies in the way
        QTest::addColumn<int>("warnings");
        QTest::addColumn<bool>("tempLeft");
        QTest::newRow("same path") << "same" << 0 << false;
        QTest::newRow("temp is a busy folder") << "tempdir" << 1 << true;
        QTest::newRow("target below a file") << "belowfile" << 1 << false;
        QTest::newRow("target is a busy folder") << "targetdir" << 1 << true;
    }
    void saveIconAsFailures()
    {
        QFETCH(QString, setup);
        QFETCH(int, warnings);
        QFETCH(bool, tempLeft);
        Fixture f;
        const QString source = writePng(QStringLiteral("src.png"), Qt::red);
        const QString dir = ktr::test::freshDir(QStringLiteral("saveas"));
        QString target = dir + QStringLiteral("/t.png");
        if (setup == QLatin1String("same"))
            target = source;
        else if (setup == QLatin1String("tempdir"))
            ktr::test::writeFile(target + QStringLiteral(".ktr_tmp/x"), "x");
        else if (setup == QLatin1String("belowfile")) {
            ktr::test::writeFile(dir + QStringLiteral("/file"), "x");
            target = dir + QStringLiteral("/file/t.png");
        } else if (setup == QLatin1String("targetdir"))
            ktr::test::writeFile(target + QStringLiteral("/x"), "x");
        QStringList answers{target};
        ktr::dialogs::ScopedSeams seams(recordingSeams(&f.calls, &answers));
        f.dialog->saveIconAs(f.dialog.get(), source);
        QCOMPARE(f.calls.warnings.size(), warnings);
        QVERIFY(f.calls.notices.isEmpty());
        QCOMPARE(QFileInfo::exists(target + QStringLiteral(".ktr_tmp")), tempLeft);
        QCOMPARE(QImage(source).pixelColor(1, 1), QColor(Qt::red));
    }

    void exportWriteFailureWarns()
    {
        Fixture f;
        const QString dir = ktr::test::freshDir(QStringLiteral("exportfail"));
        ktr::test::writeFile(dir + QStringLiteral("/file"), "x");
        QStringList answers{dir + QStringLiteral("/file/icon.png")};
        ktr::dialogs::ScopedSeams seams(recordingSeams(&f.calls, &answers));
        SettingsDialog::IconRow row;
        row.name = QStringLiteral("x");
        row.path = QStringLiteral("/nowhere/x");
        f.dialog->exportDefaultIcon(f.dialog.get(), row);
        QCOMPARE(f.calls.warnings, QStringList{QString::fromUtf8("保存失败，请检查目标位置是否可写。")});
    }

    void iconArrivalsRepaintCoalesced()
    {
        setIconExtractorForTesting([](const QString&) {
            QImage image(32, 32, QImage::Format_ARGB32);
            image.fill(QColor(0x12, 0xC0, 0x34));
            return image;
        });
        clearIconCache();
        Fixture f({group(QStringLiteral("Arrive"), 40, QStringLiteral("arr"))});
        int paints = 0;
        struct Counter : QObject
        {
            int* n;
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::Paint)
                    ++*n;
                return false;
            }
        } counter;
        counter.n = &paints;
        f.dialog->installEventFilter(&counter);
        f.dialog->setPage(3);
        QVERIFY(QTest::qWaitFor(
            [] {
                const IconCacheMap* cache = iconCache();
                return cache && cache->size() >= 40;
            },
            5000));
        QTRY_VERIFY(!f.dialog->iconRepaintPending());
        QVERIFY2(paints <= 4, qPrintable(QString::number(paints))); // not one per icon
        const QRect row = f.dialog->iconRowRects()[0].translated(0, -f.dialog->scrollOffset());
        const QImage shot = f.render();
        QCOMPARE(pixel(shot, QPoint(row.left() + 20, row.top() + 20)), QColor(0x12, 0xC0, 0x34));
    }

    void protectAccess()
    {
        Fixture f({group(QStringLiteral("G"), 2)});
        QList<int> modes;
        {
            ScopedCardRunner cancel(passwordRunner(&modes, QString(), QString(), true));
            f.click(15);
            QCOMPARE(f.dialog->currentPage(), 0);
            QVERIFY(f.calls.commits.isEmpty());
        }
        {
            ScopedCardRunner set(passwordRunner(&modes, QStringLiteral("abcd")));
            f.click(15);
            QCOMPARE(f.dialog->currentPage(), 5);
            f.click(10);
            f.click(15); // asked once per dialog
        }
        QCOMPARE(modes, (QList<int>{LockDialog::Set, LockDialog::Set}));
        QCOMPARE(f.dialog->currentPage(), 5);
        QCOMPARE(f.calls.commits.size(), 1);
        QVERIFY(verifyPasswordHash(f.calls.commits[0].first, QStringLiteral("abcd")));

        // An empty new password removes it: "" committed, access dropped, the next visit sets one.
        {
            ScopedCardRunner change(passwordRunner(&modes, QStringLiteral("abcd"), QString()));
            f.click(240);
        }
        QCOMPARE(modes.last(), int(LockDialog::Change));
        QCOMPARE(f.calls.commits.last().first, QString());
        QVERIFY(!f.dialog->protectUnlocked());
        QVERIFY(f.dialog->editedSettings().protectPasswordHash.isEmpty());
        {
            ScopedCardRunner cancel(passwordRunner(&modes, QString(), QString(), true));
            f.dialog->setPage(0);
            f.dialog->openProtectPage();
        }
        QCOMPARE(modes.last(), int(LockDialog::Set));
    }

    void legacyHashUpgradedOnVerify()
    {
        AppSettings start;
        const QString salt = QStringLiteral("s4lt");
        start.protectPasswordHash =
            salt + QLatin1Char('$') +
            QString::fromLatin1(
                QCryptographicHash::hash((salt + QStringLiteral("abcd")).toUtf8(), QCryptographicHash::Sha256).toHex());
        Fixture f({}, start);
        QList<int> modes;
        ScopedCardRunner verify(passwordRunner(&modes, QStringLiteral("abcd")));
        f.dialog->openProtectPage();
        QCOMPARE(modes, QList<int>{LockDialog::Verify});
        QCOMPARE(f.dialog->currentPage(), 5);
        QCOMPARE(f.calls.commits.size(), 1);
        QVERIFY(f.calls.commits[0].first.startsWith(QLatin1String("pbkdf2$")));
        QVERIFY(verifyPasswordHash(f.calls.commits[0].first, QStringLiteral("abcd")));
    }

    void obfuscationRules()
    {
        QList<Group> groups{group(QStringLiteral("G"), 2)};
        groups[0].items[1].path = groups[0].items[0].path; // two entries, one path
        AppSettings start;
        start.obfuscateMap.insert(QStringLiteral("/gone/entry"), QStringLiteral("/kept"));
        Fixture f(groups, start);
        f.dialog->showProtectPage();
        QCOMPARE(f.dialog->protectRows().size(), 2);
        const QString folder = ktr::test::freshDir(QStringLiteral("decoy"));
        QStringList answers{folder};
        ktr::dialogs::ScopedSeams seams(recordingSeams(&f.calls, &answers));
        const auto previous =
            SettingsDialog::setMenuRunner([](QMenu& menu, const QPoint&) { return menu.actions().first(); });
        f.reveal(10000);
        f.click(10000);
        SettingsDialog::setMenuRunner(previous);
        const QMap<QString, QString> expected{{QStringLiteral("/gone/entry"), QStringLiteral("/kept")},
                                              {groups[0].items[0].path, QDir::toNativeSeparators(folder)}};
        QCOMPARE(f.calls.commits.size(), 1);
        QCOMPARE(f.calls.commits[0].second, expected);
        QCOMPARE(f.dialog->protectRows()[1].target, QDir::toNativeSeparators(folder));
        f.reveal(10003);
        f.click(10003); // clearing the second entry clears the shared rule
        QCOMPARE(f.calls.commits.last().second,
                 (QMap<QString, QString>{{QStringLiteral("/gone/entry"), QStringLiteral("/kept")}}));
        QCOMPARE(f.dialog->protectRows()[0].target, QString());
    }

    // The stand-in for an entry is one of the user's own files or programs: the choosers start at home, and
    // the file chooser lists files without an extension (programs here have none).
    void targetChoosersStartAtHomeAndListEveryFile()
    {
        Fixture f({group(QStringLiteral("G"), 1)});
        f.dialog->showProtectPage();
        QStringList asked;
        ktr::dialogs::Seams seams;
        seams.openFile = [&](QWidget*, const QString&, const QString& dir, const QString& filter) {
            asked << dir << filter;
            return QStringLiteral("/usr/bin/ls");
        };
        seams.folder = [&](QWidget*, const QString&, const QString& dir) {
            asked << dir;
            return QString();
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        int pick = 1;
        const auto previous =
            SettingsDialog::setMenuRunner([&](QMenu& menu, const QPoint&) { return menu.actions().at(pick); });
        f.dialog->chooseObfuscationTarget(0, false);
        pick = 0;
        f.dialog->chooseObfuscationTarget(0, false);
        SettingsDialog::setMenuRunner(previous);
        QCOMPARE(asked, (QStringList{QDir::homePath(), QStringLiteral("*"), QDir::homePath()}));
        QCOMPARE(f.calls.commits.size(), 1);
        QCOMPARE(f.calls.commits[0].second.value(f.groups[0].items[0].path), QStringLiteral("/usr/bin/ls"));
    }

    // A rule change commits the password the panel holds now, not the one the dialog saw when it opened.
    void ruleChangeCommitsThePanelsPassword_data()
    {
        QTest::addColumn<QString>("atOpen");
        QTest::addColumn<QString>("onPanel");
        QTest::newRow("removed with the protection button") << makePasswordHash(QStringLiteral("abcd")) << QString();
        QTest::newRow("set on the panel") << QString() << makePasswordHash(QStringLiteral("wxyz"));
    }
    void ruleChangeCommitsThePanelsPassword()
    {
        QFETCH(QString, atOpen);
        QFETCH(QString, onPanel);
        QList<Group> groups{group(QStringLiteral("G"), 2)};
        AppSettings start;
        start.protectPasswordHash = atOpen;
        start.obfuscateMap.insert(groups[0].items[0].path, QStringLiteral("/decoy"));
        Fixture f(groups, start);
        f.dialog->showProtectPage();
        f.live.protectPasswordHash = onPanel;
        f.dialog->chooseObfuscationTarget(0, true);
        QCOMPARE(f.calls.commits.size(), 1);
        QCOMPARE(f.calls.commits[0].first, onPanel);
        QVERIFY(f.calls.commits[0].second.isEmpty());
    }

    void protectLayoutWithoutEntries()
    {
        Fixture empty({group(QStringLiteral("G"), 0)});
        empty.dialog->showProtectPage();
        const QRect header = empty.dialog->protectHeaderRect();
        QCOMPARE(empty.dialog->protectCardRects(), QList<QRect>{QRect(176, header.top() + 141, header.width(), 114)});
        QCOMPARE(empty.dialog->protectPasswordRect(), QRect(header.width() + 39, header.top() + 85, 120, 30));
        Fixture none({}, AppSettings(), false);
        none.dialog->showProtectPage();
        QCOMPARE(none.dialog->protectCardRects().size(), 1);
        QCOMPARE(none.dialog->protectCardRects()[0].height(), 128);
        QCOMPARE(none.dialog->contentBottom(), none.dialog->protectCardRects()[0].bottom() + 12);
    }

    void renders_data() { ktr::test::addThemeAndLanguageRows(); }
    void renders()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        QList<Group> groups;
        for (int g = 0; g < 12; ++g)
            groups << group(g == 0 ? QStringLiteral("默认分组") : QStringLiteral("分组%1").arg(g), 50);
        for (int i = 0; i < 50; i += 3) {
            groups[5].items[i].hidden = true;
            groups[5].items[i].customIcon =
                writePng(QStringLiteral("c%1.png").arg(i), QColor::fromHsv(i * 7, 200, 220));
            QImage system(40, 40, QImage::Format_ARGB32);
            system.fill(QColor::fromHsv(i * 7, 120, 200));
            cacheIconPixmap(groups[5].items[i + 1].path, QPixmap::fromImage(system));
        }
        AppSettings start;
        start.darkTheme = dark;
        start.language = language;
        start.btnVisible[7] = false;
        start.btnIconsHover[2] = writePng(QStringLiteral("h.png"), Qt::darkCyan);
        start.obfuscateMap.insert(groups[5].items[0].path, QStringLiteral("/srv/decoy/folder"));
        Fixture f(groups, start);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const DialogPalette pal = dialogRoles();

        f.dialog->setPage(1);
        f.reveal(1000 + 16 * 10 + 4);
        QImage shot = f.render();
        ktr::test::saveShot(shot, QStringLiteral("settings-buttons-") + tag);
        const QRect hiddenChip = f.dialog->hitRectInWindow(1000 + 16 * 7);
        QCOMPARE(pixel(shot, hiddenChip.topLeft() + QPoint(4, 4)), pal.accentTint);

        f.dialog->setPage(3);
        QCOMPARE(f.dialog->iconRows().size(), 600);
        const int target = 5 * 50 + 3;
        f.reveal(1000 + 16 * target);
        shot = f.render();
        ktr::test::saveShot(shot, QStringLiteral("settings-icons-") + tag);
        const QRect row = f.dialog->iconRowRects()[target].translated(0, -f.dialog->scrollOffset());
        QCOMPARE(pixel(shot, QPoint(row.center().x(), row.top() + 3)),
                 dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(0xF4, 0xF5, 0xF8));

        f.dialog->showProtectPage();
        f.reveal(10000 + 2 * target);
        shot = f.render();
        ktr::test::saveShot(shot, QStringLiteral("settings-protect-") + tag);
        const QRect prow = f.dialog->protectRowRects()[target].translated(0, -f.dialog->scrollOffset());
        QCOMPARE(pixel(shot, QPoint(prow.left() + 36, prow.top() + 3)),
                 dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(0xF4, 0xF5, 0xF8));
    }
};

KTR_TEST_MAIN(TestSettingsPages)
#include "tst_settingspages.moc"
