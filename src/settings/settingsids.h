#pragma once

// Action ids of the settings dialog's page lists. The ranges of the row lists overlap once a list is
// long (icon row 563 reaches 10008, a protection target id; snapshot ids of two rows may meet), so an id
// is always decoded by the page that shows it: each page owns its ranges and nothing else.
namespace settingsids {

enum class Target { Frame, ButtonRow, IconRow, ProtectTarget, SnapshotRestore, SnapshotDelete, None };

struct Decoded
{
    Target target = Target::None;
    int row = -1;
    int column = -1; // row cell column 0..15, protection button 0..1
};

inline int rowCellId(int row, int column)
{
    return 1000 + 16 * row + column;
}
inline int protectTargetId(int row, int button)
{
    return 10000 + 2 * row + button;
}
// Restore and delete of one snapshot row sit side by side, so no row's id is another row's.
inline int snapshotRestoreId(int row)
{
    return 20000 + 2 * row;
}
inline int snapshotDeleteId(int row)
{
    return 20001 + 2 * row;
}

// The frame's ids (below 1000) mean the same on every page.
Decoded decode(int page, int id);

} // namespace settingsids
