#pragma once

#include "platform/videobackend.h"

#include <memory>

// The module's FFmpeg implementations of the video interfaces (the only code that includes FFmpeg).
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

class FfmpegWriter final : public Mp4WriterBackend
{
public:
    FfmpegWriter();
    ~FfmpegWriter() override;
    bool open(const QString& path, const Mp4Writer::EncoderSettings& settings) override;
    bool writeFrame(const QImage& frame, qint64 timeMs) override;
    bool close() override;
    bool isOpen() const override;
    QString errorString() const override;
    qint64 framesWritten() const override;
    qint64 estimatedBytes() const override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace ktr::platform::ffmpeg
