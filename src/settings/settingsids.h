#pragma once

// Action ids of the settings dialog: what a hit area runs when it is clicked. Ids below 1000 are the
// frame's and the pages' own controls and mean the same on every page; the row lists of the buttons, icon,
// protection and backup pages number their rows above that. The ranges of the row lists overlap once a
// list is long (icon row 563 reaches 10008, a protection target id), so a row id is always decoded by the
// page that shows it: each page owns its ranges and nothing else.
namespace settingsids {

// The controls that exist once. Navigation, switches and two-way choices are numbered from a base
// (navId, toggleId, choiceId); the colour choosers carry the id of their colour key (colourActionForKey).
enum Action : int {
    NoAction = -1,
    CloseCross = 1,
    RestoreDefaults = 2,
    CancelButton = 3,
    OkButton = 4,
    RevealMethodMenu = 5,
    TitleBarColour = 6,
    BottomBarColour = 7,
    MidColour = 8,
    HotkeyField = 9,
    NavFirst = 10, // + page, pages 0..6
    NavLast = 16,
    ToggleFirst = 50, // + toggle index of the row table, 0..19
    ToggleLast = 69,
    ChoiceFirst = 100, // + 2 × choice index + option, choices 0..5
    ChoiceLast = 111,
    BorderColour = 120,
    ChooseLogo = 121,
    ResetLogo = 122,
    ClearLogoBadge = 123,
    ChooseBackground = 124,
    ClearBackground = 125,
    ClearBackgroundBadge = 126,
    ChoosePortraitBackground = 127,
    ClearPortraitBackgroundBadge = 128,
    TextColour = 129,
    ChooseAppIcon = 130,
    ClearAppIcon = 131,
    DividerColour = 132,
    HoverColour = 133,
    OpenDataFolder = 150, // the data card's rows, in their order
    ExportUserData = 151,
    ImportUserData = 152,
    ClearIconCache = 153,
    OpenServiceSite = 200,
    CheckUpdate = 201,
    StableChannel = 202,
    BetaChannel = 203,
    ReleaseMemory = 204,
    AboutClearIconCache = 205,
    AboutOpenDataFolder = 206,
    OpenLogViewer = 207,
    ExportLogs = 208,
    UninstallKeepData = 209,
    UninstallAll = 210,
    FactoryReset = 212,
    OpenSocialPage = 219,
    UserAgreement = 220, // + 0..2: user agreement, privacy policy, LGPL notice
    PrivacyPolicy = 221,
    LgplNotice = 222,
    IconsOpenDataFolder = 230,
    IconsClearIconCache = 231,
    ChooseLockBackground = 233,
    ResetLockBackground = 234,
    ChooseRecorderFolder = 235,
    OpenRecorderFolder = 236,
    MonitorTriggerMenu = 237,
    ChangeProtectPassword = 240,
    BackupIntervalMenu = 300,
    BackupRetainMenu = 301,
    ChooseBackupFolder = 302,
    BackupNow = 303,
    ExportSnapshot = 304,
    RestoreFromFile = 305,
    OpenBackupFolder = 306,
    PurgeSnapshots = 307,
    AutoBackupSwitch = 308,
    RefreshSnapshots = 309,
};

// The footer's buttons, whose hit areas stay in window coordinates.
inline bool isFooterButton(int id)
{
    return id >= RestoreDefaults && id <= OkButton;
}
inline int navId(int page)
{
    return NavFirst + page;
}
inline int toggleId(int toggleIndex)
{
    return ToggleFirst + toggleIndex;
}
inline int choiceId(int choiceIndex, int option)
{
    return ChoiceFirst + 2 * choiceIndex + option;
}
// The action of a colour chooser key of the row table (9 → TitleBarColour, 10 → BottomBarColour, 11 →
// MidColour, 15 → DividerColour, 17 → HoverColour, 120 → BorderColour, 129 → TextColour), NoAction for a
// key without one.
int colourActionForKey(int colourKey);

enum class Target {
    Frame,
    ButtonRow,
    IconRow,
    ProtectTarget,
    SnapshotRestore,
    SnapshotDelete,
    Nav,
    Toggle,
    Choice,
    Fixed,
    None
};

struct Decoded
{
    Target target = Target::None;
    int row = -1;    // page of Nav, index of Toggle and Choice, list row of the row lists
    int column = -1; // row cell column 0..15, protection button 0..1, option 0..1 of Choice
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

// A row list's id on its page; every id below 1000 is Target::Frame here (decodeFrame tells them apart).
Decoded decode(int page, int id);
// An id below 1000: Nav (row = page), Toggle (row = index), Choice (row = index, column = option) or Fixed
// (an Action of its own); None for anything else.
Decoded decodeFrame(int id);

} // namespace settingsids
