#pragma once

#include <QString>

#include <optional>

namespace platform
{

// What the viewer needs to know of the volume (the mounted file system) that
// holds a folder: how much room is left, and what kind of file system it is.
//
// Main thread only. Every question is answered from the system at the time
// it is asked; nothing is cached. The application owns the service; users
// hold a reference that must not outlive it.
class Volumes
{
public:
    virtual ~Volumes() = default;

    // Bytes an ordinary user may still write on the volume that holds folder
    // (the reserve kept for the system administrator not counted). Nothing
    // when it cannot be told, for example when the folder does not exist.
    virtual std::optional<qint64> bytesAvailable(const QString &folder) = 0;

    // The volume's file-system type as the system names it: "ext4", "vfat",
    // "exfat", "ntfs3", "fuseblk" (a FUSE driver, such as the usual NTFS
    // one, on a block device). Empty when it cannot be told.
    virtual QString fileSystemType(const QString &folder) = 0;
};

// Volumes as QStorageInfo sees them (statvfs and the mount table).
class StorageVolumes final : public Volumes
{
public:
    std::optional<qint64> bytesAvailable(const QString &folder) override;
    QString fileSystemType(const QString &folder) override;
};

} // namespace platform
