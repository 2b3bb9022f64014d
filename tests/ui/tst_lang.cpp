// Behaviour of the language switch and of Lang::tr.

#include "testenv.h"
#include "ui/lang.h"
#include "ui/qtlanguage.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QPushButton>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class TestLang : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        Lang::setLanguage(0);
        Lang::setChangedHandler({});
    }

    // Runs first: nothing is registered yet in this process.
    void notifyWithoutHandlerDoesNothing()
    {
        Lang::notifyChanged();
        QCOMPARE(Lang::language(), 0);
    }

    void setLanguage_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("english") << 1 << 1;
        QTest::newRow("chinese") << 0 << 0;
        QTest::newRow("two") << 2 << 0;
        QTest::newRow("minus one") << -1 << 0;
    }
    void setLanguage()
    {
        QFETCH(int, value);
        QFETCH(int, expected);
        Lang::setLanguage(1 - expected); // start from the other language
        Lang::setLanguage(value);
        QCOMPARE(Lang::language(), expected);
        QCOMPARE(Lang::isEnglish(), expected == 1);
        QCOMPARE(Lang::tr("设置"), expected == 1 ? QStringLiteral("Settings") : QStringLiteral("设置"));
    }

    void translate_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto zh = [](const char* s) { return QString::fromUtf8(s); };
        QTest::newRow("chinese mode keeps a key") << 0 << zh("设置") << zh("设置");
        QTest::newRow("chinese mode keeps a drive label") << 0 << zh("本地磁盘 (D:)") << zh("本地磁盘 (D:)");
        QTest::newRow("key") << 1 << zh("设置") << zh("Settings");
        QTest::newRow("placeholder kept") << 1 << zh("欢迎你，%1") << zh("Welcome, %1");
        QTest::newRow("line break in key") << 1 << zh("日志文件: %1\n") << zh("Log file: %1\n");
        QTest::newRow("spaces inside key") << 1 << zh("  · 已隐藏") << zh("  · Hidden");
        QTest::newRow("not in table") << 1 << zh("这句话不在表里") << zh("这句话不在表里");
        QTest::newRow("trailing space") << 1 << zh("设置 ") << zh("设置 ");
        QTest::newRow("leading space") << 1 << zh(" 设置") << zh(" 设置");
        QTest::newRow("case differs") << 1 << zh("deze.EXE") << zh("deze.EXE");
        QTest::newRow("drive label") << 1 << zh("本地磁盘 (D:)") << zh("Local Disk (D:)");
        QTest::newRow("drive label with name") << 1 << zh("本地磁盘 (系统 C:)") << zh("Local Disk (系统 C:)");
        QTest::newRow("drive label without parenthesis") << 1 << zh("本地磁盘 (D:") << zh("本地磁盘 (D:");
        QTest::newRow("drive placeholder key") << 1 << zh("本地磁盘 (%1:)") << zh("Local Disk (%1:)");
        QTest::newRow("plain local disk") << 1 << zh("本地磁盘") << zh("Local Disk");
        QTest::newRow("empty") << 1 << QString() << QString();
    }
    void translate()
    {
        QFETCH(int, language);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        Lang::setLanguage(language);
        QCOMPARE(Lang::tr(text), expected);
        const QByteArray utf8 = text.toUtf8();
        QCOMPARE(Lang::tr(utf8.constData()), expected);
        QCOMPARE(Lang::tr(text.constData()), expected); // NUL-terminated UTF-16
    }

    void nullPointersGiveEmptyText()
    {
        Lang::setLanguage(1);
        QVERIFY(Lang::tr(static_cast<const char*>(nullptr)).isEmpty());
        QVERIFY(Lang::tr(static_cast<const QChar*>(nullptr)).isEmpty());
        Lang::setLanguage(0);
        QVERIFY(Lang::tr(static_cast<const char*>(nullptr)).isEmpty());
        QVERIFY(Lang::tr(static_cast<const QChar*>(nullptr)).isEmpty());
    }

    void placeholdersAreFilledAfterTranslation()
    {
        Lang::setLanguage(1);
        QCOMPARE(Lang::tr("已清除 %1 个失效图标").arg(3), QStringLiteral("Removed 3 broken icons"));
    }

    // A held text is translated when shown, so a switch after it was set still re-labels it.
    void heldTextsFollowTheLanguage_data()
    {
        QTest::addColumn<LangText>("held");
        QTest::addColumn<QString>("zh");
        QTest::addColumn<QString>("en");
        QTest::newRow("plain") << Lang::later("解压失败") << "解压失败"
                               << "Extraction failed";
        QTest::newRow("value") << Lang::later("下载失败（服务器 HTTP %1）", {QStringLiteral("503")})
                               << "下载失败（服务器 HTTP 503）"
                               << "Download failed (server HTTP 503)";
        QTest::newRow("value holding a placeholder")
            << Lang::later("已清除 %1 个失效图标", {QStringLiteral("%2")}) << "已清除 %2 个失效图标"
            << "Removed %2 broken icons";
        QTest::newRow("text from elsewhere") << Lang::later(QStringLiteral("server says no")) << "server says no"
                                             << "server says no";
        QTest::newRow("empty") << LangText() << ""
                               << "";
    }
    void heldTextsFollowTheLanguage()
    {
        QFETCH(LangText, held);
        QFETCH(QString, zh);
        QFETCH(QString, en);
        Lang::setLanguage(0);
        QCOMPARE(held.shown(), zh);
        Lang::setLanguage(1);
        QCOMPARE(held.shown(), en);
        QCOMPARE(held.isEmpty(), zh.isEmpty());
    }

    // Counted texts: English has a singular; Chinese one form; a counted text read without a count is plural.
    void countedTexts_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("text");
        QTest::newRow("en 1") << 1 << 1 << "1 snapshot, using 2 KB";
        QTest::newRow("en 0") << 1 << 0 << "0 snapshots, using 2 KB";
        QTest::newRow("en 2") << 1 << 2 << "2 snapshots, using 2 KB";
        QTest::newRow("zh 1") << 0 << 1 << "共 1 个快照，占用 2 KB";
    }
    void countedTexts()
    {
        QFETCH(int, language);
        QFETCH(int, count);
        QFETCH(QString, text);
        Lang::setLanguage(language);
        QCOMPARE(Lang::trCount("共 %1 个快照，占用 %2", count).arg(count).arg(QStringLiteral("2 KB")), text);
        QCOMPARE(Lang::tr("共 %1 个快照，占用 %2").contains(QLatin1Char('|')), false);
    }

    void handlerIsCalledOnlyOnNotify()
    {
        int calls = 0;
        Lang::setChangedHandler([&calls] { ++calls; });
        Lang::setLanguage(1);
        QCOMPARE(calls, 0);
        Lang::notifyChanged();
        QCOMPARE(calls, 1);

        int second = 0;
        Lang::setChangedHandler([&second] { ++second; });
        Lang::notifyChanged();
        QCOMPARE(calls, 1);
        QCOMPARE(second, 1);
    }

    void handlerMayReplaceItselfWhileRunning()
    {
        // The running handler owns the only reference to the token; it must stay alive until it returns.
        static std::weak_ptr<int> s_watch;
        static bool s_aliveAfterReplace = false;
        static int s_replaced = 0;
        auto token = std::make_shared<int>(7);
        s_watch = token;
        Lang::setChangedHandler([token] {
            Lang::setChangedHandler([] { ++s_replaced; });
            s_aliveAfterReplace = !s_watch.expired() && *token == 7;
        });
        token.reset();
        Lang::notifyChanged();
        QVERIFY(s_aliveAfterReplace);
        QVERIFY(s_watch.expired()); // released once the call is over
        Lang::notifyChanged();
        QCOMPARE(s_replaced, 1);
    }

    // Workers translate and read the language while the GUI thread switches it back and forth.
    void readsFromOtherThreadsWhileSwitching()
    {
        const QString settingsZh = QStringLiteral("设置");
        const QString settingsEn = QStringLiteral("Settings");
        std::atomic<bool> stop{false};
        std::atomic<int> bad{0};
        std::atomic<int> sawEnglish{0};
        std::atomic<int> sawChinese{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t) {
            workers.emplace_back([&] {
                while (!stop.load()) {
                    const int lang = Lang::language();
                    if (lang != 0 && lang != 1)
                        ++bad;
                    const QString text = Lang::tr(settingsZh);
                    if (text == settingsEn)
                        ++sawEnglish;
                    else if (text == settingsZh)
                        ++sawChinese;
                    else
                        ++bad;
                }
            });
        }
        for (int i = 0; i < 20000; ++i)
            Lang::setLanguage(i % 2);
        // Then hold each language until some worker has translated under it (bounded by time, not by a
        // count of switches, so a loaded machine does not make the test flaky).
        QElapsedTimer waited;
        waited.start();
        for (int lang : {1, 0}) {
            std::atomic<int>& seen = lang == 1 ? sawEnglish : sawChinese;
            const int before = seen.load();
            Lang::setLanguage(lang);
            while (seen.load() == before && waited.elapsed() < 10000)
                std::this_thread::yield();
        }
        stop = true;
        for (auto& w : workers)
            w.join();
        QCOMPARE(bad.load(), 0);
        QVERIFY(sawEnglish.load() > 0);
        QVERIFY(sawChinese.load() > 0);
    }
    // Qt's own buttons and the display name Qt puts into every window title follow the language, both ways.
    void qtTextsFollowTheLanguage()
    {
        Lang::setLanguage(0);
        ktr::followUiLanguage();
        QVERIFY2(!ktr::installedQtTranslation().isEmpty(), "qt6-translations-l10n is not installed");
        QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("青岚舟面板"));

        Lang::setLanguage(1);
        Lang::notifyChanged();
        QVERIFY(ktr::installedQtTranslation().isEmpty());
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Kestrune Panel"));
        QCoreApplication::sendPostedEvents(&box, QEvent::LanguageChange);
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancel"));

        Lang::setLanguage(0);
        Lang::notifyChanged();
        QCoreApplication::sendPostedEvents(&box, QEvent::LanguageChange);
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
        QVERIFY(!ktr::installedQtTranslation().isEmpty());
    }
};

KTR_TEST_MAIN(TestLang)
#include "tst_lang.moc"
