#include "platform/encoderprocess.h"

#include "platform/encoderwire.h"
#include "platform/helperfiles.h"
#include "platform/videomodule/bgrxtonv12.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

extern char** environ;

namespace ktr::platform {
namespace {

namespace wire = encoderwire;

std::mutex g_liveMutex;
std::vector<pid_t> g_live;

// How long the program waits for an answer of the encoder, and for a process told to end to be gone. An
// encoder that is stopped (SIGSTOP) or hangs must not hold the recorder's stop, and the quit, for ever: past
// the bound it is ended. The bound leaves a slow start (x264's set-up on a machine whose cores are all busy)
// room to answer.
std::atomic<int> g_replyWaitMs{10000};
std::atomic<int> g_endWaitMs{2000};

// Waits for the socket to have something to read within the reply bound; false when nothing came.
bool readableWithin(int fd)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_replyWaitMs.load());
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, int(std::max<qint64>(0, left.count())));
        if (r > 0)
            return true;
        if (r == 0)
            return false;
        if (errno != EINTR)
            return true; // let the read report it
    }
}

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString statusText(int status)
{
    if (WIFSIGNALED(status))
        return QStringLiteral("killed by signal %1").arg(WTERMSIG(status));
    if (WIFEXITED(status))
        return QStringLiteral("exit code %1").arg(WEXITSTATUS(status));
    return QStringLiteral("status %1").arg(status);
}

