#include "platform/videomodule/ffmpegbackends.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstdlib>

namespace ktr::platform::ffmpeg {
namespace {

// Packets read in one readFrame call before it gives up with NoFrame, so a caller that checks a stop flag
// between calls is never held long by a file full of other streams or damaged data.
constexpr int kMaxPacketsPerRead = 256;
// Row alignment of the images handed out; swscale's fast paths want it.
constexpr int kRowAlign = 64;
// A size no background needs; larger requests are refused rather than allocated.
constexpr int kMaxSide = 16384;

// A Format_RGB32 image whose rows are aligned for swscale; the pixels are freed with the last copy. The C
// library allocates and frees them: an image may outlive this module, which is closed when no video plays.
QImage alignedImage(int width, int height)
{
    const qsizetype stride = (qsizetype(width) * 4 + kRowAlign - 1) / kRowAlign * kRowAlign;
    auto* data = static_cast<uchar*>(std::aligned_alloc(kRowAlign, size_t(stride) * size_t(height)));
    if (!data)
        return {};
    return QImage(data, width, height, stride, QImage::Format_RGB32, ::free, data);
}

} // namespace

struct FfmpegDecoder::Private
{
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwsContext* sws = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    AVRational timeBase{1, 1000};
    int64_t startPts = 0;
    int64_t lastPts = AV_NOPTS_VALUE;
    qint64 defaultDurationMs = 40;
    double frameRate = 0;
    QSize sourceSize;
    QSize outputSize;
    bool draining = false;
    bool failed = false;

    void close()
    {
        sws_freeContext(sws);
        sws = nullptr;
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        stream = -1;
        lastPts = AV_NOPTS_VALUE;
        sourceSize = QSize();
        frameRate = 0;
        draining = false;
        failed = false;
    }

    bool convert(QImage* out)
    {
        const int srcW = frame->width;
        const int srcH = frame->height;
        if (srcW <= 0 || srcH <= 0)
            return false;
        QSize dst = outputSize.isEmpty() ? sourceSize : outputSize;
        if (dst.isEmpty())
            dst = QSize(srcW, srcH);
        if (dst.width() > kMaxSide || dst.height() > kMaxSide)
            return false;
        sws = sws_getCachedContext(sws, srcW, srcH, AVPixelFormat(frame->format), dst.width(), dst.height(),
                                   AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws)
            return false;
        // State the source colours, or swscale takes every picture for limited-range BT.601.
        const int space = frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709
                          : frame->colorspace == AVCOL_SPC_BT2020_NCL || frame->colorspace == AVCOL_SPC_BT2020_CL
                              ? SWS_CS_BT2020
                              : SWS_CS_DEFAULT;
        const auto fmt = AVPixelFormat(frame->format);
        const bool fullRange = frame->color_range == AVCOL_RANGE_JPEG || fmt == AV_PIX_FMT_YUVJ420P ||
                               fmt == AV_PIX_FMT_YUVJ422P || fmt == AV_PIX_FMT_YUVJ444P;
        int* invTable = nullptr;
        int* table = nullptr;
        int srcRange = 0;
        int dstRange = 0;
        int brightness = 0;
        int contrast = 0;
        int saturation = 0;
        if (sws_getColorspaceDetails(sws, &invTable, &srcRange, &table, &dstRange, &brightness, &contrast,
                                     &saturation) >= 0) {
            sws_setColorspaceDetails(sws, sws_getCoefficients(space), fullRange ? 1 : 0, table, 1, brightness, contrast,
                                     saturation);
        }
        QImage image = alignedImage(dst.width(), dst.height());
        if (image.isNull())
            return false;
        uint8_t* dstData[4] = {image.bits(), nullptr, nullptr, nullptr};
        const int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
        if (sws_scale(sws, frame->data, frame->linesize, 0, srcH, dstData, dstStride) <= 0)
            return false;
        *out = std::move(image);
        return true;
    }

