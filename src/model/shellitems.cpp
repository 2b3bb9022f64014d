#include "model/shellitems.h"

#include "platform/shellfolders.h"
#include "ui/lang.h"

#include <QUuid>

namespace {

constexpr quint32 kMaxChildren = 4096;
constexpr int kMaxItemsPerList = 4096;
constexpr quint8 kRootFolderItem = 0x1F; // a CLSID directly under the desktop
constexpr int kRootClsidOffset = 4;      // cb (2), type (1), sort order (1), then the CLSID

struct ItemSpan
{
    qsizetype pos;
    int size;
};

quint32 readU32(const QByteArray& data, qsizetype pos)
{
    const auto* p = reinterpret_cast<const uchar*>(data.constData()) + pos;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 readU16(const QByteArray& data, qsizetype pos)
{
    const auto* p = reinterpret_cast<const uchar*>(data.constData()) + pos;
    return quint16(p[0] | p[1] << 8);
}

// Walks one ID list from offset: each item starts with its byte count (the two count bytes included), and a
// count of 0 ends the list. False for a list that runs past the data, has a count of 1 or 2, or is too long.
bool walkIdList(const QByteArray& data, qint64 offset, QList<ItemSpan>* items)
{
    const qint64 size = data.size();
    qint64 pos = offset;
    for (int n = 0;; ++n) {
        if (pos < 0 || pos + 2 > size)
            return false;
        const quint16 cb = readU16(data, pos);
        if (cb == 0)
            return true;
        if (cb < 3 || pos + cb > size || n >= kMaxItemsPerList)
            return false;
        if (items)
            items->append({pos, cb});
        pos += cb;
    }
}

// The parsing name of the absolute ID list parent + child when it names a virtual folder; empty otherwise.
QString parsingNameOf(const QByteArray& data, const QList<ItemSpan>& parent, const QList<ItemSpan>& child)
{
    // The desktop itself (an empty list) and anything below a root folder are file-system paths or items whose
    // layout belongs to their folder.
    if (parent.size() + child.size() != 1)
        return {};
    const ItemSpan item = parent.isEmpty() ? child.first() : parent.first();
    if (item.size < kRootClsidOffset + 16 || quint8(data.at(item.pos + 2)) != kRootFolderItem)
        return {};
    const auto* guid = reinterpret_cast<const uchar*>(data.constData()) + item.pos + kRootClsidOffset;
    if (const auto* folder = ktr::platform::findShellFolderByClsid(guid))
        return QString::fromLatin1(folder->parsingName);
    const quint32 d1 = readU32(data, item.pos + kRootClsidOffset);
    const quint16 d2 = readU16(data, item.pos + kRootClsidOffset + 4);
    const quint16 d3 = readU16(data, item.pos + kRootClsidOffset + 6);
    const QUuid id(d1, d2, d3, guid[8], guid[9], guid[10], guid[11], guid[12], guid[13], guid[14], guid[15]);
    return QStringLiteral("::") + id.toString(QUuid::WithBraces).toUpper();
}

} // namespace

QList<ShellItemPair> parseShellIdList(const QByteArray& bytes)
{
    QList<ShellItemPair> result;
    if (bytes.size() < 4)
        return result;
    const quint32 cidl = readU32(bytes, 0);
    if (cidl < 1 || cidl > kMaxChildren)
        return result;
    const qint64 header = 4 * qint64(cidl) + 8;
    if (bytes.size() < header)
        return result;

    const qint64 parentOffset = readU32(bytes, 4);
    if (parentOffset < header)
        return result;
    QList<ItemSpan> parent;
    if (!walkIdList(bytes, parentOffset, &parent))
        return result;

    for (quint32 i = 0; i < cidl; ++i) {
        const qint64 offset = readU32(bytes, 8 + 4 * qint64(i));
        if (offset < header)
            continue;
        QList<ItemSpan> child;
        if (!walkIdList(bytes, offset, &child))
            continue;
        const QString parsingName = parsingNameOf(bytes, parent, child);
        if (!parsingName.startsWith(u"::"))
            continue;
        const auto* folder = ktr::platform::findShellFolder(parsingName);
        QString displayName = folder ? Lang::tr(folder->nameKey) : QString();
        if (displayName.isEmpty())
            displayName = parsingName;
        result.append({displayName, parsingName});
    }
    return result;
}

QList<ShellItemPair> shellItemsFromUrls(const QList<QUrl>& urls, QList<QUrl>* rest)
{
    QList<ShellItemPair> items;
    for (const QUrl& url : urls) {
        const QString parsingName = ktr::platform::shellItemForUrl(url);
        const auto* folder = parsingName.isEmpty() ? nullptr : ktr::platform::findShellFolder(parsingName);
        if (folder)
            items.append({Lang::tr(folder->nameKey), parsingName});
        else if (rest)
            rest->append(url);
    }
    return items;
}
