#include "market/appmarketdialog.h"

AppMarketDialog::AppMarketDialog(QWidget* parent) : QWidget(parent, Qt::Window)
{
}

void AppMarketDialog::openAndRefresh(const QString& token)
{
    m_token = token;
}

void AppMarketDialog::setToken(const QString& token)
{
    m_token = token;
}
