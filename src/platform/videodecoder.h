#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

namespace ktr::platform {

// Decodes the video stream of a local file frame by frame into 32-bit RGB images (FFmpeg behind it).
// Sound and every other stream are skipped. One decoder belongs to one thread at a time; it touches no
// widget or pixmap, so it may run on a worker thread.
class VideoDecoder
{
public:
    enum class ReadResult {
        Frame,       // a frame was decoded
        EndOfStream, // the last frame has been delivered; rewind() to play again
        NoFrame,     // input was consumed without a picture (damaged data, or nothing decodable yet)
        Error,       // reading the file failed; the decoder is of no further use
    };

    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Opens a local file (never a URL) and prepares its first video stream. On failure returns false with a
    // Chinese message (shown through Lang::tr) and stays closed.
    bool open(const QString& path, QString* message = nullptr);
    void close();
    bool isOpen() const;

    // The picture size of the stream (0 x 0 while closed).
    QSize sourceSize() const;
    // Frames per second as the file states or suggests it; 0 when unknown.
    double frameRate() const;

    // The size frames are converted to; an empty size means the source size. Takes effect from the next
    // frame. The aspect ratio is the caller's business.
    void setOutputSize(QSize size);
    QSize outputSize() const;

    // Decodes the next frame. On Frame, *frame holds it (Format_RGB32), *ptsMs its presentation time in ms
    // from the start of the stream, *durationMs how long it is meant to stay (never below 1).
    ReadResult readFrame(QImage* frame, qint64* ptsMs = nullptr, qint64* durationMs = nullptr);

    // Goes back to the first frame.
    bool rewind();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace ktr::platform
