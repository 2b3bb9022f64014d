#include "platform/videomodule/ffmpegbackends.h"

#include "platform/videomodule/bgrxtonv12.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace ktr::platform::ffmpeg {
namespace {

// Converted frames in flight: one being filled by the capture thread, one being encoded, four waiting. The
// capture of the next picture overlaps the encoding of the last, and the queue takes up the key frames and
// the moments the encoder's threads don't get a processor (with three, the capture waited for the encoder
// every two seconds and lost a frame or two each time). When it is full the capture waits and the pacing
// gives the slot up: the queue never grows past this.
constexpr int kFramesInFlight = 6;

// Fragments make a file that lost its end still playable; an empty first "moov" lets the header be written
// before any frame exists.
constexpr const char* kMovFlags = "+frag_keyframe+empty_moov+default_base_moof";

QString avError(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

} // namespace

struct FfmpegWriter::Private
{
    AVFormatContext* fmt = nullptr;
    AVCodecContext* enc = nullptr;
    AVStream* stream = nullptr;
    Mp4Writer::EncoderSettings settings;
    QString path;
    QString error;
    bool open = false;
    bool fileCreated = false;
    bool headerWritten = false;
    std::atomic<bool> failed{false}; // a write failed: the end of the file can't be trusted to land
    std::atomic<qint64> framesWritten{0};
    std::atomic<qint64> bytes{0};
    int64_t lastPts = -1;
    // The stamps of frames handed to the encoder whose packets are not written yet: a packet's duration is
    // the gap to the next frame's stamp, so each packet waits for the frame after it. Encoder thread only.
    std::deque<int64_t> submitted;
    std::deque<AVPacket*> pending;

    // Encoding runs on a thread of its own, fed converted frames by writeFrame.
    std::vector<AVFrame*> frames; // all of them, for freeing
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<AVFrame*> spare;  // free for the capture thread to fill
    std::deque<AVFrame*> queued; // waiting for the encoder
    bool stopping = false;
    QString encodeError; // a failure of the encoder thread not yet reported by writeFrame
    std::thread encoder;

    void encoderLoop()
    {
        for (;;) {
            AVFrame* f = nullptr;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return !queued.empty() || stopping; });
                if (queued.empty())
                    return;
                f = queued.front();
                queued.pop_front();
            }
            QString why;
            submitted.push_back(f->pts);
            int r = avcodec_send_frame(enc, f);
            if (r < 0) {
                submitted.pop_back();
                why = QStringLiteral("encoding failed: ") + avError(r);
            } else if ((r = receivePackets()) < 0) {
                why = QStringLiteral("encoding failed: ") + avError(r);
            } else if ((r = writeReady(false)) < 0) {
                failed = true;
                why = QStringLiteral("write failed: ") + avError(r);
            }
            {
                std::lock_guard lock(mutex);
                spare.push_back(f);
                if (!why.isEmpty())
                    encodeError = why;
            }
            wake.notify_all();
        }
    }

    void stopEncoder()
    {
        if (!encoder.joinable())
            return;
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        encoder.join(); // the frames queued are encoded first
    }

    void release()
    {
        stopEncoder();
        for (AVFrame* f : frames)
            av_frame_free(&f);
        frames.clear();
        spare.clear();
        queued.clear();
        stopping = false;
        encodeError.clear();
        for (AVPacket* p : pending)
            av_packet_free(&p);
        pending.clear();
        submitted.clear();
        avcodec_free_context(&enc);
        if (fmt) {
            if (fmt->pb)
                avio_closep(&fmt->pb);
            avformat_free_context(fmt);
            fmt = nullptr;
        }
        stream = nullptr;
        open = false;
        headerWritten = false;
    }

    void removeFile()
    {
        // Only a file this writer made, and never anything but a plain file.
        if (fileCreated && QFileInfo(path).isFile())
            QFile::remove(path);
        fileCreated = false;
    }

    int receivePackets()
    {
        for (;;) {
            AVPacket* p = av_packet_alloc();
            if (!p)
                return AVERROR(ENOMEM);
            const int r = avcodec_receive_packet(enc, p);
            if (r < 0) {
                av_packet_free(&p);
                return r == AVERROR(EAGAIN) || r == AVERROR_EOF ? 0 : r;
            }
            pending.push_back(p);
        }
    }

    // Writes every packet whose duration is known; at the end (flushing) the last one lasts one nominal
    // frame.
    int writeReady(bool flushing)
    {
        const int64_t nominal = std::max<int64_t>(1, 1000 / std::max(1, settings.fps));
        while (!pending.empty()) {
            AVPacket* p = pending.front();
            while (!submitted.empty() && submitted.front() < p->pts)
                submitted.pop_front(); // a frame the encoder produced nothing for
            int64_t duration = nominal;
            if (submitted.size() >= 2)
                duration = submitted[1] - submitted[0];
            else if (!flushing)
                break;
            if (!submitted.empty())
                submitted.pop_front();
            pending.pop_front();
            p->duration = std::max<int64_t>(1, duration);
            p->stream_index = stream->index;
            av_packet_rescale_ts(p, enc->time_base, stream->time_base);
            const int size = p->size;
            int r = av_write_frame(fmt, p);
            av_packet_free(&p);
            // Whatever the muxer let go of goes to the file now: a full disk shows at this frame, and a
            // finished fragment is on disk, not in a buffer.
            if (r >= 0 && fmt->pb) {
                avio_flush(fmt->pb);
                r = fmt->pb->error;
            }
            if (r < 0)
                return r;
            bytes += size;
            ++framesWritten;
        }
        return 0;
    }

    bool fail(const QString& why)
    {
        error = why;
        return false;
    }
};

