#include "settings/settingsids.h"

namespace settingsids {

int colourActionForKey(int key)
{
    switch (key) {
    case 9:
        return TitleBarColour;
    case 10:
        return BottomBarColour;
    case 11:
        return MidColour;
    case 15:
        return DividerColour;
    case 17:
        return HoverColour;
    case 120:
        return BorderColour;
    case 129:
        return TextColour;
    default:
        return NoAction;
    }
}

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

Decoded decodeFrame(int id)
{
    if (id < 0 || id >= 1000)
        return {};
    if (id >= NavFirst && id <= NavLast)
        return {Target::Nav, id - NavFirst, -1};
    if (id >= ToggleFirst && id <= ToggleLast)
        return {Target::Toggle, id - ToggleFirst, -1};
    if (id >= ChoiceFirst && id <= ChoiceLast)
        return {Target::Choice, (id - ChoiceFirst) / 2, (id - ChoiceFirst) % 2};
    return {Target::Fixed, -1, -1};
}

} // namespace settingsids
