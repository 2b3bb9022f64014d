#include "support/supportchatdialog.h"

SupportChatDialog::SupportChatDialog(QWidget* parent) : QWidget(parent, Qt::Window)
{
}

void SupportChatDialog::setSession(const QString& token, const QString& userName)
{
    m_token = token;
    m_userName = userName;
}
