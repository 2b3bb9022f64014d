// The settings dialog on its own: its geometry and hit list, scrolling and editors, every action as a press and
// release on the real dialog offscreen, OK and Cancel against a live record the panel changes meanwhile, the
// backup worker's shutdown wait, and how the row pages look in both palettes and languages.
#include "settings/editedfields.h"
#include "settings/elidecombo.h"
#include "settings/settingsdialog.h"
#include "settings/settingsids.h"
#include "settings/sliderwidget.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/servicehost.h"
#include "ui/settingskit.h"
#include "ui/theme.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

struct Calls
{
    int changed = 0;
    AppSettings lastChanged;
    int cleared = 0;
    int exported = 0;
    int imported = 0;
    int update = 0;
    int logs = 0;
    QList<bool> uninstall;
    QStringList lockBackgrounds;
    int reset = 0;
};

struct Fixture
{
    AppSettings live;
    Calls calls;
    std::unique_ptr<SettingsDialog> dialog;

    explicit Fixture(const AppSettings& start = AppSettings(), bool withCallbacks = true) : live(start)
    {
        Calls* c = &calls;
        auto ifOn = [withCallbacks](auto fn) { return withCallbacks ? fn : decltype(fn)(); };
        dialog = std::make_unique<SettingsDialog>(
            &live, QStringLiteral("/tmp/ktr-data"), ifOn(std::function<void()>([c] { ++c->cleared; })),
            std::function<void(const AppSettings&)>([c](const AppSettings& s) {
                ++c->changed;
                c->lastChanged = s;
            }),
            ifOn(std::function<void()>([c] { ++c->exported; })), ifOn(std::function<void()>([c] { ++c->imported; })),
            ifOn(std::function<void()>([c] { ++c->update; })), ifOn(std::function<void()>([c] { ++c->logs; })),
            ifOn(std::function<void(bool)>([c](bool all) { c->uninstall.append(all); })), nullptr,
            std::function<void()>(),
            ifOn(std::function<void(const QString&)>([c](const QString& p) { c->lockBackgrounds.append(p); })),
            std::function<void(const QString&, const QMap<QString, QString>&)>());
        dialog->setFactoryResetHandler([c] { ++c->reset; });
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }

    QPoint at(int id) const
    {
        const QRect r = dialog->hitRectInWindow(id);
        return r.isNull() ? QPoint(-100, -100) : r.center();
    }
    void press(const QPoint& p) { QTest::mousePress(dialog.get(), Qt::LeftButton, {}, p); }
    void release(const QPoint& p) { QTest::mouseRelease(dialog.get(), Qt::LeftButton, {}, p); }
    void click(int id)
    {
        press(at(id));
        release(at(id));
    }
    void wheel(int delta)
    {
        QWheelEvent event(QPointF(400, 300), QPointF(), QPoint(), QPoint(0, delta), Qt::NoButton, {}, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(dialog.get(), &event);
    }
    // Scrolls down until the area of an id lies above the footer.
    void scrollTo(int id)
    {
        while (at(id).y() > dialog->height() - 70 && dialog->scrollOffset() < dialog->maxScroll())
            wheel(-120);
    }
};

// A card runner that clicks the button with this text (or rejects when none has it).
CardRunner clickButton(const QString& text, int* runs = nullptr)
{
    return [=](QDialog& card) {
        if (runs)
            ++*runs;
        card.show();
        for (QPushButton* b : card.findChildren<QPushButton*>())
            if (b->text() == text) {
                b->click();
                return card.result();
            }
        card.reject();
        return card.result();
    };
}

// Picks the menu entry with this value (none: the menu is closed), and remembers what it offered.
struct MenuPick
{
    int value = -1;
    QList<int> offered;
    QList<int> checked;
    QString title;
    SettingsDialog::MenuRunner runner()
    {
        return [this](QMenu& menu, const QPoint&) -> QAction* {
            offered.clear();
            checked.clear();
            title = menu.title();
            QAction* pick = nullptr;
            for (QAction* a : menu.actions()) {
                if (a->isSeparator())
                    continue;
                offered.append(a->data().toInt());
                if (a->isChecked())
                    checked.append(a->data().toInt());
                if (a->data().toInt() == value)
                    pick = a;
            }
            return value < 0 ? nullptr : pick;
        };
    }
};

struct ScopedMenu
{
    explicit ScopedMenu(SettingsDialog::MenuRunner r) { SettingsDialog::setMenuRunner(std::move(r)); }
    ~ScopedMenu() { SettingsDialog::setMenuRunner({}); }
};

AppSettings everythingChanged()
{
    AppSettings s;
    s.startPinned = true;
    s.rememberGeometry = false;
    s.closeToTray = false;
    s.minimizeToTray = false;
    s.autoStart = false;
    s.iconSize = 70;
    s.iconSizePortrait = 55;
    s.showItemNames = false;
    s.cornerRadius = 3;
    s.opacity = 60;
    s.darkTheme = true;
    s.language = 1;
    s.horizontalGroups = true;
    s.singleClickOpen = false;
    s.edgeSnap = false;
    s.snapRevealPx = 9;
    s.revealMethod = s.revealMethod == 4 ? 2 : 4;
    s.summonHotkey = QStringLiteral("Ctrl+Shift+K");
    s.autoClassify = true;
    s.updateChannel = 1;
    s.skippedVersion = QStringLiteral("9.9");
    s.titleBarColor = 2;
    s.titleBarCustomRgb = 0x112233;
    s.titleBarOpacity = 40;
    s.bottomBarColor = 3;
    s.bottomBarCustomRgb = 0x223344;
    s.bottomBarOpacity = 41;
    s.midColor = 4;
    s.midCustomRgb = 0x334455;
    s.midOpacity = 42;
    s.clickThroughAtZero = true;
    s.customTitle = QStringLiteral("我的面板");
    s.customLogoPath = QStringLiteral("/x/logo.png");
    s.appIconPath = QStringLiteral("/x/app.png");
    s.bgImagePath = QStringLiteral("/x/bg.png");
    s.bgImageOpacity = 43;
    s.bgImagePortrait = QStringLiteral("/x/bgp.png");
    s.bgImageOpacityPortrait = 44;
    s.borderColor = 5;
    s.borderCustomRgb = 0x445566;
    s.borderOpacity = 45;
    s.showTitle = false;
    s.showLogo = false;
    s.textColor = 6;
    s.textCustomRgb = 0x556677;
    s.textOpacity = 46;
    s.fontFamily = QStringLiteral("DejaVu Sans");
    s.dividerColor = 1;
    s.dividerCustomRgb = 0x667788;
    s.dividerWidth = 3;
    s.dividerOpacity = 47;
    s.hoverMode = 0;
    s.hoverColor = 2;
    s.hoverCustomRgb = 0x778899;
    s.hoverOpacity = 48;
    s.btnVisible.fill(false);
    s.btnIcons[3] = QStringLiteral("/x/i.png");
    s.btnIconsHover[3] = QStringLiteral("/x/h.png");
    s.btnIconsActive[3] = QStringLiteral("/x/a.png");
    s.btnIconsNight[3] = QStringLiteral("/x/n.png");
    s.showNewGroupBtn = false;
    s.btnLayoutTitle = {1, 0};
    s.btnLayoutBottom = {5, 6, 7, 8, 9, 10, 2, 3, 4};
    s.uiLocked = true;
    s.lockBgPath = QStringLiteral("/x/lock.png");
    s.monitorDir = QStringLiteral("/x/rec");
    s.monitorMaxMB = 200;
    s.monitorIdleSec = 60;
    s.monitorTrigger = 2;
    s.monitorFormat = 0;
    s.monitorFps = 30;
    s.progUnlockEpoch = 77;
    s.protectPasswordHash = QStringLiteral("pbkdf2$1$aa$bb");
    s.obfuscateMap = {{QStringLiteral("/a"), QStringLiteral("/b")}};
    s.obfuscateEnabled = true;
    s.backupAuto = false;
    s.backupIntervalDays = 7;
    s.backupRetain = 30;
    s.backupDir = QStringLiteral("/x/bak");
    s.backupLastAt = QStringLiteral("2026-01-01T10:00:00");
    return s;
}

QString shotDir()
{
    return qEnvironmentVariable("KTR_SHOT_DIR");
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        Lang::setLanguage(0);
        setDarkTheme(false);
    }

