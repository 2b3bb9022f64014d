#pragma once

#include <QString>
#include <QWidget>

// The app market window. It keeps the login token it is given; its app list, downloads and installation come
// with the market subsystem, so for now opening it shows nothing.
class AppMarketDialog : public QWidget
{
    Q_OBJECT
public:
    explicit AppMarketDialog(QWidget* parent = nullptr);

    void openAndRefresh(const QString& token);
    void setToken(const QString& token);
    QString token() const { return m_token; }

Q_SIGNALS:
    void addToPanelRequested(const QString& name, const QString& exePath);
    void loginRequested();

private:
    QString m_token;
};
