#pragma once

#include "util/ZUFileAttributes.h"
#include "util/ZUFileContent.h"
#include "util/ZUFileException.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <system_error>

// File-system operations on plain paths ("/" separated, absolute or relative
// to the working folder). The class holds no state: every function is static
// and may be called from any thread.
//
// Errors. A function answers false, or an empty optional, when it fails. The
// optional `error` slot, where a function has one, receives the failing
// system call's error; a later failure replaces an earlier one, and success
// leaves the slot as it was (reset it yourself between calls). Three kinds of
// invalid input throw ZUFileException instead: a copy or move whose source
// does not exist, and writing missing or unsupported content.
//
// Standard folders follow the XDG layout and QStandardPaths. The caches and
// temporary folders are this application's own, so that clearing them never
// touches another program's files.
class ZUFileManager
{
public:
    ZUFileManager() = delete;

    // MARK: - Standard folders
    static QString homeDir();        // $HOME
    static QString documentsDir();   // XDG documents folder
    static QString libraryDir();     // $XDG_DATA_HOME (~/.local/share)
    static QString preferencesDir(); // $XDG_CONFIG_HOME (~/.config)
    static QString cachesDir();      // ~/.cache/<organisation>/<application>
    // <temporary folder>/<application>-<user id>, made (mode 0700) on first
    // use; empty when it cannot be made or is not a folder of this user.
    static QString tmpDir();

    // MARK: - Listings
    // deep false: the names of the folder's immediate entries. deep true: the
    // paths, relative to the folder, of everything below it at any depth;
    // symbolic links are listed, not followed. Hidden entries are included;
    // the order is the file system's. Empty when the folder cannot be read.
    static std::optional<QStringList> listFilesInDirectoryAtPath(const QString &path, bool deep);
    static std::optional<QStringList> listFilesInHomeDirectoryByDeep(bool deep);
    static std::optional<QStringList> listFilesInLibraryDirectoryByDeep(bool deep);
    static std::optional<QStringList> listFilesInDocumentDirectoryByDeep(bool deep);
    static std::optional<QStringList> listFilesInTmpDirectoryByDeep(bool deep);
    static std::optional<QStringList> listFilesInCachesDirectoryByDeep(bool deep);

    // MARK: - Attributes (a final symbolic link is not followed)
    static std::optional<ZUFileAttributes> attributesOfItemAtPath(const QString &path,
                                                                  std::error_code *error = nullptr);
    static QVariant attributeOfItemAtPath(const QString &path, ZUFileAttributes::Key key,
                                          std::error_code *error = nullptr);
    // Empty where the file system records no birth time.
    static std::optional<QDateTime> creationDateOfItemAtPath(const QString &path,
                                                             std::error_code *error = nullptr);
    static std::optional<QDateTime> modificationDateOfItemAtPath(const QString &path,
                                                                 std::error_code *error = nullptr);

    // MARK: - Creating, writing, removing, copying, moving
    // Creates the folder and any missing parents. True also when a folder
    // (or a link to one) is already there; false when anything else is.
    static bool createDirectoryAtPath(const QString &path, std::error_code *error = nullptr);

    // Creates the parent folders, then the file. Without overwrite an
    // existing item is left as it is and the answer is true. Otherwise the
    // file is replaced by an empty one and, when content is given, the content
    // is written; the answer is true only when both succeeded. Unsupported
    // content throws after the empty file was made.
    static bool createFileAtPath(const QString &path, std::error_code *error = nullptr);
    static bool createFileAtPath(const QString &path, bool overwrite,
                                 std::error_code *error = nullptr);
    static bool createFileAtPath(const QString &path, const ZUFileContent &content,
                                 std::error_code *error = nullptr);
    static bool createFileAtPath(const QString &path, const std::optional<ZUFileContent> &content,
                                 bool overwrite, std::error_code *error = nullptr);
    // Bytes and string literals would otherwise turn into the overwrite flag.
    static bool createFileAtPath(const QString &path, const QByteArray &bytes,
                                 std::error_code *error = nullptr)
    {
        return createFileAtPath(path, ZUFileContent(bytes), error);
    }
    static bool createFileAtPath(const QString &, const char *,
                                 std::error_code * = nullptr) = delete;

