#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cerrno>
#include <filesystem>
#include <system_error>

// Conversions and error plumbing shared by the ZUFileManager sources. Paths
// cross into std::filesystem in the local 8-bit encoding Qt uses for file
// names, so that any name the file system holds survives the round trip.
namespace zufs
{

inline std::filesystem::path toPath(const QString &path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

inline QString fromPath(const std::filesystem::path &path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

// Puts a failure into the caller's slot, if there is one. Success never
// clears it.
inline void report(std::error_code *slot, std::error_code failure)
{
    if (slot && failure)
        *slot = failure;
}

inline void report(std::error_code *slot, std::errc failure)
{
    report(slot, std::make_error_code(failure));
}

inline std::error_code lastError(int fallback = EIO)
{
    const int code = errno;
    return {code != 0 ? code : fallback, std::generic_category()};
}

// True when anything is at the path, a dangling symbolic link included.
inline bool itemExists(const std::filesystem::path &path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

} // namespace zufs
