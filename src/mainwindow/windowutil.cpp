#include "mainwindow/windowutil.h"

#include "model/panelmodel.h"
#include "platform/version.h"

#include <QFileInfo>
#include <QStringList>

bool isItemTargetMissing(const Item& item)
{
    if (item.path.isEmpty() || item.path.startsWith(QLatin1String("::")))
        return false;
    if (!item.customIcon.isEmpty() && QFileInfo::exists(item.customIcon))
        return false;
    return !QFileInfo::exists(item.path);
}

namespace {

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

QByteArray hexToBytes(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() / 2);
    for (qsizetype i = 0; i + 1 < text.size(); i += 2) {
        const int high = hexValue(text.at(i));
        const int low = hexValue(text.at(i + 1));
        if (high < 0 || low < 0)
            return {};
        out.append(char(high * 16 + low));
    }
    return out;
}

QString appFileVersion()
{
    const QStringList parts = ktr::platform::compiledVersion().split(QLatin1Char('.'));
    if (parts.size() < 3)
        return QStringLiteral("0.0.0");
    QStringList numbers;
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const uint n = parts.at(i).toUInt(&ok);
        if (!ok)
            return QStringLiteral("0.0.0");
        numbers.append(QString::number(n));
    }
    return numbers.join(QLatin1Char('.'));
}
