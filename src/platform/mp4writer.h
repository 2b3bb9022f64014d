#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>

namespace ktr::platform {

// Writes one H.264 MP4 file from screen frames (FFmpeg with libx264 behind it, in an encoder process:
// encoderprocess.h). Used by the screen recorder's thread only; it touches no widget or pixmap.
//
// The file is a fragmented MP4: a fragment is written every two seconds, so a segment cut short by a
// full disk or a killed process still plays up to its last complete fragment.
class Mp4Writer
{
public:
    // The encoder settings of one recording, in one place so a comparison with the ffmpeg tool can use
    // the same ones.
    struct EncoderSettings
    {
        int width = 0;  // even
        int height = 0; // even
        int fps = 0;
        qint64 bitrate = 0; // bits per second
        int gop = 0;        // frames between key frames (one fragment each)
        int threads = 0;
        QString preset;
        QString tune;
    };
    // Settings for a screen of the given size: the size rounded down to even; the bitrate
    // width x height x fps x 15 / 100 clamped to 4000000..40000000.
    static EncoderSettings settingsFor(int screenWidth, int screenHeight, int fps);
    // The same settings as arguments of the ffmpeg command-line tool (codec, rate, colours, container).
    static QStringList ffmpegArguments(const EncoderSettings& s);

    Mp4Writer();
    ~Mp4Writer();
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    // Creates the file (replacing nothing the caller did not choose) and starts the encoder. On failure the
    // file is removed again and errorString() says why (English, for the log).
    bool open(const QString& path, int screenWidth, int screenHeight, int fps);

    // Encodes one frame shown from timeMs (milliseconds since the segment began, from a steady clock; a
    // stamp not after the previous one is moved just behind it). A frame of odd size loses its last column
    // or row. False when the frame was refused: the writer is closed, the frame's size does not match, or
    // encoding or writing failed (a full disk, or an encoder process that died, shows here).
    bool writeFrame(const QImage& frame, qint64 timeMs);

    // Finishes the file. Frames already written stay playable even when the end can't be written; a file
    // that holds no frame and can't be finished is removed. False when finishing failed.
    bool close();

    bool isOpen() const;
    QString path() const;
    QString errorString() const;
    int width() const;
    int height() const;
    int fps() const;
    qint64 bitrate() const;
    qint64 framesWritten() const;
    // Bytes handed to the file so far (header and encoded frames).
    qint64 estimatedBytes() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace ktr::platform
