#include "platform/videodecoder.h"

#include "platform/videobackend.h"

namespace ktr::platform {

// The decoder itself comes from the video module, held from the first open() until the decoder goes.
struct VideoDecoder::Private
{
    std::unique_ptr<VideoModuleHold> module; // outlives the backend
    std::unique_ptr<VideoDecoderBackend> backend;
    QSize outputSize;
};

VideoDecoder::VideoDecoder() : d(std::make_unique<Private>())
{
}

VideoDecoder::~VideoDecoder() = default;

bool VideoDecoder::open(const QString& path, QString* message)
{
    if (!d->backend) {
        auto module = std::make_unique<VideoModuleHold>();
        if (!module->api()) {
            if (message)
                *message = QString::fromUtf8("无法初始化视频解码器");
            return false;
        }
        d->backend.reset(module->api()->createDecoder());
        d->module = std::move(module);
        d->backend->setOutputSize(d->outputSize);
    }
    const bool opened = d->backend->open(path, message);
    // A copy of its own: a text written in the module would vanish with it.
    if (message)
        *message = QString(message->constData(), message->size());
    return opened;
}

void VideoDecoder::close()
{
    if (d->backend)
        d->backend->close();
}

bool VideoDecoder::isOpen() const
{
    return d->backend && d->backend->isOpen();
}

QSize VideoDecoder::sourceSize() const
{
    return d->backend ? d->backend->sourceSize() : QSize(0, 0);
}

double VideoDecoder::frameRate() const
{
    return d->backend ? d->backend->frameRate() : 0;
}

void VideoDecoder::setOutputSize(QSize size)
{
    d->outputSize = size.isEmpty() ? QSize() : size;
    if (d->backend)
        d->backend->setOutputSize(d->outputSize);
}

QSize VideoDecoder::outputSize() const
{
    return d->outputSize.isEmpty() ? sourceSize() : d->outputSize;
}

VideoDecoder::ReadResult VideoDecoder::readFrame(QImage* frame, qint64* ptsMs, qint64* durationMs)
{
    if (!d->backend)
        return ReadResult::Error;
    return d->backend->readFrame(frame, ptsMs, durationMs);
}

bool VideoDecoder::rewind()
{
    return d->backend && d->backend->rewind();
}

} // namespace ktr::platform
