#pragma once

#include <QWidget>

// The smallest window that lets start-up, the self-check and shutdown run until the panel's main window
// exists; it is replaced by MainWindow, not kept. Its persistence calls only note that they ran.
class StandInWindow : public QWidget
{
    Q_OBJECT
public:
    explicit StandInWindow(QWidget* parent = nullptr);

    void waitBackupWorkers(int budgetMs);
    void saveSettings();
    void saveLayout();
};

// The window qMain builds and the quit handler persists.
using PanelWindow = StandInWindow;
