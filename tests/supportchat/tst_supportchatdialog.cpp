// The support chat window: its frame, input box, layout, painting, mouse and the picture encoder.

#include "chatroutes.h"
#include "fakeservicehost.h"
#include "looktable.h"
#include "support/chatedit.h"
#include "support/supportchatdialog.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/servicehost.h"
#include "ui/theme.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QTextDocument>

#include <memory>

using Host = ktr::test::FakeServiceHost;
using Msg = SupportChatDialog::ChatMessage;

namespace {

QImage render(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

QImage solid(const QSize& size, const QColor& colour)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

QPixmap solidPixmap(const QSize& size, const QColor& colour = QColor(0x3AA655))
{
    return QPixmap::fromImage(solid(size, colour));
}

bool near(QColor a, QColor b, int tolerance = 6)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// A conversation of n messages, every third with a picture, alternating sides.
QList<Msg> conversation(int n)
{
    QList<Msg> list;
    const QStringList texts{"你好，我的面板打不开了",
                            "请问是哪个版本？",
                            "Version 1.0.0 on Debian 12",
                            "好的，请发一张截图看看",
                            "",
                            "收到，我们会尽快处理。这是一条较长的消息，用来看看换行是否正确。"};
    for (int i = 0; i < n; ++i) {
        Msg m;
        m.mine = i % 2 == 0;
        m.text = texts[i % texts.size()];
        if (i % 3 == 1)
            m.img = QStringLiteral("pic%1.png").arg(i);
        list.append(m);
    }
    return list;
}

} // namespace

class TestSupportChatDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<Host> m_host;
    ktr::test::ChatRoutes m_chat;

private Q_SLOTS:
    void init()
    {
        Lang::setLanguage(0);
        setDarkTheme(false);
        m_host = std::make_unique<Host>(Host::Scheme::Http);
        QVERIFY(m_host->listen());
        qputenv("KTR_SERVICE_HOST", m_host->baseUrl().toString().toUtf8());
        m_chat = ktr::test::ChatRoutes();
        m_chat.install(*m_host);
    }
    void cleanup() { m_host.reset(); }

