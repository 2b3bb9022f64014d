#pragma once

#include "ui/appsettings.h"

#include <QObject>
#include <QStringList>

// The keys of "settings.json" whose values differ between two records, sorted (named like the fields of
// AppSettings; the window size is not a setting).
QStringList changedSettingsKeys(const AppSettings& before, const AppSettings& after);

// Tells whoever follows the settings (controllers, windows) which of them changed. The owner of the record
// calls notify after it applied a record; the first call reports every key that differs from the defaults.
class SettingsNotifier : public QObject
{
    Q_OBJECT
public:
    explicit SettingsNotifier(QObject* parent = nullptr);

    // Sends settingsChanged when `now` differs from the record of the last call.
    void notify(const AppSettings& now);

signals:
    void settingsChanged(const QStringList& keys);

private:
    AppSettings m_last;
};
