#pragma once

#include "market/marketrow.h"

#include <QString>
#include <QWidget>

// The app market window. It keeps the login token it is given; the catalogue, downloads and package cache
// live in MarketCatalogue, which the window paints; for now opening it shows nothing.
class AppMarketDialog : public QWidget
{
    Q_OBJECT
public:
    // One app of the catalogue with its download and install state (see MarketAppRow).
    using AppRow = MarketAppRow;
    using InstalledApp = MarketInstalledApp;

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
