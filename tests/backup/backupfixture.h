#pragma once

// Small builders for the backup tests: a raw zip writer that puts exactly the given bytes, names, types
// and stated sizes into an archive (hostile archives included), and a data folder with the cases a
// snapshot must sort out.

#include "testenv.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QString>

#include <sys/stat.h>

namespace backuptest {

inline quint32 crc32(const QByteArray& data)
{
    static quint32 table[256];
    static bool ready = false;
    if (!ready) {
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    quint32 c = 0xFFFFFFFFu;
    for (char ch : data)
        c = table[(c ^ quint8(ch)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

struct RawEntry
{
    QByteArray name;
    QByteArray data;
    quint32 mode = 0100644; // unix mode in the external attributes
    bool utf8Flag = true;
    qint64 statedSize = -1; // -1: the data's length
    qint64 statedCompressed = -1;
};

inline void put16(QByteArray& b, quint32 v)
{
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}

inline void put32(QByteArray& b, quint32 v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// A stored (uncompressed) zip made by "Unix" with the entries as given.
inline QByteArray rawZip(const QList<RawEntry>& entries)
{
    QByteArray out;
    QByteArray central;
    for (const RawEntry& e : entries) {
        const quint32 offset = quint32(out.size());
        const quint32 crc = crc32(e.data);
        const quint32 size = quint32(e.statedSize >= 0 ? e.statedSize : e.data.size());
        const quint32 csize = quint32(e.statedCompressed >= 0 ? e.statedCompressed : e.data.size());
        const quint32 flags = e.utf8Flag ? 0x0800 : 0;
        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, flags);
        put16(out, 0); // stored
        put16(out, 0);
        put16(out, 0x5A21); // 2025-01-01
        put32(out, crc);
        put32(out, csize);
        put32(out, size);
        put16(out, quint32(e.name.size()));
        put16(out, 0);
        out.append(e.name);
        out.append(e.data);
        put32(central, 0x02014b50);
        put16(central, (3 << 8) | 20);
        put16(central, 20);
        put16(central, flags);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0x5A21);
        put32(central, crc);
        put32(central, csize);
        put32(central, size);
        put16(central, quint32(e.name.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, e.mode << 16);
        put32(central, offset);
        central.append(e.name);
    }
    const quint32 cdOffset = quint32(out.size());
    out.append(central);
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint32(entries.size()));
    put16(out, quint32(entries.size()));
    put32(out, quint32(central.size()));
    put32(out, cdOffset);
    put16(out, 0);
    return out;
}

inline RawEntry file(const QByteArray& name, const QByteArray& data)
{
    RawEntry e;
    e.name = name;
    e.data = data;
    return e;
}

// Every file below root (hidden ones too) as relative path -> content.
inline QMap<QString, QByteArray> treeContent(const QString& root)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        out.insert(QDir(root).relativeFilePath(it.filePath()), ktr::test::readFile(it.filePath()));
    }
    return out;
}

// Entries of the system's temporary folder whose names start with prefix.
inline QStringList tempItems(const QString& prefix)
{
    return QDir(QDir::tempPath())
        .entryList({prefix + QLatin1Char('*')}, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

inline int runTool(const QString& program, const QStringList& args, QByteArray* output = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000))
        return -1;
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace backuptest
