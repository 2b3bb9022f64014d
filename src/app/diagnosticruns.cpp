#include "app/diagnosticruns.h"

#include <QDebug>

#include "icons/iconprobe.h"

void startIconProbe(const QString& path)
{
    probeIcons(path);
}

// The preview renders arrive with the preview subsystem; until then the run only says it was asked for.

void startUiPreview(const QString& folder)
{
    qInfo().noquote() << "ui preview requested into" << folder << "(not available in this build)";
}
