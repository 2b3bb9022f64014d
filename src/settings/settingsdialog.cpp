#include "settings/settingsdialog.h"

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent)
{
}

void SettingsDialog::refresh()
{
    if (!isVisible())
        return;
    updateGeometry();
    update();
}
