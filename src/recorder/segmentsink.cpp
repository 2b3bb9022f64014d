#include "recorder/segmentsink.h"

#include "platform/mp4writer.h"
#include "recorder/aviwriter.h"

#include <QBuffer>

namespace {

constexpr int kJpegQuality = 85;

class AviSink final : public SegmentSink
{
public:
    bool open(const QString& path, QSize screen, int fps) override
    {
        return m_writer.open(path, screen.width(), screen.height(), fps);
    }

    Write write(const QImage& frame, qint64 timeMs) override
    {
        m_jpeg.clear();
        QBuffer buffer(&m_jpeg);
        if (!buffer.open(QIODevice::WriteOnly) || !frame.save(&buffer, "JPG", kJpegQuality) || m_jpeg.isEmpty())
            return Write::Dropped;
        return m_writer.writeFrame(m_jpeg, timeMs) ? Write::Written : Write::Failed;
    }

    qint64 bytes() const override { return m_writer.bytes(); }
    bool close() override { return !m_writer.isOpen() || m_writer.finish(); }
    QString errorString() const override { return m_writer.errorString(); }

private:
    AviWriter m_writer;
    QByteArray m_jpeg; // its storage is reused from frame to frame
};

class Mp4Sink final : public SegmentSink
{
public:
    bool open(const QString& path, QSize screen, int fps) override
    {
        return m_writer.open(path, screen.width(), screen.height(), fps);
    }

    Write write(const QImage& frame, qint64 timeMs) override
    {
        return m_writer.writeFrame(frame, timeMs) ? Write::Written : Write::Failed;
    }

    qint64 bytes() const override { return m_writer.estimatedBytes(); }
    bool close() override { return m_writer.close(); }
    QString errorString() const override { return m_writer.errorString(); }

private:
    ktr::platform::Mp4Writer m_writer;
};

} // namespace

std::unique_ptr<SegmentSink> makeSegmentSink(SegmentSink::Format format)
{
    if (format == SegmentSink::Format::Mp4)
        return std::make_unique<Mp4Sink>();
    return std::make_unique<AviSink>();
}
