#include "platform/filemanager.h"

#include "platform/launcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QUrl>

namespace ktr::platform {

namespace {

QString& testBusName()
{
    static QString name;
    return name;
}

QDBusConnection fileManagerBus()
{
    if (!testBusName().isEmpty())
        return QDBusConnection(testBusName());
    return QDBusConnection::sessionBus();
}

ShowItemResult openParentFolder(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    return launcher().openUrl(QUrl::fromLocalFile(folder)) ? ShowItemResult::ParentFolder : ShowItemResult::Failed;
}

void finish(const std::function<void(ShowItemResult)>& done, ShowItemResult result)
{
    if (done)
        done(result);
}

} // namespace

void setFileManagerBusForTesting(const QString& connectionName)
{
    testBusName() = connectionName;
}

void showItemInFileManager(const QString& path, std::function<void(ShowItemResult)> done)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QDBusConnection bus = fileManagerBus();
    if (!bus.isConnected()) {
        finish(done, openParentFolder(absolute));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kShowItemsTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [absolute, done = std::move(done)](QDBusPendingCallWatcher* w) {
                         const bool shown = !w->isError();
                         w->deleteLater();
                         finish(done, shown ? ShowItemResult::FileManager : openParentFolder(absolute));
                     });
}

} // namespace ktr::platform
