#pragma once

#include <QString>
#include <QStringList>

namespace ktr::test {

// The data folder a panel process started by a test uses (the per-user location under this test's HOME).
QString panelDataDir();

// The text of every day's "app.log" of that data folder, in the order of the day folders.
QString panelLogText();
QStringList panelLogLines();

} // namespace ktr::test
