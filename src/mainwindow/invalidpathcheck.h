#pragma once

#include "model/panelmodel.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class TargetWatch;

// Which items' targets are missing. Looking at every item's file can block for long on an unreachable network
// mount: the check runs on a worker over a copy of the model, one at a time, and the set it finds is reported on
// the GUI thread. A request while one runs is remembered and runs once after it, so the last change of the
// model is seen. The targets' folders are watched (TargetWatch), so a target that goes or comes back asks for
// a check by itself; nothing polls.
class InvalidPathCheck : public QObject
{
    Q_OBJECT
public:
    // The check itself; runs on a worker thread (tests replace it to hold a check back).
    using Check = std::function<QSet<QString>(const QList<Group>& groups)>;

    // Follows the model: every change of it updates the watch, a group coming on show is checked again when
    // not all folders could be watched.
    explicit InvalidPathCheck(const PanelModel& model, QObject* parent = nullptr);

    // Updates the watch and checks the model's items on the worker.
    void refresh();
    // Gives the watch the model's targets as they are now.
    void watchTargets();

    // The invalid item paths of the last finished check, and whether a check is running.
    const QSet<QString>& paths() const { return m_paths; }
    bool running() const { return m_running; }
    TargetWatch* targetWatch() const { return m_watch; }
    void setCheck(Check check) { m_check = std::move(check); }
    // Folder changes ask for no more checks (shutdown).
    void stop();

signals:
    void pathsChanged(const QSet<QString>& paths);

private:
    const PanelModel& m_model;
    TargetWatch* m_watch;
    Check m_check;
    QSet<QString> m_paths;
    bool m_running = false;
    bool m_again = false;
};
