#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <utility>
#include <vector>

// Writes one Motion-JPEG AVI segment: a 224-byte header at open, one "00dc" chunk per JPEG frame, and at
// the end the frame counts, the achieved frame rate, the list sizes and an "idx1" index. Used on the
// recorder's thread only.
class AviWriter
{
public:
    static constexpr int kHeaderSize = 224;
    // Position of the "movi" FOURCC: index offsets count from it.
    static constexpr int kMoviFourcc = 220;

    // The header as written at open for a screen of width x height (not rounded) at fps frames a second.
    static QByteArray header(int width, int height, int fps);

    ~AviWriter();

    // Creates the file (an existing file is never reused) and writes the header. False with
    // errorString() on failure.
    bool open(const QString& path, int width, int height, int fps);

    // Appends one frame chunk (padded to even length) with one write. timeMs is when the frame was taken
    // (steady milliseconds), from which finish() works out the rate achieved. False when the chunk was not
    // written whole; the file is then left for finish() to close.
    bool writeFrame(const QByteArray& jpeg, qint64 timeMs);

    // Patches the counts, the rate and the sizes, appends the index and closes the file. False when any
    // of it could not be written.
    bool finish();

    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }
    QString errorString() const { return m_error; }
    // File position after the last chunk.
    qint64 bytes() const { return m_end; }
    qint64 frames() const { return qint64(m_index.size()); }

private:
    bool patch(qint64 pos, quint32 value);

    QFile m_file;
    QString m_error;
    int m_fps = 0;
    qint64 m_end = 0;
    qint64 m_firstMs = -1;
    qint64 m_lastMs = -1;
    std::vector<std::pair<quint32, quint32>> m_index; // offset from "movi", JPEG length
};
