#pragma once

// Helpers shared by the main window tests: a launcher that records what it is asked to start, items
// and the data files of the window, and windows built the way the tests need them.
#include "icons/iconloader.h"
#include "mainwindow/mainwindow.h"
#include "model/configstore.h"
#include "platform/launcher.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/dialogseams.h"
#include "ui/toast.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QStringList>
#include <QUrl>
#include <QtTest/QtTest>

#include <memory>

namespace ktr::test {

struct LaunchCall
{
    QString program;
    QStringList arguments;
    QString workDir;
    QUrl url;
};

// Records every start instead of starting anything.
class RecordingLauncher : public ktr::platform::Launcher
{
public:
    bool startDetached(const QString& program, const QStringList& arguments, const QString& workDir) override
    {
        calls.append({program, arguments, workDir, QUrl()});
        return true;
    }
    bool openUrl(const QUrl& url) override
    {
        calls.append({QString(), {}, QString(), url});
        return true;
    }
    QList<LaunchCall> calls;
};

// An item for path, named after the file without its suffix unless a name is given.
inline Item item(const QString& path, const QString& name = QString())
{
    Item i;
    i.path = path;
    i.name = name.isEmpty() ? QFileInfo(path).completeBaseName() : name;
    return i;
}

inline QString layoutFile()
{
    return appDataDir() + QStringLiteral("/layout.json");
}

inline QString settingsFile()
{
    return appDataDir() + QStringLiteral("/settings.json");
}

// The model as "layout.json" holds it now; empty when it can't be read.
inline QList<Group> savedGroups()
{
    ConfigStore store(appDataDir());
    QList<Group> groups;
    if (!store.loadLayout(groups))
        return {};
    return groups;
}

inline void writeLayout(const QList<Group>& groups)
{
    ConfigStore store(appDataDir());
    QVERIFY(store.saveLayout(groups));
}

inline QJsonObject readObject(const QString& path)
{
    return QJsonDocument::fromJson(readFile(path)).object();
}

inline QString toastText(const MainWindow& w)
{
    return w.toast() ? w.toast()->latestText() : QString();
}

inline QRect avail()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// No real icon extraction: every item gets a small red square, so tests look at what is requested, not at pixels.
inline void useRedIconExtractor()
{
    setIconExtractorForTesting([](const QString&) {
        QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::red);
        return image;
    });
}

// Dialog seams that record every question as "title|text" and answer it with *answer (yes or no); informations
// are recorded likewise when a list is given, else dropped. File choosers record "save|caption|suggested|filter"
// or "open|caption|folder|filter" into *chooserCalls when given and return *chosenFile.
inline ktr::dialogs::Seams recordingSeams(QStringList* questions, const bool* answer,
                                          QStringList* informations = nullptr, QStringList* chooserCalls = nullptr,
                                          const QString* chosenFile = nullptr)
{
    ktr::dialogs::Seams seams;
    seams.question = [questions, answer](QWidget*, const QString& title, const QString& text) {
        questions->append(title + QLatin1Char('|') + text);
        return *answer ? 1 : 0;
    };
    seams.information = [informations](QWidget*, const QString& title, const QString& text, int) {
        if (informations)
            informations->append(title + QLatin1Char('|') + text);
    };
    if (chooserCalls) {
        seams.saveFile = [chooserCalls, chosenFile](QWidget*, const QString& caption, const QString& suggested,
                                                    const QString& filter) {
            chooserCalls->append(QStringList{QStringLiteral("save"), caption, suggested, filter}.join('|'));
            return *chosenFile;
        };
        seams.openFile = [chooserCalls, chosenFile](QWidget*, const QString& caption, const QString& folder,
                                                    const QString& filter) {
            chooserCalls->append(QStringList{QStringLiteral("open"), caption, folder, filter}.join('|'));
            return *chosenFile;
        };
    }
    return seams;
}

// Installs seams for a test object's windows: the previous replacement is taken down first, so the new one
// is not restored away when the old one ends.
inline void installSeams(std::unique_ptr<ktr::dialogs::ScopedSeams>& slot, ktr::dialogs::Seams seams)
{
    slot.reset();
    slot = std::make_unique<ktr::dialogs::ScopedSeams>(std::move(seams));
}

// A window shown on the screen; null when it never got exposed.
inline std::unique_ptr<MainWindow> shownWindow()
{
    auto w = std::make_unique<MainWindow>();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    return w;
}

} // namespace ktr::test
