#pragma once

#include <QProcess>
#include <QString>

namespace ktr::test {

// What desktop-file-validate (desktop-file-utils) says about a desktop entry: empty when it finds nothing to
// complain about, its output (or why it could not run) otherwise. Hints ("hint:") are advice, not faults.
inline QString desktopEntryProblems(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("desktop-file-validate"), {QStringLiteral("--no-hints"), path});
    if (!p.waitForFinished(10000))
        return QStringLiteral("desktop-file-validate did not run: ") + p.errorString();
    const QString out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return out.isEmpty() ? QStringLiteral("desktop-file-validate failed") : out;
    return out;
}

} // namespace ktr::test
