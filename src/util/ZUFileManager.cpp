// Folders, listings, attributes, tests on items, sizes and path parts.
// Creating, writing, copying and moving live in ZUFileManager_Write.cpp.
#include "util/ZUFileManager.h"

#include "util/ZUFileSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <limits>

namespace fs = std::filesystem;
using zufs::fromPath;
using zufs::report;
using zufs::toPath;

namespace
{

// The application's own folder name under shared locations. Without a
// QCoreApplication Qt knows no name, and an unnamed caches folder would be
// everyone's.
QString applicationFolderName()
{
    QString name = QCoreApplication::applicationName();
    name.replace(u'/', u'_');
    return name.isEmpty() ? QStringLiteral("orbilens") : name;
}

QDateTime toDateTime(const struct statx_timestamp &t)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000);
}

ZUFileAttributes::Type typeOf(mode_t mode)
{
    using Type = ZUFileAttributes::Type;
    if (S_ISREG(mode))
        return Type::Regular;
    if (S_ISDIR(mode))
        return Type::Directory;
    if (S_ISLNK(mode))
        return Type::SymbolicLink;
    if (S_ISCHR(mode))
        return Type::CharacterSpecial;
    if (S_ISBLK(mode))
        return Type::BlockSpecial;
    if (S_ISSOCK(mode))
        return Type::Socket;
    if (S_ISFIFO(mode))
        return Type::Fifo;
    return Type::Unknown;
}

// The path with trailing separators removed, except for the root itself.
QString withoutTrailingSlashes(const QString &path)
{
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == u'/')
        --end;
    return path.left(end);
}

// Where the extension's dot sits in a file name, or -1. A leading dot marks a
// hidden file, not an extension.
qsizetype extensionDot(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? dot : -1;
}

bool accessible(const QString &path, int mode)
{
    return ::access(QFile::encodeName(path).constData(), mode) == 0;
}

} // namespace

// MARK: - Standard folders

QString ZUFileManager::homeDir()
{
    return QDir::homePath();
}

QString ZUFileManager::documentsDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString ZUFileManager::libraryDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString ZUFileManager::preferencesDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString ZUFileManager::cachesDir()
{
    if (QCoreApplication::applicationName().isEmpty())
        return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u'/' +
               applicationFolderName();
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

QString ZUFileManager::tmpDir()
{
    // The shared temporary folder belongs to everyone; ours is a private
    // folder inside it. Someone else may have put an item under our name
    // first, so it is used only if it is a real folder that we own.
    const uid_t uid = ::getuid();
    const QString dir =
        QDir::tempPath() + u'/' + applicationFolderName() + u'-' + QString::number(uid);
    const QByteArray native = QFile::encodeName(dir);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st {
    };
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid)
        return {};
    return dir;
}

// MARK: - Listings

std::optional<QStringList> ZUFileManager::listFilesInDirectoryAtPath(const QString &path, bool deep)
{
    const fs::path root = toPath(path);
    std::error_code ec;
    QStringList names;
    if (!deep) {
        for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
            names << fromPath(it->path().filename());
    } else {
        // Entries come back as root/relative; cut the root off as text, so
        // that "." and trailing separators in the root do not matter.
        const std::size_t rootLength = (root / "").native().size();
        for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
            names << fromPath(it->path().native().substr(rootLength));
    }
    if (ec)
        return std::nullopt;
    return names;
}

std::optional<QStringList> ZUFileManager::listFilesInHomeDirectoryByDeep(bool deep)
{
    return listFilesInDirectoryAtPath(homeDir(), deep);
}

std::optional<QStringList> ZUFileManager::listFilesInLibraryDirectoryByDeep(bool deep)
{
    return listFilesInDirectoryAtPath(libraryDir(), deep);
}

std::optional<QStringList> ZUFileManager::listFilesInDocumentDirectoryByDeep(bool deep)
{
    return listFilesInDirectoryAtPath(documentsDir(), deep);
}

std::optional<QStringList> ZUFileManager::listFilesInTmpDirectoryByDeep(bool deep)
{
    return listFilesInDirectoryAtPath(tmpDir(), deep);
}

std::optional<QStringList> ZUFileManager::listFilesInCachesDirectoryByDeep(bool deep)
{
    return listFilesInDirectoryAtPath(cachesDir(), deep);
}

// MARK: - Attributes