// One encoder process and the program's end of its socket.
class EncoderProcess
{
public:
    static std::unique_ptr<EncoderProcess> start(QString* error)
    {
        const QStringList candidates = helperFileCandidates(HelperFile::VideoEncoder);
        QString program;
        for (const QString& c : std::as_const(candidates)) {
            if (QFileInfo(c).isExecutable() && QFileInfo(c).isFile()) {
                program = c;
                break;
            }
        }
        if (program.isEmpty()) {
            *error = QStringLiteral("no encoder program; looked at: ") + candidates.join(QStringLiteral(", "));
            return nullptr;
        }
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) {
            *error = QStringLiteral("no socket for the encoder: ") + errnoText(errno);
            return nullptr;
        }
        const QByteArray file = QFile::encodeName(program);
        char* argv[] = {const_cast<char*>(file.constData()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, sv[1], wire::kSocketFd);
        pid_t pid = 0;
        // The process takes the nice value of this thread: a recording's threads run below the user's work.
        const int r = posix_spawn(&pid, file.constData(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(sv[1]);
        if (r != 0) {
            ::close(sv[0]);
            *error = QStringLiteral("encoder not started: ") + errnoText(r);
            return nullptr;
        }
        qInfo().noquote() << "[video] encoder process started:" << pid;
        return std::unique_ptr<EncoderProcess>(new EncoderProcess(pid, sv[0]));
    }

    ~EncoderProcess() { end(false); }

    int fd() const { return m_fd; }

    // Closes the socket (the process leaves when it reads the end) and waits for it; kill ends one that
    // can't be trusted to. How it ended, for the log.
    QString end(bool kill)
    {
        if (m_pid <= 0)
            return {};
        if (kill)
            ::kill(m_pid, SIGKILL);
        ::close(m_fd);
        m_fd = -1;
        int status = 0;
        pid_t r = waitWithin(kill ? 0 : g_endWaitMs.load(), &status);
        if (r == 0) {
            // It did not leave on the end of its socket (stopped, or hung): ended.
            qWarning().noquote() << "[video] encoder process did not end within" << g_endWaitMs.load()
                                 << "ms, killing it:" << m_pid;
            ::kill(m_pid, SIGKILL);
            r = waitWithin(-1, &status);
        }
        {
            std::lock_guard lock(g_liveMutex);
            g_live.erase(std::remove(g_live.begin(), g_live.end(), m_pid), g_live.end());
        }
        const QString how = r == m_pid ? statusText(status) : QStringLiteral("not waited for");
        qInfo().noquote() << "[video] encoder process ended:" << m_pid << how;
        m_pid = 0;
        return how;
    }

private:
    // waitpid for at most ms milliseconds (-1: as long as it takes, 0 too for a killed process, which goes at
    // once); 0 when it is still there.
    pid_t waitWithin(int ms, int* status)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(ms, 0));
        for (;;) {
            const pid_t r = ::waitpid(m_pid, status, ms < 0 || ms == 0 ? 0 : WNOHANG);
            if (r < 0 && errno == EINTR)
                continue;
            if (r != 0 || ms <= 0)
                return r;
            if (std::chrono::steady_clock::now() >= deadline)
                return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    EncoderProcess(pid_t pid, int fd) : m_pid(pid), m_fd(fd)
    {
        std::lock_guard lock(g_liveMutex);
        g_live.push_back(pid);
    }

    pid_t m_pid = 0;
    int m_fd = -1;
};

std::mutex g_poolMutex;
int g_holds = 0;
std::vector<std::unique_ptr<EncoderProcess>> g_idle;

std::unique_ptr<EncoderProcess> takeProcess(QString* error)
{
    {
        std::lock_guard lock(g_poolMutex);
        if (!g_idle.empty()) {
            std::unique_ptr<EncoderProcess> p = std::move(g_idle.back());
            g_idle.pop_back();
            return p;
        }
    }
    return EncoderProcess::start(error);
}

// Called while the giver still holds: the process stays for the next segment as long as anyone else does.
void giveBack(std::unique_ptr<EncoderProcess> process)
{
    std::lock_guard lock(g_poolMutex);
    g_idle.push_back(std::move(process));
}

constexpr uint64_t align(uint64_t value, uint64_t to)
{
    return (value + to - 1) / to * to;
}

class ProcessWriter final : public Mp4WriterBackend
{
public:
    ~ProcessWriter() override
    {
        close();
        if (m_process)
            giveBack(std::move(m_process));
    }

    bool open(const QString& path, const Mp4Writer::EncoderSettings& s) override
    {
        close();
        m_path = path;
        m_error.clear();
        m_pendingError.clear();
        m_failed = false;
        m_framesWritten = 0;
        m_bytes = 0;
        m_lastPts = -1;
        m_settings = s;
        if (s.width <= 0 || s.height <= 0 || s.fps <= 0)
            return fail(QStringLiteral("no frame size or rate"));
        if (!m_process && !(m_process = takeProcess(&m_error)))
            return false;

        // Rows start on cache lines; each slot on a page of its own.
        m_yStride = int(align(uint64_t(s.width), 64));
        m_uvStride = m_yStride;
        m_uvOffset = align(uint64_t(m_yStride) * uint64_t(s.height), 64);
        m_slotBytes = align(m_uvOffset + uint64_t(m_uvStride) * uint64_t(s.height / 2), 4096);
        if (!mapFrames())
            return false;

        wire::OpenRequest request;
        request.width = s.width;
        request.height = s.height;
        request.fps = s.fps;
        request.gop = s.gop;
        request.threads = s.threads;
        request.bitrate = s.bitrate;
        wire::copyText(request.preset, s.preset.toLatin1().constData());
        wire::copyText(request.tune, s.tune.toLatin1().constData());
        request.slotBytes = m_slotBytes;
        request.uvOffset = m_uvOffset;
        request.yStride = m_yStride;
        request.uvStride = m_uvStride;
        QByteArray message(reinterpret_cast<const char*>(&request), sizeof request);
        message += QFile::encodeName(path);

        wire::Reply reply;
        QString text;
        if (!sendWithMemory(message) || !awaitReply(wire::Op::Opened, &reply, &text)) {
            lost();
            unmapFrames();
            return fail(m_error);
        }
        if (!reply.ok) {
            unmapFrames();
            return fail(text.isEmpty() ? QStringLiteral("encoder not opened") : text);
        }
        m_bytes = reply.bytes;
        m_spare = (1u << wire::kSlots) - 1;
        m_outstanding = 0;
        m_open = true;
        return true;
    }

    bool writeFrame(const QImage& image, qint64 timeMs) override
    {
        if (!m_open)
            return fail(QStringLiteral("not open"));
        QImage src = image;
        if (src.format() != QImage::Format_RGB32 && src.format() != QImage::Format_ARGB32 &&
            src.format() != QImage::Format_ARGB32_Premultiplied)
            src = src.convertToFormat(QImage::Format_RGB32);
        if ((src.width() & ~1) != m_settings.width || (src.height() & ~1) != m_settings.height)
            return fail(QStringLiteral("frame size differs from the segment's"));

        // What the encoder said about earlier frames.
        if (m_process)
            readReplies(false);
        if (!m_pendingError.isEmpty()) {
            // The encoder failed on an earlier frame: this one is refused in its place. A failed write refuses
            // every frame after it (the file can't take more).
            m_error = m_pendingError;
            if (!m_failed)
                m_pendingError.clear();
            return false;
        }
        // Waits only when every slot is queued.
        while (m_spare == 0) {
            if (m_outstanding == 0 || !readReplies(true))
                return lostOrStuck();
        }
        const int slot = std::countr_zero(m_spare);
        m_spare &= ~(1u << slot);
        uint8_t* base = m_frames + uint64_t(slot) * m_slotBytes;
        // QImage's 32-bit RGB is B, G, R, X in memory on this little-endian machine. Converting only the even
        // top-left rectangle drops an odd last column or row without a copy.
        bgrxToNv12(src.constBits(), int(src.bytesPerLine()), m_settings.width, m_settings.height, base, m_yStride,
                   base + m_uvOffset, m_uvStride);

        wire::FrameRequest request;
        request.slot = uint32_t(slot);
        request.pts = std::max<int64_t>(timeMs, m_lastPts + 1);
        m_lastPts = request.pts;
        if (::send(m_process->fd(), &request, sizeof request, MSG_NOSIGNAL) != ssize_t(sizeof request)) {
            lost();
            return false;
        }
        ++m_outstanding;
        return true;
    }

    bool close() override
    {
        if (!m_open)
            return true;
        m_open = false;
        bool ok = false;
        if (m_process) {
            wire::Reply reply;
            QString text;
            const wire::Header request{wire::Op::Close};
            if (::send(m_process->fd(), &request, sizeof request, MSG_NOSIGNAL) == ssize_t(sizeof request) &&
                awaitReply(wire::Op::Closed, &reply, &text)) {
                ok = reply.ok;
                m_framesWritten = reply.framesWritten;
                m_bytes = reply.bytes;
                if (!ok) {
                    if (reply.removed)
                        qWarning().noquote()
                            << "Mp4Writer Finalize failed, removing broken segment:" << reply.code << m_path;
                    else
                        qWarning().noquote()
                            << "Mp4Writer Finalize failed, keeping the fragments written:" << reply.code << m_path;
                    m_error = text;
                }
            } else {
                lost();
            }
        }
        if (!m_process && m_framesWritten == 0 && QFileInfo(m_path).isFile()) {
            // The encoder died before a frame reached the file: what it left is no recording.
            qWarning().noquote() << "Mp4Writer Finalize failed, removing broken segment:" << m_path;
            QFile::remove(m_path);
        }
        unmapFrames();
        return ok;
    }

    bool isOpen() const override { return m_open; }
    QString errorString() const override { return m_error; }
    qint64 framesWritten() const override { return m_framesWritten; }
    qint64 estimatedBytes() const override { return m_bytes; }

private:
    bool fail(const QString& why)
    {
        m_error = why;
        return false;
    }

    bool mapFrames()
    {
        m_memfd = ::memfd_create("ktr-frames", MFD_CLOEXEC);
        const off_t size = off_t(m_slotBytes * wire::kSlots);
        void* mapped = MAP_FAILED;
        if (m_memfd >= 0 && ::ftruncate(m_memfd, size) == 0)
            mapped = ::mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, m_memfd, 0);
        if (mapped == MAP_FAILED) {
            m_error = QStringLiteral("frame memory: ") + errnoText(errno);
            unmapFrames();
            return false;
        }
        m_frames = static_cast<uint8_t*>(mapped);
        return true;
    }

    void unmapFrames()
    {
        if (m_frames)
            ::munmap(m_frames, size_t(m_slotBytes * wire::kSlots));
        m_frames = nullptr;
        if (m_memfd >= 0)
            ::close(m_memfd);
        m_memfd = -1;
    }

    bool sendWithMemory(const QByteArray& message)
    {
        iovec iov{const_cast<char*>(message.constData()), size_t(message.size())};
        char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &m_memfd, sizeof(int));
        return ::sendmsg(m_process->fd(), &msg, MSG_NOSIGNAL) == ssize_t(message.size());
    }