    void timing(qint64* ptsMs, qint64* durationMs)
    {
        int64_t pts = frame->best_effort_timestamp;
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
        const int64_t duration = frame->duration;
#else
        const int64_t duration = frame->pkt_duration;
#endif
        qint64 durMs = duration > 0 ? av_rescale_q(duration, timeBase, AVRational{1, 1000}) : 0;
        if (durMs <= 0)
            durMs = defaultDurationMs;
        if (pts == AV_NOPTS_VALUE) {
            // No stamp: follow on from the previous frame.
            pts = lastPts == AV_NOPTS_VALUE ? startPts : lastPts + av_rescale_q(durMs, AVRational{1, 1000}, timeBase);
        }
        lastPts = pts;
        if (ptsMs)
            *ptsMs = av_rescale_q(pts - startPts, timeBase, AVRational{1, 1000});
        if (durationMs)
            *durationMs = qMax<qint64>(1, durMs);
    }
};

FfmpegDecoder::FfmpegDecoder() : d(std::make_unique<Private>())
{
}

FfmpegDecoder::~FfmpegDecoder()
{
    d->close();
}

bool FfmpegDecoder::open(const QString& path, QString* message)
{
    d->close();
    auto fail = [&](const char* text) {
        d->close();
        if (message)
            *message = QString::fromUtf8(text);
        return false;
    };
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return fail("视频文件不存在");

    // "file:" and a protocol whitelist keep a path from being read as a URL, and a playlist inside the file
    // from reaching the network.
    const QByteArray url = "file:" + QFile::encodeName(info.absoluteFilePath());
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int opened = avformat_open_input(&d->format, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        d->format = nullptr;
        return fail("无法打开视频文件");
    }
    if (avformat_find_stream_info(d->format, nullptr) < 0)
        return fail("无法读取视频信息");

    const AVCodec* decoder = nullptr;
    d->stream = av_find_best_stream(d->format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (d->stream < 0) {
        const bool noDecoder = d->stream == AVERROR_DECODER_NOT_FOUND;
        return fail(noDecoder ? "不支持该视频格式" : "文件中没有视频画面");
    }
    AVStream* st = d->format->streams[d->stream];
    for (unsigned i = 0; i < d->format->nb_streams; ++i) {
        if (int(i) != d->stream)
            d->format->streams[i]->discard = AVDISCARD_ALL;
    }

    d->codec = avcodec_alloc_context3(decoder);
    if (!d->codec || avcodec_parameters_to_context(d->codec, st->codecpar) < 0)
        return fail("无法初始化视频解码器");
    d->codec->pkt_timebase = st->time_base;
    // A background needs no more than two cores.
    d->codec->thread_count = 2;
    if (avcodec_open2(d->codec, decoder, nullptr) < 0)
        return fail("无法初始化视频解码器");

    int width = st->codecpar->width;
    int height = st->codecpar->height;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return fail("不支持该视频格式");
    const AVRational sar = av_guess_sample_aspect_ratio(d->format, st, nullptr);
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den)
        width = qBound(1, int(std::lround(double(width) * sar.num / sar.den)), kMaxSide);
    d->sourceSize = QSize(width, height);

    d->timeBase = st->time_base;
    d->startPts = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    const AVRational rate = av_guess_frame_rate(d->format, st, nullptr);
    d->frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
    if (d->frameRate > 0)
        d->defaultDurationMs = qMax<qint64>(1, qint64(std::lround(1000.0 / d->frameRate)));

    d->packet = av_packet_alloc();
    d->frame = av_frame_alloc();
    if (!d->packet || !d->frame)
        return fail("无法初始化视频解码器");
    return true;
}

void FfmpegDecoder::close()
{
    d->close();
}

bool FfmpegDecoder::isOpen() const
{
    return d->codec != nullptr;
}

QSize FfmpegDecoder::sourceSize() const
{
    return d->sourceSize.isValid() ? d->sourceSize : QSize(0, 0);
}

double FfmpegDecoder::frameRate() const
{
    return d->frameRate;
}

void FfmpegDecoder::setOutputSize(QSize size)
{
    d->outputSize = size.isEmpty() ? QSize() : size;
}

VideoDecoder::ReadResult FfmpegDecoder::readFrame(QImage* frame, qint64* ptsMs, qint64* durationMs)
{
    if (!isOpen() || d->failed)
        return ReadResult::Error;
    for (int packets = 0; packets < kMaxPacketsPerRead; ++packets) {
        const int received = avcodec_receive_frame(d->codec, d->frame);
        if (received == 0) {
            QImage image;
            const bool ok = d->convert(&image);
            if (ok)
                d->timing(ptsMs, durationMs);
            av_frame_unref(d->frame);
            if (!ok)
                return ReadResult::NoFrame;
            if (frame)
                *frame = std::move(image);
            return ReadResult::Frame;
        }
        if (received == AVERROR_EOF)
            return ReadResult::EndOfStream;
        if (received != AVERROR(EAGAIN))
            return ReadResult::NoFrame; // a damaged picture; the next call goes on
        if (d->draining)
            return ReadResult::EndOfStream;

        const int read = av_read_frame(d->format, d->packet);
        if (read < 0) {
            const bool atEnd = read == AVERROR_EOF || (d->format->pb && avio_feof(d->format->pb));
            if (!atEnd) {
                d->failed = true;
                return ReadResult::Error;
            }
            // Drain the pictures the decoder still holds.
            avcodec_send_packet(d->codec, nullptr);
            d->draining = true;
            continue;
        }
        if (d->packet->stream_index == d->stream) {
            const int sent = avcodec_send_packet(d->codec, d->packet);
            av_packet_unref(d->packet);
            if (sent < 0 && sent != AVERROR(EAGAIN))
                return ReadResult::NoFrame;
        } else {
            av_packet_unref(d->packet);
        }
    }
    return ReadResult::NoFrame;
}

bool FfmpegDecoder::rewind()
{
    if (!isOpen() || d->failed)
        return false;
    int sought = av_seek_frame(d->format, d->stream, d->startPts, AVSEEK_FLAG_BACKWARD);
    if (sought < 0)
        sought = avformat_seek_file(d->format, -1, INT64_MIN, 0, 0, 0);
    if (sought < 0)
        return false;
    avcodec_flush_buffers(d->codec);
    d->draining = false;
    d->lastPts = AV_NOPTS_VALUE;
    return true;
}

} // namespace ktr::platform::ffmpeg
