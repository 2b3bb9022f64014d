#pragma once

#include "market/httpdownload.h"
#include "market/marketrow.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The market's state without a window: the catalogue (page, SDK minimum, icons, manifests), the package
// downloads with resume and their SHA-256 check, and the hand-over of a verified package. The market
// window paints `rows` and forwards its clicks here; everything runs on the GUI thread except the
// hashing, which runs on the global thread pool. Reply handlers hold a guarded pointer to this object
// and do nothing once it is gone.
class MarketCatalogue : public QObject
{
    Q_OBJECT
public:
    using AppRow = MarketAppRow;
    using ReplyHandler = std::function<void(QNetworkReply*)>;

    static constexpr qint64 kMaxPackage = 2147483648LL; // 2^31: package, expected total, partial file
    static constexpr int kMaxErrorBody = 8192;
    static constexpr int kGetTimeoutMs = 15000;
    static constexpr int kDownloadTimeoutMs = 30000;
    static constexpr qint64 kMaxIconBytes = 2097152;
    static constexpr int kMaxIconSide = 4096;
    static constexpr qint64 kMaxJsonBytes = 8 * 1024 * 1024; // a catalogue page, a manifest

    explicit MarketCatalogue(QObject* parent = nullptr);
    ~MarketCatalogue() override;

    // Uses the given manager (not owned) instead of making one on first use.
    void setNetworkManager(QNetworkAccessManager* manager);
    QNetworkAccessManager* networkManager();
    // The installed-apps registry the rows take their installed version and size from.
    void setInstalledApps(const QHash<QString, MarketInstalledApp>& apps) { m_installed = apps; }
    // The pixel ratio icons are scaled for.
    void setIconPixelRatio(qreal ratio) { m_pixelRatio = ratio > 0 ? ratio : 1.0; }

    // --- catalogue
    // A GET whose body is never held beyond maxBytes: the transfer stops (the reply ends with an error) as
    // soon as more arrives, so a hostile stream costs no more memory than the cap.
    QNetworkReply* sendGet(const QUrl& url, ReplyHandler handler, qint64 maxBytes = kMaxJsonBytes);
    void fetchIndex(int page);
    void applyIndexPage(QNetworkReply* reply, int seq);
    void fetchIcon(AppRow& row);
    // "1.1.0", then the service's "minSdkVersion" when it answers one.
    void fetchSdkMin();
    void fetchManifest(AppRow& row);
    void parseManifest(QNetworkReply* reply, const QString& id, qint64 generation);
    AppRow* findRow(const QString& id);
    // The rows of the search: searchKey contains the trimmed, lower-cased text.
    void setSearchText(const QString& text);
    bool matchesSearch(const AppRow& row) const;

    // --- download
    void startDownload(AppRow& row);
    void beginNetworkDownload(AppRow& row);
    void computeSha256Async(const QString& path, std::function<void(const QByteArray&)> callback);
    void setToken(const QString& token);
    // The window's pause/continue and cancel actions.
    void pauseDownload(AppRow& row);
    void cancelDownload(AppRow& row);
    // The common failure exit: progress and flags cleared, the text shown on the row.
    void setRowError(AppRow& row, const LangText& text);

    QList<AppRow> rows;
    int indexSeq = 0;
    bool indexLoaded = false;
    bool indexFailed = false;
    QString minSdkVersion = QStringLiteral("1.1.0");
    QString searchText;
    QString token;
    QSet<QString> pendingLoginIds;

Q_SIGNALS:
    // Something shown changed; progress is coalesced to one signal per 50 ms.
    void changed();
    // A catalogue page replaced the list (the window scrolls back to the top).
    void listReplaced();
    // A download needs a login; call setToken once there is one.
    void loginRequested();
    // The package of the row passed its SHA-256 check: extract it (the cached file or the package file).
    void packageVerified(const QString& id, const QString& packagePath);

private:
    struct Transfer;
    void onFinished(HttpDownload* download, const QString& id, const std::shared_ptr<Transfer>& t,
                    const HttpDownload::Result& result);
    // The steps of a finished transfer: the package arrived, the connection or our disk broke, or the server
    // refused it.
    void finishDownload(AppRow& row, const QString& id, const std::shared_ptr<Transfer>& t,
                        const HttpDownload::Result& result);
    void failBrokenDownload(AppRow& row, const QString& id, const std::shared_ptr<Transfer>& t,
                            const HttpDownload::Result& result);
    void failRefusedDownload(AppRow& row, const QString& id, const std::shared_ptr<Transfer>& t,
                             const HttpDownload::Result& result);
    void verifyDownload(const QString& id, const std::shared_ptr<Transfer>& t, const QByteArray& digest);
    void scheduleRepaint();

    QNetworkAccessManager* m_manager = nullptr;
    bool m_ownsManager = false;
    QHash<QString, MarketInstalledApp> m_installed;
    qreal m_pixelRatio = 1.0;
    QTimer* m_repaintTimer = nullptr;
};
