#include "panel/namedialog.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QImage>

// The name dialog's two buttons speak the interface language like the rest of the dialog.
class TestExploreNameDialogLang : public QObject
{
    Q_OBJECT

    static QImage render(QWidget& w)
    {
        QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
        return img;
    }

private slots:
    void cleanup() { Lang::setLanguage(0); }

    void buttonsFollowLanguage()
    {
        // Button areas: OK at (24, 112, 120, 34), cancel at (156, 112, 120, 34).
        const QRect ok(24, 112, 120, 34);
        const QRect cancel(156, 112, 120, 34);

        Lang::setLanguage(0);
        NameDialog chinese(false);
        const QImage zh = render(chinese);
        Lang::setLanguage(1);
        NameDialog english(false);
        const QImage en = render(english);
        ktr::test::saveShot(zh, QStringLiteral("namedialog-zh"));
        ktr::test::saveShot(en, QStringLiteral("namedialog-en"));

        // The title follows the language already; the button labels must too.
        QVERIFY(zh.copy(QRect(24, 20, 252, 30)) != en.copy(QRect(24, 20, 252, 30)));
        QVERIFY(zh.copy(ok) != en.copy(ok));
        QVERIFY(zh.copy(cancel) != en.copy(cancel));
    }
};

KTR_TEST_MAIN(TestExploreNameDialogLang)
#include "tst_explore_namedialoglang.moc"
