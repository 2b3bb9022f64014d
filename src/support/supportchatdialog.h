#pragma once

#include <QString>
#include <QWidget>

// The support chat window. It keeps the session it is given; the conversation comes with the support
// subsystem.
class SupportChatDialog : public QWidget
{
    Q_OBJECT
public:
    explicit SupportChatDialog(QWidget* parent = nullptr);

    void setSession(const QString& token, const QString& userName);
    QString token() const { return m_token; }
    QString userName() const { return m_userName; }

Q_SIGNALS:
    void unreadChanged(int count);
    void chatHidden();
    void loginRequested();

private:
    QString m_token;
    QString m_userName;
};
