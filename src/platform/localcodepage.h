#pragma once

#include <QByteArray>

namespace ktr::platform {

// The 8-bit code page text of this machine is most likely in when it is not UTF-8: what Windows calls the
// ANSI code page. Linux locales are UTF-8 nearly everywhere, so "the locale's encoding" alone would decode
// a GBK or Latin-1 line as UTF-8 again; the name is found in this order:
// 1. the codeset the locale names (LC_ALL, else LC_CTYPE, else LANG; "zh_CN.GBK" -> "GBK"), then the one
//    the C library reports for the locale in force, when it is a real 8-bit one (not UTF-8, not ASCII);
// 2. else the code page Windows uses for the locale's language: GB18030 for zh (Big5 for zh_TW and zh_HK),
//    Shift_JIS for ja, EUC-KR for ko, windows-1252 for the rest (a superset of Latin-1's printable range).
// The result is a name QStringDecoder knows.
QByteArray localCodePageName(const QByteArray& localeName, const QByteArray& systemCodeset);
// The same for this process: its environment and nl_langinfo(CODESET).
QByteArray localCodePageName();

} // namespace ktr::platform
