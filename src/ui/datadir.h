#pragma once

#include <QString>

// The data folder: "data" beside the executable when "portable.ini" lies there, else the per-user
// application-data location. Computed once per process (after the application and organisation names
// are set), created with its parents; a folder that can't be created is still returned.
QString appDataDir();
