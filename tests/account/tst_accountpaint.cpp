// The painted controls of the account dialogs, checked on renders in both palettes.

#include "account/accountpaint.h"
#include "accountshots.h"

#include <QApplication>
#include <QPainter>

using namespace ktr::test;

namespace {

QImage canvas()
{
    QImage img(240, 80, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

} // namespace

class TestAccountPaint : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void uiFontTakesFamilySizeAndWeight_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("bold");
        QTest::newRow("12 normal") << 12 << false;
        QTest::newRow("18 bold") << 18 << true;
    }
    void uiFontTakesFamilySizeAndWeight()
    {
        QFETCH(int, size);
        QFETCH(bool, bold);
        const QFont f = uiFont(size, bold);
        QCOMPARE(f.family(), uiFontFamily());
        QCOMPARE(f.pixelSize(), size);
        QCOMPARE(f.weight(), bold ? QFont::Bold : QFont::Normal);
    }

    void checkBox_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<bool>("hovered");
        for (bool dark : {false, true})
            for (bool checked : {false, true})
                for (bool hovered : {false, true})
                    QTest::addRow("%s %s %s", dark ? "dark" : "light", checked ? "checked" : "unchecked",
                                  hovered ? "hovered" : "idle")
                        << dark << checked << hovered;
    }
    void checkBox()
    {
        QFETCH(bool, dark);
        QFETCH(bool, checked);
        QFETCH(bool, hovered);
        LookScope look(dark, false);
        const Theme& t = currentTheme();
        QImage img = canvas();
        const QRect r(10, 20, 110, 16);
        {
            QPainter p(&img);
            drawCheckBox(p, r, checked, QStringLiteral("记住密码"), hovered, t);
        }
        // Fill inside the box, away from the mark.
        const QColor fill = pixelAt(img, r.x() + 3, r.y() + 13);
        QVERIFY2(near(fill, checked ? t.accent : (dark ? QColor(0x2A, 0x2E, 0x38) : QColor(Qt::white))),
                 qPrintable(fill.name()));
        // The outline on the left edge: accent when hovered, otherwise grey, also around a checked box.
        // (just outside the box the pen covers the transparent canvas only)
        const QColor edge = pixelAt(img, r.x() - 1, r.y() + 8);
        const QColor outline = hovered ? t.accent : QColor(0xC2, 0xC7, 0xD3);
        QVERIFY2(pixelAt(img, r.x() - 1, r.y() + 8).alpha() > 0 && near(edge, outline, 12), qPrintable(edge.name()));
        // The check mark passes through its middle point; an empty box has only its fill there.
        const QColor mark = pixelAt(img, r.x() + 6, r.y() + 10);
        if (checked)
            QVERIFY2(near(mark, Qt::white, 80), qPrintable(mark.name()));
        else
            QVERIFY2(near(mark, fill, 2), qPrintable(mark.name()));
        // The label starts 22 px right of the box, in the accent when hovered, muted otherwise.
        const QRect label(r.x() + 22, r.y() - 2, 120, r.height() + 4);
        const QColor ink = hovered ? t.accent : t.hintText;
        QVERIFY(countNear(img, label, ink, 30) > 5);
        QCOMPARE(countNear(img, QRect(r.x() + 18, r.y(), 3, 16), ink, 30), 0);
        saveShot(
            img,
            QStringLiteral("account-checkbox-%1").arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-')));
    }

    void dialogButton_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("primary");
        QTest::addColumn<bool>("hovered");
        QTest::addColumn<bool>("pressed");
        for (bool dark : {false, true})
            for (bool primary : {false, true})
                for (int state = 0; state < 4; ++state)
                    QTest::addRow("%s %s h%d p%d", dark ? "dark" : "light", primary ? "primary" : "secondary",
                                  state & 1, state >> 1)
                        << dark << primary << bool(state & 1) << bool(state & 2);
    }
    void dialogButton()
    {
        QFETCH(bool, dark);
        QFETCH(bool, primary);
        QFETCH(bool, hovered);
        QFETCH(bool, pressed);
        LookScope look(dark, false);
        const Theme& t = currentTheme();
        QImage img = canvas();
        const QRect r(20, 20, 200, 40);
        const QString label = QStringLiteral("增加授权设备数");
        {
            QPainter p(&img);
            drawDialogButton(p, t, r, label, primary, hovered, pressed, true);
        }
        QColor fill;
        if (primary)
            fill = pressed ? t.accent.darker(112) : hovered ? t.accent.lighter(110) : t.accent;
        else if (pressed)
            fill = dark ? QColor(0x3E, 0x44, 0x52) : QColor(0xE8, 0xEC, 0xF3);
        else if (hovered)
            fill = dark ? QColor(0x3A, 0x40, 0x4C) : QColor(0xEF, 0xF3, 0xF9);
        else
            fill = dark ? QColor(0x35, 0x3A, 0x46) : QColor(0xF5, 0xF7, 0xFA);
        QVERIFY2(near(pixelAt(img, r.x() + 6, r.center().y()), fill, 2),
                 qPrintable(pixelAt(img, r.x() + 6, r.center().y()).name()));
        if (!primary) {
            // The 1 px outline straddles the top edge: the row above holds it half covered.
            const QColor edge = pixelAt(img, r.center().x(), r.top() - 1);
            QVERIFY2(near(edge, hovered ? t.accent : t.controlBorder, 12), qPrintable(edge.name()));
        }
        // The plus icon and the label are centred as a pair: the icon's left edge, then the label 20 px on.
        const int g = QFontMetrics(uiFont(13)).horizontalAdvance(label);
        const int iconLeft = r.left() + (r.width() - 1 - g - 19) / 2;
        const QColor icon = primary ? QColor(Qt::white) : hovered ? t.accent : t.controlBorder;
        const QColor ink = primary ? QColor(Qt::white) : hovered ? t.accent : t.labelText;
        QVERIFY(countNear(img, QRect(iconLeft - 1, r.center().y() - 4, 2, 8), icon, 50) > 0);
        if (!near(fill, icon, 16)) // (the dark secondary fills are too close to the idle icon colour to tell)
            QCOMPARE(countNear(img, QRect(iconLeft - 6, r.top() + 4, 4, r.height() - 8), icon, 8), 0);
        QVERIFY(countNear(img, QRect(iconLeft + 20, r.top(), g, r.height()), ink, 40) > 10);
        QCOMPARE(countNear(img, QRect(iconLeft + 20 + g + 3, r.top() + 2, 8, r.height() - 4), ink, 20), 0);
        saveShot(
            img,
            QStringLiteral("account-button-%1").arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-')));
    }

    void closeButton_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("hovered");
        for (bool dark : {false, true})
            for (bool hovered : {false, true})
                QTest::addRow("%s %s", dark ? "dark" : "light", hovered ? "hovered" : "idle") << dark << hovered;
    }
    void closeButton()
    {
        QFETCH(bool, dark);
        QFETCH(bool, hovered);
        LookScope look(dark, false);
        const Theme& t = currentTheme();
        QImage img = canvas();
        const QRect r(100, 20, 28, 28);
        {
            QPainter p(&img);
            drawCloseButton(p, t, r, hovered);
        }
        const QColor cross = hovered ? QColor(0xE8, 0x11, 0x23) : t.hintText;
        QVERIFY2(near(pixelAt(img, r.center().x(), r.center().y()), cross, 40),
                 qPrintable(pixelAt(img, r.center().x(), r.center().y()).name()));
        // The cross is inset 8 px: nothing of it in the corner.
        QCOMPARE(countNear(img, QRect(r.x() + 1, r.y() + 1, 5, 5), cross, 30), 0);
        // The plate reaches 4 px beyond the rect while hovered.
        const QColor plate = pixelAt(img, r.x() - 2, r.center().y());
        if (hovered)
            QVERIFY2(near(plate, dark ? QColor(0x4A, 0x2C, 0x32) : QColor(0xFD, 0xED, 0xED), 2),
                     qPrintable(plate.name()));
        else
            QCOMPARE(plate.alpha(), 0);
        saveShot(
            img,
            QStringLiteral("account-close-%1").arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-')));
    }
};

KTR_TEST_MAIN(TestAccountPaint)
#include "tst_accountpaint.moc"
