#include "app/standinwindow.h"

#include "ui/lang.h"

#include <QDebug>
#include <QLabel>
#include <QVBoxLayout>

StandInWindow::StandInWindow(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(Lang::tr("青岚舟面板"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(Lang::tr("青岚舟面板"), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    resize(960, 640);
}

void StandInWindow::waitBackupWorkers(int budgetMs)
{
    qInfo().noquote() << "[standin] waitBackupWorkers" << budgetMs;
}

void StandInWindow::saveSettings()
{
    qInfo().noquote() << "[standin] saveSettings";
}

void StandInWindow::saveLayout()
{
    qInfo().noquote() << "[standin] saveLayout";
}
