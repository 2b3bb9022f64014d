#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

// One recording segment file as the recorder sees it: opened on a path for a screen size and rate, fed
// frames, closed. The real ones write Motion-JPEG AVI and H.264 MP4; tests put their own in.
class SegmentSink
{
public:
    enum class Format { Avi, Mp4 };
    enum class Write {
        Written, // the frame is in the file
        Dropped, // this frame could not be used (it is lost, the file is fine)
        Failed,  // writing failed (a full disk, most likely)
    };

    virtual ~SegmentSink() = default;
    // Creates the file anew; false with errorString() when it can't be made (nothing is left behind).
    virtual bool open(const QString& path, QSize screen, int fps) = 0;
    // timeMs: steady milliseconds since the segment was opened.
    virtual Write write(const QImage& frame, qint64 timeMs) = 0;
    // Bytes in the file so far.
    virtual qint64 bytes() const = 0;
    // Finishes the file, keeping what was written; false when the end could not be written.
    virtual bool close() = 0;
    virtual QString errorString() const = 0;
};

using SegmentSinkFactory = std::function<std::unique_ptr<SegmentSink>(SegmentSink::Format)>;

// The program's own writers: AviWriter with JPEG frames of quality 85, and platform's Mp4Writer.
std::unique_ptr<SegmentSink> makeSegmentSink(SegmentSink::Format format);
