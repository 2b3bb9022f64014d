#include "testenv.h"
#include "ui/appsettings.h"

#include <QApplication>

#include <set>

using Getter = std::function<QVariant(const AppSettings&)>;
Q_DECLARE_METATYPE(Getter)

namespace {

template <typename T> QVariantList toList(const T& values)
{
    QVariantList out;
    for (const auto& v : values)
        out << QVariant::fromValue(v);
    return out;
}

} // namespace

class TestAppSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void defaults_data()
    {
        QTest::addColumn<Getter>("get");
        QTest::addColumn<QVariant>("expected");
        const QVariantList allTrue =
            toList(std::array<bool, 11>{true, true, true, true, true, true, true, true, true, true, true});
        const QVariantList allEmpty = toList(std::array<QString, 11>{});
#define ROW(field, value)                                                                                              \
    QTest::newRow(#field) << Getter([](const AppSettings& s) { return QVariant::fromValue(s.field); })                 \
                          << QVariant::fromValue(value)
#define LIST_ROW(field, value)                                                                                         \
    QTest::newRow(#field) << Getter([](const AppSettings& s) { return QVariant(toList(s.field)); }) << QVariant(value)
        ROW(startPinned, false);
        ROW(rememberGeometry, true);
        ROW(closeToTray, true);
        ROW(minimizeToTray, true);
        ROW(autoStart, true);
        ROW(iconSize, 50);
        ROW(iconSizePortrait, 40);
        ROW(showItemNames, true);
        ROW(cornerRadius, 8);
        ROW(opacity, 100);
        ROW(darkTheme, false);
        ROW(language, 0);
        ROW(horizontalGroups, false);
        ROW(singleClickOpen, true);
        ROW(edgeSnap, true);
        ROW(snapRevealPx, 1);
        ROW(revealMethod, defaultRevealMethod()); // the platform's, see revealMethodDefault
        ROW(summonHotkey, QStringLiteral("Ctrl+Alt+G"));
        ROW(autoClassify, false);
        ROW(updateChannel, 0);
        ROW(skippedVersion, QString());
        ROW(titleBarColor, 0);
        ROW(titleBarCustomRgb, 0x2F6FBF);
        ROW(titleBarOpacity, 100);
        ROW(bottomBarColor, 0);
        ROW(bottomBarCustomRgb, 0x2F6FBF);
        ROW(bottomBarOpacity, 100);
        ROW(midColor, 0);
        ROW(midCustomRgb, 0x2F6FBF);
        ROW(midOpacity, 100);
        ROW(clickThroughAtZero, false);
        ROW(customTitle, QString());
        ROW(customLogoPath, QString());
        ROW(appIconPath, QString());
        ROW(bgImagePath, QString());
        ROW(bgImageOpacity, 100);
        ROW(bgImagePortrait, QString());
        ROW(bgImageOpacityPortrait, 100);
        ROW(borderColor, 0);
        ROW(borderCustomRgb, 0xC6C9D2);
        ROW(borderOpacity, 100);
        ROW(showTitle, true);
        ROW(showLogo, true);
        ROW(textColor, 0);
        ROW(textCustomRgb, 0x39404C);
        ROW(textOpacity, 100);
        ROW(fontFamily, QString());
        ROW(dividerColor, 0);
        ROW(dividerCustomRgb, 0xC6C9D2);
        ROW(dividerWidth, 1);
        ROW(dividerOpacity, 50);
        ROW(hoverMode, 1);
        ROW(hoverColor, 0);
        ROW(hoverCustomRgb, 0x2F6FBF);
        ROW(hoverOpacity, 100);
        LIST_ROW(btnVisible, allTrue);
        LIST_ROW(btnIcons, allEmpty);
        LIST_ROW(btnIconsHover, allEmpty);
        LIST_ROW(btnIconsActive, allEmpty);
        LIST_ROW(btnIconsNight, allEmpty);
        ROW(showNewGroupBtn, true);
        LIST_ROW(btnLayoutTitle, toList(QList<int>{0, 1, 2, 3, 4}));
        LIST_ROW(btnLayoutBottom, toList(QList<int>{10, 9, 8, 7, 6, 5}));
        ROW(uiLocked, false);
        ROW(lockBgPath, QString());
        ROW(monitorDir, QString());
        ROW(monitorMaxMB, 100);
        ROW(monitorIdleSec, 30);
        ROW(monitorTrigger, 0);
        ROW(monitorFormat, 1);
        ROW(monitorFps, 59);
        ROW(progUnlockEpoch, 0);
        ROW(protectPasswordHash, QString());
        QTest::newRow("obfuscateMap") << Getter([](const AppSettings& s) { return QVariant(s.obfuscateMap.size()); })
                                      << QVariant(0);
        ROW(obfuscateEnabled, false);
        ROW(backupAuto, true);
        ROW(backupIntervalDays, 1);
        ROW(backupRetain, 10);
        ROW(backupDir, QString());
        ROW(backupLastAt, QString());
#undef ROW
#undef LIST_ROW
    }
    void defaults()
    {
        QFETCH(Getter, get);
        QFETCH(QVariant, expected);
        QCOMPARE(get(AppSettings()), expected);
    }

    // A middle click pastes on X11: there a new user's reveal gesture is holding the middle button.
    void revealMethodDefault_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<int>("expected");
        QTest::newRow("x11") << "xcb" << 3;
        QTest::newRow("offscreen") << "offscreen" << 1;
        QTest::newRow("minimal") << "minimal" << 1;
        QTest::newRow("none yet") << "" << 1;
    }
    void revealMethodDefault()
    {
        QFETCH(QString, platform);
        QFETCH(int, expected);
        QCOMPARE(defaultRevealMethod(platform), expected);
        QCOMPARE(AppSettings().revealMethod, defaultRevealMethod(QGuiApplication::platformName()));
    }

    void buttonLayoutsHoldEachIdOnce()
    {
        const AppSettings s;
        QCOMPARE(s.btnLayoutTitle.size(), 5);
        QCOMPARE(s.btnLayoutBottom.size(), 6);
        std::multiset<int> ids(s.btnLayoutTitle.begin(), s.btnLayoutTitle.end());
        ids.insert(s.btnLayoutBottom.begin(), s.btnLayoutBottom.end());
        QCOMPARE(ids.size(), size_t(AppSettings::kButtonCount));
        for (int id = 0; id < AppSettings::kButtonCount; ++id)
            QCOMPARE(ids.count(id), size_t(1));
    }

    void copiesAreIndependentValues()
    {
        AppSettings a;
        a.obfuscateMap.insert(QStringLiteral("k"), QStringLiteral("v"));
        AppSettings b = a;
        QCOMPARE(b, a);
        b.obfuscateMap.insert(QStringLiteral("k2"), QStringLiteral("v2"));
        b.btnIcons[3] = QStringLiteral("/x.png");
        b.btnLayoutTitle.removeLast();
        QVERIFY(!(b == a));
        QCOMPARE(a.obfuscateMap.size(), 1);
        QVERIFY(a.btnIcons[3].isEmpty());
        QCOMPARE(a.btnLayoutTitle.size(), 5);
    }
};

KTR_TEST_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
