#include "lock/uilockoverlay.h"

UiLockOverlay::UiLockOverlay(QWidget* parent) : QWidget(parent)
{
}

void UiLockOverlay::setMode(Mode mode)
{
    m_mode = mode;
}

void UiLockOverlay::setBackgroundPath(const QString& path)
{
    if (path == m_backgroundPath)
        return;
    m_backgroundPath = path;
}
