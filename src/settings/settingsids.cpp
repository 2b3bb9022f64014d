#include "settings/settingsids.h"

namespace settingsids {

Decoded decode(int page, int id)
{
    if (id >= 0 && id < 1000)
        return {Target::Frame, -1, -1};
    if (id < 0)
        return {};
    switch (page) {
    case 1:
    case 3:
        return {page == 1 ? Target::ButtonRow : Target::IconRow, (id - 1000) / 16, (id - 1000) % 16};
    case 5:
        if (id >= 10000)
            return {Target::ProtectTarget, (id - 10000) / 2, (id - 10000) % 2};
        return {};
    case 6:
        if (id >= 20000)
            return {(id - 20000) % 2 == 0 ? Target::SnapshotRestore : Target::SnapshotDelete, (id - 20000) / 2, -1};
        return {};
    default:
        return {};
    }
}

} // namespace settingsids
