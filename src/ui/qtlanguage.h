#pragma once

#include <QString>

namespace ktr {

// Qt's own texts (standard dialog buttons, file dialogs, the line edit's menu) and the application's display
// name, which Qt appends to every window title on X11, in the UI language of Lang: Qt's Chinese translation
// (qtbase_zh_CN from Qt's translations folder) is installed for Chinese and removed for English.
// applyUiLanguageToQt does it for the language in force now and gives the windows on screen their titles
// again; followUiLanguage does it now and after every UiSignals::languageChanged. GUI thread, with the
// application object made.
void applyUiLanguageToQt();
void followUiLanguage();

// The Qt translation file installed now; empty when none is (English, or the translations are not installed).
QString installedQtTranslation();

} // namespace ktr
