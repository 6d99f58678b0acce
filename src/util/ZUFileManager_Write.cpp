// Creating, writing, removing, copying and moving items.
#include "util/ZUFileManager.h"

#include "util/ZUFileSystem.h"

#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <stdio.h>

#include <algorithm>

namespace fs = std::filesystem;
using zufs::itemExists;
using zufs::report;
using zufs::toPath;

namespace
{

// QSaveFile reports failures as text; the slot wants an error code. errno is
// cleared before each step, so a value found afterwards comes from that step;
// the checks cover the refusals QSaveFile makes without a system call.
std::error_code saveError(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return std::make_error_code(std::errc::is_a_directory);
    if (info.exists() && !info.isWritable())
        return std::make_error_code(std::errc::permission_denied);
    return zufs::lastError();
}

// Replaces the file's contents atomically: the bytes go to a temporary file
// beside it, which is renamed over the old one once complete.
bool writeAtomically(const QString &path, const QByteArray &bytes, std::error_code *error)
{
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        report(error, saveError(path));
        return false;
    }
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        const std::error_code failure = saveError(path);
        file.cancelWriting();
        report(error, failure);
        return false;
    }
    errno = 0;
    if (!file.commit()) {
        report(error, saveError(path));
        return false;
    }
    return true;
}

// Creates the missing parent folders of an item about to be made at path.
bool makeParent(const QString &path, std::error_code *error)
{
    const QString parent = ZUFileManager::directoryAtPath(path);
    if (parent.isEmpty() || ZUFileManager::isExistsAtPath(parent))
        return true;
    return ZUFileManager::createDirectoryAtPath(parent, error);
}

// True when `to` names the item `from` itself (through any link) or a place
// inside the folder `from`. Removing the destination first, or copying a
// folder into itself, would then destroy or endlessly grow the source.
bool isSameOrInside(const fs::path &from, const fs::path &to)
{
    std::error_code ec;
    if (fs::equivalent(from, to, ec))
        return true;
    if (!fs::is_directory(fs::symlink_status(from, ec)))
        return false;
    const fs::path source = fs::canonical(from, ec);
    if (ec)
        return false;
    const fs::path destination = fs::weakly_canonical(to, ec);
    if (ec)
        return false;
    const auto [s, d] =
        std::mismatch(source.begin(), source.end(), destination.begin(), destination.end());
    return s == source.end();
}

// Copies an item to `to`, where nothing is. A failed copy leaves no partial
// destination behind.
bool copyNew(const fs::path &from, const fs::path &to, std::error_code *error)
{
    std::error_code ec;
    const bool folder = fs::is_directory(fs::symlink_status(from, ec));
    auto options = fs::copy_options::copy_symlinks;
    if (folder)
        options |= fs::copy_options::recursive;
    ec.clear();
    fs::copy(from, to, options, ec);
    if (!ec)
        return true;
    report(error, ec);
    // Something that appeared at `to` meanwhile is not ours to remove.
    if (ec != std::errc::file_exists) {
        std::error_code ignored;
        fs::remove_all(to, ignored);
    }
    return false;
}

// Renames without ever replacing an item at `to`; across file systems, copies
// and removes the source only once the copy is complete.
bool renameNew(const fs::path &from, const fs::path &to, std::error_code *error)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    int code = errno;
    if (code == EINVAL || code == ENOSYS || code == EOPNOTSUPP) {
        // The file system cannot refuse replacement itself; look first.
        if (itemExists(to)) {
            report(error, std::errc::file_exists);
            return false;
        }
        if (::rename(from.c_str(), to.c_str()) == 0)
            return true;
        code = errno;
    }
    if (code != EXDEV) {
        report(error, std::error_code(code, std::generic_category()));
        return false;
    }
    if (!copyNew(from, to, error))
        return false;
    std::error_code ec;
    fs::remove_all(from, ec);
    report(error, ec);
    return !ec;
}

enum class Transfer { Copy = 1, Move };

