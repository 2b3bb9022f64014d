#include "recorder/aviwriter.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

void put32(char* at, quint32 v)
{
    qToLittleEndian(v, at);
}

void put16(char* at, quint16 v)
{
    qToLittleEndian(v, at);
}

void putFourcc(char* at, const char* fourcc)
{
    std::memcpy(at, fourcc, 4);
}

} // namespace

QByteArray AviWriter::header(int width, int height, int fps)
{
    const quint32 w = quint32(width);
    const quint32 h = quint32(height);
    const quint32 f = quint32(fps > 0 ? fps : 1);
    const quint32 frameBytes = w * h * 3;
    QByteArray b(kHeaderSize, '\0');
    char* p = b.data();
    putFourcc(p + 0, "RIFF");
    put32(p + 4, 0);
    putFourcc(p + 8, "AVI ");
    putFourcc(p + 12, "LIST");
    put32(p + 16, 192);
    putFourcc(p + 20, "hdrl");
    putFourcc(p + 24, "avih");
    put32(p + 28, 56);
    put32(p + 32, 1000000 / f);
    put32(p + 36, quint32(quint64(w) * h * f * 3 / 8 + 65536));
    put32(p + 40, 0);
    put32(p + 44, 0x10); // has an index
    put32(p + 48, 0);
    put32(p + 52, 0);
    put32(p + 56, 1);
    put32(p + 60, frameBytes);
    put32(p + 64, w);
    put32(p + 68, h);
    putFourcc(p + 88, "LIST");
    put32(p + 92, 116);
    putFourcc(p + 96, "strl");
    putFourcc(p + 100, "strh");
    put32(p + 104, 56);
    putFourcc(p + 108, "vids");
    putFourcc(p + 112, "MJPG");
    put32(p + 116, 0);
    put16(p + 120, 0);
    put16(p + 122, 0);
    put32(p + 124, 0);
    put32(p + 128, 1000);
    put32(p + 132, f * 1000);
    put32(p + 136, 0);
    put32(p + 140, 0);
    put32(p + 144, frameBytes);
    put32(p + 148, 0xFFFFFFFFu);
    put32(p + 152, 0);
    putFourcc(p + 164, "strf");
    put32(p + 168, 40);
    put32(p + 172, 40);
    put32(p + 176, w);
    put32(p + 180, h);
    put16(p + 184, 1);
    put16(p + 186, 24);
    putFourcc(p + 188, "MJPG");
    put32(p + 192, frameBytes);
    putFourcc(p + 212, "LIST");
    put32(p + 216, 4);
    putFourcc(p + 220, "movi");
    return b;
}

AviWriter::~AviWriter()
{
    if (m_file.isOpen())
        finish();
}

bool AviWriter::open(const QString& path, int width, int height, int fps)
{
    m_file.close();
    m_index.clear();
    m_error.clear();
    m_firstMs = m_lastMs = -1;
    m_fps = fps;
    m_end = 0;
    m_file.setFileName(path);
    // NewOnly: a name picked as free that turned out taken is refused rather than written over. Unbuffered:
    // each chunk reaches the file in one write, so a full disk shows at that frame.
    // Owner-only, whatever the folder allows: a segment shows everything that was on the screen.
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        m_error = m_file.errorString();
        return false;
    }
    const QByteArray head = header(width, height, fps);
    if (m_file.write(head) != head.size()) {
        m_error = m_file.errorString();
        m_file.close();
        QFile::remove(path);
        return false;
    }
    m_end = kHeaderSize;
    return true;
}

bool AviWriter::writeFrame(const QByteArray& jpeg, qint64 timeMs)
{
    if (!m_file.isOpen() || jpeg.isEmpty()) {
        m_error = QStringLiteral("no open segment or no frame data");
        return false;
    }
    const quint32 length = quint32(jpeg.size());
    const int pad = length & 1;
    QByteArray chunk;
    chunk.reserve(jpeg.size() + 12);
    chunk.resize(8);
    putFourcc(chunk.data(), "00dc");
    put32(chunk.data() + 4, length);
    chunk.append(jpeg);
    if (pad)
        chunk.append('\0');
    if (!m_file.seek(m_end) || m_file.write(chunk) != chunk.size()) {
        m_error = m_file.errorString();
        return false;
    }
    m_index.emplace_back(quint32(m_end - kMoviFourcc), length);
    m_end += chunk.size();
    if (m_firstMs < 0)
        m_firstMs = timeMs;
    m_lastMs = timeMs;
    return true;
}

bool AviWriter::patch(qint64 pos, quint32 value)
{
    char bytes[4];
    put32(bytes, value);
    return m_file.seek(pos) && m_file.write(bytes, 4) == 4;
}

bool AviWriter::finish()
{
    if (!m_file.isOpen())
        return false;
    const quint32 frames = quint32(m_index.size());
    // A chunk cut short by a failed write lies past the last whole one: it is no part of the file.
    bool ok = m_file.size() <= m_end || m_file.resize(m_end);
    ok = patch(48, frames) && ok;
    ok = patch(140, frames) && ok;
    // The rate the frames really came at, so the file plays at the speed it was recorded.
    if (frames >= 2 && m_lastMs > m_firstMs) {
        const double span = double(m_lastMs - m_firstMs);
        const auto rate = quint32(std::max(1.0, std::round((frames - 1) * 1000000.0 / span)));
        const auto usPerFrame = quint32(std::max(1.0, std::round(span * 1000.0 / (frames - 1))));
        ok = patch(32, usPerFrame) && ok;
        ok = patch(132, rate) && ok;
    }
    ok = patch(216, quint32(m_end - 220)) && ok;

    QByteArray index;
    index.reserve(qsizetype(16) * frames + 8);
    index.resize(8);
    putFourcc(index.data(), "idx1");
    put32(index.data() + 4, 16 * frames);
    char entry[16];
    for (const auto& [offset, length] : m_index) {
        putFourcc(entry, "00dc");
        put32(entry + 4, 0x10); // key frame
        put32(entry + 8, offset);
        put32(entry + 12, length);
        index.append(entry, 16);
    }
    qint64 end = m_end + index.size();
    if (!m_file.seek(m_end) || m_file.write(index) != index.size()) {
        // The disk took part of the index at most: keep the entries that landed whole, so a player finds
        // those frames; without even the chunk's header the file says it has no index (players then read
        // the frames one after the other).
        ok = false;
        m_error = m_file.errorString();
        const qint64 landed = std::max<qint64>(0, m_file.size() - m_end);
        const qint64 entries = landed >= 8 ? std::min<qint64>(frames, (landed - 8) / 16) : 0;
        if (landed >= 8) {
            end = m_end + 8 + 16 * entries;
            patch(m_end + 4, quint32(16 * entries));
        } else {
            end = m_end;
            patch(44, 0);
        }
        m_file.resize(end);
    }
    // The RIFF size makes the file readable at all: it is written whatever else failed.
    ok = patch(4, quint32(end - 8)) && ok;
    if (!ok && m_error.isEmpty())
        m_error = m_file.errorString();
    m_file.close();
    return ok;
}
