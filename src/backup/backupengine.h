#pragma once

#include <QString>

#include <atomic>

// Snapshots of the data folder: making, listing, purging, exporting and restoring them. Static functions
// only; the folders and file names are the state.
class BackupEngine
{
public:
    BackupEngine() = delete;

    // Removes what earlier runs left in the temporary folder (tempDir, or the system's when empty) once it
    // is more than 24 hours old: work folders "ktrbak_*" and "ktrrest_*" (recursively), and the files
    // "ktrbk_*.ps1", "ktrbak_prog_*.txt" and "ktrrest_prog_*.txt". Links are removed as links and never
    // followed; entries owned by another user are left alone. Stops before the next entry once stop is set.
    // Returns the number of entries removed. Safe on a worker thread.
    static int cleanupTempLeftovers(const QString& tempDir, const std::atomic<bool>* stop);
};
