#pragma once

#include "market/httpdownload.h"
#include "ui/lang.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QPixmap>
#include <QPointer>
#include <QString>

// One app of the market catalogue with its whole download and install state. Every asynchronous step
// finds its row again by id (the list is rebuilt by every catalogue page) and compares `generation`,
// raised by every new request on the row, with the value it captured, so superseded results do nothing.
struct MarketAppRow
{
    QString id;
    QString name;
    QString desc;
    QString category;
    QString searchKey; // lower-case name + " " + desc + " " + category
    QString iconUrl;
    QString version; // empty unless it passes isValidVersionString
    qint64 size = 0; // declared package size, 0 .. 2^31
    bool isWeb = false;
    QString url;
    QString demo;
    QPixmap icon;
    QString installedVersion;
    qint64 installedSize = 0;
    qint64 exeSize = 0;
    // Flags that several steps clear together.
    bool downloading = false;
    bool paused = false;
    bool cancelRequested = false;
    bool installing = false;
    qint64 received = 0;
    qint64 total = 0;
    LangText errorText;   // translated when painted, so a language switch re-labels the row
    QByteArray errorBody; // first 8192 bytes of an error reply
    // Cleared together.
    bool resumeRetried = false;
    bool rangeMismatch = false;
    qint64 generation = 0;
    bool extracting = false;
    QPointer<HttpDownload> reply; // the running package transfer; not owned
    QString packageUrl;
    QString sha256;
    QString launch;
    QString manifestVersion;
    QString sdkVersion;
    // Why this side ended the running transfer itself (the reply then only says "cancelled").
    enum class LocalAbort { None, SizeCap, WriteFailed };
    LocalAbort localAbort = LocalAbort::None;
};

// An app of the installed-apps registry, as the catalogue needs it.
struct MarketInstalledApp
{
    QString version;
    QString launch;
};
