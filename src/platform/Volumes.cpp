#include "platform/Volumes.h"

#include <QStorageInfo>

namespace platform
{

std::optional<qint64> StorageVolumes::bytesAvailable(const QString &folder)
{
    const QStorageInfo volume(folder);
    if (!volume.isValid() || !volume.isReady())
        return std::nullopt;
    return volume.bytesAvailable();
}

QString StorageVolumes::fileSystemType(const QString &folder)
{
    const QStorageInfo volume(folder);
    return volume.isValid() ? QString::fromLatin1(volume.fileSystemType()) : QString();
}

} // namespace platform
