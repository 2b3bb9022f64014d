// The encoder process ("ktr-videoencoder"): H.264 with libx264, muxed by FFmpeg into a fragmented MP4. The
// program starts it for a recording and ends it at the stop, so FFmpeg, the codec libraries it pulls in
// (several can never be unloaded from a process) and the encoder's threads and heaps all go with it. It
// takes NV12 frames from slots of a shared memory file and orders over the socket on descriptor 3
// (platform/encoderwire.h); it leaves when the socket closes. Plain C++: no Qt to load for this.
#include "platform/encoderwire.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <deque>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace wire = ktr::platform::encoderwire;

// Fragments make a file that lost its end still playable; an empty first "moov" lets the header be written
// before any frame exists.
constexpr const char* kMovFlags = "+frag_keyframe+empty_moov+default_base_moof";

std::string avError(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

bool isRegularFile(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

class Encoder
{
public:
    ~Encoder() { release(); }

    // Opens the file and the encoder; on failure nothing this made is left and error says why.
    bool open(const std::string& path, const wire::OpenRequest& s, uint8_t* slots);
    // Encodes the frame in a slot. False with error set when encoding or writing failed.
    bool encode(uint32_t slot, int64_t pts);
    // Finishes the file; fills the Closed reply.
    void close(wire::Reply* reply);

    bool isOpen() const { return m_fmt != nullptr; }
    bool failed() const { return m_failed; }
    int64_t framesWritten() const { return m_framesWritten; }
    int64_t bytes() const { return m_bytes; }
    const std::string& error() const { return m_error; }
    // Slots the encoder let go of since the last call.
    uint32_t takeFreed()
    {
        const uint32_t freed = m_freed;
        m_freed = 0;
        return freed;
    }

private:
    void release();
    void removeFile();
    int receivePackets();
    int writeReady(bool flushing);
    bool fail(const std::string& why)
    {
        release();
        removeFile();
        m_error = why;
        return false;
    }

    AVFormatContext* m_fmt = nullptr;
    AVCodecContext* m_enc = nullptr;
    AVStream* m_stream = nullptr;
    wire::OpenRequest m_settings;
    uint8_t* m_slots = nullptr;
    std::string m_path;
    std::string m_error;
    bool m_fileCreated = false;
    bool m_headerWritten = false;
    bool m_failed = false;
    int64_t m_framesWritten = 0;
    int64_t m_bytes = 0;
    uint32_t m_freed = 0;
    // The stamps of frames handed to the encoder whose packets are not written yet: a packet's duration is
    // the gap to the next frame's stamp, so each packet waits for the frame after it.
    std::deque<int64_t> m_submitted;
    std::deque<AVPacket*> m_pending;
};

struct SlotRef
{
    uint32_t* freed;
    uint32_t slot;
};

// The encoder holds a frame as long as it needs its pixels (libx264 copies them at once); the slot goes
// back to the program when the last reference does.
void slotReleased(void* opaque, uint8_t*)
{
    auto* ref = static_cast<SlotRef*>(opaque);
    *ref->freed |= 1u << ref->slot;
    delete ref;
}

void Encoder::release()
{
    for (AVPacket* p : m_pending)
        av_packet_free(&p);
    m_pending.clear();
    m_submitted.clear();
    avcodec_free_context(&m_enc);
    if (m_fmt) {
        if (m_fmt->pb)
            avio_closep(&m_fmt->pb);
        avformat_free_context(m_fmt);
        m_fmt = nullptr;
    }
    m_stream = nullptr;
    m_headerWritten = false;
}

void Encoder::removeFile()
{
    // Only a file this made, and never anything but a plain file.
    if (m_fileCreated && isRegularFile(m_path))
        ::unlink(m_path.c_str());
    m_fileCreated = false;
}

bool Encoder::open(const std::string& path, const wire::OpenRequest& s, uint8_t* slots)
{
    release();
    m_path = path;
    m_error.clear();
    m_failed = false;
    m_framesWritten = 0;
    m_bytes = 0;
    m_settings = s;
    m_slots = slots;
    if (s.width <= 0 || s.height <= 0 || s.fps <= 0)
        return fail("no frame size or rate");

    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return fail("no libx264 encoder");
    if (avformat_alloc_output_context2(&m_fmt, nullptr, "mp4", nullptr) < 0 || !m_fmt)
        return fail("no mp4 muxer");
    m_stream = avformat_new_stream(m_fmt, nullptr);
    m_enc = avcodec_alloc_context3(codec);
    if (!m_stream || !m_enc)
        return fail("out of memory");

    AVCodecContext* enc = m_enc;
    enc->width = s.width;
    enc->height = s.height;
    enc->time_base = AVRational{1, 1000}; // stamps are steady-clock milliseconds
    enc->framerate = AVRational{s.fps, 1};
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
    if (m_fmt->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(enc->priv_data, "preset", s.preset, 0);
    av_opt_set(enc->priv_data, "tune", s.tune, 0);
    int r = avcodec_open2(enc, codec, nullptr);
    if (r < 0)
        return fail("encoder not opened: " + avError(r));
    if ((r = avcodec_parameters_from_context(m_stream->codecpar, enc)) < 0)
        return fail("stream parameters: " + avError(r));
    m_stream->time_base = enc->time_base;
    m_stream->avg_frame_rate = enc->framerate;

    const std::string url = "file:" + path;
    if ((r = avio_open(&m_fmt->pb, url.c_str(), AVIO_FLAG_WRITE)) < 0)
        return fail("file not created: " + avError(r));
    m_fileCreated = true;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", kMovFlags, 0);
    r = avformat_write_header(m_fmt, &options);
    av_dict_free(&options);
    if (r < 0)
        return fail("header not written: " + avError(r));
    m_headerWritten = true;
    m_bytes = avio_tell(m_fmt->pb);
    return true;
}

bool Encoder::encode(uint32_t slot, int64_t pts)
{
    if (!m_headerWritten) {
        m_freed |= 1u << slot;
        m_error = "not open";
        return false;
    }
    if (m_failed) {
        // The file takes no more: every frame after a failed write is refused.
        m_freed |= 1u << slot;
        return false;
    }
    AVFrame* f = av_frame_alloc();
    auto* ref = new SlotRef{&m_freed, slot};
    uint8_t* base = m_slots + slot * m_settings.slotBytes;
    AVBufferRef* buf = f ? av_buffer_create(base, int(m_settings.slotBytes), slotReleased, ref, 0) : nullptr;
    if (!buf) {
        delete ref;
        av_frame_free(&f);
        m_freed |= 1u << slot;
        m_error = "encoding failed: out of memory";
        return false;
    }
    // The frame points into the slot: no copy on this side.
    f->buf[0] = buf;
    f->format = AV_PIX_FMT_NV12;
    f->width = m_settings.width;
    f->height = m_settings.height;
    f->color_range = AVCOL_RANGE_MPEG;
    f->colorspace = AVCOL_SPC_SMPTE170M;
    f->data[0] = base;
    f->linesize[0] = m_settings.yStride;
    f->data[1] = base + m_settings.uvOffset;
    f->linesize[1] = m_settings.uvStride;
    f->pts = pts;

    m_submitted.push_back(pts);
    int r = avcodec_send_frame(m_enc, f);
    av_frame_free(&f);
    if (r < 0) {
        m_submitted.pop_back();
        m_error = "encoding failed: " + avError(r);
        return false;
    }
    if ((r = receivePackets()) < 0) {
        m_error = "encoding failed: " + avError(r);
        return false;
    }
    if ((r = writeReady(false)) < 0) {
        m_failed = true;
        m_error = "write failed: " + avError(r);
        return false;
    }
    return true;
}

int Encoder::receivePackets()
{
    for (;;) {
        AVPacket* p = av_packet_alloc();
        if (!p)
            return AVERROR(ENOMEM);
        const int r = avcodec_receive_packet(m_enc, p);
        if (r < 0) {
            av_packet_free(&p);
            return r == AVERROR(EAGAIN) || r == AVERROR_EOF ? 0 : r;
        }
        m_pending.push_back(p);
    }
}

// Writes every packet whose duration is known; at the end (flushing) the last one lasts one nominal frame.
int Encoder::writeReady(bool flushing)
{
    const int64_t nominal = std::max<int64_t>(1, 1000 / std::max(1, int(m_settings.fps)));
    while (!m_pending.empty()) {
        AVPacket* p = m_pending.front();
        while (!m_submitted.empty() && m_submitted.front() < p->pts)
            m_submitted.pop_front(); // a frame the encoder produced nothing for
        int64_t duration = nominal;
        if (m_submitted.size() >= 2)
            duration = m_submitted[1] - m_submitted[0];
        else if (!flushing)
            break;
        if (!m_submitted.empty())
            m_submitted.pop_front();
        m_pending.pop_front();
        p->duration = std::max<int64_t>(1, duration);
        p->stream_index = m_stream->index;
        av_packet_rescale_ts(p, m_enc->time_base, m_stream->time_base);
        const int size = p->size;
        int r = av_write_frame(m_fmt, p);
        av_packet_free(&p);
        // Whatever the muxer let go of goes to the file now: a full disk shows at this frame, and a finished
        // fragment is on disk, not in a buffer.
        if (r >= 0 && m_fmt->pb) {
            avio_flush(m_fmt->pb);
            r = m_fmt->pb->error;
        }
        if (r < 0)
            return r;
        m_bytes += size;
        ++m_framesWritten;
    }
    return 0;
}

void Encoder::close(wire::Reply* reply)
{
    reply->op = wire::Op::Closed;
    bool ok = m_headerWritten && !m_failed;
    int code = 0;
    if (m_headerWritten) {
        int r = avcodec_send_frame(m_enc, nullptr);
        if (r >= 0)
            r = receivePackets();
        if (r >= 0)
            r = writeReady(true);
        if (r >= 0)
            r = av_write_trailer(m_fmt);
        if (r >= 0 && m_fmt->pb)
            r = avio_closep(&m_fmt->pb);
        if (r < 0) {
            ok = false;
            code = r;
        }
    }
    const bool hadFrames = m_framesWritten > 0;
    release();
    if (!ok) {
        if (!hadFrames) {
            reply->removed = 1;
            removeFile();
        }
        m_error = "file not finished: " + avError(code);
    }
    m_fileCreated = false;
    reply->ok = ok;
    reply->code = code;
    reply->failed = m_failed;
    reply->framesWritten = m_framesWritten;
    reply->bytes = m_bytes;
}

bool send(const wire::Reply& reply, const std::string& text)
{
    std::string message(reinterpret_cast<const char*>(&reply), sizeof reply);
    message += text.substr(0, wire::kMaxText);
    return ::send(wire::kSocketFd, message.data(), message.size(), MSG_NOSIGNAL) == ssize_t(message.size());
}

} // namespace

int main()
{
    // The program decides when the recording ends: a terminal's Ctrl+C or hang-up goes to it, and the file
    // is finished when it says so.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // libx264 reports its settings and statistics at the info level: keep the log to warnings.
    av_log_set_level(AV_LOG_WARNING);

    Encoder encoder;
    uint8_t* shared = nullptr;
    size_t sharedBytes = 0;
    auto unmap = [&] {
        if (shared)
            ::munmap(shared, sharedBytes);
        shared = nullptr;
        sharedBytes = 0;
    };
    std::vector<char> buffer(sizeof(wire::OpenRequest) + wire::kMaxText + 1);
    for (;;) {
        char control[CMSG_SPACE(sizeof(int))] = {};
        iovec iov{buffer.data(), buffer.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(wire::kSocketFd, &msg, MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < ssize_t(sizeof(wire::Header)))
            break; // the program closed its end (or is gone)
        int fd = -1;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS)
                std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
        }
        wire::Header header;
        std::memcpy(&header, buffer.data(), sizeof header);
        wire::Reply reply;
        bool sent = true;
        switch (header.op) {
        case wire::Op::Open: {
            wire::OpenRequest request;
            if (size_t(n) < sizeof request || fd < 0) {
                reply.op = wire::Op::Opened;
                sent = send(reply, "malformed open request");
                break;
            }
            std::memcpy(&request, buffer.data(), sizeof request);
            const std::string path(buffer.data() + sizeof request, size_t(n) - sizeof request);
            unmap();
            sharedBytes = size_t(request.slotBytes) * wire::kSlots;
            void* mapped = ::mmap(nullptr, sharedBytes, PROT_READ, MAP_SHARED, fd, 0);
            shared = mapped == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapped);
            reply.op = wire::Op::Opened;
            if (!shared) {
                sharedBytes = 0;
                sent = send(reply, "frame memory not mapped");
                break;
            }
            reply.ok = encoder.open(path, request, shared);
            reply.bytes = encoder.bytes();
            sent = send(reply, reply.ok ? std::string() : encoder.error());
            if (!reply.ok)
                unmap();
            break;
        }
        case wire::Op::Frame: {
            wire::FrameRequest request;
            reply.op = wire::Op::Encoded;
            if (size_t(n) < sizeof request) {
                sent = send(reply, "malformed frame request");
                break;
            }
            std::memcpy(&request, buffer.data(), sizeof request);
            if (request.slot >= uint32_t(wire::kSlots) || !shared) {
                sent = send(reply, "bad frame slot");
                break;
            }
            reply.ok = encoder.encode(request.slot, request.pts);
            reply.freedSlots = encoder.takeFreed();
            reply.failed = encoder.failed();
            reply.framesWritten = encoder.framesWritten();
            reply.bytes = encoder.bytes();
            sent = send(reply, reply.ok ? std::string() : encoder.error());
            break;
        }
        case wire::Op::Close: {
            encoder.close(&reply);
            reply.freedSlots = encoder.takeFreed();
            unmap();
            sent = send(reply, reply.ok ? std::string() : encoder.error());
            break;
        }
        default:
            sent = false;
            break;
        }
        if (fd >= 0)
            ::close(fd);
        if (!sent)
            break;
    }
    // A recording cut off here still plays up to its last complete fragment.
    return 0;
}