    void frame()
    {
        SupportChatDialog dlg;
        QVERIFY(dlg.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(dlg.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
        QVERIFY(dlg.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(dlg.size(), QSize(420, 420));
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        QVERIFY(dlg.hasMouseTracking());
        QCOMPARE(dlg.windowTitle(), QStringLiteral("反馈中心"));
        QCOMPARE(dlg.title(), QStringLiteral("青岚舟 · 反馈中心"));
        QVERIFY(!dlg.inputBox()->acceptRichText());
        QCOMPARE(dlg.inputBox()->geometry(), QRect(60, 374, 286, 32));
    }

    // Opened at a point near the screen's edge (a panel standing there), the chat stays whole on the screen.
    void opensWholeOnScreen_data()
    {
        QTest::addColumn<QPoint>("offset"); // from the available area's bottom-right corner
        QTest::newRow("bottom-right corner") << QPoint(-100, -50);
        QTest::newRow("left of the screen") << QPoint(-2000, -500);
    }
    void opensWholeOnScreen()
    {
        QFETCH(QPoint, offset);
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        SupportChatDialog dlg;
        dlg.openAt(avail.bottomRight() + offset);
        QVERIFY(avail.contains(dlg.geometry()));
        dlg.hide();
    }

    // Without a token: only the login hint, nothing requested, loginRequested 150 ms later.
    void openWithoutToken()
    {
        SupportChatDialog dlg;
        QSignalSpy login(&dlg, &SupportChatDialog::loginRequested);
        dlg.openAt(QPoint(5, 5));
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.messages().size(), 1);
        QCOMPARE(dlg.messages().first().text,
                 QStringLiteral("请先登录账户后再使用反馈中心。登录后即可与客服实时对话。"));
        QVERIFY(!dlg.pollTimer()->isActive());
        QCOMPARE(login.size(), 0);
        QVERIFY(login.wait(1000));
        QVERIFY(m_host->requests().isEmpty());
        // With a token the hint is replaced by the conversation, and the poll timer runs while shown.
        dlg.setSession("tok", "alice");
        dlg.openAt(QPoint(5, 5));
        QVERIFY(dlg.pollTimer()->isActive());
        QCOMPARE(dlg.pollTimer()->interval(), 3000);
        QTRY_COMPARE(dlg.messages().size(), 1);
        QTRY_COMPARE(dlg.messages().first().text, QStringLiteral("Hello, how can we help?"));
        QSignalSpy hidden(&dlg, &SupportChatDialog::chatHidden);
        dlg.hide();
        QCOMPARE(hidden.size(), 1);
        QVERIFY(!dlg.pollTimer()->isActive());
    }

    // Paste and drop through insertFromMimeData, and the file picker through the dialog seams.
    void pasteAndPick()
    {
        SupportChatDialog dlg;
        dlg.show();
        ChatEdit* edit = dlg.inputBox();
        QSignalSpy picked(edit, &ChatEdit::imagePicked);

        QMimeData image;
        image.setImageData(solid(QSize(640, 320), Qt::red));
        edit->insertFromMimeData(&image);
        QCOMPARE(picked.size(), 1);
        QCOMPARE(dlg.pendingPicture().size(), QSize(320, 160)); // the thumbnail, 320 on the longer side

        const QString file = ktr::test::freshDir("pics") + "/small.png";
        QVERIFY(solid(QSize(40, 80), Qt::blue).save(file));
        QMimeData urls;
        urls.setUrls({QUrl::fromLocalFile("/nonexistent.png"), QUrl::fromLocalFile(file)});
        QVERIFY(edit->canInsertFromMimeData(&urls));
        edit->insertFromMimeData(&urls);
        QCOMPARE(picked.size(), 2);
        QCOMPARE(dlg.pendingPicture().size(), QSize(160, 320)); // small pictures are enlarged

        QMimeData text;
        text.setText("plain words");
        edit->insertFromMimeData(&text);
        QCOMPARE(picked.size(), 2);
        QCOMPARE(edit->toPlainText(), QStringLiteral("plain words"));

        QString caption, filter;
        ktr::dialogs::Seams seams;
        seams.openFile = [&](QWidget*, const QString& c, const QString&, const QString& f) {
            caption = c;
            filter = f;
            return file;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        dlg.removePendingPicture();
        QTRY_VERIFY(!dlg.isEncoding());
        dlg.pickImageFile();
        QCOMPARE(caption, QStringLiteral("选择图片发送"));
        QCOMPARE(filter, QStringLiteral("图片 (*.png *.jpg *.jpeg *.bmp)"));
        QCOMPARE(dlg.pendingPicture().size(), QSize(160, 320));
        QTRY_VERIFY(dlg.base64Ready());
    }

    // The input area: one line keeps 52, longer text grows it up to 138, the box's bottom stays at 405.
    void inputHeight()
    {
        SupportChatDialog dlg;
        dlg.show();
        ChatEdit* edit = dlg.inputBox();
        edit->setPlainText("short");
        QCOMPARE(dlg.inputHeight(), 52);
        edit->setPlainText("line one\nline two");
        const int two = dlg.inputHeight();
        QVERIFY2(two > 52 && two < 138, qPrintable(QString::number(two)));
        QCOMPARE(two, std::clamp(int(std::ceil(edit->document()->size().height())) + 14, 32, 118) + 20);
        QCOMPARE(edit->geometry().bottom(), 405);
        QCOMPARE(edit->geometry().top(), 426 - two);
        edit->setPlainText(QString(40, 'x').append('\n').repeated(20));
        QCOMPARE(dlg.inputHeight(), 138);
        QCOMPARE(edit->geometry().bottom(), 405);
        edit->clear();
        QCOMPARE(dlg.inputHeight(), 52);
    }

    // Return sends, Shift+Return breaks the line, Esc hides.
    void keys()
    {
        SupportChatDialog dlg;
        dlg.show();
        ChatEdit* edit = dlg.inputBox();
        edit->setPlainText("first");
        edit->moveCursor(QTextCursor::End);
        QTest::keyClick(edit, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(edit->toPlainText(), QStringLiteral("first\n"));
        QTest::keyClick(edit, Qt::Key_Return);
        // No token: the send shows the login hint and keeps the text.
        QCOMPARE(dlg.messages().last().text, QStringLiteral("请先登录账户后再发送消息。"));
        QCOMPARE(edit->toPlainText(), QStringLiteral("first\n"));
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
    }

    // This window's own hints are set in the language of the moment; a later switch re-labels those already
    // shown (the service's own words stay as sent) and the window title.
    void hintsFollowALaterLanguageSwitch_data()
    {
        QTest::addColumn<int>("how");
        QTest::addColumn<QString>("zh");
        QTest::addColumn<QString>("en");
        QTest::newRow("opened signed out") << 0 << "请先登录账户后再使用反馈中心。登录后即可与客服实时对话。"
                                           << "Please sign in before using the Feedback Center. Once signed in, "
                                              "you can chat with support in real time.";
        QTest::newRow("sent signed out") << 1 << "请先登录账户后再发送消息。"
                                         << "Please sign in before sending messages.";
        QTest::newRow("send failed") << 2 << "⚠ 发送失败：网络异常，请稍后重试"
                                     << "⚠ Send failed: Network error. Please try again later.";
        QTest::newRow("send refused by the service") << 3 << "⚠ 发送失败：忙"
                                                     << "⚠ Send failed: 忙";
    }
    void hintsFollowALaterLanguageSwitch()
    {
        QFETCH(int, how);
        QFETCH(QString, zh);
        QFETCH(QString, en);
        if (how == 2)
            m_chat.sendOverride = QJsonObject{{"ok", 0}};
        if (how == 3)
            m_chat.sendOverride = QJsonObject{{"ok", 0}, {"msg", "忙"}};
        SupportChatDialog dlg;
        if (how == 0) {
            dlg.openAt(QPoint(5, 5));
        } else {
            if (how >= 2)
                dlg.setSession("tok", "alice");
            dlg.show();
            dlg.inputBox()->setPlainText("typed");
            dlg.send();
            QTRY_VERIFY(!dlg.isSending());
        }
        QCOMPARE(dlg.messages().last().text, zh);
        Lang::setLanguage(1);
        Lang::notifyChanged();
        QCOMPARE(dlg.messages().last().text, en);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Feedback"));
        Lang::setLanguage(0);
        Lang::notifyChanged();
    }

    // Bubble and picture rectangles of one message.
    void layout_data()
    {
        QTest::addColumn<bool>("mine");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSize>("picture"); // invalid: no picture; empty: not cached yet
        QTest::addColumn<QSize>("pictureBox");
        QTest::addColumn<int>("bubbleHeightWithoutText");
        QTest::newRow("text only, short") << false << "hi" << QSize() << QSize() << 34;
        QTest::newRow("not downloaded yet: 160 x 120") << false << "" << QSize(0, 0) << QSize(160, 120) << 136;
        QTest::newRow("fits") << true << "" << QSize(100, 60) << QSize(100, 60) << 76;
        QTest::newRow("wide: w > 190") << false << "" << QSize(380, 100) << QSize(190, 50) << 66;
        QTest::newRow("very wide: h below 25 becomes 24") << false << "" << QSize(1000, 100) << QSize(190, 24) << 40;
        QTest::newRow("tall: h > 140") << true << "" << QSize(100, 280) << QSize(50, 140) << 156;
        QTest::newRow("very tall: w at least 40") << false << "" << QSize(20, 400) << QSize(40, 140) << 156;
        QTest::newRow("wide and tall") << false << "" << QSize(380, 600) << QSize(88, 140) << 156;
        QTest::newRow("picture with text") << true << "caption" << QSize(100, 60) << QSize(100, 60) << -1;
    }
    void layout()
    {
        QFETCH(bool, mine);
        QFETCH(QString, text);
        QFETCH(QSize, picture);
        QFETCH(QSize, pictureBox);
        QFETCH(int, bubbleHeightWithoutText);
        SupportChatDialog dlg;
        Msg m{mine, text, {}, picture.isValid() ? QStringLiteral("local:1") : QString(), {}};
        if (picture.isValid() && !picture.isEmpty())
            dlg.cachePicture("local:1", solidPixmap(picture));
        dlg.setMessages({m, Msg{false, "next", {}, {}, {}}});
        dlg.layoutMessages();
        QFont f(uiFontFamily());
        f.setPixelSize(12);
        const QFontMetrics fm(f);
        const int th = text.isEmpty() ? 0 : fm.boundingRect(QRect(0, 0, 236, 100000), Qt::TextWordWrap, text).height();
        const int a = int(std::ceil(QFontMetricsF(f).horizontalAdvance(text))) + 22;
        const QRect bubble = dlg.bubbleRects().first();
        const QRect pic = dlg.pictureRects().first();
        QCOMPARE(bubble.y(), 54);
        if (!picture.isValid()) {
            QVERIFY(pic.isNull());
            QCOMPARE(bubble.height(), std::max(th + 20, 34));
            QCOMPARE(bubble.width(), std::min(a, 258));
        } else {
            QCOMPARE(pic.size(), pictureBox);
            QCOMPARE(pic.y(), 62);
            const int expectedWidth = text.isEmpty()                 ? pictureBox.width() + 16
                                      : pictureBox.width() + 16 >= a ? pictureBox.width() + 16
                                                                     : std::min(a, 258);
            QCOMPARE(bubble.width(), expectedWidth);
            QCOMPARE(bubble.height(), text.isEmpty() ? bubbleHeightWithoutText : th + pictureBox.height() + 24);
            QCOMPARE(pic.x(), mine ? 412 - bubble.width() : 24);
        }
        QCOMPARE(bubble.x(), mine ? 404 - bubble.width() : 16);
        QCOMPARE(dlg.bubbleRects()[1].y(), 54 + bubble.height() + 10);
        QCOMPARE(dlg.contentHeight(), dlg.bubbleRects()[1].bottom() + 1 + 10);
    }

    // Hit codes 1 to 4, the thumbnail only while a picture is pending.
    void hits_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<bool>("pending");
        QTest::addColumn<int>("code");
        QTest::newRow("send") << QPoint(383, 390) << false << 1;
        QTest::newRow("close") << QPoint(398, 22) << false << 2;
        QTest::newRow("picture button") << QPoint(34, 390) << false << 3;
        QTest::newRow("thumbnail") << QPoint(40, 330) << true << 4;
        QTest::newRow("thumbnail area without picture") << QPoint(40, 330) << false << 0;
        QTest::newRow("header") << QPoint(200, 20) << false << 0;
        QTest::newRow("message area") << QPoint(200, 200) << true << 0;
    }
    void hits()
    {
        QFETCH(QPoint, point);
        QFETCH(bool, pending);
        QFETCH(int, code);
        SupportChatDialog dlg;
        if (pending)
            dlg.attachImage(solid(QSize(20, 20), Qt::red));
        QCOMPARE(dlg.hitTest(point), code);
        QTRY_VERIFY(!dlg.isEncoding());
    }

    // Clicks: a released control runs; the thumbnail's cross removes the picture; the close button hides.
    void clicks()
    {
        SupportChatDialog dlg;
        dlg.show();
        dlg.attachImage(solid(QSize(20, 20), Qt::red));
        QTest::mouseClick(&dlg, Qt::LeftButton, {}, QPoint(40, 330));
        QVERIFY(dlg.pendingPicture().isNull());
        QTest::mouseClick(&dlg, Qt::LeftButton, {}, QPoint(398, 22));
        QVERIFY(!dlg.isVisible());
        QTRY_VERIFY(!dlg.isEncoding());
    }

    // A click on a picture opens "/uploads/KEY" only for keys the download would fetch.
    void pictureClick_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("opens");
        QTest::newRow("downloaded") << "shot_1.png" << true;
        QTest::newRow("local") << "local:3" << false;
        QTest::newRow("space") << "a b.png" << false;
        QTest::newRow("query") << "a.png?x=1" << false;
        QTest::newRow("two dots") << "..png" << false;
    }
    void pictureClick()
    {
        QFETCH(QString, key);
        QFETCH(bool, opens);
        QList<QUrl> opened;
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl& url) {
            opened.append(url);
            return true;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        SupportChatDialog dlg;
        dlg.show();
        dlg.setMessages({Msg{false, "", {}, key, {}}});
        dlg.cachePicture(key, solidPixmap(QSize(100, 80)));
        dlg.grab();
        const QRect pic = dlg.pictureRects().first();
        QTest::mouseClick(&dlg, Qt::LeftButton, {}, pic.center() - QPoint(0, dlg.maxScroll() - dlg.scrollOffset()));
        QCOMPARE(opened, opens ? QList<QUrl>{ktr::serviceUrl("/uploads/" + key)} : QList<QUrl>());
    }

    // The wheel scrolls 48 pixels a step, up to the oldest message and back down to 0.
    void wheel()
    {
        SupportChatDialog dlg;
        dlg.show();
        dlg.setMessages(QList<Msg>(30, Msg{false, "message", {}, {}, {}}));
        dlg.grab();
        const int maxS = dlg.maxScroll();
        QCOMPARE(maxS, dlg.contentHeight() + 52 - 364);
        const auto turn = [&](int delta) {
            QWheelEvent e(QPointF(200, 200), dlg.mapToGlobal(QPointF(200, 200)), {}, QPoint(0, delta), Qt::NoButton, {},
                          Qt::NoScrollPhase, false);
            QApplication::sendEvent(&dlg, &e);
            dlg.grab();
        };
        turn(120);
        QCOMPARE(dlg.scrollOffset(), 48);
        for (int i = 0; i < 100; ++i)
            turn(120);
        QCOMPARE(dlg.scrollOffset(), maxS);
        turn(-120);
        QCOMPARE(dlg.scrollOffset(), maxS - 48);
        for (int i = 0; i < 100; ++i)
            turn(-120);
        QCOMPARE(dlg.scrollOffset(), 0);
    }

    // Painting: the frame and header in the palette, own bubbles blue, support bubbles grey, the send button.
    void painting_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void painting()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        SupportChatDialog dlg;
        dlg.setMessages({Msg{false, "support", {}, {}, {}}, Msg{true, "mine", {}, {}, {}}});
        const QImage img = render(dlg);
        const Theme& t = currentTheme();
        QVERIFY(near(img.pixelColor(330, 30), t.surface));
        QVERIFY(near(img.pixelColor(330, 46), t.windowBackground));
        QCOMPARE(img.pixelColor(0, 0).alpha(), 0); // the rounded corner is transparent
        const QRect support = dlg.bubbleRects()[0];
        const QRect mine = dlg.bubbleRects()[1];
        const int shift = dlg.maxScroll() - dlg.scrollOffset();
        // Support bubbles and the picture button are grey of the theme: light on light, dark on dark.
        const QColor grey = dark ? QColor(0x2C323C) : QColor(0xF0F2F7);
        QVERIFY(near(img.pixelColor(support.left() + 4, support.center().y() - shift), grey));
        QVERIFY(near(img.pixelColor(mine.right() - 4, mine.center().y() - shift), QColor(0x2F6FED)));
        QVERIFY(near(img.pixelColor(356, 390), QColor(0x2F6FED)));
        QVERIFY(near(img.pixelColor(20, 390), grey));
        // The input box too (its right end, away from the placeholder).
        const QRect input = dlg.inputBox()->geometry();
        const QColor inputFill = img.pixelColor(input.right() - 8, input.center().y());
        QVERIFY2(dark ? inputFill.lightnessF() < 0.3 : inputFill.lightnessF() > 0.9, qPrintable(inputFill.name()));
        setDarkTheme(false);
    }

    // Only one encoder thread runs: a picture attached meanwhile waits, and only the newest is sent.
    void encoding()
    {
        SupportChatDialog dlg;
        dlg.show();
        dlg.attachImage(solid(QSize(3000, 2000), Qt::red));
        QVERIFY(dlg.isEncoding());
        dlg.attachImage(solid(QSize(30, 20), Qt::green));
        dlg.attachImage(solid(QSize(40, 20), Qt::blue));
        QVERIFY(!dlg.base64Ready());
        QTRY_VERIFY(dlg.base64Ready() && !dlg.isEncoding());
        const QImage sent = QImage::fromData(QByteArray::fromBase64(dlg.pendingBase64().toLatin1()));
        QCOMPARE(sent.size(), QSize(40, 20));
        QCOMPARE(sent.pixelColor(5, 5), QColor(Qt::blue));

        // A big picture is sent at most 1280 on its longer side.
        dlg.attachImage(solid(QSize(3000, 2000), Qt::red));
        QTRY_VERIFY(dlg.base64Ready());
        QCOMPARE(QImage::fromData(QByteArray::fromBase64(dlg.pendingBase64().toLatin1())).size(), QSize(1280, 853));

        // Removing the picture while its encoding runs leaves nothing behind.
        dlg.attachImage(solid(QSize(3000, 2000), Qt::red));
        QVERIFY(dlg.isEncoding());
        dlg.removePendingPicture();
        QTRY_VERIFY(!dlg.isEncoding());
        QTest::qWait(20);
        QVERIFY(dlg.pendingPicture().isNull());
        QVERIFY(dlg.pendingBase64().isEmpty());
        QVERIFY(!dlg.base64Ready());
    }

    // Sending while the picture is still being encoded adds a hint and keeps both.
    void sendWhileEncoding()
    {
        SupportChatDialog dlg;
        dlg.setSession("tok", "alice");
        dlg.show();
        dlg.attachImage(solid(QSize(3000, 2000), Qt::red));
        dlg.inputBox()->setPlainText("with picture");
        dlg.send();
        QCOMPARE(dlg.messages().last().text, QStringLiteral("图片正在处理中，请稍候再发送。"));
        QCOMPARE(dlg.inputBox()->toPlainText(), QStringLiteral("with picture"));
        QVERIFY(!dlg.pendingPicture().isNull());
        QTRY_VERIFY(!dlg.isEncoding());
    }

    // A failed send puts the picture back, ready to send, but not the text.
    void failedSendRestoresPicture()
    {
        m_chat.sendOverride = QJsonObject{{"ok", 0}, {"msg", "busy"}};
        SupportChatDialog dlg;
        dlg.setSession("tok", "alice");
        dlg.show();
        dlg.attachImage(solid(QSize(50, 50), Qt::red));
        QTRY_VERIFY(dlg.base64Ready());
        const QString base64 = dlg.pendingBase64();
        dlg.inputBox()->setPlainText("typed");
        dlg.send();
        QVERIFY(dlg.pendingPicture().isNull());
        QCOMPARE(dlg.messages().last().img, QStringLiteral("local:1"));
        QVERIFY(dlg.pictures().contains("local:1"));
        QTRY_VERIFY(!dlg.isSending());
        QCOMPARE(dlg.pendingPicture().size(), QSize(320, 320));
        QCOMPARE(dlg.pendingBase64(), base64);
        QVERIFY(dlg.base64Ready());
        QVERIFY(dlg.inputBox()->toPlainText().isEmpty());
        QVERIFY(!dlg.pictures().contains("local:1"));
        QCOMPARE(dlg.messages().size(), 1);
        QCOMPARE(dlg.messages().last().text, QStringLiteral("⚠ 发送失败：busy"));
    }

    // The input box's placeholder shows whole on its one line, in either language.
    void placeholderFits_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("zh") << 0;
        QTest::newRow("en") << 1;
    }
    void placeholderFits()
    {
        QFETCH(int, language);
        Lang::setLanguage(language);
        SupportChatDialog dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const ChatEdit* box = dlg.inputBox();
        const int room = box->viewport()->width() - 2 * int(box->document()->documentMargin());
        const int needed = box->fontMetrics().horizontalAdvance(box->placeholderText());
        Lang::setLanguage(0);
        QVERIFY2(needed <= room, qPrintable(QStringLiteral("%1 px for %2 px").arg(needed).arg(room)));
    }

