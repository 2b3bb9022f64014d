#pragma once

#include <QObject>
#include <QString>

struct AppSettings;

// The main window's side of the screen recorder: the recorder button starts and stops the process-wide
// recorder and reports whether it runs; pauses and their ends are passed on from the recorder's thread.
class RecorderButton : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Started, Stopped, NeedsSetup, Failed };

    explicit RecorderButton(QObject* parent = nullptr);

    // Stops a running recorder, or starts one configured from the settings (a recorder without a folder
    // needs setting up first). A start that fails puts the reason for the user into why.
    Outcome toggle(const AppSettings& settings, QString* why = nullptr);

    // The user's text for a pause of the given cause (RecorderCore::PauseCause) and detail.
    static QString pauseText(int cause, const QString& detail);

signals:
    // Whether the recorder runs, whoever started or stopped it. A paused recorder still runs: it goes on
    // by itself, and the next press of the button stops it.
    void activeChanged(bool active);
    // The recorder paused for lack of disk space.
    void diskFull();
    // The recorder paused for another cause; text is for the user.
    void paused(const QString& text);
    // The recorder writes again after a pause.
    void resumed();
};
