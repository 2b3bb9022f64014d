#include "platform/sysinfo.h"

#include <QFile>
#include <QHash>
#include <QSysInfo>

#include <sys/utsname.h>

namespace ktr::platform {

namespace {

// A value of an os-release line: quoted with " or ' (backslash escapes inside double quotes) or bare.
QString unquote(QByteArray value)
{
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        const char quote = value.front();
        value = value.mid(1, value.size() - 2);
        if (quote == '"') {
            QByteArray out;
            for (qsizetype i = 0; i < value.size(); ++i) {
                if (value.at(i) == '\\' && i + 1 < value.size())
                    ++i;
                out.append(value.at(i));
            }
            value = out;
        }
    }
    return QString::fromUtf8(value).trimmed();
}

} // namespace

QString describeSystem(const QByteArray& osRelease, const QString& kernelRelease, const QString& machine,
                       const QString& fallback)
{
    QHash<QByteArray, QString> fields;
    for (const QByteArray& raw : osRelease.split('\n')) {
        const QByteArray line = raw.trimmed();
        const qsizetype eq = line.indexOf('=');
        if (line.isEmpty() || line.startsWith('#') || eq <= 0)
            continue;
        fields.insert(line.left(eq).trimmed(), unquote(line.mid(eq + 1)));
    }
    QString distribution = fields.value("PRETTY_NAME");
    if (distribution.isEmpty())
        distribution = (fields.value("NAME") + QLatin1Char(' ') + fields.value("VERSION_ID")).trimmed();
    QString kernel;
    if (!kernelRelease.isEmpty())
        kernel = QStringLiteral("Linux ") + kernelRelease +
                 (machine.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(machine));
    if (distribution.isEmpty() && kernel.isEmpty())
        return fallback;
    if (distribution.isEmpty())
        return kernel;
    if (kernel.isEmpty())
        return distribution;
    return distribution + QStringLiteral(" · ") + kernel;
}

QString systemDescription()
{
    QByteArray osRelease;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly)) {
            osRelease = file.read(65536);
            break;
        }
    }
    struct utsname names
    {
    };
    QString release;
    QString machine;
    if (::uname(&names) == 0) {
        release = QString::fromLocal8Bit(names.release);
        machine = QString::fromLocal8Bit(names.machine);
    }
    return describeSystem(osRelease, release, machine, QSysInfo::prettyProductName());
}

} // namespace ktr::platform
