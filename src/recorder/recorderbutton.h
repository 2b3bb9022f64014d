#pragma once

#include <QObject>
#include <QString>

struct AppSettings;

// The main window's side of the screen recorder: the recorder button starts and stops the process-wide
// recorder and reports whether it runs; a full disk is passed on from the recorder's thread.
class RecorderButton : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Started, Stopped, NeedsSetup, Failed };

    explicit RecorderButton(QObject* parent = nullptr);

    // Stops a running recorder, or starts one configured from the settings (a recorder without a folder
    // needs setting up first). A start that fails puts the reason for the user into why.
    Outcome toggle(const AppSettings& settings, QString* why = nullptr);

signals:
    void activeChanged(bool active);
    // The recorder paused for lack of disk space (the button goes off).
    void diskFull();
};
