#pragma once

#include "model/configstore.h"

#include <QObject>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

class PanelModel;
class StartupLayout;
struct AppSettings;

// The window's two files, "layout.json" and "settings.json", through the one store: the start's read of the
// layout, the defaults of a first start, the saves (a large layout is written on the store's writer thread,
// so an edit never holds the window for the write) and the size the settings remember.
class WindowFiles : public QObject
{
    Q_OBJECT
public:
    // How long the quit waits for a layout still being written.
    static constexpr int kQuitLayoutSaveMs = 5000;

    struct Host
    {
        PanelModel* model = nullptr;
        AppSettings* settings = nullptr;
        // Asks for every item's icon after a new layout came in (the groups, the current group), or for one.
        std::function<void(const QList<Group>& groups, int current)> queueIcons;
        std::function<void(const QString& path)> queueIcon;
        // The store's notices (kind 0 information, 1 error) and the desktop collection's.
        std::function<void(const QString& text, int kind)> toast;
        // The window size "settings.json" remembers.
        std::function<QSize()> rememberedSize;
    };

    // Starts reading "layout.json" of the store's folder (an empty dataDir: the program's).
    explicit WindowFiles(Host host, QObject* parent = nullptr, const QString& dataDir = QString());

    ConfigStore& store() { return m_store; }
    // A large "layout.json" is parsed on a worker while the window starts and paints; until it is taken
    // the model is empty and nothing is saved over the file. Any input, and every save, takes it first.
    StartupLayout* startupLayout() const { return m_startupLayout; }
    // Waits for a layout still being read and takes it; true when one was pending.
    bool finishLayoutNow();

    // Reads "layout.json" into the model; false when there is none to use (the model is left as it was).
    // readAhead, a read of the file made on a worker (a restore's), is taken instead of reading the file
    // again while the file is still the one it read: parsing a large layout takes longer than many frames.
    bool loadLayout(std::shared_ptr<const ConfigStore::LayoutRead> readAhead = nullptr);
    // Saves the model's groups (in the background when large); false when the file could not be written.
    bool saveLayout();
    // Waits up to budgetMs (negative: as long as it takes) for the background writes of the layout.
    bool finishLayoutSaves(int budgetMs = -1);
    // The groups of a first start.
    void buildDefaultLayout();

    void loadSettings();
    bool saveSettings();
    // The window size read with the settings; negative when none was remembered.
    QSize savedSize() const { return m_savedSize; }

    void reportSaveFailure(const QString& path, const QString& message);

    // Adds the desktop's icons to the layout (the saved one, not the empty one of a start) and says what came.
    void syncDesktopIcons();

signals:
    // The layout went to the store: the grid lays itself out again, an open settings dialog follows.
    void layoutSaved();
    // The start's layout (or the defaults, when there was none to use) is in the model.
    void startupLayoutTaken();

private:
    bool adoptLayout(ConfigStore::LayoutRead read);
    void applyStartupLayout(ConfigStore::LayoutRead read);

    Host m_host;
    ConfigStore m_store;
    QSize m_savedSize{-1, -1};
    StartupLayout* m_startupLayout = nullptr;
};