    // ---- frame -------------------------------------------------------------------------------------------

    void windowSize_data()
    {
        QTest::addColumn<QSize>("available");
        QTest::addColumn<QSize>("size");
        QTest::newRow("tall screen") << QSize(1920, 1040) << QSize(780, 800);
        QTest::newRow("872 high") << QSize(1280, 872) << QSize(780, 800);
        QTest::newRow("600 high") << QSize(1280, 600) << QSize(780, 528);
        QTest::newRow("400 high") << QSize(1280, 400) << QSize(780, 360);
        QTest::newRow("300 high") << QSize(1280, 300) << QSize(780, 292);
        QTest::newRow("tiny") << QSize(100, 100) << QSize(304, 192);
        QTest::newRow("narrow") << QSize(700, 1000) << QSize(684, 800);
    }
    void windowSize()
    {
        QFETCH(QSize, available);
        QFETCH(QSize, size);
        const QRect area(QPoint(0, 0), available);
        QCOMPARE(SettingsDialog::windowSizeFor(&area), size);
        QCOMPARE(SettingsDialog::windowSizeFor(nullptr), QSize(780, 800));
    }

    void navigationAndFrameHits()
    {
        Fixture f;
        SettingsDialog& d = *f.dialog;
        QVERIFY(d.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!d.isModal());
        const QList<int> pages = {0, 1, 3, 5, 6, 2};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(SettingsDialog::navPage(i), pages[i]);
            QCOMPARE(d.hitRectInWindow(10 + pages[i]), QRect(10, 58 + 46 * i, 132, 38));
        }
        QCOMPARE(d.hitRectInWindow(1), QRect(d.width() - 44, 6, 34, 32));
        QCOMPARE(d.hitRectInWindow(4), QRect(d.width() - 130, d.height() - 54, 110, 34));
        QCOMPARE(d.hitRectInWindow(2).size(), QSize(118, 34));
        // Clicking navigation switches pages and resets the scroll.
        f.wheel(-120);
        QVERIFY(d.scrollOffset() > 0);
        f.click(11);
        QCOMPARE(d.currentPage(), 1);
        QCOMPARE(d.scrollOffset(), 0);
        d.setPage(9);
        QCOMPARE(d.currentPage(), 6);
        d.setPage(-1);
        QCOMPARE(d.currentPage(), 0);
        d.setPage(4);
        QVERIFY(d.rows().isEmpty());
        QCOMPARE(d.contentBottom(), 78);
    }

    void rowHitAreas()
    {
        Fixture f;
        SettingsDialog& d = *f.dialog;
        // Card "窗口", first row: a toggle 40 x 20 at (x2 - 52, centred).
        const SettingsDialog::RowGeometry* row = d.cachedItemRect(1, 0);
        QVERIFY(row);
        const QRect r = row->rect;
        QCOMPARE(r.left(), 192);
        QCOMPARE(r.right(), d.width() - 41);
        const int t = r.top() + (r.bottom() - r.top() - 19) / 2;
        QCOMPARE(d.hitRectInWindow(50), QRect(QPoint(r.right() - 52, t), QPoint(r.right() - 13, t + 19)));
        // The first card: 45 + 2 * 36; the second starts 13 px below it.
        QCOMPARE(d.rowGeometry()[0].card, QRect(176, 78, d.width() - 200, 117));
        QCOMPARE(d.rowGeometry()[1].card.top(), 78 + 117 + 13);
        // Choice 4 (language) stacked: two 100 px options from x2 - 200.
        const QRect lang = d.cachedItemRect(0, 0)->rect;
        QCOMPARE(d.hitRectInWindow(108), QRect(lang.right() - 200, lang.top() + 3, 100, 28));
        QCOMPARE(d.hitRectInWindow(109), QRect(lang.right() - 100, lang.top() + 3, 100, 28));
        QVERIFY(!d.hitRectInWindow(5).isNull());
        QVERIFY(!d.hitRectInWindow(9).isNull());
        QVERIFY(d.cachedItemRect(99, 0) == nullptr);
    }

    void controlsLayout_data()
    {
        QTest::addColumn<QList<RowControl>>("controls");
        QTest::addColumn<bool>("isInline");
        QTest::addColumn<QList<QRect>>("expected");
        const QRect row(QPoint(192, 100), QPoint(739, 145)); // y centre: t = 100 + (45 - 27) / 2 = 109
        QTest::newRow("two sliders") << QList<RowControl>{{QString(), RowControl::Slider, 0, 156},
                                                          {QString(), RowControl::Slider, 1, 156}}
                                     << true << QList<QRect>{QRect(415, 109, 156, 28), QRect(583, 109, 156, 28)};
        // The font chooser takes what the controls right of it leave: 739 - (156 + 100) - 2 * 12 - 82 - 192 = 185.
        // Inline, it keeps clear of the (here empty) title by 18 + 16 px, not a fixed 82.
        QTest::newRow("font chooser takes the rest")
            << QList<RowControl>{{QString(), RowControl::FontChooser, 0, 0},
                                 {QString(), RowControl::Slider, 14, 156},
                                 {QString(), RowControl::Colour, 129, 100}}
            << true << QList<QRect>{QRect(226, 109, 233, 28), QRect(471, 109, 156, 28), QRect(639, 109, 100, 28)};
        QTest::newRow("font chooser at least 120")
            << QList<RowControl>{{QString(), RowControl::FontChooser, 0, 0}, {QString(), RowControl::Slider, 0, 400}}
            << true << QList<QRect>{QRect(207, 109, 120, 28), QRect(339, 109, 400, 28)};
        QTest::newRow("inline path field kept 82 px from the left")
            << QList<RowControl>{{QString(), RowControl::PathField, 0, 500}, {QString(), RowControl::Button, 5, 100}}
            << true << QList<QRect>{QRect(QPoint(274, 109), QPoint(626, 136)), QRect(639, 109, 100, 28)};
        QTest::newRow("stacked path field is not moved")
            << QList<RowControl>{{QString(), RowControl::PathField, 0, 500}, {QString(), RowControl::Button, 5, 100}}
            << false << QList<QRect>{QRect(127, 109, 500, 28), QRect(639, 109, 100, 28)};
    }
    void controlsLayout()
    {
        QFETCH(QList<RowControl>, controls);
        QFETCH(bool, isInline);
        QFETCH(QList<QRect>, expected);
        SettingsRow row;
        row.kind = SettingsRow::Controls;
        row.controls = controls;
        const QList<QRect> placed =
            SettingsDialog::layoutRowControls(row, QRect(QPoint(192, 100), QPoint(739, 145)), isInline);
        QCOMPARE(placed, expected);
    }

    void wheelSteps_data()
    {
        QTest::addColumn<int>("delta");
        QTest::addColumn<int>("scrolled");
        QTest::newRow("60") << -60 << 44;
        QTest::newRow("120") << -120 << 44;
        QTest::newRow("239") << -239 << 44;
        QTest::newRow("240") << -240 << 88;
        QTest::newRow("360") << -360 << 132;
        QTest::newRow("up at the top") << 120 << 0;
        QTest::newRow("far down is clamped") << -100000 << -1;
    }
    void wheelSteps()
    {
        QFETCH(int, delta);
        QFETCH(int, scrolled);
        Fixture f;
        SettingsDialog& d = *f.dialog;
        QVERIFY(d.maxScroll() > 200);
        f.wheel(delta);
        QCOMPARE(d.scrollOffset(), scrolled < 0 ? d.maxScroll() : scrolled);
    }

    void pageThatFitsIgnoresTheWheel()
    {
        Fixture f;
        f.dialog->setPage(4);
        f.wheel(-120);
        QCOMPARE(f.dialog->scrollOffset(), 0);
    }

    // Editors hide, not clip, once their row scrolls under the header or the footer; the hotkey editor keeps the
    // same 59 px line as the others, so it never covers the page title.
    void editorsHideUnderTheHeader()
    {
        Fixture f;
        SettingsDialog& d = *f.dialog;
        d.setFixedSize(d.width(), 360); // the smallest dialog scrolls the hotkey row through the header band
        d.relayout();
        const SettingsDialog::RowGeometry* hotkeyRow = d.cachedItemRect(2, 1);
        QVERIFY(hotkeyRow);
        QVERIFY(d.hotkeyEditor()->isVisible() ==
                (hotkeyRow->rect.top() + 2 > 59 && hotkeyRow->rect.top() + 31 < d.height() - 62));
        int seenTopInBand = 0;
        for (int step = 0; step < 40 && d.scrollOffset() < d.maxScroll(); ++step) {
            f.wheel(-120);
            hotkeyRow = d.cachedItemRect(2, 1); // the cache is rebuilt by every placement
            const int top = hotkeyRow->rect.top() - d.scrollOffset() + 2;
            if (top > 29 && top <= 59) {
                ++seenTopInBand;
                QVERIFY2(!d.hotkeyEditor()->isVisible(), qPrintable(QString::number(top)));
            }
            for (QWidget* w : d.findChildren<SliderWidget*>())
                if (w->isVisible())
                    QVERIFY(w->y() > 59 && w->y() + 27 < d.height() - 62);
        }
        QVERIFY2(seenTopInBand > 0,
                 qPrintable(QStringLiteral("row top %1, max scroll %2").arg(hotkeyRow->rect.top()).arg(d.maxScroll())));
    }

    void editorStyleSheetsParse()
    {
        QTest::failOnWarning(
            QRegularExpression(QStringLiteral("stylesheet"), QRegularExpression::CaseInsensitiveOption));
        setDarkTheme(true);
        Fixture f;
        f.dialog->setPage(1);
        f.dialog->applyEditorStyles();
        QVERIFY(f.dialog->hotkeyEditor()->styleSheet().endsWith(QLatin1String(";}")));
        for (QWidget* w :
             {static_cast<QWidget*>(f.dialog->hotkeyEditor()), static_cast<QWidget*>(f.dialog->titleEditor()),
              static_cast<QWidget*>(f.dialog->fontChooser())}) {
            w->show();
            w->ensurePolished();
            for (QWidget* child : w->findChildren<QWidget*>())
                child->ensurePolished();
        }
        QVERIFY(f.dialog->titleEditor()->isVisible());
    }

    // While it waits for a key the hotkey field shows its box like the other fields: a frame in the accent
    // colour around the field's own background, not the bare dialog behind it.
    void hotkeyFieldBoxWhileCapturing_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void hotkeyFieldBoxWhileCapturing()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        Fixture f;
        SettingsDialog& d = *f.dialog;
        d.setPage(0);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QKeySequenceEdit* hotkey = d.hotkeyEditor();
        QVERIFY(hotkey->isVisible());
        d.activateWindow();
        hotkey->setFocus();
        QTRY_VERIFY(hotkey->hasFocus());
        QImage image(d.size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        d.render(&image);
        setDarkTheme(false);
        const QRect box = hotkey->geometry();
        const int y = box.center().y();
        QCOMPARE(image.pixelColor(box.left(), y).name(), dialogRoles().accent.name());
        QCOMPARE(image.pixelColor(box.right(), y).name(), dialogRoles().accent.name());
        QCOMPARE(image.pixelColor(box.left() + 3, y).name(), QColor(dark ? "#2D2D2D" : "#FDFDFD").name());
    }

    // The default font entry names the font that draws the interface on this machine (an installed family),
    // in either language, and follows a live switch.
    void defaultFontEntryNamesTheMatchedFont()
    {
        Fixture f;
        ElideCombo* combo = f.dialog->fontChooser();
        const QString family = QFontInfo(QFont(uiFontFamily())).family();
        QVERIFY(QFontDatabase::families().contains(family));
        // The combo elides what it shows; the entry's whole text is kept beside it.
        // By the name the font carries in the language shown, whatever the process locale (the interface font
        // here is WenQuanYi Micro Hei, from fonts-wqy-microhei in deps.sh).
        QVERIFY2(family.contains(QStringLiteral("WenQuanYi")) || family.contains(QStringLiteral("文泉驿")),
                 qPrintable(family));
        QCOMPARE(combo->property("fullText").toString(), QStringLiteral("默认（文泉驿微米黑）"));
        Lang::setLanguage(1);
        Lang::notifyChanged();
        QCOMPARE(combo->property("fullText").toString(), QStringLiteral("Default (WenQuanYi Micro Hei)"));
        Lang::setLanguage(0);
        Lang::notifyChanged();
    }

    void keys()
    {
        Fixture f;
        SettingsDialog& d = *f.dialog;
        QKeySequenceEdit* hotkey = d.hotkeyEditor();
        QVERIFY(!hotkey->keySequence().isEmpty());
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Backspace}) {
            hotkey->setKeySequence(QKeySequence(QStringLiteral("Ctrl+Alt+G")));
            QTest::keyClick(hotkey, key);
            QVERIFY(hotkey->keySequence().isEmpty());
            QCOMPARE(d.editedSettings().summonHotkey, QString());
            QVERIFY(d.isVisible()); // consumed, the dialog stays
        }
        QTest::keyClick(&d, Qt::Key_Escape);
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(!d.isVisible());
    }

    // ---- press and release --------------------------------------------------------------------------------

    void pressRelease_data()
    {
        QTest::addColumn<QString>("pressOn");
        QTest::addColumn<QString>("releaseOn");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("switch, released on it") << "50"
                                                << "50"
                                                << "flipped";
        QTest::newRow("switch, released outside") << "50"
                                                  << "nowhere"
                                                  << "nothing";
        QTest::newRow("switch, released on another switch") << "50"
                                                            << "52"
                                                            << "nothing";
        QTest::newRow("anywhere, released on OK") << "nowhere"
                                                  << "4"
                                                  << "accepted";
        QTest::newRow("switch, released on OK") << "50"
                                                << "4"
                                                << "accepted";
        QTest::newRow("cancel, released on OK") << "3"
                                                << "4"
                                                << "accepted";
        QTest::newRow("OK, released away") << "4"
                                           << "nowhere"
                                           << "accepted";
        QTest::newRow("cancel, released away") << "3"
                                               << "nowhere"
                                               << "rejected";
        QTest::newRow("close, on press") << "1"
                                         << "-"
                                         << "rejected";
        QTest::newRow("restore defaults, released away") << "2"
                                                         << "nowhere"
                                                         << "asked";
        QTest::newRow("nothing, released on a switch") << "nowhere"
                                                       << "50"
                                                       << "nothing";
        QTest::newRow("row id beyond the list") << "1003"
                                                << "1003"
                                                << "nothing";
    }
    void pressRelease()
    {
        QFETCH(QString, pressOn);
        QFETCH(QString, releaseOn);
        QFETCH(QString, outcome);
        int asked = 0;
        ScopedCardRunner cards(clickButton(QStringLiteral("否"), &asked));
        Fixture f;
        SettingsDialog& d = *f.dialog;
        const QPoint nowhere(d.width() / 2, 50); // the page title: no hit area
        auto point = [&](const QString& what) {
            return what == QLatin1String("nowhere") ? nowhere : f.at(what.toInt());
        };
        const bool before = d.editedSettings().startPinned;
        f.press(point(pressOn));
        if (pressOn == QLatin1String("1")) {
            QVERIFY(!d.isVisible()); // acted on the press
        } else {
            f.release(point(releaseOn));
        }
        const bool flipped = d.editedSettings().startPinned != before;
        QCOMPARE(flipped, outcome == QLatin1String("flipped"));
        QCOMPARE(asked > 0, outcome == QLatin1String("asked"));
        if (outcome == QLatin1String("accepted"))
            QCOMPARE(d.result(), int(QDialog::Accepted));
        if (outcome == QLatin1String("rejected"))
            QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(d.isVisible(), outcome != QLatin1String("accepted") && outcome != QLatin1String("rejected"));
    }

    // Page lists decode their own ids: an icon row far down and a protection target, a snapshot's restore and
    // another's delete never meet.
    void idsDecodeByPage_data()
    {
        using settingsids::Target;
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("target");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::newRow("frame id") << 3 << 237 << int(Target::Frame) << -1 << -1;
        QTest::newRow("icon row 563 on page 3")
            << 3 << settingsids::rowCellId(563, 0) << int(Target::IconRow) << 563 << 0;
        QTest::newRow("icon row 599 col 7") << 3 << settingsids::rowCellId(599, 7) << int(Target::IconRow) << 599 << 7;
        QTest::newRow("same id on page 5") << 5 << 10008 << int(Target::ProtectTarget) << 4 << 0;
        QTest::newRow("button row on page 1") << 1 << settingsids::rowCellId(2, 1) << int(Target::ButtonRow) << 2 << 1;
        QTest::newRow("row id on a page without rows") << 0 << 1003 << int(Target::None) << -1 << -1;
        QTest::newRow("snapshot 0 delete")
            << 6 << settingsids::snapshotDeleteId(0) << int(Target::SnapshotDelete) << 0 << -1;
        QTest::newRow("snapshot 1000 restore")
            << 6 << settingsids::snapshotRestoreId(1000) << int(Target::SnapshotRestore) << 1000 << -1;
    }
    void idsDecodeByPage()
    {
        QFETCH(int, page);
        QFETCH(int, id);
        QFETCH(int, target);
        QFETCH(int, row);
        QFETCH(int, column);
        const settingsids::Decoded d = settingsids::decode(page, id);
        QCOMPARE(int(d.target), target);
        QCOMPARE(d.row, row);
        if (column >= 0)
            QCOMPARE(d.column, column);
        QVERIFY(settingsids::snapshotRestoreId(1000) != settingsids::snapshotDeleteId(0));
    }

    // The frame's ids: the first and last of each numbered range, and the ids either side of it, which are
    // fixed actions of their own (the hotkey field just below the navigation, the colour chooser just past the
    // two-way choices).
    void frameIdsDecode_data()
    {
        using settingsids::Target;
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("target");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::newRow("hotkey field, below the navigation") << 9 << int(Target::Fixed) << -1 << -1;
        QTest::newRow("first page") << 10 << int(Target::Nav) << 0 << -1;
        QTest::newRow("last page") << 16 << int(Target::Nav) << 6 << -1;
        QTest::newRow("past the navigation") << 17 << int(Target::Fixed) << -1 << -1;
        QTest::newRow("below the switches") << 49 << int(Target::Fixed) << -1 << -1;
        QTest::newRow("first switch") << 50 << int(Target::Toggle) << 0 << -1;
        QTest::newRow("last switch") << 69 << int(Target::Toggle) << 19 << -1;
        QTest::newRow("past the switches") << 70 << int(Target::Fixed) << -1 << -1;
        QTest::newRow("below the choices") << 99 << int(Target::Fixed) << -1 << -1;
        QTest::newRow("theme, light") << 100 << int(Target::Choice) << 0 << 0;
        QTest::newRow("recording format, MP4") << 111 << int(Target::Choice) << 5 << 1;
        QTest::newRow("past the choices") << 112 << int(Target::Fixed) << -1 << -1;
        QTest::newRow("a row list's id") << 1000 << int(Target::None) << -1 << -1;
        QTest::newRow("no id") << -1 << int(Target::None) << -1 << -1;
    }
    void frameIdsDecode()
    {
        QFETCH(int, id);
        QFETCH(int, target);
        QFETCH(int, row);
        QFETCH(int, column);
        const settingsids::Decoded d = settingsids::decodeFrame(id);
        QCOMPARE(int(d.target), target);
        QCOMPARE(d.row, row);
        QCOMPARE(d.column, column);
    }

    // ---- actions ------------------------------------------------------------------------------------------

    void switches_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("key");
        QTest::newRow("50") << 50 << "startPinned";
        QTest::newRow("51") << 51 << "rememberGeometry";
        QTest::newRow("52") << 52 << "closeToTray";
        QTest::newRow("53") << 53 << "minimizeToTray";
        QTest::newRow("54") << 54 << "autoStart";
        QTest::newRow("55") << 55 << "showItemNames";
        QTest::newRow("56") << 56 << "edgeSnap";
        QTest::newRow("58") << 58 << "autoClassify";
        QTest::newRow("62") << 62 << "clickThroughAtZero";
        QTest::newRow("63") << 63 << "showTitle";
        QTest::newRow("64") << 64 << "showLogo";
        QTest::newRow("66") << 66 << "showNewGroupBtn";
    }
    void switches()
    {
        QFETCH(int, id);
        QFETCH(QString, key);
        Fixture f;
        SettingsDialog& d = *f.dialog;
        bool AppSettings::*member = settingsrows::toggleMember(id - 50);
        QVERIFY(member);
        for (int page : {0, 1}) {
            d.setPage(page);
            if (d.hitRectInWindow(id).isNull())
                continue;
            // Scroll the switch into view first.
            while (!QRect(200, 58, d.width(), d.height() - 120).contains(f.at(id)) &&
                   d.scrollOffset() < d.maxScroll()) {
                f.wheel(-120);
            }
            const bool before = d.editedSettings().*member;
            const int reports = f.calls.changed;
            f.click(id);
            QCOMPARE(d.editedSettings().*member, !before);
            QCOMPARE(f.calls.changed, reports + 1);
            QCOMPARE(f.calls.lastChanged.*member, !before);
            QCOMPARE(f.live.*member, AppSettings().*member); // the live record waits for OK
            return;
        }
        QFAIL(qPrintable(QStringLiteral("no switch for ") + key));
    }

    void choices()
    {
        Fixture f;
        SettingsDialog& d = *f.dialog;
        f.click(101);
        QVERIFY(d.editedSettings().darkTheme);
        QVERIFY(f.calls.lastChanged.darkTheme);
        f.click(100);
        QVERIFY(!d.editedSettings().darkTheme);
        // Language: switched at once, not reported.
        const int reports = f.calls.changed;
        int notified = 0;
        Lang::setChangedHandler([&] { ++notified; });
        f.click(109);
        QCOMPARE(Lang::language(), 1);
        QCOMPARE(notified, 1);
        QCOMPARE(f.calls.changed, reports);
        Lang::setChangedHandler({});
        // Hover mode 0 adds the hover-colour row.
        const int rowsBefore = int(d.rows()[4].rows.size());
        d.hide();
        d.show();
        f.dialog->setPage(0);
        f.scrollTo(106);
        f.click(106);
        QCOMPARE(d.editedSettings().hoverMode, 0);
        QCOMPARE(int(d.rows()[4].rows.size()), rowsBefore + 1);
        Lang::setLanguage(0);
    }

    void menus()
    {
        Fixture f;
        SettingsDialog& d = *f.dialog;
        MenuPick pick;
        ScopedMenu scoped(pick.runner());
        d.editSettings([](AppSettings& s) { s.revealMethod = 0; });
        pick.value = 3;
        f.click(5);
        QCOMPARE(pick.offered, (QList<int>{1, 2, 3, 4})); // "鼠标靠近" is never offered
        QVERIFY(pick.checked.isEmpty());                  // a stored 0 has no check mark
        QCOMPARE(d.editedSettings().revealMethod, 3);
        pick.value = -1;
        f.click(5);
        QCOMPARE(d.editedSettings().revealMethod, 3);
        // The recorder trigger goes to the live record at once.
        d.setPage(5);
        pick.value = 2;
        f.click(237);
        QCOMPARE(pick.offered, (QList<int>{0, 1, 2}));
        QCOMPARE(d.editedSettings().monitorTrigger, 2);
        QCOMPARE(f.live.monitorTrigger, 2);
    }

    void colourMenu()
    {
        AppSettings start;
        start.titleBarColor = 6;
        start.titleBarCustomRgb = 0x123456;
        Fixture f(start);
        SettingsDialog& d = *f.dialog;
        d.setPage(1);
        MenuPick pick;
        ScopedMenu scoped(pick.runner());
        QColor initial;
        ktr::dialogs::Seams seams;
        seams.colour = [&](QWidget*, const QColor& from, const QString&) {
            initial = from;
            return QColor(0xAB, 0xCD, 0xEF);
        };
        ktr::dialogs::ScopedSeams scopedSeams(seams);
        // Scroll card "标题栏" into view.
        f.scrollTo(6);
        pick.value = 2;
        f.click(6);
        QCOMPARE(pick.title, QStringLiteral("标题栏颜色"));
        QCOMPARE(pick.checked, QList<int>{6});
        QCOMPARE(d.editedSettings().titleBarColor, 2);
        QCOMPARE(d.editedSettings().titleBarCustomRgb, 0x123456); // a preset keeps the custom colour
        pick.value = 6;
        f.click(6);
        QCOMPARE(initial, themeKindColor(2)); // starts from the preset, not the kept custom value
        QCOMPARE(d.editedSettings().titleBarColor, 6);
        QCOMPARE(d.editedSettings().titleBarCustomRgb, 0xABCDEF);
        QCOMPARE(f.calls.lastChanged.titleBarCustomRgb, 0xABCDEF);
    }

    void imageChoosers()
    {
        QTemporaryDir dir;
        const QString damaged = dir.filePath(QStringLiteral("broken.png"));
        QFile file(damaged);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a png");
        file.close();
        const QString good = dir.filePath(QStringLiteral("good.png"));
        QImage img(8, 8, QImage::Format_RGB32);
        img.fill(Qt::red);
        QVERIFY(img.save(good));
        const QString movie = dir.filePath(QStringLiteral("clip.MOV")); // never read

        QString next;
        QStringList warnings;
        ktr::dialogs::Seams seams;
        seams.openFile = [&](QWidget*, const QString&, const QString&, const QString&) { return next; };
        seams.information = [&](QWidget*, const QString& title, const QString&, int) { warnings.append(title); };
        ktr::dialogs::ScopedSeams scoped(seams);
        int hints = 0;
        QStringList hintTitles;
        const CardRunner choose = clickButton(QStringLiteral("选择文件"), &hints);
        ScopedCardRunner cards([&](QDialog& card) {
            if (auto* title = card.findChild<QLabel*>(QStringLiteral("hintTitle")))
                hintTitles << title->text();
            return choose(card);
        });

        Fixture f;
        SettingsDialog& d = *f.dialog;
        d.setPage(1);
        next = damaged;
        f.click(121);
        QCOMPARE(warnings, QStringList{QStringLiteral("自定义 LOGO")});
        QVERIFY(d.editedSettings().customLogoPath.isEmpty());
        next = good;
        f.click(121);
        QCOMPARE(d.editedSettings().customLogoPath, good);
        QVERIFY(!d.hitRectInWindow(123).isNull()); // the clear badge appears
        f.click(123);
        QVERIFY(d.editedSettings().customLogoPath.isEmpty());

        f.scrollTo(124);
        next = movie;
        f.click(124);
        QCOMPARE(hints, 1);
        // Nothing is set while the hint shows: it is titled for the choice it leads to.
        QCOMPARE(hintTitles, QStringList{QStringLiteral("选择背景")});
        QCOMPARE(d.editedSettings().bgImagePath, movie);
        next = damaged;
        f.click(127);
        QCOMPARE(warnings.last(), QStringLiteral("背景图片"));
        QVERIFY(d.editedSettings().bgImagePortrait.isEmpty());
        // Refusing the hint card never opens the file dialog.
        {
            ScopedCardRunner refuse(clickButton(QStringLiteral("取消")));
            next = good;
            f.click(127);
            QVERIFY(d.editedSettings().bgImagePortrait.isEmpty());
        }
        // The lock background goes to its callback.
        d.setPage(0);
        f.scrollTo(233);
        next = good;
        f.click(233);
        QCOMPARE(f.calls.lockBackgrounds, QStringList{good});
        QVERIFY(!d.hitRectInWindow(234).isNull());
    }

    void dataAndRecorderActions()
    {
        QList<QUrl> opened;
        QString folderAnswer = QStringLiteral("/tmp/ktr-rec");
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl& url) {
            opened.append(url);
            return true;
        };
        seams.folder = [&](QWidget*, const QString&, const QString&) { return folderAnswer; };
        ktr::dialogs::ScopedSeams scoped(seams);
        Fixture f;
        SettingsDialog& d = *f.dialog;
        d.setPage(5);
        f.click(235);
        QCOMPARE(d.editedSettings().monitorDir, folderAnswer);
        QCOMPARE(f.live.monitorDir, folderAnswer); // written through at once
        f.click(236);
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(folderAnswer)});
        QVERIFY(QDir(folderAnswer).exists());
        QDir(folderAnswer).removeRecursively();
        // Cancel keeps the recorder folder and trigger but drops the rest.
        f.dialog->editSettings([](AppSettings& s) { s.iconSize = 90; });
        d.reject();
        QCOMPARE(f.live.monitorDir, folderAnswer);
        QCOMPARE(f.live.iconSize, 50);
        QCOMPARE(f.calls.lastChanged, f.live);
    }

    // The general page carries the data folder and the move to another computer: open, export, import, in
    // this order of ids.
    void dataCardButtons()
    {
        QList<QUrl> opened;
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl& url) {
            opened.append(url);
            return true;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        Fixture f;
        f.scrollTo(152);
        QVERIFY(!f.dialog->hitRectInWindow(150).isNull());
        f.click(150);
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/ktr-data"))});
        f.click(151);
        QCOMPARE(f.calls.exported, 1);
        QCOMPARE(f.calls.imported, 0);
        f.click(152);
        QCOMPARE(f.calls.imported, 1);
        QVERIFY(f.dialog->hitRectInWindow(153).isNull());
    }

    // A key without a modifier can't be a global hotkey: it is refused with a word, and the hotkey that works
    // stays, in the copy and in the editor.
    void hotkeyNeedsAModifier_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("bare letter") << "A"
                                     << "Ctrl+Alt+G";
        QTest::newRow("bare function key") << "F5"
                                           << "Ctrl+Alt+G";
        QTest::newRow("bare space") << "Space"
                                    << "Ctrl+Alt+G";
        QTest::newRow("with a modifier") << "Ctrl+Shift+K"
                                         << "Ctrl+Shift+K";
        QTest::newRow("Win and a letter") << "Meta+E"
                                          << "Meta+E";
    }
    void hotkeyNeedsAModifier()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QStringList shown;
        ScopedCardRunner cards([&](QDialog& card) {
            QStringList parts;
            for (QLabel* l : card.findChildren<QLabel*>())
                parts << l->text();
            shown << parts.join(QLatin1Char('|'));
            return 1;
        });
        Fixture f;
        f.dialog->hotkeyEditor()->setKeySequence(QKeySequence(typed, QKeySequence::PortableText));
        QCOMPARE(f.dialog->editedSettings().summonHotkey, kept);
        QCOMPARE(f.dialog->hotkeyEditor()->keySequence().toString(QKeySequence::PortableText), kept);
        const bool refused = typed != kept;
        if (refused)
            QTRY_COMPARE(shown.size(), 1);
        else
            QCoreApplication::processEvents();
        QCOMPARE(shown.size(), refused ? 1 : 0);
        if (refused) {
            QVERIFY2(shown.first().contains(QStringLiteral("不能作为快捷键")), qPrintable(shown.first()));
            // The modifier key is named as this desktop names it.
            QVERIFY2(shown.first().contains(QStringLiteral("Super")) && !shown.first().contains(QStringLiteral("Win")),
                     qPrintable(shown.first()));
        }
        f.click(4);
        QCOMPARE(f.live.summonHotkey, kept);
    }

    // Typed into the editor key by key, as a person does. The editor clears itself when a recording starts and
    // reports what was recorded when the keys have been let go for a second or the focus leaves: neither a
    // recording abandoned nor a refused key may lose the hotkey that works, and the field shows the one OK keeps.
    // Steps: "+Key" press, "-Key" release, "Key" press and release, "away" a click elsewhere in the dialog,
    // "end" waits until the recording is over (each row ends with one).
    void typedHotkey_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<int>("refusals");
        QTest::newRow("modifier pressed and let go") << QStringList{"+Ctrl", "-Ctrl", "end"} << "Ctrl+Alt+G" << 0;
        QTest::newRow("recording left by a click elsewhere")
            << QStringList{"+Ctrl", "+Alt", "away"} << "Ctrl+Alt+G" << 0;
        QTest::newRow("bare letter") << QStringList{"A", "end"} << "Ctrl+Alt+G" << 1;
        QTest::newRow("with two modifiers")
            << QStringList{"+Ctrl", "+Alt", "Ctrl+Alt+K", "-Alt", "-Ctrl", "end"} << "Ctrl+Alt+K" << 0;
        QTest::newRow("bare letter, then a good one")
            << QStringList{"A", "end", "+Ctrl", "+Alt", "Ctrl+Alt+K", "-Alt", "-Ctrl", "end"} << "Ctrl+Alt+K" << 1;
        QTest::newRow("abandoned, then a bare letter")
            << QStringList{"+Shift", "-Shift", "end", "A", "end"} << "Ctrl+Alt+G" << 1;
    }
    void typedHotkey()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, kept);
        QFETCH(int, refusals);
        int cards = 0;
        ScopedCardRunner runner([&](QDialog&) {
            ++cards;
            return 1;
        });
        Fixture f;
        QKeySequenceEdit* editor = f.dialog->hotkeyEditor();
        QVERIFY(editor->isVisible());
        QCOMPARE(f.dialog->editedSettings().summonHotkey, QStringLiteral("Ctrl+Alt+G"));
        QApplication::setActiveWindow(f.dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(f.dialog.get()));
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
        QSignalSpy finished(editor, &QKeySequenceEdit::editingFinished);

        const QHash<QString, Qt::Key> keys{{"Ctrl", Qt::Key_Control}, {"Alt", Qt::Key_Alt}, {"Shift", Qt::Key_Shift}};
        const QHash<QString, Qt::KeyboardModifier> mods{
            {"Ctrl", Qt::ControlModifier}, {"Alt", Qt::AltModifier}, {"Shift", Qt::ShiftModifier}};
        Qt::KeyboardModifiers held;
        int ends = 0;
        for (const QString& step : steps) {
            if (step == QLatin1String("away")) {
                // A click on the row's label, left of the part that puts the focus into the field.
                const QPoint elsewhere(f.dialog->hitRectInWindow(9).left() - 20, editor->geometry().center().y());
                f.press(elsewhere);
                f.release(elsewhere);
                QVERIFY(!editor->hasFocus());
                QCOMPARE(finished.count(), ++ends);
            } else if (step == QLatin1String("end")) {
                ++ends;
                QVERIFY(finished.count() >= ends || finished.wait(3000));
                QCOMPARE(finished.count(), ends);
            } else if (step.startsWith(QLatin1Char('+'))) {
                held |= mods.value(step.mid(1));
                QTest::keyPress(editor, keys.value(step.mid(1)), held);
            } else if (step.startsWith(QLatin1Char('-'))) {
                held &= ~mods.value(step.mid(1));
                QTest::keyRelease(editor, keys.value(step.mid(1)), held);
            } else {
                const QKeyCombination combo = QKeySequence(step, QKeySequence::PortableText)[0];
                QTest::keyClick(editor, combo.key(), combo.keyboardModifiers());
            }
        }
        QTRY_COMPARE(cards, refusals);
        QCOMPARE(f.dialog->editedSettings().summonHotkey, kept);
        // The field shows the hotkey OK will keep.
        QCOMPARE(editor->keySequence().toString(QKeySequence::PortableText), kept);
        f.click(4);
        QCOMPARE(f.live.summonHotkey, kept);
    }

    // "已清理 ✓" only when a cache was cleared.
    void clearIconCacheNeedsItsCallback_data()
    {
        QTest::addColumn<bool>("withCallback");
        QTest::newRow("with callback") << true;
        QTest::newRow("without") << false;
    }
    void clearIconCacheNeedsItsCallback()
    {
        QFETCH(bool, withCallback);
        Fixture f(AppSettings(), withCallback);
        f.dialog->runAction(231);
        QCOMPARE(f.dialog->iconCacheCleared(), withCallback);
        QCOMPARE(f.calls.cleared, withCallback ? 1 : 0);
        f.dialog->setPage(1);
        QVERIFY(!f.dialog->iconCacheCleared());
    }

    void restoreDefaultsResetsExactlyItsKeys()
    {
        const AppSettings start = everythingChanged();
        Fixture f(start);
        SettingsDialog& d = *f.dialog;
        {
            ScopedCardRunner no(clickButton(QStringLiteral("否")));
            f.click(2);
            QCOMPARE(d.editedSettings().iconSize, start.iconSize);
        }
        ScopedCardRunner yes(clickButton(QStringLiteral("是")));
        f.click(2);
        const AppSettings& s = d.editedSettings();
        AppSettings expected = start;
        const AppSettings def;
        expected.startPinned = def.startPinned;
        expected.closeToTray = def.closeToTray;
        expected.minimizeToTray = def.minimizeToTray;
        expected.iconSize = def.iconSize;
        expected.iconSizePortrait = def.iconSizePortrait;
        expected.showItemNames = def.showItemNames;
        expected.showNewGroupBtn = def.showNewGroupBtn;
        expected.cornerRadius = def.cornerRadius;
        expected.opacity = def.opacity;
        expected.darkTheme = def.darkTheme;
        expected.horizontalGroups = def.horizontalGroups;
        expected.singleClickOpen = def.singleClickOpen;
        expected.edgeSnap = def.edgeSnap;
        expected.snapRevealPx = def.snapRevealPx;
        expected.revealMethod = def.revealMethod;
        expected.summonHotkey = def.summonHotkey;
        expected.autoClassify = def.autoClassify;
        expected.titleBarColor = def.titleBarColor;
        expected.titleBarCustomRgb = def.titleBarCustomRgb;
        expected.titleBarOpacity = def.titleBarOpacity;
        expected.bottomBarColor = def.bottomBarColor;
        expected.bottomBarCustomRgb = def.bottomBarCustomRgb;
        expected.bottomBarOpacity = def.bottomBarOpacity;
        expected.midColor = def.midColor;
        expected.midCustomRgb = def.midCustomRgb;
        expected.midOpacity = def.midOpacity;
        expected.clickThroughAtZero = def.clickThroughAtZero;
        expected.borderColor = def.borderColor;
        expected.borderCustomRgb = def.borderCustomRgb;
        expected.borderOpacity = def.borderOpacity;
        expected.showTitle = def.showTitle;
        expected.showLogo = def.showLogo;
        expected.textColor = def.textColor;
        expected.textCustomRgb = def.textCustomRgb;
        expected.textOpacity = def.textOpacity;
        expected.dividerColor = def.dividerColor;
        expected.dividerCustomRgb = def.dividerCustomRgb;
        expected.dividerWidth = def.dividerWidth;
        expected.dividerOpacity = def.dividerOpacity;
        expected.hoverMode = def.hoverMode;
        expected.hoverColor = def.hoverColor;
        expected.hoverCustomRgb = def.hoverCustomRgb;
        expected.hoverOpacity = def.hoverOpacity;
        expected.btnVisible = def.btnVisible;
        expected.btnLayoutTitle = def.btnLayoutTitle;
        expected.btnLayoutBottom = def.btnLayoutBottom;
        QCOMPARE(s, expected);
        QCOMPARE(d.hotkeyEditor()->keySequence().toString(QKeySequence::PortableText), def.summonHotkey);
        QCOMPARE(d.sliderForKey(0)->value(), def.iconSize);
        QCOMPARE(d.titleEditor()->text(), start.customTitle);
        QCOMPARE(f.calls.lastChanged, expected);
    }

    // ---- OK and Cancel --------------------------------------------------------------------------------------

    // The panel changes its record while the dialog is open; OK writes back only what the dialog edited.
    void okKeepsWhatThePanelChanged()
    {
        Fixture f;
        SettingsDialog& d = *f.dialog;
        d.editSettings([](AppSettings& s) { s.iconSize = 77; });
        f.live.darkTheme = true;        // the theme button
        f.live.obfuscateEnabled = true; // the protection button
        f.live.protectPasswordHash = QStringLiteral("pbkdf2$x");
        f.live.uiLocked = true;
        f.live.btnLayoutBottom = {9, 8, 7, 6, 5, 10}; // a dragged bar button
        f.live.backupLastAt = QStringLiteral("2026-12-10T03:00:00");
        f.live.progUnlockEpoch = 5;
        d.titleEditor()->setText(QStringLiteral("  新名字  "));
        f.click(4);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(f.live.iconSize, 77);
        QCOMPARE(f.live.customTitle, QStringLiteral("新名字"));
        QVERIFY(f.live.darkTheme);
        QVERIFY(f.live.obfuscateEnabled);
        QCOMPARE(f.live.protectPasswordHash, QStringLiteral("pbkdf2$x"));
        QVERIFY(f.live.uiLocked);
        QCOMPARE(f.live.btnLayoutBottom, (QList<int>{9, 8, 7, 6, 5, 10}));
        QCOMPARE(f.live.backupLastAt, QStringLiteral("2026-12-10T03:00:00"));
        QCOMPARE(f.live.progUnlockEpoch, 5);
    }

    // The preview sends the whole copy: what the panel changed meanwhile must be in it, or the next slider
    // move puts the panel back as it was when the dialog opened.
    void previewKeepsWhatThePanelChanged()
    {
        Fixture f;
        SettingsDialog& d = *f.dialog;
        d.editSettings([](AppSettings& s) { s.iconSize = 77; });
        f.live.darkTheme = true;                      // the theme button
        f.live.btnLayoutBottom = {9, 8, 7, 6, 5, 10}; // a dragged bar button
        f.live.horizontalGroups = true;
        d.sliderForKey(0)->setValue(64, true); // the icon-size slider, a live one
        QCOMPARE(f.calls.lastChanged.iconSize, 64);
        QVERIFY(f.calls.lastChanged.darkTheme);
        QVERIFY(f.calls.lastChanged.horizontalGroups);
        QCOMPARE(f.calls.lastChanged.btnLayoutBottom, (QList<int>{9, 8, 7, 6, 5, 10}));
        QVERIFY(d.editedSettings().darkTheme); // the dialog's own theme choice shows it too

        // Told at once, the dialog previews its edits again over the panel's new state; the later change of a
        // field wins, whichever side made it.
        f.live.darkTheme = false;
        const int before = f.calls.changed;
        d.followPanel();
        QCOMPARE(f.calls.changed, before + 1);
        QVERIFY(!f.calls.lastChanged.darkTheme);
        QCOMPARE(f.calls.lastChanged.iconSize, 64);
        d.followPanel(); // nothing new: no preview
        QCOMPARE(f.calls.changed, before + 1);
        f.click(4);
        QCOMPARE(f.live.iconSize, 64);
        QVERIFY(!f.live.darkTheme);
    }

    // The copy follows every field the panel may change.
    void followLiveFieldsCoversEveryField()
    {
        AppSettings base;
        AppSettings edited;
        edited.iconSize = 90; // an edit of the dialog the panel did not touch
        const AppSettings live = everythingChanged();
        followLiveFields(base, edited, live);
        QCOMPARE(edited, live);
        QCOMPARE(base, live);
        AppSettings second;
        second.iconSize = 90;
        AppSettings newBase;
        followLiveFields(newBase, second, AppSettings());
        QCOMPARE(second.iconSize, 90);
    }

    // Every field the dialog may edit is written; the lock, protection, epoch and backup time never are.
    void writeEditedFieldsCoversEveryField()
    {
        const AppSettings base;
        const AppSettings edited = everythingChanged();
        AppSettings live;
        writeEditedFields(base, edited, live);
        AppSettings expected = edited;
        expected.uiLocked = base.uiLocked;
        expected.protectPasswordHash = base.protectPasswordHash;
        expected.obfuscateEnabled = base.obfuscateEnabled;
        expected.obfuscateMap = base.obfuscateMap;
        expected.lockBgPath = base.lockBgPath;
        expected.progUnlockEpoch = base.progUnlockEpoch;
        expected.backupLastAt = base.backupLastAt;
        QCOMPARE(live, expected);
    }

    void cancelRestoresTheLanguage()
    {
        Fixture f;
        int notified = 0;
        Lang::setChangedHandler([&] { ++notified; });
        f.click(109);
        QCOMPARE(Lang::language(), 1);
        f.dialog->reject();
        QCOMPARE(Lang::language(), 0);
        QCOMPARE(notified, 2);
        Lang::setChangedHandler({});
    }

    // ---- tooltip ------------------------------------------------------------------------------------------

    void tooltipPlacement_data()
    {
        QTest::addColumn<QSize>("text");
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QSize>("dialog");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("right of the anchor")
            << QSize(200, 48) << QRect(300, 200, 28, 28) << QSize(780, 800) << QPoint(337, 213 - 32);
        QTest::newRow("left when it does not fit")
            << QSize(200, 48) << QRect(600, 200, 28, 28) << QSize(780, 800) << QPoint(600 - 220 - 10, 181);
        QTest::newRow("narrow dialog") << QSize(200, 48) << QRect(100, 200, 28, 28) << QSize(236, 800)
                                       << QPoint(8, 181);
        QTest::newRow("clamped to the bottom")
            << QSize(200, 48) << QRect(300, 770, 28, 28) << QSize(780, 800) << QPoint(337, 800 - 48 - 24);
        QTest::newRow("no anchor") << QSize(100, 20) << QRect() << QSize(780, 800) << QPoint(9, 8);
    }
    void tooltipPlacement()
    {
        QFETCH(QSize, text);
        QFETCH(QRect, anchor);
        QFETCH(QSize, dialog);
        QFETCH(QPoint, topLeft);
        const QRect bubble = SettingsDialog::tooltipBubble(text, anchor, dialog.width(), dialog.height());
        QCOMPARE(bubble.topLeft(), topLeft);
        QCOMPARE(bubble.size(), text + QSize(20, 16));
    }

    // ---- painting -----------------------------------------------------------------------------------------

    void rowPagesPaint_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("language");
        for (int page : {0, 1, 5, 4})
            for (bool dark : {false, true})
                for (int language : {0, 1})
                    QTest::addRow("page%d-%s-%s", page, dark ? "dark" : "light", language ? "en" : "zh")
                        << page << dark << language;
    }
    void rowPagesPaint()
    {
        QFETCH(int, page);
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        AppSettings start;
        start.darkTheme = dark;
        start.startPinned = true;
        Fixture f(start);
        SettingsDialog& d = *f.dialog;
        d.setPage(page);
        QImage img(d.size(), QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        d.render(&img);
        if (!shotDir().isEmpty())
            img.save(QStringLiteral("%1/settings-%2.png").arg(shotDir(), QString::fromLatin1(QTest::currentDataTag())));
        const DialogPalette pal = dialogRoles();
        QCOMPARE(pal.dark, dark);
        // The selected navigation item: its fill beside the label, and the accent indicator bar.
        const int item = page == 4 ? -1 : QList<int>{0, 1, 3, 5, 6, 2}.indexOf(page);
        if (item >= 0) {
            const QRect nav = d.navRect(item);
            QCOMPARE(img.pixelColor(nav.right() - 3, nav.top() + 4),
                     dark ? QColor(0x33, 0x33, 0x33) : QColor(0xE9, 0xE9, 0xE9));
            QCOMPARE(img.pixelColor(nav.x() + 4, nav.center().y()), pal.accent);
        } else {
            for (int i = 0; i < 6; ++i)
                QCOMPARE(img.pixelColor(d.navRect(i).right() - 3, d.navRect(i).top() + 4), pal.navBackground);
        }
        if (page == 0) {
            // Switch 50 is on: accent capsule, white knob at its right end.
            const QRect sw = d.hitRectInWindow(50);
            QCOMPARE(img.pixelColor(sw.left() + 6, sw.center().y()), pal.accent);
            const int knob = toggleKnobLeft(sw, true) + toggleKnobDiameter(sw) / 2;
            QCOMPARE(img.pixelColor(knob, sw.center().y()), QColor(Qt::white));
            // Choice 0 (theme): the selected segment's fill.
            const QRect option = d.hitRectInWindow(dark ? 101 : 100);
            QCOMPARE(img.pixelColor(option.left() + 8, option.top() + 5), pal.buttonFill);
        }
        if (page == 1) {
            // The icon-size slider shows its accent thumb.
            SliderWidget* slider = d.sliderForKey(0);
            QVERIFY(slider->isVisible());
            const QPoint thumb =
                slider->geometry().topLeft() + QPoint(slider->valueToX(), slider->trackRect().center().y());
            QCOMPARE(img.pixelColor(thumb), pal.accent);
        }
        // The OK button is the primary one.
        const QRect ok = d.footerRect(4);
        QCOMPARE(img.pixelColor(ok.left() + 6, ok.top() + 6), pal.accent);
        Lang::setLanguage(0);
    }

    void tooltipBubblePaints()
    {
        Fixture f;
        SettingsDialog& d = *f.dialog;
        d.setTooltip(QStringLiteral("点击上传浅色模式图标（浅色主题正常态）"), QRect(400, 300, 28, 28), 1009);
        QImage img(d.size(), QImage::Format_ARGB32_Premultiplied);
        d.render(&img);
        if (!shotDir().isEmpty())
            img.save(shotDir() + QStringLiteral("/settings-tooltip.png"));
        QCOMPARE(img.pixelColor(438 + 5, 314), QColor(0xFC, 0xFC, 0xFC));
    }
};

KTR_TEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
