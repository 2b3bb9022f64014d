#pragma once

#include <QString>

class QWidget;

// What became of a rollback folder left by an interrupted restore.
enum RollbackOutcome {
    RollbackNone,    // there was none
    RollbackPutBack, // the user chose to put the data back; done, the folder is gone
    RollbackKept,    // kept for the user under a name of its own beside the data folder
    RollbackLeft,    // left where it is (no answer, or the user declined); asked again next start
    RollbackFailed,  // the chosen action failed; the folder is still there and the user was told
};

// At start-up, before the data is loaded: finds a rollback folder of the data folder and asks through the
// dialog seams whether to put it back. Nothing is deleted unless the user says so.
int offerLeftoverRollback(QWidget* parent, const QString& dataDir);
