#include "panel/namedialog.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QLineEdit>
#include <QSignalSpy>

namespace {

QImage render(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

// A point of a button's fill, clear of its label and rounded corners.
QPoint fillPoint(const QRect& area)
{
    return QPoint(area.left() + 10, area.center().y());
}

enum Step { PressOk, PressCancel, MoveOk, MoveCancel, MoveOut, ReleaseOk, ReleaseCancel, ReleaseOut, ReleaseRight };

// Sent straight to the dialog: the platform path drops a move to the position it saw last.
void mouse(QWidget* w, QEvent::Type type, const QPoint& pos, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), type == QEvent::MouseMove ? Qt::NoButton : button,
                  buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TestNameDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        setDarkTheme(false);
        Lang::setLanguage(0);
    }

    void title_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::addColumn<QString>("title");
        QTest::newRow("rename") << true << QString::fromUtf8("重命名分组");
        QTest::newRow("new group") << false << QString::fromUtf8("新建分组");
    }
    void title()
    {
        QFETCH(bool, rename);
        QFETCH(QString, title);
        NameDialog dlg(rename);
        QCOMPARE(dlg.title(), title);
        QCOMPARE(dlg.size(), QSize(300, 168));
        QVERIFY(dlg.isModal());
        QVERIFY(dlg.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(dlg.lineEdit()->geometry(), NameDialog::kEditRect);
    }

    void fieldRefusesTheTwentyFifthCharacter()
    {
        NameDialog dlg(false);
        dlg.show();
        QTest::keyClicks(dlg.lineEdit(), QString(25, QLatin1Char('x')));
        QCOMPARE(dlg.lineEdit()->text(), QString(24, QLatin1Char('x')));
    }

    void setTextSelectsAllAndNameIsTrimmed()
    {
        NameDialog dlg(true);
        dlg.setText(QStringLiteral("  工具 "));
        QCOMPARE(dlg.lineEdit()->selectedText(), QStringLiteral("  工具 "));
        QCOMPARE(dlg.name(), QStringLiteral("工具"));
    }

    // Mouse sequences over the two painted buttons; only a release on the area that was pressed counts.
    void buttons_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<int>("result"); // -1 still open
        const QString name = QStringLiteral("游戏");
        QTest::newRow("ok") << name << QList<int>{PressOk, ReleaseOk} << int(QDialog::Accepted);
        QTest::newRow("cancel") << name << QList<int>{PressCancel, ReleaseCancel} << int(QDialog::Rejected);
        QTest::newRow("ok, moved onto cancel") << name << QList<int>{PressOk, MoveCancel, ReleaseCancel} << -1;
        QTest::newRow("ok, away and back")
            << name << QList<int>{PressOk, MoveCancel, MoveOk, ReleaseOk} << int(QDialog::Accepted);
        QTest::newRow("ok, moved off") << name << QList<int>{PressOk, MoveOut, ReleaseOut} << -1;
        QTest::newRow("cancel, moved onto ok") << name << QList<int>{PressCancel, MoveOk, ReleaseOk} << -1;
        QTest::newRow("right release") << name << QList<int>{PressOk, ReleaseRight} << -1;
        QTest::newRow("ok with spaces only") << QStringLiteral("   ") << QList<int>{PressOk, ReleaseOk} << -1;
        QTest::newRow("cancel with empty field")
            << QString() << QList<int>{PressCancel, ReleaseCancel} << int(QDialog::Rejected);
    }
    void buttons()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, steps);
        QFETCH(int, result);
        NameDialog dlg(false);
        dlg.lineEdit()->setText(text);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QSignalSpy finished(&dlg, &QDialog::finished);
        const QPoint ok = NameDialog::kOkRect.center();
        const QPoint cancel = NameDialog::kCancelRect.center();
        const QPoint out(150, 20);
        for (int step : steps) {
            switch (step) {
            case PressOk:
                mouse(&dlg, QEvent::MouseButtonPress, ok);
                break;
            case PressCancel:
                mouse(&dlg, QEvent::MouseButtonPress, cancel);
                break;
            case MoveOk:
                mouse(&dlg, QEvent::MouseMove, ok);
                break;
            case MoveCancel:
                mouse(&dlg, QEvent::MouseMove, cancel);
                break;
            case MoveOut:
                mouse(&dlg, QEvent::MouseMove, out);
                break;
            case ReleaseOk:
                mouse(&dlg, QEvent::MouseButtonRelease, ok);
                break;
            case ReleaseCancel:
                mouse(&dlg, QEvent::MouseButtonRelease, cancel);
                break;
            case ReleaseOut:
                mouse(&dlg, QEvent::MouseButtonRelease, out);
                break;
            case ReleaseRight:
                mouse(&dlg, QEvent::MouseButtonRelease, ok, Qt::RightButton);
                break;
            }
        }
        if (result < 0) {
            QCOMPARE(finished.count(), 0);
            QVERIFY(dlg.isVisible());
        } else {
            QCOMPARE(finished.count(), 1);
            QCOMPARE(dlg.result(), result);
        }
    }

    void okOnBlankNameFocusesTheField()
    {
        NameDialog dlg(false);
        dlg.lineEdit()->setText(QStringLiteral("  "));
        dlg.show();
        dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.lineEdit()->clearFocus();
        QVERIFY(!dlg.lineEdit()->hasFocus());
        mouse(&dlg, QEvent::MouseButtonPress, NameDialog::kOkRect.center());
        mouse(&dlg, QEvent::MouseButtonRelease, NameDialog::kOkRect.center());
        QVERIFY(dlg.isVisible());
        QVERIFY(dlg.lineEdit()->hasFocus());
    }

    void keys_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("enter") << QStringLiteral("办公") << int(Qt::Key_Return) << int(QDialog::Accepted);
        // Enter closes even an empty name; the caller ignores it.
        QTest::newRow("enter, spaces only") << QStringLiteral("  ") << int(Qt::Key_Enter) << int(QDialog::Accepted);
        QTest::newRow("escape") << QStringLiteral("办公") << int(Qt::Key_Escape) << int(QDialog::Rejected);
    }
    void keys()
    {
        QFETCH(QString, text);
        QFETCH(int, key);
        QFETCH(int, result);
        NameDialog dlg(false);
        dlg.lineEdit()->setText(text);
        dlg.show();
        QSignalSpy finished(&dlg, &QDialog::finished);
        QTest::keyClick(dlg.lineEdit(), Qt::Key(key));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(dlg.result(), result);
    }

    void modalRunReturnsTheName()
    {
        NameDialog dlg(true);
        dlg.setText(QStringLiteral("旧名"));
        QTimer::singleShot(0, &dlg, [&dlg] {
            QTest::keyClicks(dlg.lineEdit(), QStringLiteral("Tools"));
            QTest::keyClick(dlg.lineEdit(), Qt::Key_Return);
        });
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));
        QCOMPARE(dlg.name(), QStringLiteral("Tools"));
    }

    void paint_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void paint()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        const Theme& theme = currentTheme();
        NameDialog dlg(false);
        dlg.show();
        QImage img = render(dlg);
        ktr::test::saveShot(img, QStringLiteral("namedialog-%1").arg(dark ? "dark" : "light"));
        QCOMPARE(img.pixelColor(150, 104), dark ? QColor(0x2A, 0x2E, 0x38) : QColor(Qt::white));
        QCOMPARE(img.pixelColor(fillPoint(NameDialog::kOkRect)), theme.accent);
        QCOMPARE(img.pixelColor(fillPoint(NameDialog::kCancelRect)), theme.barButtonHover);
        // The corners outside the rounded card stay transparent.
        QCOMPARE(img.pixelColor(0, 0).alpha(), 0);

        mouse(&dlg, QEvent::MouseMove, NameDialog::kOkRect.center());
        QCOMPARE(render(dlg).pixelColor(fillPoint(NameDialog::kOkRect)).rgb(), theme.accent.lighter(110).rgb());
        mouse(&dlg, QEvent::MouseButtonPress, NameDialog::kOkRect.center());
        QCOMPARE(render(dlg).pixelColor(fillPoint(NameDialog::kOkRect)).rgb(), theme.accent.darker(115).rgb());
        // Released off the button: nothing happens, the fill is back to normal.
        mouse(&dlg, QEvent::MouseButtonRelease, QPoint(150, 20));
        QVERIFY(dlg.isVisible());
        QCOMPARE(render(dlg).pixelColor(fillPoint(NameDialog::kOkRect)).rgb(), theme.accent.rgb());
        mouse(&dlg, QEvent::MouseButtonPress, NameDialog::kCancelRect.center());
        QCOMPARE(render(dlg).pixelColor(fillPoint(NameDialog::kCancelRect)), theme.activeBackground);
    }

    // The two buttons speak the interface language like the rest of the dialog.
    void buttonsFollowLanguage()
    {
        const QRect ok(24, 112, 120, 34);
        const QRect cancel(156, 112, 120, 34);

        Lang::setLanguage(0);
        NameDialog chinese(false);
        const QImage zh = render(chinese);
        Lang::setLanguage(1);
        NameDialog english(false);
        const QImage en = render(english);
        Lang::setLanguage(0);
        ktr::test::saveShot(zh, QStringLiteral("namedialog-zh"));
        ktr::test::saveShot(en, QStringLiteral("namedialog-en"));

        // The title follows the language already; the button labels must too.
        QVERIFY(zh.copy(QRect(24, 20, 252, 30)) != en.copy(QRect(24, 20, 252, 30)));
        QVERIFY(zh.copy(ok) != en.copy(ok));
        QVERIFY(zh.copy(cancel) != en.copy(cancel));
    }
};

KTR_TEST_MAIN(TestNameDialog)
#include "tst_namedialog.moc"
