#pragma once

// Asks the ffprobe tool about a media file, so tests check written files with a reader that is not ours.

#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace ktr::test {

struct ProbeResult
{
    bool ran = false;
    QString errors;                // what "-v error" printed: empty for a clean file
    QMap<QString, QString> values; // key=value lines of the report (the last one wins)
    QStringList lines;
};

inline bool haveFfprobe()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty();
}

// ffprobe -v error <args> -of default=noprint_wrappers=1 <path>
inline ProbeResult ffprobe(const QString& path, const QStringList& args)
{
    ProbeResult r;
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            QStringList{QStringLiteral("-v"), QStringLiteral("error")} + args +
                QStringList{QStringLiteral("-of"), QStringLiteral("default=noprint_wrappers=1"), path});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.ran = p.exitCode() == 0;
    r.errors = QString::fromUtf8(p.readAllStandardError()).trimmed();
    for (const QString& line :
         QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        r.lines << line.trimmed();
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            r.values.insert(line.left(eq), line.mid(eq + 1).trimmed());
    }
    return r;
}

// The stream facts most tests want: codec, size, frames counted by decoding, colours, duration.
inline ProbeResult probeVideo(const QString& path)
{
    return ffprobe(path, {QStringLiteral("-count_frames"), QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                          QStringLiteral("-show_entries"),
                          QStringLiteral("stream=codec_name,width,height,nb_read_frames,color_range,color_space:"
                                         "format=duration")});
}

} // namespace ktr::test
