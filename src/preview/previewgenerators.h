#pragma once

#include "model/panelmodel.h"

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

struct UiPreviewKit;
class QWidget;

// The screenshot generators of the preview run. Each takes the output folder (no trailing slash) and writes
// its files as folder + "/" + name; a file that can't be written is skipped. Each leaves the light palette
// and the run's language (previewBaseLanguage) selected when it returns, whatever it switched to for a variant.

// The language a run draws in (0 Chinese, the default; 1 English); setting it also selects it.
void setPreviewBaseLanguage(int language);
int previewBaseLanguage();
// Grabs a widget into folder/name, after reporting its cut labels to a text check (settingskit.h).
void savePreviewShot(QWidget* widget, const QString& path);

// The device confirmation and signed-out cards: "kick-confirm-*.png" and "kicked-*.png". Makes the folder.
void previewKickDialogs(const QString& folder);
// The item context menu with sample entries: "item-menu.png".
void previewItemMenu(const QString& folder, const UiPreviewKit& kit);
// The lock screen: landscape, portrait, dark, unlock mode and over a sample picture.
void previewLockOverlay(const QString& folder);
// The general page at the lock background setting, without and with a custom background.
void previewSettingsGeneral(const QString& folder);
// The settings pages on the full sample model, light and dark, and the log viewer.
void previewSettings258(const QString& folder);
// The protection, general and appearance pages on the small model, one in English, the hint card and the
// restore-defaults question.
void previewSettingsProtect(const QString& folder);
// The backup page over nine sample snapshots in "_backup_preview", Chinese and English.
void previewSettingsBackup(const QString& folder);

// The button glyph sheets, their pixel checks and the ink measurements.
void previewGlyphSheets(const QString& folder);

// Helpers the generators share.
// A lock screen of `size` (over the picture at backgroundPath unless it is empty), grabbed into folder/name.
void renderLockOverlayPng(const QString& folder, const QString& name, const QSize& size,
                          const QString& backgroundPath = QString());
// Appends a group named Lang::tr(name) with one item per sample path, named by the path's base name.
void addPreviewGroup(QList<Group>& groups, const QString& name, const QStringList& paths);
// The sample groups: "常用", "工具" (with items) and "游戏" (empty); the small model has fewer items.
QList<Group> previewModel(bool full);
// The program folder the sample dialogs are given.
QString previewProgramFolder();
