#include "lock/protectionrules.h"

#include "lock/passwordhash.h"
#include "ui/appsettings.h"
#include "ui/lang.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace protectionrules {

bool barButtonBlocked(bool uiLocked, int buttonId)
{
    return uiLocked && buttonId != 3 && buttonId != 4;
}

QString launchTarget(const AppSettings& settings, const QString& entryPath)
{
    if (!settings.obfuscateEnabled)
        return entryPath;
    const auto it = settings.obfuscateMap.constFind(entryPath);
    if (it == settings.obfuscateMap.constEnd() || it.value().isEmpty())
        return entryPath;
    return it.value();
}

void clearProtection(AppSettings& settings)
{
    settings.protectPasswordHash.clear();
    settings.obfuscateEnabled = false;
    settings.uiLocked = false;
}

void commitProtection(AppSettings& settings, const QString& hash, const QMap<QString, QString>& rules)
{
    settings.protectPasswordHash = hash;
    settings.obfuscateMap = rules;
    // With obfuscation left on and no password, switching it off would ask for a password that no longer exists.
    if (hash.isEmpty())
        clearProtection(settings);
}

bool upgradeLegacyHash(AppSettings& settings, const QString& password)
{
    if (settings.protectPasswordHash.isEmpty() || !isLegacyPasswordHash(settings.protectPasswordHash) ||
        !verifyPasswordHash(settings.protectPasswordHash, password))
        return false;
    settings.protectPasswordHash = makePasswordHash(password);
    return true;
}

QString obfuscationOnToast(const AppSettings& settings)
{
    return settings.obfuscateMap.isEmpty() ? Lang::tr("混淆保护已启用，请先在 设置→保护 配置规则")
                                           : Lang::tr("混淆保护已启用");
}

bool parseLockSyncReply(bool replyOk, const QByteArray& body, int* epoch)
{
    if (!replyOk)
        return false;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject reply = doc.object();
    if (reply.value(QLatin1String("ok")).toInt() != 1)
        return false;
    *epoch = reply.value(QLatin1String("epoch")).toInt();
    return true;
}

LockSyncResult applyLockSyncReply(AppSettings& settings, bool replyOk, const QByteArray& body)
{
    LockSyncResult result;
    int epoch = 0;
    if (!parseLockSyncReply(replyOk, body, &epoch) || epoch <= settings.progUnlockEpoch)
        return result;
    result.showToast = !settings.protectPasswordHash.isEmpty() || settings.uiLocked || settings.obfuscateEnabled;
    settings.progUnlockEpoch = epoch;
    clearProtection(settings);
    result.applied = true;
    return result;
}

void keepLocalProtection(const AppSettings& local, AppSettings& imported, const QString& currentPassword)
{
    imported.progUnlockEpoch = std::max(local.progUnlockEpoch, imported.progUnlockEpoch);
    if (!local.protectPasswordHash.isEmpty() && verifyPasswordHash(local.protectPasswordHash, currentPassword))
        return;
    imported.protectPasswordHash = local.protectPasswordHash;
    imported.uiLocked = local.uiLocked;
    imported.obfuscateEnabled = local.obfuscateEnabled;
    imported.obfuscateMap = local.obfuscateMap;
}

} // namespace protectionrules
