// The message card and the hint card: their build, their answers (reached through the card runner and
// through a real exec), their look in both palettes and languages.
#include "looktable.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/hintcarddialog.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/msgdialog.h"
#include "ui/settingskit.h"
#include "ui/theme.h"

#include <QApplication>
#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <memory>

namespace {

QList<QPushButton*> buttonsOf(QDialog& card)
{
    QList<QPushButton*> list = card.findChildren<QPushButton*>();
    std::sort(list.begin(), list.end(), [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
    return list;
}

// A runner that clicks the button with this text, or rejects when there is none.
CardRunner clickButton(const QString& text, QString* seenTitle = nullptr, QPixmap* seenIcon = nullptr)
{
    return [=](QDialog& card) {
        card.show();
        if (seenTitle)
            if (auto* t = card.findChild<QLabel*>(QStringLiteral("msgTitle")))
                *seenTitle = t->text();
        if (seenIcon)
            if (auto* i = card.findChild<QLabel*>(QStringLiteral("msgIcon")))
                *seenIcon = i->pixmap();
        for (QPushButton* b : card.findChildren<QPushButton*>())
            if (b->text() == text) {
                b->click();
                return card.result();
            }
        card.reject();
        return card.result();
    };
}

void checkCardFrame(QDialog& card, const QString& cardName)
{
    QVERIFY(card.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(card.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(card.testAttribute(Qt::WA_TranslucentBackground));
    QVERIFY(card.isModal());
    QWidget* inner = card.findChild<QWidget*>(cardName);
    QVERIFY(inner);
    QVERIFY(qobject_cast<QGraphicsDropShadowEffect*>(inner->graphicsEffect()));
    QVERIFY(inner->styleSheet().contains(QStringLiteral("border:1px solid")));
    QVERIFY(inner->styleSheet().contains(QStringLiteral("border-radius")));
}

QImage render(QWidget& w)
{
    w.show();
    QApplication::processEvents();
    return w.grab().toImage();
}

} // namespace

class TestCards : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        setDarkTheme(false);
        Lang::setLanguage(0);
    }

    void msgCardBuild()
    {
        MsgDialog card(nullptr, 1, QStringLiteral("还原快照"), QStringLiteral("确定继续吗？"),
                       {QStringLiteral("否"), QStringLiteral("是")}, 1);
        checkCardFrame(card, QStringLiteral("msgCard"));
        QCOMPARE(card.width(), 420);
        QCOMPARE(card.clickedIndex(), 0);
        const QList<QPushButton*> buttons = buttonsOf(card);
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(buttons[0]->text(), QStringLiteral("否"));
        QVERIFY(buttons[1]->styleSheet().contains(QStringLiteral("background:#0067C0")));
        QVERIFY(buttons[0]->styleSheet().contains(QStringLiteral("background:#F2F2F2")));
        QCOMPARE(buttons[0]->height(), 32);
        QVERIFY(buttons[0]->width() >= 86);
    }

    // A long text of several paragraphs with an unbroken path is shown whole: the label is as tall as its
    // wrapped text at the width it gets, its first and last lines inside the card.
    void longTextShownWhole()
    {
        const QString text = QStringLiteral(
            "上次还原快照时程序意外结束，数据目录可能只还原了一部分。\n回滚目录是完整的：它保存着还原替换下的原有文件和"
            "还原新增文件的清单：\n"
            "/home/someone/.local/share/Kestrune/"
            "KestrunePanel.__restore_bak\n\n是否现在恢复？\n选择“否”将把该目录移到一旁保留，不做任何删除。");
        MsgDialog card(nullptr, 1, QStringLiteral("发现未完成的还原"), text,
                       {QStringLiteral("否"), QStringLiteral("是")}, 1);
        card.show();
        QVERIFY(QTest::qWaitForWindowExposed(&card));
        const QLabel* label = card.findChild<QLabel*>(QStringLiteral("msgText"));
        QVERIFY(label);
        QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                 qPrintable(QStringLiteral("%1 < %2").arg(label->height()).arg(label->heightForWidth(label->width()))));
        const QRect inCard(label->mapTo(&card, QPoint(0, 0)), label->size());
        QVERIFY(card.rect().contains(inCard));
    }

    void primaryOutsideList()
    {
        MsgDialog card(nullptr, 0, QStringLiteral("t"), QStringLiteral("x"), {QStringLiteral("a"), QStringLiteral("b")},
                       5);
        for (QPushButton* b : buttonsOf(card))
            QVERIFY(b->styleSheet().contains(QStringLiteral("background:#F2F2F2")));
    }

    void centredOnParent()
    {
        QWidget parent;
        parent.setGeometry(100, 200, 801, 601);
        MsgDialog card(&parent, 0, QStringLiteral("t"), QStringLiteral("x"), {QStringLiteral("确定")}, 0);
        QCOMPARE(card.pos(), QPoint((100 + 900) / 2 - card.width() / 2, (200 + 800) / 2 - card.height() / 2));
    }

    // A card centred on a window near or past a screen edge (the panel docked half into the edge, beside
    // the tray) is moved whole into the available area when it is shown; one that fits stays centred.
    void keptOnScreen_data()
    {
        QTest::addColumn<QRect>("parentFrac"); // the parent in thousandths of the available area
        QTest::addColumn<bool>("hint");        // the hint card instead of the message card
        QTest::addColumn<bool>("moved");
        QTest::addColumn<int>("rightEdgeOffset"); // instead of parentFrac: the centred card's right edge this far
                                                  // past the area's right edge (0 = exactly at it)
        QTest::newRow("message, inside") << QRect(250, 250, 500, 500) << false << false << -1;
        QTest::newRow("message, right edge exactly at the area's") << QRect() << false << false << 0;
        QTest::newRow("message, one pixel past the right edge") << QRect() << false << true << 1;
        QTest::newRow("message, past the right edge") << QRect(800, 300, 400, 400) << false << true << -1;
        QTest::newRow("message, past the left edge") << QRect(-200, 300, 400, 400) << false << true << -1;
        QTest::newRow("message, docked into the top") << QRect(300, -380, 400, 400) << false << true << -1;
        QTest::newRow("message, docked into the bottom") << QRect(300, 980, 400, 400) << false << true << -1;
        QTest::newRow("hint, past the bottom right corner") << QRect(850, 850, 400, 400) << true << true << -1;
    }
    void keptOnScreen()
    {
        QFETCH(QRect, parentFrac);
        QFETCH(bool, hint);
        QFETCH(bool, moved);
        QFETCH(int, rightEdgeOffset);
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        const auto at = [&](int frac, int span, int origin) { return origin + span * frac / 1000; };
        QWidget parent;
        parent.setGeometry(at(parentFrac.x(), avail.width(), avail.x()), at(parentFrac.y(), avail.height(), avail.y()),
                           avail.width() * parentFrac.width() / 1000, avail.height() * parentFrac.height() / 1000);
        if (rightEdgeOffset >= 0) {
            // A 400 px parent centres the 420 px card 11 px left of its own left edge.
            parent.setGeometry(avail.right() - 408 + rightEdgeOffset, avail.top() + 100, 400, 400);
        }
        std::unique_ptr<QDialog> card;
        if (hint)
            card = std::make_unique<HintCardDialog>(QStringLiteral("t"), QStringLiteral("x"), QStringLiteral("ok"),
                                                    QString(), &parent);
        else
            card = std::make_unique<MsgDialog>(&parent, 0, QStringLiteral("t"), QStringLiteral("x"),
                                               QStringList{QStringLiteral("确定")}, 0);
        // Where the card asked to be, centred on its parent (the hint card: by the toolkit, on show).
        card->show();
        const QRect shown = card->frameGeometry();
        QVERIFY2(
            avail.contains(shown),
            qPrintable(
                QStringLiteral("%1,%2 %3x%4").arg(shown.x()).arg(shown.y()).arg(shown.width()).arg(shown.height())));
        const QRect g = parent.geometry();
        const QPoint centred((g.left() + g.right()) / 2 - card->width() / 2,
                             (g.top() + g.bottom()) / 2 - card->height() / 2);
        if (!moved && !hint)
            QCOMPARE(card->pos(), centred);
        else if (moved)
            QVERIFY(card->pos() != centred);
        card->hide();
    }

    void icons_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QColor>("body"); // at (26, 26): inside the circle or the triangle, off the mark
        QTest::newRow("information") << 0 << QColor(0x00, 0x67, 0xC0);
        QTest::newRow("question") << 1 << QColor(0x00, 0x67, 0xC0);
        QTest::newRow("warning") << 2 << QColor(0xF2, 0xC8, 0x11);
        QTest::newRow("unknown") << 7 << QColor(0x00, 0x67, 0xC0);
    }
    void icons()
    {
        QFETCH(int, kind);
        QFETCH(QColor, body);
        const QImage img = MsgDialog::iconPixmap(kind).toImage();
        QCOMPARE(img.size(), QSize(36, 36));
        QCOMPARE(img.pixelColor(26, 26), body);
        QCOMPARE(qAlpha(img.pixel(1, 1)), 0);
        const QImage info = MsgDialog::iconPixmap(0).toImage();
        if (kind == 0 || kind == 7) {
            QCOMPARE(img, info);
            QCOMPARE(img.pixelColor(18, 21), QColor(Qt::white)); // the stroke of the "i"
            QCOMPARE(img.pixelColor(18, 12), QColor(Qt::white)); // its dot
        } else {
            QVERIFY(img != info);
        }
        if (kind == 2)
            QCOMPARE(img.pixelColor(18, 18), QColor(0x33, 0x33, 0x33)); // the "!"
    }