    // 50 messages with pictures, in both palettes and both languages, saved for a look.
    void shots_data() { ktr::test::addThemeAndLanguageRows(); }
    void shots()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        SupportChatDialog dlg;
        QList<Msg> list = conversation(50);
        const QList<QSize> sizes{QSize(300, 200), QSize(120, 90), QSize(800, 60), QSize(90, 300)};
        for (int i = 0; i < list.size(); ++i) {
            if (!list[i].img.isEmpty()) {
                QImage pic(sizes[i % sizes.size()], QImage::Format_RGB32);
                pic.fill(QColor::fromHsv((i * 37) % 360, 120, 220));
                dlg.cachePicture(list[i].img, QPixmap::fromImage(SupportChatDialog::fitPicture(pic, 1.0)));
            }
        }
        dlg.setMessages(list);
        dlg.attachImage(solid(QSize(200, 150), QColor(0xF4A63A)));
        dlg.inputBox()->setPlainText(language ? "Here is the screenshot" : "这是截图");
        const QImage bottom = render(dlg);
        QWheelEvent up(QPointF(200, 200), QPointF(200, 200), {}, QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase,
                       false);
        for (int i = 0; i < 6; ++i)
            QApplication::sendEvent(&dlg, &up);
        const QImage scrolled = render(dlg);
        QVERIFY(bottom != scrolled);
        ktr::test::saveShot(bottom, QStringLiteral("supportchat-%1").arg(QTest::currentDataTag()));
        ktr::test::saveShot(scrolled, QStringLiteral("supportchat-%1-scrolled").arg(QTest::currentDataTag()));
        QTRY_VERIFY(!dlg.isEncoding());
        Lang::setLanguage(0);
        setDarkTheme(false);
    }
};

KTR_TEST_MAIN(TestSupportChatDialog)
#include "tst_supportchatdialog.moc"
