#include "account/deviceid.h"

#include "ui/datadir.h"
#include "ui/lang.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSysInfo>
#include <QUuid>

namespace {

const char kBindMagic[] = "KTBIND1|";
const char kBindSalt[] = "Rb4nTq8LmW2xZc6VpY3s|";
// An id or bind file is a few dozen bytes; anything much bigger is not ours.
constexpr qint64 kMaxFile = 64 * 1024;

QByteArray readSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kMaxFile);
}

} // namespace

QString deviceId()
{
    static const QString id = computeDeviceId();
    return id;
}

bool isAcceptableDeviceId(const QString& id)
{
    if (id.size() < 8 || id.size() > 64)
        return false;
    for (const QChar c : id) {
        const char16_t u = c.unicode();
        const bool ok = u == u'-' || (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
        if (!ok)
            return false;
    }
    return true;
}

QString deviceBindDigest(const QString& id, const QString& hostName)
{
    const QByteArray text = QByteArray(kBindSalt) + id.toUtf8() + '|' + hostName.toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
}

QString deviceHostName()
{
    const QString host = QSysInfo::machineHostName().trimmed();
    if (!host.isEmpty())
        return host;
    return qEnvironmentVariable("COMPUTERNAME").trimmed();
}

QString deviceDisplayName()
{
    const QString host = deviceHostName();
    if (host.isEmpty())
        return Lang::tr("未命名电脑");
    return host.left(64);
}

void writeBindFile(const QString& bindPath, const QString& id, const QString& hostName)
{
    QSaveFile file(bindPath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    const QByteArray bytes =
        (QString::fromLatin1(kBindMagic) + hostName + u'\n' + deviceBindDigest(id, hostName) + u'\n').toUtf8();
    if (file.write(bytes) != bytes.size()) {
        qCritical().noquote() << "writeBindFile: short write";
        file.cancelWriting();
        return;
    }
    if (!file.commit())
        qCritical().noquote() << "writeBindFile: commit failed:" << file.errorString();
}

QString registerNewDevice(const QString& dataDir, const QString& bindPath, const QString& hostName)
{
    const QString id = QUuid::createUuid().toString(QUuid::Id128).toLower().remove(u'-');
    QSaveFile file(dataDir + QStringLiteral("/device.id"));
    if (!file.open(QIODevice::WriteOnly)) {
        qCritical().noquote() << "registerNewDevice: cannot open device.id for write:" << file.errorString();
    } else {
        const QByteArray bytes = id.toLatin1();
        if (file.write(bytes) != bytes.size()) {
            qCritical().noquote() << "registerNewDevice: device.id short write";
            file.cancelWriting();
        } else if (!file.commit()) {
            qCritical().noquote() << "registerNewDevice: device.id commit failed:" << file.errorString();
        }
    }
    writeBindFile(bindPath, id, hostName);
    return id;
}

QString computeDeviceId()
{
    return computeDeviceId(appDataDir(), deviceHostName());
}

QString computeDeviceId(const QString& dataDir, const QString& hostName)
{
    if (!QDir().mkpath(dataDir))
        qCritical().noquote() << "computeDeviceId: cannot create data dir" << dataDir;
    const QString bindPath = dataDir + QStringLiteral("/device.bind");

    const QString id = QString::fromLatin1(readSmallFile(dataDir + QStringLiteral("/device.id")).trimmed());
    const bool acceptable = isAcceptableDeviceId(id);

    QString storedHost;
    QString storedDigest;
    const QStringList lines = QString::fromUtf8(readSmallFile(bindPath)).split(u'\n');
    if (lines.size() >= 2 && lines[0].startsWith(QLatin1String(kBindMagic))) {
        storedHost = lines[0].mid(8);
        storedDigest = lines[1].trimmed();
    }

    if (storedDigest.isEmpty()) {
        if (!acceptable)
            return registerNewDevice(dataDir, bindPath, hostName);
        writeBindFile(bindPath, id, hostName);
        return id;
    }
    if (acceptable && deviceBindDigest(id, storedHost) == storedDigest)
        return id;
    if (acceptable)
        qWarning().noquote() << "device.id binding mismatch, regenerate device identity";
    return registerNewDevice(dataDir, bindPath, hostName);
}