std::optional<ZUFileAttributes> ZUFileManager::attributesOfItemAtPath(const QString &path,
                                                                      std::error_code *error)
{
    // statx rather than lstat for the birth time, where the file system keeps one.
    struct statx stx {
    };
    const QByteArray native = QFile::encodeName(path);
    if (::statx(AT_FDCWD, native.constData(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
                &stx) != 0) {
        report(error, zufs::lastError());
        return std::nullopt;
    }
    ZUFileAttributes a;
    a.type = typeOf(stx.stx_mode);
    a.size = stx.stx_size;
    if (stx.stx_mask & STATX_BTIME)
        a.creationDate = toDateTime(stx.stx_btime);
    a.modificationDate = toDateTime(stx.stx_mtime);
    a.posixPermissions = stx.stx_mode & 07777;
    a.ownerAccountId = stx.stx_uid;
    a.groupOwnerAccountId = stx.stx_gid;
    a.referenceCount = stx.stx_nlink;
    a.systemNumber = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    a.systemFileNumber = stx.stx_ino;
    return a;
}

QVariant ZUFileManager::attributeOfItemAtPath(const QString &path, ZUFileAttributes::Key key,
                                              std::error_code *error)
{
    const auto attributes = attributesOfItemAtPath(path, error);
    return attributes ? attributes->value(key) : QVariant();
}

std::optional<QDateTime> ZUFileManager::creationDateOfItemAtPath(const QString &path,
                                                                 std::error_code *error)
{
    const auto attributes = attributesOfItemAtPath(path, error);
    if (!attributes || !attributes->creationDate.isValid())
        return std::nullopt;
    return attributes->creationDate;
}

std::optional<QDateTime> ZUFileManager::modificationDateOfItemAtPath(const QString &path,
                                                                     std::error_code *error)
{
    const auto attributes = attributesOfItemAtPath(path, error);
    if (!attributes)
        return std::nullopt;
    return attributes->modificationDate;
}

// MARK: - Path parts

QString ZUFileManager::fileNameAtPath(const QString &path, bool suffix)
{
    const QString trimmed = withoutTrailingSlashes(path);
    const QString name = trimmed == u"/" ? trimmed : trimmed.mid(trimmed.lastIndexOf(u'/') + 1);
    if (suffix)
        return name;
    const qsizetype dot = extensionDot(name);
    return dot < 0 ? name : name.left(dot);
}

QString ZUFileManager::directoryAtPath(const QString &path)
{
    const QString trimmed = withoutTrailingSlashes(path);
    const qsizetype slash = trimmed.lastIndexOf(u'/');
    if (slash < 0)
        return {};
    if (slash == 0)
        return QStringLiteral("/");
    return withoutTrailingSlashes(trimmed.left(slash));
}

QString ZUFileManager::suffixAtPath(const QString &path)
{
    const QString name = fileNameAtPath(path, true);
    const qsizetype dot = extensionDot(name);
    return dot < 0 ? QString() : name.mid(dot + 1);
}

// MARK: - Tests on items

bool ZUFileManager::isExistsAtPath(const QString &path)
{
    std::error_code ec;
    return fs::exists(toPath(path), ec);
}

bool ZUFileManager::isDirectoryAtPath(const QString &path, std::error_code *error)
{
    const auto attributes = attributesOfItemAtPath(path, error);
    return attributes && attributes->type == ZUFileAttributes::Type::Directory;
}

bool ZUFileManager::isFileAtPath(const QString &path, std::error_code *error)
{
    const auto attributes = attributesOfItemAtPath(path, error);
    return attributes && attributes->type == ZUFileAttributes::Type::Regular;
}

bool ZUFileManager::isEmptyItemAtPath(const QString &path, std::error_code *error)
{
    if (isFileAtPath(path, error)) {
        const auto size = sizeOfItemAtPath(path, error);
        if (size && *size == 0)
            return true;
    }
    if (isDirectoryAtPath(path, error)) {
        const auto entries = listFilesInDirectoryAtPath(path, false);
        return entries && entries->isEmpty();
    }
    return false;
}

bool ZUFileManager::isExecutableItemAtPath(const QString &path)
{
    return accessible(path, X_OK);
}

bool ZUFileManager::isReadableItemAtPath(const QString &path)
{
    return accessible(path, R_OK);
}

bool ZUFileManager::isWritableItemAtPath(const QString &path)
{
    return accessible(path, W_OK);
}

// MARK: - Sizes

std::optional<quint64> ZUFileManager::sizeOfItemAtPath(const QString &path, std::error_code *error)
{
    const auto attributes = attributesOfItemAtPath(path, error);
    if (!attributes)
        return std::nullopt;
    return attributes->size;
}

std::optional<quint64> ZUFileManager::sizeOfFileAtPath(const QString &path, std::error_code *error)
{
    if (!isFileAtPath(path, error))
        return std::nullopt;
    return sizeOfItemAtPath(path, error);
}

std::optional<quint64> ZUFileManager::sizeOfDirectoryAtPath(const QString &path,
                                                            std::error_code *error)
{
    if (!isDirectoryAtPath(path, error))
        return std::nullopt;
    quint64 total = 0;
    const auto entries = listFilesInDirectoryAtPath(path, true);
    if (!entries)
        return total;
    const QString prefix = path.endsWith(u'/') ? path : path + u'/';
    for (const QString &entry : *entries) {
        if (const auto attributes = attributesOfItemAtPath(prefix + entry))
            total += attributes->size;
    }
    return total;
}

std::optional<QString> ZUFileManager::sizeFormattedOfItemAtPath(const QString &path,
                                                                std::error_code *error)
{
    const auto size = sizeOfItemAtPath(path, error);
    return size ? std::optional(sizeFormatted(*size)) : std::nullopt;
}

std::optional<QString> ZUFileManager::sizeFormattedOfFileAtPath(const QString &path,
                                                                std::error_code *error)
{
    const auto size = sizeOfFileAtPath(path, error);
    return size ? std::optional(sizeFormatted(*size)) : std::nullopt;
}

std::optional<QString> ZUFileManager::sizeFormattedOfDirectoryAtPath(const QString &path,
                                                                     std::error_code *error)
{
    const auto size = sizeOfDirectoryAtPath(path, error);
    return size ? std::optional(sizeFormatted(*size)) : std::nullopt;
}

QString ZUFileManager::sizeFormatted(quint64 bytes)
{
    const QLocale locale;
    if (bytes <= quint64(std::numeric_limits<qint64>::max()))
        return locale.formattedDataSize(qint64(bytes), 1, QLocale::DataSizeSIFormat);
    // Qt's formatter takes a signed count; above 2^63 bytes only exabytes apply.
    return locale.toString(double(bytes) / 1e18, 'f', 1) + QStringLiteral(" EB");
}
