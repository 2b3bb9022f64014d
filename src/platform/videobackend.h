#pragma once

#include "platform/mp4writer.h"
#include "platform/videodecoder.h"

#include <QImage>
#include <QSize>
#include <QString>

// The FFmpeg side of video decoding lives in a module of its own ("ktr-videomodule.so"), opened while a
// video is decoded: FFmpeg and the hundred libraries behind it are then no part of every start.
// VideoDecoder forwards to its interface. Nothing the module hands out may point into it once it is
// closed: texts and images that cross are copied or allocated by the C library. MP4 writing goes to an
// encoder process instead (encoderprocess.h): some of those libraries can never be unloaded from a
// process, and a recording's memory must all go back at its stop.
namespace ktr::platform {

class VideoDecoderBackend
{
public:
    virtual ~VideoDecoderBackend() = default;
    virtual bool open(const QString& path, QString* message) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual QSize sourceSize() const = 0;
    virtual double frameRate() const = 0;
    virtual void setOutputSize(QSize size) = 0;
    virtual VideoDecoder::ReadResult readFrame(QImage* frame, qint64* ptsMs, qint64* durationMs) = 0;
    virtual bool rewind() = 0;
};

class Mp4WriterBackend
{
public:
    virtual ~Mp4WriterBackend() = default;
    virtual bool open(const QString& path, const Mp4Writer::EncoderSettings& settings) = 0;
    virtual bool writeFrame(const QImage& frame, qint64 timeMs) = 0;
    virtual bool close() = 0;
    virtual bool isOpen() const = 0;
    virtual QString errorString() const = 0;
    virtual qint64 framesWritten() const = 0;
    virtual qint64 estimatedBytes() const = 0;
};

// What the module hands out; version changes with every change of these interfaces.
struct VideoModuleApi
{
    static constexpr int kVersion = 2;
    int version = kVersion;
    VideoDecoderBackend* (*createDecoder)() = nullptr;
};

// The module's one exported symbol.
#define KTR_VIDEO_MODULE_ENTRY "ktr_video_module_api"

// The module's file name, looked for beside the executable and at its installed place (helperfiles.h).
inline constexpr const char* kVideoModuleFileName = "ktr-videomodule.so";
// The encoder process's program (encoderprocess.h), looked for the same way.
inline constexpr const char* kVideoEncoderFileName = "ktr-videoencoder";

// A hold on the module: the first hold opens it, the last one let go closes it again, so FFmpeg, its codec
// libraries and what they set up go back to the system (as far as the C library lets them) once nothing
// plays a video. Everything made through api() must be gone before the hold that made it: VideoDecoder keeps
// one beside its backend. Thread-safe.
class VideoModuleHold
{
public:
    VideoModuleHold();
    ~VideoModuleHold();
    VideoModuleHold(const VideoModuleHold&) = delete;
    VideoModuleHold& operator=(const VideoModuleHold&) = delete;

    // Null when the module can't be found or loaded (logged on the first failure only); such a hold holds
    // nothing.
    const VideoModuleApi* api() const { return m_api; }

private:
    const VideoModuleApi* m_api = nullptr;
};

} // namespace ktr::platform