FfmpegWriter::FfmpegWriter() : d(std::make_unique<Private>())
{
}

FfmpegWriter::~FfmpegWriter()
{
    close();
}

bool FfmpegWriter::open(const QString& path, const Mp4Writer::EncoderSettings& settings)
{
    close();
    // libx264 reports its settings and statistics at the info level: keep the log to warnings.
    if (av_log_get_level() > AV_LOG_WARNING)
        av_log_set_level(AV_LOG_WARNING);
    d->path = path;
    d->error.clear();
    d->failed = false;
    d->framesWritten = 0;
    d->bytes = 0;
    d->lastPts = -1;
    d->settings = settings;
    const int fps = settings.fps;
    const Mp4Writer::EncoderSettings& s = d->settings;
    auto fail = [this](const QString& why) {
        d->release();
        d->removeFile();
        return d->fail(why);
    };
    if (s.width <= 0 || s.height <= 0 || fps <= 0)
        return fail(QStringLiteral("no frame size or rate"));

    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return fail(QStringLiteral("no libx264 encoder"));
    if (avformat_alloc_output_context2(&d->fmt, nullptr, "mp4", nullptr) < 0 || !d->fmt)
        return fail(QStringLiteral("no mp4 muxer"));
    d->stream = avformat_new_stream(d->fmt, nullptr);
    d->enc = avcodec_alloc_context3(codec);
    if (!d->stream || !d->enc)
        return fail(QStringLiteral("out of memory"));

    AVCodecContext* enc = d->enc;
    enc->width = s.width;
    enc->height = s.height;
    enc->time_base = AVRational{1, 1000}; // stamps are steady-clock milliseconds
    enc->framerate = AVRational{fps, 1};
    enc->sample_aspect_ratio = AVRational{1, 1};
    enc->pix_fmt = AV_PIX_FMT_NV12;
    enc->bit_rate = s.bitrate;
    enc->gop_size = s.gop;
    enc->max_b_frames = 0; // packets leave in display order, so each one's duration is simple to give
    enc->thread_count = s.threads;
    enc->field_order = AV_FIELD_PROGRESSIVE;
    // Limited-range BT.601, and said so: a player that had to guess would crush blacks or shift hues.
    enc->color_range = AVCOL_RANGE_MPEG;
    enc->colorspace = AVCOL_SPC_SMPTE170M;
    if (d->fmt->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(enc->priv_data, "preset", s.preset.toLatin1().constData(), 0);
    av_opt_set(enc->priv_data, "tune", s.tune.toLatin1().constData(), 0);
    int r = avcodec_open2(enc, codec, nullptr);
    if (r < 0)
        return fail(QStringLiteral("encoder not opened: ") + avError(r));
    if ((r = avcodec_parameters_from_context(d->stream->codecpar, enc)) < 0)
        return fail(QStringLiteral("stream parameters: ") + avError(r));
    d->stream->time_base = enc->time_base;
    d->stream->avg_frame_rate = enc->framerate;

    const QByteArray url = "file:" + QFile::encodeName(path);
    if ((r = avio_open(&d->fmt->pb, url.constData(), AVIO_FLAG_WRITE)) < 0)
        return fail(QStringLiteral("file not created: ") + avError(r));
    d->fileCreated = true;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", kMovFlags, 0);
    r = avformat_write_header(d->fmt, &options);
    av_dict_free(&options);
    if (r < 0)
        return fail(QStringLiteral("header not written: ") + avError(r));
    d->headerWritten = true;

    for (int i = 0; i < kFramesInFlight; ++i) {
        AVFrame* f = av_frame_alloc();
        if (!f)
            return fail(QStringLiteral("out of memory"));
        d->frames.push_back(f);
        f->format = AV_PIX_FMT_NV12;
        f->width = s.width;
        f->height = s.height;
        f->color_range = AVCOL_RANGE_MPEG;
        f->colorspace = AVCOL_SPC_SMPTE170M;
        if ((r = av_frame_get_buffer(f, 0)) < 0)
            return fail(QStringLiteral("frame buffer: ") + avError(r));
        d->spare.push_back(f);
    }

    d->bytes = avio_tell(d->fmt->pb);
    d->encoder = std::thread([p = d.get()] { p->encoderLoop(); });
    d->open = true;
    return true;
}

bool FfmpegWriter::writeFrame(const QImage& image, qint64 timeMs)
{
    if (!d->open)
        return d->fail(QStringLiteral("not open"));
    QImage src = image;
    if (src.format() != QImage::Format_RGB32 && src.format() != QImage::Format_ARGB32 &&
        src.format() != QImage::Format_ARGB32_Premultiplied)
        src = src.convertToFormat(QImage::Format_RGB32);
    if ((src.width() & ~1) != d->settings.width || (src.height() & ~1) != d->settings.height)
        return d->fail(QStringLiteral("frame size differs from the segment's"));

    AVFrame* f = nullptr;
    {
        std::unique_lock lock(d->mutex);
        if (!d->encodeError.isEmpty()) {
            // The encoder failed on an earlier frame: this one is refused in its place. A failed write
            // refuses every frame after it (the file can't take more), as when writing was done here.
            d->error = d->encodeError;
            if (!d->failed)
                d->encodeError.clear();
            return false;
        }
        // Waits only when the encoder is two frames behind.
        d->wake.wait(lock, [this] { return !d->spare.empty(); });
        f = d->spare.front();
        d->spare.pop_front();
    }
    auto giveBack = [&] {
        std::lock_guard lock(d->mutex);
        d->spare.push_front(f);
    };
    int r = av_frame_make_writable(f);
    if (r < 0) {
        giveBack();
        return d->fail(QStringLiteral("frame buffer: ") + avError(r));
    }
    // QImage's 32-bit RGB is B, G, R, X in memory on this little-endian machine. Converting only the even
    // top-left rectangle drops an odd last column or row without a copy.
    bgrxToNv12(src.constBits(), int(src.bytesPerLine()), d->settings.width, d->settings.height, f->data[0],
               f->linesize[0], f->data[1], f->linesize[1]);

    const int64_t pts = std::max<int64_t>(timeMs, d->lastPts + 1);
    d->lastPts = pts;
    f->pts = pts;
    {
        std::lock_guard lock(d->mutex);
        d->queued.push_back(f);
    }
    d->wake.notify_all();
    return true;
}

bool FfmpegWriter::close()
{
    if (!d->fmt && !d->enc)
        return true;
    d->stopEncoder();
    bool ok = d->headerWritten && !d->failed;
    int code = 0;
    if (d->headerWritten) {
        int r = avcodec_send_frame(d->enc, nullptr);
        if (r >= 0)
            r = d->receivePackets();
        if (r >= 0)
            r = d->writeReady(true);
        if (r >= 0)
            r = av_write_trailer(d->fmt);
        if (r >= 0 && d->fmt->pb)
            r = avio_closep(&d->fmt->pb);
        if (r < 0) {
            ok = false;
            code = r;
        }
    }
    const bool hadFrames = d->framesWritten > 0;
    d->release();
    if (!ok) {
        if (!hadFrames) {
            qWarning().noquote() << "Mp4Writer Finalize failed, removing broken segment:" << code << d->path;
            d->removeFile();
        } else {
            qWarning().noquote() << "Mp4Writer Finalize failed, keeping the fragments written:" << code << d->path;
        }
        d->error = QStringLiteral("file not finished: ") + avError(code);
    }
    d->fileCreated = false;
    return ok;
}

bool FfmpegWriter::isOpen() const
{
    return d->open;
}

QString FfmpegWriter::errorString() const
{
    return d->error;
}

qint64 FfmpegWriter::framesWritten() const
{
    return d->framesWritten;
}

qint64 FfmpegWriter::estimatedBytes() const
{
    return d->bytes;
}

} // namespace ktr::platform::ffmpeg
