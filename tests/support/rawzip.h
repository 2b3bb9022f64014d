#pragma once

// A zip written byte by byte, stored (no compression), for packages no well-behaved writer makes: links,
// devices, names with "..", sizes that lie. Each entry may carry Unix mode bits and stated sizes of its own.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace ktr::test {

struct RawZipEntry
{
    QByteArray name;
    QByteArray data;
    quint32 unixMode = 0;         // with S_IFMT bits; 0: no Unix attributes
    qint64 statedSize = -1;       // -1: the data's size
    qint64 statedCompressed = -1; // -1: the data's size
};

inline quint32 crc32Of(const QByteArray& data)
{
    static quint32 table[256] = {};
    if (table[1] == 0) {
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
    }
    quint32 crc = 0xFFFFFFFFu;
    for (const char ch : data)
        crc = table[(crc ^ quint8(ch)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

inline bool writeRawZip(const QString& path, const QList<RawZipEntry>& entries)
{
    QByteArray out;
    QByteArray central;
    auto put16 = [](QByteArray& b, quint32 v) {
        b.append(char(v & 0xFF));
        b.append(char((v >> 8) & 0xFF));
    };
    auto put32 = [&](QByteArray& b, quint32 v) {
        put16(b, v & 0xFFFF);
        put16(b, v >> 16);
    };
    for (const RawZipEntry& e : entries) {
        const quint32 offset = quint32(out.size());
        const quint32 crc = crc32Of(e.data);
        const quint32 usize = quint32(e.statedSize >= 0 ? e.statedSize : e.data.size());
        const quint32 csize = quint32(e.statedCompressed >= 0 ? e.statedCompressed : e.data.size());
        put32(out, 0x04034b50u);
        put16(out, 20);
        put16(out, 0x0800);
        put16(out, 0); // stored
        put16(out, 0);
        put16(out, 0x5821); // 2024-01-01
        put32(out, crc);
        put32(out, csize);
        put32(out, usize);
        put16(out, quint32(e.name.size()));
        put16(out, 0);
        out.append(e.name);
        out.append(e.data);
        put32(central, 0x02014b50u);
        put16(central, e.unixMode ? (3u << 8) | 20u : 20u);
        put16(central, 20);
        put16(central, 0x0800);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0x5821);
        put32(central, crc);
        put32(central, csize);
        put32(central, usize);
        put16(central, quint32(e.name.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, e.unixMode << 16);
        put32(central, offset);
        central.append(e.name);
    }
    const quint32 cdOffset = quint32(out.size());
    out.append(central);
    put32(out, 0x06054b50u);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint32(entries.size()));
    put16(out, quint32(entries.size()));
    put32(out, quint32(central.size()));
    put32(out, cdOffset);
    put16(out, 0);
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(out) == out.size();
}

} // namespace ktr::test
