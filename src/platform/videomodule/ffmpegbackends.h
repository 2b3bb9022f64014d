#pragma once

#include "platform/videobackend.h"

#include <memory>

// The module's FFmpeg implementation of the video decoder interface (the only code that includes FFmpeg).
namespace ktr::platform::ffmpeg {

class FfmpegDecoder final : public VideoDecoderBackend
{
public:
    using ReadResult = VideoDecoder::ReadResult;
    FfmpegDecoder();
    ~FfmpegDecoder() override;
    bool open(const QString& path, QString* message) override;
    void close() override;
    bool isOpen() const override;
    QSize sourceSize() const override;
    double frameRate() const override;
    void setOutputSize(QSize size) override;
    ReadResult readFrame(QImage* frame, qint64* ptsMs, qint64* durationMs) override;
    bool rewind() override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace ktr::platform::ffmpeg
