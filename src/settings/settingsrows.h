#pragma once

#include "settings/settingsids.h"
#include "ui/appsettings.h"

#include <QList>
#include <QString>

// The row table of the settings pages general (0), appearance (1) and protection (5, its screen-monitor
// card): cards of rows, each row a setting with its control. Texts are Chinese and pass Lang::tr where
// they are painted or measured.

struct RowControl
{
    enum Kind { Slider = 0, Colour = 1, Button = 2, InlineToggle = 3, TitleEditor = 4, PathField = 5, FontChooser = 6 };
    QString label;
    int kind = Slider;
    int value = 0; // slider index, colour key, action id or toggle index; unused otherwise
    int width = 0; // px (the font chooser's width is computed by the layout)

    bool operator==(const RowControl&) const = default;
};

struct SettingsRow
{
    enum Kind { Toggle = 0, Choice = 1, DropDown = 2, Hotkey = 5, Controls = 8 };
    QString title;
    QString description;
    int kind = Toggle;
    int value = 0;              // toggle, choice or drop-down index (kinds 0..2)
    QList<RowControl> controls; // kind 8
    bool isInline = false;      // on the card's header line

    bool operator==(const SettingsRow&) const = default;
};

struct SettingsCard
{
    QString title;
    QString description;
    QList<SettingsRow> rows;
    int glyph = 0;   // header glyph (paintGlyph)
    int height = 46; // when every row is inline; 0 or less means 46

    bool operator==(const SettingsCard&) const = default;
};

// The cards of a page; pages other than 0, 1 and 5 have none. The copy decides two conditional parts:
// the hover-colour row (only while hoverMode is 0) and the lock background's "恢复默认" button (only
// while lockBgPath is set).
QList<SettingsCard> buildRows(int page, const AppSettings& copy);

namespace settingsrows {

// Hit ids of the row controls.
inline int toggleHitId(int toggleIndex)
{
    return settingsids::toggleId(toggleIndex);
}
inline int choiceHitId(int choiceIndex, int option)
{
    return settingsids::choiceId(choiceIndex, option);
}
// Drop-down 7 (revealMethod) → RevealMethodMenu, 18 (monitorTrigger) → MonitorTriggerMenu; -1 for any other.
int dropDownHitId(int dropDownIndex);
// The button rows of the data card: no setting behind them, their ids come from their order (OpenDataFolder,
// ExportUserData, ImportUserData).
inline constexpr int kOpenDataRow = 19;
inline constexpr int kExportDataRow = 20;
inline constexpr int kImportDataRow = 21;

// The field a toggle index flips; nullptr for indexes that edit nothing (7, 9, 10, 11, 15, ...).
bool AppSettings::*toggleMember(int toggleIndex);
bool toggleValue(int toggleIndex, const AppSettings& s);

// The two option labels of a two-way choice (empty for an unknown index) and which one is selected.
QString choiceLabel(int choiceIndex, int option);
int choiceSelected(int choiceIndex, const AppSettings& s);
// Width of a choice's segmented control: 218 for index 3, else 200, wider when a translated label needs
// more (each half holds its label with 8 px on either side).
int choiceTrackWidth(int choiceIndex);

// The names of the current value of a drop-down, clamped into range first.
QString revealMethodName(int method);    // 0..4
QString monitorTriggerName(int trigger); // 0..2
QString dropDownText(int dropDownIndex, const AppSettings& s);
// Width of a drop-down's button: 120, wider when a translated choice needs more (10 px either side).
int dropDownWidth(int dropDownIndex);

// Colour keys (9, 10, 11, 15, 17, 120, 129): the colour-kind field and the name of its kind
// ("跟随主题" … "自定义颜色"), the kind clamped to 0..6.
int AppSettings::*colourMember(int colourKey);
QString colourKindName(int kind);
QString colourText(int colourKey, const AppSettings& s);

} // namespace settingsrows
