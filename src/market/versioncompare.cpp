#include "market/versioncompare.h"

#include <QStringList>

#include <limits>

namespace {

// Length of the leading run of digits (any Unicode decimal digit) and its value, saturated.
qsizetype leadingNumber(const QString& part, qint64* value)
{
    qint64 v = 0;
    bool saturated = false;
    qsizetype i = 0;
    for (; i < part.size() && part.at(i).isDigit(); ++i) {
        if (saturated)
            continue;
        // A digit outside ASCII counts by its Unicode digit value.
        const int d = part.at(i).digitValue();
        const qint64 next = v * 10 + (d < 0 ? 0 : d);
        if (next > std::numeric_limits<qint32>::max()) {
            v = std::numeric_limits<qint32>::max();
            saturated = true;
            continue;
        }
        v = next;
    }
    *value = v;
    return i;
}

} // namespace

bool isWellFormedVersion(const QString& text)
{
    const QStringList parts = text.split(u'.', Qt::KeepEmptyParts);
    if (parts.isEmpty() || parts.size() > 8)
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || !part.at(0).isDigit())
            return false;
        qint64 unused = 0;
        const qsizetype digits = leadingNumber(part, &unused);
        if (digits < part.size() && part.at(digits) != u'-')
            return false;
    }
    return true;
}

bool compareVersions(const QString& a, const QString& b)
{
    const QStringList pa = a.split(u'.', Qt::KeepEmptyParts);
    const QStringList pb = b.split(u'.', Qt::KeepEmptyParts);
    const qsizetype n = qMax(pa.size(), pb.size());
    const QString zero = QStringLiteral("0");
    for (qsizetype i = 0; i < n; ++i) {
        const QString& x = i < pa.size() ? pa.at(i) : zero;
        const QString& y = i < pb.size() ? pb.at(i) : zero;
        qint64 vx = 0, vy = 0;
        QString sx = x.mid(leadingNumber(x, &vx));
        QString sy = y.mid(leadingNumber(y, &vy));
        if (vx != vy)
            return vx < vy;
        if (sx.startsWith(u'-'))
            sx.remove(0, 1);
        if (sy.startsWith(u'-'))
            sy.remove(0, 1);
        if (sx.isEmpty() != sy.isEmpty())
            return !sx.isEmpty();
        if (sx == sy)
            continue;
        bool nx = false, ny = false;
        const qulonglong ux = sx.toULongLong(&nx);
        const qulonglong uy = sy.toULongLong(&ny);
        if (nx && ny)
            return ux < uy;
        if (nx)
            return true;
        if (ny)
            return false;
        return QString::compare(sx, sy, Qt::CaseSensitive) < 0;
    }
    return false;
}

bool compareValidVersions(const QString& a, const QString& b)
{
    if (!isWellFormedVersion(a) || !isWellFormedVersion(b))
        return false;
    return compareVersions(b, a);
}