    // Reads one reply (waiting for it, or only if one is there). False when the process is gone or said
    // something that makes no sense; with wait false, also when nothing was there.
    bool readOne(bool wait, wire::Reply* reply, QString* text)
    {
        char buffer[sizeof(wire::Reply) + wire::kMaxText];
        if (wait && !readableWithin(m_process->fd())) {
            m_stuck = true;
            return false;
        }
        ssize_t n;
        do
            n = ::recv(m_process->fd(), buffer, sizeof buffer, wait ? 0 : MSG_DONTWAIT);
        while (n < 0 && errno == EINTR);
        if (n < 0 && !wait && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        if (n < ssize_t(sizeof(wire::Reply))) {
            m_broken = true;
            return false;
        }
        std::memcpy(reply, buffer, sizeof *reply);
        *text = QString::fromUtf8(buffer + sizeof *reply, int(n - ssize_t(sizeof *reply)));
        if (reply->op == wire::Op::Encoded)
            takeEncoded(*reply, *text);
        return true;
    }

    void takeEncoded(const wire::Reply& reply, const QString& text)
    {
        m_spare |= reply.freedSlots & ((1u << wire::kSlots) - 1);
        --m_outstanding;
        m_framesWritten = reply.framesWritten;
        m_bytes = reply.bytes;
        if (reply.failed && !m_failed) {
            m_failed = true;
            m_pendingError = text;
        } else if (!reply.ok && !m_failed) {
            m_pendingError = text;
        }
    }

    // Takes the replies there are (or waits for one). False when the process is gone.
    bool readReplies(bool wait)
    {
        wire::Reply reply;
        QString text;
        if (wait)
            return readOne(true, &reply, &text);
        while (readOne(false, &reply, &text)) {
        }
        if (m_broken) {
            lost();
            return false;
        }
        return true;
    }

    // Reads replies until the one of kind op (the frames' replies before it are taken in passing).
    bool awaitReply(wire::Op op, wire::Reply* reply, QString* text)
    {
        for (;;) {
            if (!readOne(true, reply, text))
                return false;
            if (reply->op == op)
                return true;
            if (reply->op != wire::Op::Encoded) {
                m_broken = true;
                return false;
            }
        }
    }

    bool lostOrStuck()
    {
        if (m_process && !m_broken)
            m_broken = true; // every slot taken and nothing to wait for: the encoder kept frames it must not
        lost();
        return false;
    }

    // The process died or broke its side of the talk: this segment can take nothing more, and what it
    // wrote is what there is. It is never reused.
    void lost()
    {
        m_failed = true;
        m_error = m_stuck ? QStringLiteral("encoder process did not answer within %1 ms").arg(g_replyWaitMs.load())
                          : QStringLiteral("encoder process ended unexpectedly");
        m_stuck = false;
        m_pendingError = m_error;
        if (m_process) {
            const QString how = m_process->end(true);
            qWarning().noquote() << "Mp4Writer: the encoder process was lost (" + how + "):" << m_path;
            m_process.reset();
        }
        m_broken = false;
    }

    EncoderProcessHold m_hold; // keeps idle processes alive while this writer lives
    std::unique_ptr<EncoderProcess> m_process;
    Mp4Writer::EncoderSettings m_settings;
    QString m_path;
    QString m_error;
    QString m_pendingError; // a failure of an earlier frame not yet reported by writeFrame
    bool m_open = false;
    bool m_failed = false; // a write failed: every later frame is refused
    bool m_broken = false;
    bool m_stuck = false; // the encoder did not answer within the bound
    std::atomic<qint64> m_framesWritten{0};
    std::atomic<qint64> m_bytes{0};
    int64_t m_lastPts = -1;
    int m_memfd = -1;
    uint8_t* m_frames = nullptr;
    uint64_t m_slotBytes = 0;
    uint64_t m_uvOffset = 0;
    int m_yStride = 0;
    int m_uvStride = 0;
    uint32_t m_spare = 0;  // slots free for the next frame (bit i: slot i)
    int m_outstanding = 0; // frames sent and not yet answered
};

} // namespace

EncoderProcessHold::EncoderProcessHold()
{
    std::lock_guard lock(g_poolMutex);
    ++g_holds;
}

EncoderProcessHold::~EncoderProcessHold()
{
    std::vector<std::unique_ptr<EncoderProcess>> ending;
    {
        std::lock_guard lock(g_poolMutex);
        if (--g_holds == 0)
            ending.swap(g_idle);
    }
    // Waited for outside the lock: each one leaves when it reads the end of its socket.
    ending.clear();
}

std::unique_ptr<Mp4WriterBackend> makeEncoderProcessWriter()
{
    return std::make_unique<ProcessWriter>();
}

void setEncoderWaitBounds(int replyMs, int endMs)
{
    g_replyWaitMs.store(replyMs);
    g_endWaitMs.store(endMs);
}

std::vector<pid_t> encoderProcessIds()
{
    std::lock_guard lock(g_liveMutex);
    return g_live;
}

} // namespace ktr::platform
