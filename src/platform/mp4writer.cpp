#include "platform/mp4writer.h"

#include "platform/encoderprocess.h"

#include <QFile>
#include <QThread>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

namespace ktr::platform {
namespace {

constexpr qint64 kMinBitrate = 4000000;
constexpr qint64 kMaxBitrate = 40000000;
// Key frames (and so fragments) every two seconds: what a cut-short file loses at most.
constexpr int kGopSeconds = 2;
// Fragments make a file that lost its end still playable; an empty first "moov" lets the header be written
// before any frame exists.
constexpr const char* kMovFlags = "+frag_keyframe+empty_moov+default_base_moof";

} // namespace

// The encoder and muxer run in an encoder process, taken at the first open() and given back when the writer
// goes.
struct Mp4Writer::Private
{
    std::unique_ptr<Mp4WriterBackend> backend;
    EncoderSettings settings;
    QString path;
    QString error;
};

Mp4Writer::EncoderSettings Mp4Writer::settingsFor(int screenWidth, int screenHeight, int fps)
{
    EncoderSettings s;
    s.width = std::max(0, screenWidth) & ~1;
    s.height = std::max(0, screenHeight) & ~1;
    s.fps = fps;
    s.bitrate = std::clamp(qint64(s.width) * s.height * std::max(0, fps) * 15 / 100, kMinBitrate, kMaxBitrate);
    s.gop = std::max(1, fps * kGopSeconds);
    // Recording runs beside the user's work: a few threads are plenty, and no look-ahead keeps the encoder
    // from holding frames back (so stopping is quick). One thread can't encode 1080p at 59 frames a second
    // (it managed about 40 here), so there are at least two, even on a machine of two or three processors.
    s.threads = std::clamp(QThread::idealThreadCount() / 2, 2, 4);
    s.preset = QStringLiteral("veryfast");
    s.tune = QStringLiteral("zerolatency");
    return s;
}

QStringList Mp4Writer::ffmpegArguments(const EncoderSettings& s)
{
    return {QStringLiteral("-c:v"),         QStringLiteral("libx264"),
            QStringLiteral("-preset"),      s.preset,
            QStringLiteral("-tune"),        s.tune,
            QStringLiteral("-b:v"),         QString::number(s.bitrate),
            QStringLiteral("-g"),           QString::number(s.gop),
            QStringLiteral("-bf"),          QStringLiteral("0"),
            QStringLiteral("-threads"),     QString::number(s.threads),
            QStringLiteral("-pix_fmt"),     QStringLiteral("nv12"),
            QStringLiteral("-color_range"), QStringLiteral("tv"),
            QStringLiteral("-colorspace"),  QStringLiteral("smpte170m"),
            QStringLiteral("-movflags"),    QString::fromLatin1(kMovFlags),
            QStringLiteral("-f"),           QStringLiteral("mp4")};
}

Mp4Writer::Mp4Writer() : d(std::make_unique<Private>())
{
}

Mp4Writer::~Mp4Writer()
{
    close();
}

bool Mp4Writer::open(const QString& path, int screenWidth, int screenHeight, int fps)
{
    close();
    d->path = path;
    d->error.clear();
    d->settings = settingsFor(screenWidth, screenHeight, fps);
    if (!d->backend)
        d->backend = makeEncoderProcessWriter();
    // The file is made here, owner-only, before the encoder opens it (its open keeps the mode): a segment
    // shows everything that was on the screen. A name that is taken is left as it is.
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    if (d->backend->open(path, d->settings))
        return true;
    if (fd >= 0)
        ::unlink(native.constData());
    return false;
}

bool Mp4Writer::writeFrame(const QImage& frame, qint64 timeMs)
{
    if (!d->backend) {
        d->error = QStringLiteral("not open");
        return false;
    }
    return d->backend->writeFrame(frame, timeMs);
}

bool Mp4Writer::close()
{
    return !d->backend || d->backend->close();
}

bool Mp4Writer::isOpen() const
{
    return d->backend && d->backend->isOpen();
}

QString Mp4Writer::path() const
{
    return d->path;
}

QString Mp4Writer::errorString() const
{
    return d->backend ? d->backend->errorString() : d->error;
}

int Mp4Writer::width() const
{
    return d->settings.width;
}

int Mp4Writer::height() const
{
    return d->settings.height;
}

int Mp4Writer::fps() const
{
    return d->settings.fps;
}

qint64 Mp4Writer::bitrate() const
{
    return d->settings.bitrate;
}

qint64 Mp4Writer::framesWritten() const
{
    return d->backend ? d->backend->framesWritten() : 0;
}

qint64 Mp4Writer::estimatedBytes() const
{
    return d->backend ? d->backend->estimatedBytes() : 0;
}

} // namespace ktr::platform
