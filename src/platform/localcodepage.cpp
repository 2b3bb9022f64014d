#include "platform/localcodepage.h"

#include <QStringDecoder>

#include <langinfo.h>

namespace ktr::platform {

namespace {

// A codeset that tells something beyond UTF-8 (which the caller tried first) or plain ASCII (which every
// 8-bit code page contains).
bool isEightBitCodeset(const QByteArray& codeset)
{
    const QByteArray c = codeset.toLower().replace('-', "").replace('_', "");
    if (c.isEmpty() || c == "utf8" || c == "ansix3.41968" || c == "ascii" || c == "usascii" || c == "646" ||
        c == "posix")
        return false;
    return QStringDecoder(codeset.constData()).isValid();
}

} // namespace

QByteArray localCodePageName(const QByteArray& localeName, const QByteArray& systemCodeset)
{
    // "language_TERRITORY.codeset@modifier"
    QByteArray name = localeName;
    if (const qsizetype at = name.indexOf('@'); at >= 0)
        name.truncate(at);
    QByteArray codeset;
    if (const qsizetype dot = name.indexOf('.'); dot >= 0) {
        codeset = name.mid(dot + 1);
        name.truncate(dot);
    }
    if (isEightBitCodeset(codeset))
        return codeset;
    if (isEightBitCodeset(systemCodeset))
        return systemCodeset;

    const QByteArray language = name.left(name.indexOf('_')).toLower();
    const QByteArray territory = name.mid(name.indexOf('_') + 1).toUpper();
    if (language == "zh")
        return (territory == "TW" || territory == "HK" || territory == "MO") ? "Big5" : "GB18030";
    if (language == "ja")
        return "Shift_JIS";
    if (language == "ko")
        return "EUC-KR";
    return "windows-1252";
}

QByteArray localCodePageName()
{
    QByteArray locale;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        locale = qgetenv(variable);
        if (!locale.isEmpty())
            break;
    }
    return localCodePageName(locale, QByteArray(nl_langinfo(CODESET)));
}

} // namespace ktr::platform