    // Replaces the contents of an existing file atomically: readers see the
    // old file or the new one, never a part. Throws for no content; answers
    // false, writing nothing, when nothing is at the path; throws for
    // unsupported content; otherwise answers whether the write succeeded.
    static bool writeFileAtPath(const QString &path, const std::optional<ZUFileContent> &content,
                                std::error_code *error = nullptr);

    // Removes the item, a folder with everything in it. False when nothing is there.
    static bool removeItemAtPath(const QString &path, std::error_code *error = nullptr);

    // Removes every entry of cachesDir() / tmpDir(), going on after a failure.
    // True when every removal succeeded or there was nothing to remove.
    static bool clearCachesDirectory();
    static bool clearTmpDirectory();

    // Copies the item (folders with their contents, symbolic links as links),
    // creating the destination's parent folders. Throws when the source does
    // not exist. An existing destination is never touched without overwrite:
    // the answer is false (std::errc::file_exists). With overwrite it is
    // removed first. Copying an item onto itself or into itself is refused
    // (std::errc::invalid_argument) and changes nothing.
    static bool copyItemAtPath(const QString &from, const QString &to,
                               std::error_code *error = nullptr);
    static bool copyItemAtPath(const QString &from, const QString &to, bool overwrite,
                               std::error_code *error = nullptr);

    // Moves the item, as copyItemAtPath() copies it; across file systems it is
    // copied and the source removed only once the copy is complete. Without
    // overwrite an existing destination gives false and both items stay.
    static bool moveItemAtPath(const QString &from, const QString &to,
                               std::error_code *error = nullptr);
    static bool moveItemAtPath(const QString &from, const QString &to, bool overwrite,
                               std::error_code *error = nullptr);

    // MARK: - Path parts (strings only, no file-system access)
    // The last component; without its last extension when suffix is false
    // ("/a/b/c.tar.gz": "c.tar.gz" or "c.tar").
    static QString fileNameAtPath(const QString &path, bool suffix);
    static QString directoryAtPath(const QString &path); // "/a/b/c.tar.gz": "/a/b"
    static QString suffixAtPath(const QString &path);    // "gz"; empty when there is none

    // MARK: - Tests on items
    static bool isExistsAtPath(const QString &path); // follows symbolic links
    // The item's own type: a symbolic link is neither a folder nor a file.
    static bool isDirectoryAtPath(const QString &path, std::error_code *error = nullptr);
    static bool isFileAtPath(const QString &path, std::error_code *error = nullptr);
    // An empty regular file or a folder without entries.
    static bool isEmptyItemAtPath(const QString &path, std::error_code *error = nullptr);
    static bool isExecutableItemAtPath(const QString &path);
    static bool isReadableItemAtPath(const QString &path);
    static bool isWritableItemAtPath(const QString &path);
    // True when there is no slot or it holds no error.
    static bool isNotError(const std::error_code *error) { return !error || !*error; }

    // MARK: - Sizes in bytes, and as display text
    static std::optional<quint64> sizeOfItemAtPath(const QString &path,
                                                   std::error_code *error = nullptr);
    // Only for a regular file.
    static std::optional<quint64> sizeOfFileAtPath(const QString &path,
                                                   std::error_code *error = nullptr);
    // The sum of the sizes of everything below the folder (sub-folders with
    // the size of their own entries); only for a folder.
    static std::optional<quint64> sizeOfDirectoryAtPath(const QString &path,
                                                        std::error_code *error = nullptr);
    static std::optional<QString> sizeFormattedOfItemAtPath(const QString &path,
                                                            std::error_code *error = nullptr);
    static std::optional<QString> sizeFormattedOfFileAtPath(const QString &path,
                                                            std::error_code *error = nullptr);
    static std::optional<QString> sizeFormattedOfDirectoryAtPath(const QString &path,
                                                                 std::error_code *error = nullptr);
    // Decimal units in the default locale: "0 bytes", "1.5 kB", "4.3 GB".
    static QString sizeFormatted(quint64 bytes);
};
