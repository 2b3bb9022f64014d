#include "model/settingsnotifier.h"

#include "model/settingsfile.h"

#include <QJsonObject>

QStringList changedSettingsKeys(const AppSettings& before, const AppSettings& after)
{
    const QJsonObject a = settingsToJson(before, QSize());
    const QJsonObject b = settingsToJson(after, QSize());
    QStringList keys;
    for (auto it = b.begin(); it != b.end(); ++it) {
        if (it.key() != QLatin1String("geometry") && a.value(it.key()) != it.value())
            keys.append(it.key());
    }
    for (auto it = a.begin(); it != a.end(); ++it) {
        if (!b.contains(it.key()))
            keys.append(it.key());
    }
    keys.sort();
    return keys;
}

SettingsNotifier::SettingsNotifier(QObject* parent) : QObject(parent)
{
}

void SettingsNotifier::notify(const AppSettings& now)
{
    const QStringList keys = changedSettingsKeys(m_last, now);
    m_last = now;
    if (!keys.isEmpty())
        emit settingsChanged(keys);
}
