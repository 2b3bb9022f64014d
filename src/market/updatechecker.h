#pragma once

#include "market/httpdownload.h"
#include "market/updatedialog.h"
#include "market/updatemanifest.h"

#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QWidget;

// The main window's side of the panel's self-update: one quiet check a while after start and the checks the
// user asks for, the signed manifest and its release notes, the offer in the update card, the installer
// download with its SHA-256 checked on the fly, and the hand-over to the update script, after which the
// process ends at once. Everything runs on the GUI thread but the installer download, which streams on its
// own thread.
class UpdateChecker : public QObject
{
    Q_OBJECT
public:
    static constexpr int kStartupDelayMs = 15000;
    static constexpr int kManifestTimeoutMs = 15000;
    static constexpr int kHistoryTimeoutMs = 8000;
    static constexpr int kDownloadTimeoutMs = 30000;
    static constexpr qint64 kMaxInstallerBytes = 536870912; // 512 MiB

    // What the updater reaches outside itself; tests replace parts of it.
    struct Seams
    {
        UpdatePublicKey key = UpdatePublicKey::builtIn();
        std::function<QString()> localVersion;                    // the running version
        std::function<void(const QString& text, int kind)> toast; // kind 0 normal, 1 error; text translated
        std::function<void()> prepareExit;                        // before the hard exit: stop network, recorder
        std::function<void(int code)> hardExit;
        QString dataDir; // where the installer is downloaded
        QString tempDir; // below it a fresh private folder takes the script; empty: the runtime folder
        QWidget* cardParent = nullptr;
        QNetworkAccessManager* network = nullptr; // shared manager; the updater makes its own when null
        qint64 maxInstallerBytes = kMaxInstallerBytes;
    };

    explicit UpdateChecker(QObject* parent = nullptr);
    ~UpdateChecker() override;

    // Fills what the given seams leave empty with the real services.
    void setSeams(Seams seams);
    const Seams& seams() const { return m_seams; }

    // The quiet check after start, on the channel saved at start.
    void scheduleStartupCheck(bool beta);
    // One manifest request; a failed beta request falls back to the stable manifest.
    void check(bool beta, bool manual);
    // Stops the timer and every request of the updater.
    void stop();

    // The steps, reached from the replies and the card.
    void onManifest(const QByteArray& body, bool ok, bool manual, bool beta);
    void fetchUpdateHistory(const QString& version, const QString& notes, const QString& title);
    void showUpdatePrompt(const QString& version, const QString& notes, const QString& title);
    void onUpdateClicked();
    void onUpdateDismissed();
    void downloadUpdate(const QString& url);
    // A failure: not busy any more, the notice poll resumes, the card shows the text.
    void notifyUpdateStatus(const QString& text);

    bool busy() const { return m_busy; }
    QString offeredUrl() const { return m_url; }
    QString offeredSha256() const { return m_sha256; }
    bool offeredFromBeta() const { return m_fromBeta; }
    UpdateDialog* dialog() const { return m_dialog; }

    // The paths the updater writes: the installer, and the script of the last hand-over (empty before).
    QString installerPath() const;
    QString scriptPath() const;

Q_SIGNALS:
    // The installer download starts (the notice poll pauses) and failed (it resumes).
    void downloadStarted();
    void downloadFailed();

private:
    QNetworkAccessManager* network();
    void onManifestReply(QNetworkReply* reply, bool beta, bool manual);
    void onHistoryReply(QNetworkReply* reply, const QString& version, const QString& notes, const QString& title);
    void onCardMinimized();
    void installUpdate(const HttpDownload::Result& result);
    void failDownload(const QString& text);
    QString localVersion() const;

    Seams m_seams;
    QTimer* m_startupTimer = nullptr;
    bool m_startupBeta = false;
    QNetworkAccessManager* m_network = nullptr;

    bool m_busy = false;
    QString m_url;
    QString m_sha256;
    bool m_fromBeta = false;
    QString m_scriptPath;
    QPointer<UpdateDialog> m_dialog;

    QPointer<HttpDownload> m_download;
    QList<QPointer<QNetworkReply>> m_replies; // every request of the updater, for stop()
    QString m_partPath;                       // the installer while it downloads
};