bool transfer(Transfer kind, const QString &from, const QString &to, bool overwrite,
              std::error_code *error)
{
    const fs::path source = toPath(from);
    const fs::path destination = toPath(to);
    if (!itemExists(source))
        throw ZUFileException::missingSource(from);
    if (!makeParent(to, error))
        return false;
    const bool destinationExists = itemExists(destination);
    if (destinationExists && !overwrite) {
        report(error, std::errc::file_exists);
        return false;
    }
    if (isSameOrInside(source, destination)) {
        report(error, std::errc::invalid_argument);
        return false;
    }
    if (destinationExists) {
        // Whatever a failed removal left behind stays untouched: nothing is
        // copied or moved into the remains.
        if (!ZUFileManager::removeItemAtPath(to, error) && itemExists(destination))
            return false;
    }
    return kind == Transfer::Copy ? copyNew(source, destination, error)
                                  : renameNew(source, destination, error);
}

bool clearDirectory(const QString &dir)
{
    const auto entries = ZUFileManager::listFilesInDirectoryAtPath(dir, false);
    if (!entries)
        return true;
    bool allRemoved = true;
    for (const QString &entry : *entries) {
        if (!ZUFileManager::removeItemAtPath(dir + u'/' + entry))
            allRemoved = false;
    }
    return allRemoved;
}

} // namespace

bool ZUFileManager::createDirectoryAtPath(const QString &path, std::error_code *error)
{
    const fs::path dir = toPath(path);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        report(error, ec);
        return false;
    }
    if (!fs::is_directory(dir, ec)) {
        report(error, ec ? ec : std::make_error_code(std::errc::file_exists));
        return false;
    }
    return true;
}

bool ZUFileManager::createFileAtPath(const QString &path, std::error_code *error)
{
    return createFileAtPath(path, std::nullopt, true, error);
}

bool ZUFileManager::createFileAtPath(const QString &path, bool overwrite, std::error_code *error)
{
    return createFileAtPath(path, std::nullopt, overwrite, error);
}

bool ZUFileManager::createFileAtPath(const QString &path, const ZUFileContent &content,
                                     std::error_code *error)
{
    return createFileAtPath(path, content, true, error);
}

bool ZUFileManager::createFileAtPath(const QString &path,
                                     const std::optional<ZUFileContent> &content, bool overwrite,
                                     std::error_code *error)
{
    if (!makeParent(path, error))
        return false;
    if (!overwrite && itemExists(toPath(path)))
        return true;
    if (!writeAtomically(path, QByteArray(), error))
        return false;
    if (!content)
        return true;
    return writeFileAtPath(path, content, error);
}

bool ZUFileManager::writeFileAtPath(const QString &path,
                                    const std::optional<ZUFileContent> &content,
                                    std::error_code *error)
{
    if (!content)
        throw ZUFileException::missingContent();
    if (!isExistsAtPath(path)) {
        report(error, std::errc::no_such_file_or_directory);
        return false;
    }
    if (content->kind() == ZUFileContent::Kind::Unsupported)
        throw ZUFileException::unsupportedContent(content->typeName());
    const std::optional<QByteArray> bytes = content->encoded();
    if (!bytes) {
        report(error, std::errc::invalid_argument); // a null image
        return false;
    }
    return writeAtomically(path, *bytes, error);
}

bool ZUFileManager::removeItemAtPath(const QString &path, std::error_code *error)
{
    const fs::path item = toPath(path);
    if (!itemExists(item)) {
        report(error, std::errc::no_such_file_or_directory);
        return false;
    }
    std::error_code ec;
    fs::remove_all(item, ec);
    report(error, ec);
    return !ec;
}

bool ZUFileManager::clearCachesDirectory()
{
    return clearDirectory(cachesDir());
}

bool ZUFileManager::clearTmpDirectory()
{
    return clearDirectory(tmpDir());
}

bool ZUFileManager::copyItemAtPath(const QString &from, const QString &to, std::error_code *error)
{
    return transfer(Transfer::Copy, from, to, false, error);
}

bool ZUFileManager::copyItemAtPath(const QString &from, const QString &to, bool overwrite,
                                   std::error_code *error)
{
    return transfer(Transfer::Copy, from, to, overwrite, error);
}

bool ZUFileManager::moveItemAtPath(const QString &from, const QString &to, std::error_code *error)
{
    return transfer(Transfer::Move, from, to, false, error);
}

bool ZUFileManager::moveItemAtPath(const QString &from, const QString &to, bool overwrite,
                                   std::error_code *error)
{
    return transfer(Transfer::Move, from, to, overwrite, error);
}
