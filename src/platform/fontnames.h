#pragma once

#include <QString>

namespace ktr::platform {

// The name the font `family` carries in `language` (a fontconfig language such as "zh-cn" or "en": that
// language's name, else the first of the same base language), as the font itself declares its names: a Chinese font is
// called 文泉驿微米黑 in a Chinese interface and WenQuanYi Micro Hei in an English one, whatever the process locale.
// `family` itself when the font declares no name in that language or the font library is not there.
QString fontFamilyNameIn(const QString& family, const QString& language);

} // namespace ktr::platform