    void askAnswers_data()
    {
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes") << QStringLiteral("是") << 1;
        QTest::newRow("no") << QStringLiteral("否") << 0;
        QTest::newRow("dismissed") << QString() << -1;
        QTest::newRow("own yes text") << QStringLiteral("删除") << 1;
    }
    void askAnswers()
    {
        QFETCH(QString, click);
        QFETCH(int, answer);
        const bool own = click == QStringLiteral("删除");
        ScopedCardRunner runner(clickButton(click));
        QCOMPARE(MsgDialog::ask(nullptr, QStringLiteral("删除快照"), QStringLiteral("永久删除"),
                                own ? QStringLiteral("删除") : QString(), own ? QStringLiteral("取消") : QString()),
                 answer);
    }

    // Without a runner the card runs a real exec: Escape rejects, and ask says -1, not 0.
    void realExec()
    {
        QTimer::singleShot(0, [] {
            QWidget* modal = QApplication::activeModalWidget();
            QVERIFY(qobject_cast<MsgDialog*>(modal));
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        QCOMPARE(MsgDialog::ask(nullptr, QStringLiteral("t"), QStringLiteral("x")), -1);

        QTimer::singleShot(0, [] {
            QWidget* modal = QApplication::activeModalWidget();
            QVERIFY(modal);
            buttonsOf(*qobject_cast<QDialog*>(modal)).at(1)->click();
        });
        QCOMPARE(MsgDialog::ask(nullptr, QStringLiteral("t"), QStringLiteral("x")), 1);

        MsgDialog empty(nullptr, 0, QStringLiteral("t"), QStringLiteral("x"), {}, 0);
        QVERIFY(buttonsOf(empty).isEmpty());
        QTimer::singleShot(0, &empty, [&empty] { QTest::keyClick(&empty, Qt::Key_Escape); });
        QCOMPARE(empty.exec(), int(QDialog::Rejected));
    }

    void infoCard_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("button");
        QTest::newRow("zh") << 0 << QStringLiteral("确定");
        QTest::newRow("en") << 1 << QStringLiteral("OK");
    }
    void infoCard()
    {
        QFETCH(int, language);
        QFETCH(QString, button);
        Lang::setLanguage(language);
        QStringList seen;
        ScopedCardRunner runner([&](QDialog& card) {
            for (QPushButton* b : buttonsOf(card))
                seen << b->text();
            buttonsOf(card).constFirst()->click();
            return card.result();
        });
        MsgDialog::showInfoCard(nullptr, QStringLiteral("备份与恢复"), QStringLiteral("已创建备份快照。"));
        QCOMPARE(seen, QStringList{button});
        seen.clear();
        MsgDialog::showInfoCard(nullptr, QStringLiteral("备份与恢复"), QStringLiteral("x"), QStringLiteral("知道了"));
        QCOMPARE(seen, QStringList{QStringLiteral("知道了")});
    }

    // After installMessageCards the process-wide seams show the message card.
    void defaultCards()
    {
        installMessageCards();
        QString title;
        QPixmap icon;
        {
            ScopedCardRunner runner(clickButton(QStringLiteral("是"), &title));
            QCOMPARE(ktr::dialogs::question(nullptr, QStringLiteral("清空分组"), QStringLiteral("确定？")), 1);
            QCOMPARE(title, QStringLiteral("清空分组"));
        }
        for (const auto& [kind, cardKind] : {std::pair{0, 0}, {1, 2}, {2, 2}}) {
            ScopedCardRunner runner(clickButton(QStringLiteral("确定"), &title, &icon));
            ktr::dialogs::information(nullptr, QStringLiteral("提示"), QStringLiteral("x"), kind);
            QCOMPARE(title, QStringLiteral("提示"));
            QCOMPARE(icon.toImage(), MsgDialog::iconPixmap(cardKind).toImage());
        }
        ktr::dialogs::setDefaultCards({}, {});
    }

    // The message card follows the theme (white light, #2B2B2B dark); rendered for both languages.
    void msgCardLook_data() { ktr::test::addThemeAndLanguageRows(); }
    void msgCardLook()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        const struct
        {
            int kind;
            const char* title;
            const char* text;
            QStringList buttons;
        } cards[] = {
            {0, "备份与恢复", "已创建备份快照。", {Lang::tr("确定")}},
            {1, "还原快照", "还原将覆盖当前所有设置，确定继续吗？", {Lang::tr("否"), Lang::tr("是")}},
            {2, "删除快照", "该备份快照将被永久删除，无法恢复。", {Lang::tr("取消"), Lang::tr("删除")}},
        };
        for (const auto& c : cards) {
            MsgDialog card(nullptr, c.kind, Lang::tr(c.title), Lang::tr(c.text), c.buttons, int(c.buttons.size()) - 1);
            const QImage img = render(card);
            ktr::test::saveShot(img, QStringLiteral("msg-%1-%2").arg(c.kind).arg(QTest::currentDataTag()));
            QWidget* inner = card.findChild<QWidget*>(QStringLiteral("msgCard"));
            const QPoint inside = inner->geometry().topLeft() + QPoint(inner->width() - 30, 12);
            QCOMPARE(img.pixelColor(inside), dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(Qt::white));
            QCOMPARE(qAlpha(img.pixel(1, 1)), 0); // outside the card: translucent
            const QPoint icon = card.findChild<QLabel*>(QStringLiteral("msgIcon"))->mapTo(&card, QPoint(26, 26));
            QCOMPARE(img.pixelColor(icon), MsgDialog::iconPixmap(c.kind).toImage().pixelColor(26, 26));
            const QPushButton* primary = buttonsOf(card).constLast();
            QCOMPARE(img.pixelColor(primary->mapTo(&card, QPoint(4, 4))), QColor(0x00, 0x67, 0xC0));
        }
    }

