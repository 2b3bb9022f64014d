#include "ui/qtlanguage.h"

#include "ui/lang.h"
#include "ui/uisignals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>
#include <QWindow>

namespace ktr {

namespace {

QPointer<QTranslator>& installed()
{
    static QPointer<QTranslator> translator;
    return translator;
}

} // namespace

void applyUiLanguageToQt()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QPointer<QTranslator>& translator = installed();
    if (!Lang::isEnglish() && !translator) {
        auto* t = new QTranslator(app);
        const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        if (t->load(QStringLiteral("qtbase_zh_CN"), folder) && QCoreApplication::installTranslator(t)) {
            translator = t;
        } else {
            qWarning().noquote() << "[lang] Qt's Chinese translation not found in" << folder;
            delete t;
        }
    } else if (Lang::isEnglish() && translator) {
        QCoreApplication::removeTranslator(translator);
        delete translator.data();
    }

    QGuiApplication::setApplicationDisplayName(Lang::tr("青岚舟面板"));
    // A title on screen was formatted with the display name of its time: hand each one over again.
    if (qobject_cast<QGuiApplication*>(app)) {
        const QList<QWindow*> windows = QGuiApplication::topLevelWindows();
        for (QWindow* window : windows)
            window->setTitle(window->title());
    }
}

void followUiLanguage()
{
    static bool connected = false;
    if (!connected) {
        connected = true;
        QObject::connect(&UiSignals::instance(), &UiSignals::languageChanged, &UiSignals::instance(),
                         [] { applyUiLanguageToQt(); });
    }
    applyUiLanguageToQt();
}

QString installedQtTranslation()
{
    const QPointer<QTranslator>& translator = installed();
    return translator ? translator->filePath() : QString();
}

} // namespace ktr
