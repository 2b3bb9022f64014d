#include "app/diagnosticruns.h"

#include <QDebug>

// The icon probe and the preview renders arrive with the icon loader and the preview subsystem; until then
// these runs only say that they were asked for.

void startIconProbe(const QString& path)
{
    qInfo().noquote() << "icon probe requested for" << path << "(not available in this build)";
}

void startUiPreview(const QString& folder)
{
    qInfo().noquote() << "ui preview requested into" << folder << "(not available in this build)";
}