    void hintCardBuild()
    {
        HintCardDialog card(backgroundHintTitle(), backgroundHintText(), QStringLiteral("选择文件"),
                            QStringLiteral("取消"));
        checkCardFrame(card, QStringLiteral("hintCard"));
        QCOMPARE(card.width(), 476);
        QCOMPARE(card.findChild<QLabel*>(QStringLiteral("hintBody"))->textFormat(), Qt::RichText);
        QVERIFY(!card.findChild<QLabel*>(QStringLiteral("hintLogo"))->pixmap().isNull());
        QVERIFY(card.findChild<QPushButton*>(QStringLiteral("hintPrimary"))->isDefault());
        QVERIFY(card.findChild<QPushButton*>(QStringLiteral("hintSecondary")));
        HintCardDialog single(QStringLiteral("t"), QStringLiteral("b"), QStringLiteral("好"), QString());
        QVERIFY(!single.findChild<QPushButton*>(QStringLiteral("hintSecondary")));
        QCOMPARE(single.findChildren<QPushButton*>().size(), 2); // the primary button and the close cross
        // The wrapped body is shown whole at the card's fixed width.
        card.show();
        QApplication::processEvents();
        auto* body = card.findChild<QLabel*>(QStringLiteral("hintBody"));
        QVERIFY(body->height() >= body->heightForWidth(body->width()));
    }

