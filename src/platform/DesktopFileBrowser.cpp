#include "platform/DesktopFileBrowser.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QUrl>

#include <atomic>

namespace platform
{

namespace
{

const QString kFileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString kFileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");

QString uniqueConnectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("orbilens-file-browser-%1").arg(next++);
}

} // namespace

DesktopFileBrowser::DesktopFileBrowser() : m_connectionName(QDBusConnection::sessionBus().name()) {}

DesktopFileBrowser::DesktopFileBrowser(const QString &busAddress)
{
    if (busAddress.isEmpty())
        return;
    m_connectionName = uniqueConnectionName();
    m_ownsConnection = true;
    QDBusConnection::connectToBus(busAddress, m_connectionName);
}

DesktopFileBrowser::~DesktopFileBrowser()
{
    if (m_ownsConnection)
        QDBusConnection::disconnectFromBus(m_connectionName);
}

bool DesktopFileBrowser::openFolder(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool DesktopFileBrowser::showFolder(const QString &path)
{
    const QUrl url = QUrl::fromLocalFile(path);
    const QDBusConnection bus(m_connectionName);
    if (m_connectionName.isEmpty() || !bus.isConnected())
        return QDesktopServices::openUrl(url);

    // The bus starts the file manager if it is not running; the answer comes
    // later, and only an error needs doing anything about.
    QDBusMessage call = QDBusMessage::createMethodCall(
        kFileManagerService, kFileManagerPath, kFileManagerService, QStringLiteral("ShowFolders"));
    call << QStringList{url.toString(QUrl::FullyEncoded)} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [url](QDBusPendingCallWatcher *finished) {
                         if (finished->isError())
                             QDesktopServices::openUrl(url);
                         finished->deleteLater();
                     });
    return true;
}

} // namespace platform
