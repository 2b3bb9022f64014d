#include "ui/lang.h"

// Chinese text -> English text. Placeholders and line breaks stay as in the key.
extern const Lang::Pair kLangTable[] = {
    {"青岚舟面板", "Kestrune Panel"},
};
extern const int kLangTableSize = int(sizeof(kLangTable) / sizeof(kLangTable[0]));