    void hintCardAnswers_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("secondary");
        QTest::addColumn<int>("result");
        QTest::newRow("primary") << "hintPrimary" << true << int(QDialog::Accepted);
        QTest::newRow("secondary") << "hintSecondary" << true << int(QDialog::Rejected);
        QTest::newRow("cross") << "hintClose" << true << int(QDialog::Rejected);
        QTest::newRow("cross, one button") << "hintClose" << false << int(QDialog::Rejected);
    }
    void hintCardAnswers()
    {
        QFETCH(QString, button);
        QFETCH(bool, secondary);
        QFETCH(int, result);
        HintCardDialog card(QStringLiteral("t"), QStringLiteral("b"), QStringLiteral("选择文件"),
                            secondary ? QStringLiteral("取消") : QString());
        ScopedCardRunner runner([&](QDialog& c) {
            c.show();
            c.findChild<QPushButton*>(button)->click();
            return c.result();
        });
        QCOMPARE(execCard(card), result);
    }

    // The header (top 64 px) drags the card; a press on the body does not.
    void hintCardDrag()
    {
        HintCardDialog card(QStringLiteral("t"), backgroundHintText(), QStringLiteral("好"), QString());
        card.move(200, 200);
        card.show();
        QVERIFY(QTest::qWaitForWindowExposed(&card));
        const QPoint start = card.pos();
        QTest::mousePress(&card, Qt::LeftButton, {}, QPoint(120, 30));
        QMouseEvent move(QEvent::MouseMove, QPointF(160, 50), card.mapToGlobal(QPointF(160, 50)), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(&card, &move);
        QTest::mouseRelease(&card, Qt::LeftButton, {}, QPoint(160, 50));
        QCOMPARE(card.pos(), start + QPoint(40, 20));

        const QPoint before = card.pos();
        QTest::mousePress(&card, Qt::LeftButton, {}, QPoint(120, 100));
        QMouseEvent move2(QEvent::MouseMove, QPointF(160, 140), card.mapToGlobal(QPointF(160, 140)), Qt::NoButton,
                          Qt::LeftButton, {});
        QApplication::sendEvent(&card, &move2);
        QTest::mouseRelease(&card, Qt::LeftButton, {}, QPoint(160, 140));
        QCOMPARE(card.pos(), before);
    }

    void hintText_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QStringList>("parts");
        QTest::newRow("zh") << 0
                            << QStringList{QStringLiteral("<b>背景支持格式</b>"),
                                           QStringLiteral("<b>建议尺寸比例</b>")};
        QTest::newRow("en") << 1 << QStringList{QStringLiteral("<b>Supported Background Formats</b>")};
    }
    void hintText()
    {
        QFETCH(int, language);
        QFETCH(QStringList, parts);
        Lang::setLanguage(language);
        const QString text = backgroundHintText();
        QVERIFY(text.startsWith(QStringLiteral("<div style=\"line-height:168%\"><b>")));
        QCOMPARE(text.count(QStringLiteral("<br>· ")), 5);
        for (const QString& part : parts)
            QVERIFY2(text.contains(part), qPrintable(part));
        for (const char* zh : {"静态图：PNG / JPG / BMP", "横屏面板 16:9（如 1920×1080）"})
            QVERIFY(text.contains(Lang::tr(zh)));
        if (language == 1)
            QVERIFY(!text.contains(QStringLiteral("建议")));
    }

    // The preview writes the card; its fill follows the palette.
    void hintCardLook_data() { ktr::test::addThemeAndLanguageRows(); }
    void hintCardLook()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        const QString path = ktr::test::testRoot() + QStringLiteral("/hint-bg.png");
        QFile::remove(path);
        QWidget parent;
        previewBackgroundHintCard(&parent, path);
        const QImage img(path);
        QVERIFY(!img.isNull());
        ktr::test::saveShot(img, QStringLiteral("hint-bg-%1").arg(QTest::currentDataTag()));
        QCOMPARE(img.width(), 476);
        QCOMPARE(img.pixelColor(476 - 40, 40), dark ? QColor(0x25, 0x2A, 0x33) : QColor(Qt::white));
        QCOMPARE(qAlpha(img.pixel(2, 2)), 0);
        // The primary button, bottom right, in the accent colour.
        bool accent = false;
        for (int y = img.height() - 70; y < img.height() - 16 && !accent; ++y)
            accent = img.pixelColor(476 - 50, y) == dialogRoles().accent;
        QVERIFY(accent);
        QCOMPARE(parent.findChildren<HintCardDialog*>().size(), 0); // destroyed after the grab
    }
};

KTR_TEST_MAIN(TestCards)
#include "tst_cards.moc"
