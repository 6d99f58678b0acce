#include "util/ZUFileManager.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <limits>

using namespace Qt::StringLiterals;

namespace
{

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Runs a body that must throw ZUFileException and hands the exception back.
ZUFileException expectException(const std::function<void()> &body)
{
    try {
        body();
    } catch (const ZUFileException &e) {
        return e;
    }
    return ZUFileException(QStringLiteral("<nothing thrown>"), QString());
}

// Makes a folder whose contents cannot be removed, by permissions or, for
// root (whom permissions do not stop), the immutable flag. Undone when
// destroyed. active() is false when neither works here.
class RemovalLock
{
public:
    explicit RemovalLock(const QString &dir) : m_dir(dir)
    {
        ::chmod(native(), 0500);
        if (!canCreateInside())
            return;
        ::chmod(native(), 0700);
        m_immutable = setImmutable(true);
        if (m_immutable && canCreateInside()) {
            setImmutable(false);
            m_immutable = false;
        }
    }
    ~RemovalLock()
    {
        if (m_immutable)
            setImmutable(false);
        ::chmod(native(), 0700);
    }
    bool active() const { return !canCreateInside(); }

private:
    QByteArray native() const { return QFile::encodeName(m_dir); }
    bool canCreateInside() const
    {
        QFile probe(m_dir + QStringLiteral("/probe"));
        if (!probe.open(QIODevice::WriteOnly))
            return false;
        probe.remove();
        return true;
    }
    bool setImmutable(bool on)
    {
        const int fd = ::open(native().constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return ok;
    }

    QString m_dir;
    bool m_immutable = false;
};

} // namespace

class tst_ZUFileManager : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_work;
    QString path(const QString &relative) const { return m_work + u'/' + relative; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // Every standard folder points into the test's own tree.
        for (const char *dir : {"home", "config", "data", "cache", "tmp"})
            QVERIFY(QDir(m_root.path()).mkpath(QString::fromLatin1(dir)));
        qputenv("HOME", QFile::encodeName(m_root.filePath(QStringLiteral("home"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("data"))));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("cache"))));
        qputenv("TMPDIR", QFile::encodeName(m_root.filePath(QStringLiteral("tmp"))));
        QLocale::setDefault(QLocale::c());
    }

    void init()
    {
        m_work = m_root.filePath(QStringLiteral("work"));
        QVERIFY(QDir(m_work).removeRecursively());
        QVERIFY(QDir().mkpath(m_work));
    }

    void createDirectoryAtPath()
    {
        // The whole chain is created.
        const QString deep = path(QStringLiteral("a/b/c"));
        std::error_code error;
        QVERIFY(ZUFileManager::createDirectoryAtPath(deep, &error));
        QVERIFY(!error);
        QVERIFY(QFileInfo(deep).isDir());

        // An existing folder answers YES and keeps what it holds.
        QVERIFY(writeFile(deep + QStringLiteral("/keep"), "x"));
        QVERIFY(ZUFileManager::createDirectoryAtPath(deep));
        QVERIFY(ZUFileManager::createDirectoryAtPath(deep + u'/'));
        QCOMPARE(readAll(deep + QStringLiteral("/keep")), QByteArray("x"));

        // A link to a folder is a folder for this purpose.
        QVERIFY(QFile::link(deep, path(QStringLiteral("link"))));
        QVERIFY(ZUFileManager::createDirectoryAtPath(path(QStringLiteral("link"))));

        // A regular file in the way, at the path or among the parents: NO.
        QVERIFY(writeFile(path(QStringLiteral("file")), "data"));
        QVERIFY(!ZUFileManager::createDirectoryAtPath(path(QStringLiteral("file")), &error));
        QVERIFY(error);
        error.clear();
        QVERIFY(!ZUFileManager::createDirectoryAtPath(path(QStringLiteral("file/sub")), &error));
        QVERIFY(error);
        QCOMPARE(readAll(path(QStringLiteral("file"))), QByteArray("data"));
    }

    void createFileAtPath()
    {
        const QString file = path(QStringLiteral("x/y/new.txt"));
        QVERIFY(ZUFileManager::createFileAtPath(file));
        QCOMPARE(QFileInfo(file).size(), 0);

        QVERIFY(writeFile(file, "old"));
        QVERIFY(ZUFileManager::createFileAtPath(file, false));
        QCOMPARE(readAll(file), QByteArray("old"));
        QVERIFY(ZUFileManager::createFileAtPath(
            file, std::optional<ZUFileContent>(QStringLiteral("new")), false));
        QCOMPARE(readAll(file), QByteArray("old"));
        QVERIFY(ZUFileManager::createFileAtPath(file, true));
        QCOMPARE(readAll(file), QByteArray());
        QVERIFY(writeFile(file, "old"));
        QVERIFY(ZUFileManager::createFileAtPath(file));
        QCOMPARE(readAll(file), QByteArray());

        QVERIFY(ZUFileManager::createFileAtPath(file, QStringLiteral("abc")));
        QCOMPARE(readAll(file), QByteArray("abc"));
        QVERIFY(ZUFileManager::createFileAtPath(file, QByteArray("\x01\x02")));
        QCOMPARE(readAll(file), QByteArray("\x01\x02"));

        // A folder at the path: NO, and the folder stays.
        std::error_code error;
        QVERIFY(!ZUFileManager::createFileAtPath(path(QStringLiteral("x")), &error));
        QCOMPARE(error, std::errc::is_a_directory);
        QVERIFY(QFileInfo(path(QStringLiteral("x/y/new.txt"))).isFile());
    }

    void createFileReportsAFailedWrite()
    {
        // The empty file is made, but content that cannot be written makes
        // the answer NO.
        const QString file = path(QStringLiteral("image.png"));
        std::error_code error;
        QVERIFY(!ZUFileManager::createFileAtPath(file, QImage(), &error));
        QVERIFY(error);
        QVERIFY(QFileInfo(file).isFile());
    }

    void writeFileAtPath()
    {
        const QString file = path(QStringLiteral("w"));

        // Nothing at the path: NO, and nothing is created.
        std::error_code error;
        QVERIFY(!ZUFileManager::writeFileAtPath(file, QByteArray("x"), &error));
        QCOMPARE(error, std::errc::no_such_file_or_directory);
        QVERIFY(!QFileInfo::exists(file));

        QVERIFY(writeFile(file, "previous contents"));
        QVERIFY(ZUFileManager::writeFileAtPath(file, QByteArray("\x00\xff", 2)));
        QCOMPARE(readAll(file), QByteArray("\x00\xff", 2));
        QVERIFY(ZUFileManager::writeFileAtPath(file, QStringLiteral("星空 ok")));
        QCOMPARE(readAll(file), QStringLiteral("星空 ok").toUtf8());
        QVERIFY(ZUFileManager::writeFileAtPath(file, QStringList{QStringLiteral("a")}));
        QVERIFY(readAll(file).contains("<array>\n\t\t<string>a</string>"));

        // Images are really written, as PNG.
        QImage image(7, 5, QImage::Format_RGB32);
        image.fill(qRgb(10, 200, 30));
        image.setPixel(3, 2, qRgb(255, 0, 0));
        QVERIFY(ZUFileManager::writeFileAtPath(file, image));
        QVERIFY(readAll(file).startsWith("\x89PNG"));
        QImage back(file, "png");
        QCOMPARE(back.convertToFormat(QImage::Format_RGB32), image);

        // A write that fails answers NO.
        error.clear();
        QVERIFY(!ZUFileManager::writeFileAtPath(m_work, QStringLiteral("x"), &error));
        QCOMPARE(error, std::errc::is_a_directory);
    }

    void exceptionsCarryNameAndReason()
    {
        const QString file = path(QStringLiteral("f"));
        QVERIFY(writeFile(file, "keep"));

        auto e = expectException([&] { ZUFileManager::writeFileAtPath(file, std::nullopt); });
        QCOMPARE(e.name(), QStringLiteral("非法的文件内容"));
        QCOMPARE(e.reason(), QStringLiteral("文件内容不能为nil"));
        QCOMPARE(QByteArray(e.what()),
                 QStringLiteral("非法的文件内容: 文件内容不能为nil").toUtf8());

        const auto date = ZUFileContent::fromVariant(QDateTime::currentDateTime());
        e = expectException([&] { ZUFileManager::writeFileAtPath(file, date); });
        QCOMPARE(e.name(), QStringLiteral("非法的文件内容"));
        QCOMPARE(e.reason(), QStringLiteral("文件类型QDateTime异常，无法被处理。"));
        QCOMPARE(readAll(file), QByteArray("keep"));

        // The creating operations make the empty file first, then throw.
        const QString created = path(QStringLiteral("sub/created"));
        e = expectException([&] { ZUFileManager::createFileAtPath(created, *date); });
        QCOMPARE(e.reason(), QStringLiteral("文件类型QDateTime异常，无法被处理。"));
        QCOMPARE(QFileInfo(created).size(), 0);

        const QString missing = path(QStringLiteral("missing"));
        const QString reason = QStringLiteral("源文件路径%1不存在，请检查源文件路径").arg(missing);
        e = expectException([&] { ZUFileManager::copyItemAtPath(missing, file, true); });
        QCOMPARE(e.name(), QStringLiteral("非法的源文件路径"));
        QCOMPARE(e.reason(), reason);
        e = expectException(
            [&] { ZUFileManager::moveItemAtPath(missing, path(QStringLiteral("t"))); });
        QCOMPARE(e.name(), QStringLiteral("非法的源文件路径"));
        QCOMPARE(e.reason(), reason);
        QCOMPARE(readAll(file), QByteArray("keep"));
    }

    void copyNeverOverwritesWithoutTheFlag()
    {
        const QString from = path(QStringLiteral("from"));
        const QString to = path(QStringLiteral("to"));
        QVERIFY(writeFile(from, "source"));
        QVERIFY(writeFile(to, "destination"));

        std::error_code error;
        QVERIFY(!ZUFileManager::copyItemAtPath(from, to, &error));
        QCOMPARE(error, std::errc::file_exists);
        QCOMPARE(readAll(to), QByteArray("destination"));

        QVERIFY(ZUFileManager::copyItemAtPath(from, to, true));
        QCOMPARE(readAll(to), QByteArray("source"));
        QCOMPARE(readAll(from), QByteArray("source"));

        // Folders are never merged into an existing one.
        QVERIFY(QDir().mkpath(path(QStringLiteral("dirA/inner"))));
        QVERIFY(QDir().mkpath(path(QStringLiteral("dirB"))));
        QVERIFY(writeFile(path(QStringLiteral("dirB/mine")), "b"));
        QVERIFY(!ZUFileManager::copyItemAtPath(path(QStringLiteral("dirA")),
                                               path(QStringLiteral("dirB"))));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("dirB/inner"))));
        QCOMPARE(readAll(path(QStringLiteral("dirB/mine"))), QByteArray("b"));
    }

    void copyCopiesFoldersAndRefusesItself()
    {
        const QString dir = path(QStringLiteral("tree"));
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/sub")));
        QVERIFY(writeFile(dir + QStringLiteral("/sub/f"), "deep"));
        QVERIFY(QFile::link(QStringLiteral("sub/f"), dir + QStringLiteral("/link")));

        const QString copy = path(QStringLiteral("new/parents/tree"));
        QVERIFY(ZUFileManager::copyItemAtPath(dir, copy));
        QCOMPARE(readAll(copy + QStringLiteral("/sub/f")), QByteArray("deep"));
        QCOMPARE(QFileInfo(copy + QStringLiteral("/link")).symLinkTarget(),
                 QFileInfo(copy + QStringLiteral("/sub/f")).absoluteFilePath());

        // Onto itself with overwrite would remove the source first.
        std::error_code error;
        QVERIFY(!ZUFileManager::copyItemAtPath(dir, dir, true, &error));
        QCOMPARE(error, std::errc::invalid_argument);
        QVERIFY(!ZUFileManager::moveItemAtPath(dir, dir + QStringLiteral("/"), true));
        QVERIFY(!ZUFileManager::copyItemAtPath(dir, dir + QStringLiteral("/sub/again")));
        QCOMPARE(readAll(dir + QStringLiteral("/sub/f")), QByteArray("deep"));
        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/sub/again")));
    }

    void moveNeverOverwritesWithoutTheFlag()
    {
        const QString from = path(QStringLiteral("from"));
        const QString to = path(QStringLiteral("to"));
        QVERIFY(writeFile(from, "source"));
        QVERIFY(writeFile(to, "destination"));

        std::error_code error;
        QVERIFY(!ZUFileManager::moveItemAtPath(from, to, &error));
        QCOMPARE(error, std::errc::file_exists);
        QCOMPARE(readAll(from), QByteArray("source"));
        QCOMPARE(readAll(to), QByteArray("destination"));

        QVERIFY(ZUFileManager::moveItemAtPath(from, to, true));
        QVERIFY(!QFileInfo::exists(from));
        QCOMPARE(readAll(to), QByteArray("source"));

        QVERIFY(ZUFileManager::moveItemAtPath(to, path(QStringLiteral("p/q/moved"))));
        QCOMPARE(readAll(path(QStringLiteral("p/q/moved"))), QByteArray("source"));
        QVERIFY(!QFileInfo::exists(to));
    }

    void moveAcrossFileSystems()
    {
        QTemporaryDir other(QStringLiteral("/dev/shm/tst_ZUFileManager-XXXXXX"));
        struct stat a {
        }, b{};
        if (!other.isValid() || ::stat(QFile::encodeName(m_work).constData(), &a) != 0 ||
            ::stat(QFile::encodeName(other.path()).constData(), &b) != 0 || a.st_dev == b.st_dev)
            QSKIP("needs a second file system at /dev/shm");

        QVERIFY(QDir().mkpath(path(QStringLiteral("tree/sub"))));
        QVERIFY(writeFile(path(QStringLiteral("tree/sub/f")), "payload"));
        const QString to = other.filePath(QStringLiteral("tree"));
        QVERIFY(ZUFileManager::moveItemAtPath(path(QStringLiteral("tree")), to));
        QCOMPARE(readAll(to + QStringLiteral("/sub/f")), QByteArray("payload"));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("tree"))));
    }

    void itemTests()
    {
        QVERIFY(writeFile(path(QStringLiteral("empty")), ""));
        QVERIFY(writeFile(path(QStringLiteral("one")), "1"));
        QVERIFY(QDir().mkpath(path(QStringLiteral("emptyDir"))));
        QVERIFY(QDir().mkpath(path(QStringLiteral("fullDir"))));
        QVERIFY(writeFile(path(QStringLiteral("fullDir/.hidden")), ""));

        QVERIFY(ZUFileManager::isEmptyItemAtPath(path(QStringLiteral("empty"))));
        QVERIFY(!ZUFileManager::isEmptyItemAtPath(path(QStringLiteral("one"))));
        QVERIFY(ZUFileManager::isEmptyItemAtPath(path(QStringLiteral("emptyDir"))));
        QVERIFY(!ZUFileManager::isEmptyItemAtPath(path(QStringLiteral("fullDir"))));
        std::error_code error;
        QVERIFY(!ZUFileManager::isEmptyItemAtPath(path(QStringLiteral("missing")), &error));
        QCOMPARE(error, std::errc::no_such_file_or_directory);

        // A link's own type is neither folder nor file.
        QVERIFY(QFile::link(path(QStringLiteral("emptyDir")), path(QStringLiteral("dirLink"))));
        QVERIFY(QFile::link(path(QStringLiteral("one")), path(QStringLiteral("fileLink"))));
        for (const char *link : {"dirLink", "fileLink"}) {
            QVERIFY(!ZUFileManager::isDirectoryAtPath(path(QString::fromLatin1(link))));
            QVERIFY(!ZUFileManager::isFileAtPath(path(QString::fromLatin1(link))));
            QVERIFY(ZUFileManager::isExistsAtPath(path(QString::fromLatin1(link))));
        }
        QCOMPARE(ZUFileManager::attributeOfItemAtPath(path(QStringLiteral("fileLink")),
                                                      ZUFileAttributes::Key::Type)
                     .value<ZUFileAttributes::Type>(),
                 ZUFileAttributes::Type::SymbolicLink);
        QVERIFY(ZUFileManager::isDirectoryAtPath(path(QStringLiteral("emptyDir"))));
        QVERIFY(ZUFileManager::isFileAtPath(path(QStringLiteral("one"))));

        QVERIFY(ZUFileManager::isNotError(nullptr));
        std::error_code none;
        QVERIFY(ZUFileManager::isNotError(&none));
        QVERIFY(!ZUFileManager::isNotError(&error));
    }

    void attributes()
    {
        const QString file = path(QStringLiteral("attr"));
        QVERIFY(writeFile(file, "12345"));
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0640) == 0);
        const auto a = ZUFileManager::attributesOfItemAtPath(file);
        QVERIFY(a);
        QCOMPARE(a->type, ZUFileAttributes::Type::Regular);
        QCOMPARE(a->size, 5u);
        QCOMPARE(a->posixPermissions, 0640u);
        QCOMPARE(a->ownerAccountId, uint(::getuid()));
        QVERIFY(qAbs(a->modificationDate.secsTo(QDateTime::currentDateTime())) < 60);
        QCOMPARE(ZUFileManager::modificationDateOfItemAtPath(file), a->modificationDate);
        QCOMPARE(
            ZUFileManager::attributeOfItemAtPath(file, ZUFileAttributes::Key::Size).toULongLong(),
            5u);

        std::error_code error;
        QVERIFY(!ZUFileManager::attributesOfItemAtPath(path(QStringLiteral("none")), &error));
        QCOMPARE(error, std::errc::no_such_file_or_directory);
        QVERIFY(!ZUFileManager::attributeOfItemAtPath(path(QStringLiteral("none")),
                                                      ZUFileAttributes::Key::Size)
                     .isValid());
    }

    void listings()
    {
        QVERIFY(QDir().mkpath(path(QStringLiteral("d/e"))));
        QVERIFY(writeFile(path(QStringLiteral("d/e/f")), ""));
        QVERIFY(writeFile(path(QStringLiteral(".g")), ""));

        auto shallow = ZUFileManager::listFilesInDirectoryAtPath(m_work, false);
        QVERIFY(shallow);
        shallow->sort();
        QCOMPARE(*shallow, (QStringList{QStringLiteral(".g"), QStringLiteral("d")}));

        auto deep = ZUFileManager::listFilesInDirectoryAtPath(m_work + u'/', true);
        QVERIFY(deep);
        deep->sort();
        QCOMPARE(*deep, (QStringList{QStringLiteral(".g"), QStringLiteral("d"),
                                     QStringLiteral("d/e"), QStringLiteral("d/e/f")}));

        QVERIFY(!ZUFileManager::listFilesInDirectoryAtPath(path(QStringLiteral("none")), false));
        QVERIFY(!ZUFileManager::listFilesInDirectoryAtPath(path(QStringLiteral(".g")), true));
    }

    void directorySize()
    {
        QVERIFY(writeFile(path(QStringLiteral("plain")), "x"));
        QVERIFY(!ZUFileManager::sizeOfDirectoryAtPath(path(QStringLiteral("plain"))));
        QVERIFY(!ZUFileManager::sizeOfDirectoryAtPath(path(QStringLiteral("missing"))));
        QVERIFY(QDir().mkpath(path(QStringLiteral("empty"))));
        QCOMPARE(ZUFileManager::sizeOfDirectoryAtPath(path(QStringLiteral("empty"))), 0u);

        // A sparse 5 GiB file takes no room but counts in full.
        const QString dir = path(QStringLiteral("big"));
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/sub")));
        const qint64 big = 5LL << 30;
        QFile sparse(dir + QStringLiteral("/sub/sparse"));
        QVERIFY(sparse.open(QIODevice::WriteOnly));
        QVERIFY(sparse.resize(big));
        sparse.close();
        QVERIFY(writeFile(dir + QStringLiteral("/small"), "1234567"));

        const quint64 subEntry = *ZUFileManager::sizeOfItemAtPath(dir + QStringLiteral("/sub"));
        QCOMPARE(ZUFileManager::sizeOfDirectoryAtPath(dir), quint64(big) + 7 + subEntry);
        QCOMPARE(ZUFileManager::sizeOfFileAtPath(dir + QStringLiteral("/sub/sparse")),
                 quint64(big));
        QVERIFY(!ZUFileManager::sizeOfFileAtPath(dir));
        QCOMPARE(ZUFileManager::sizeFormattedOfFileAtPath(dir + QStringLiteral("/sub/sparse")),
                 QStringLiteral("5.4 GB"));
        QVERIFY(!ZUFileManager::sizeFormattedOfDirectoryAtPath(path(QStringLiteral("plain"))));
    }

    void sizeFormatted()
    {
        QCOMPARE(ZUFileManager::sizeFormatted(0), QStringLiteral("0 bytes"));
        QCOMPARE(ZUFileManager::sizeFormatted(999), QStringLiteral("999 bytes"));
        QCOMPARE(ZUFileManager::sizeFormatted(1500), QStringLiteral("1.5 kB"));
        QCOMPARE(ZUFileManager::sizeFormatted(std::numeric_limits<quint64>::max()),
                 QStringLiteral("18.4 EB"));
    }

    void pathParts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("stem");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("archive") << u"/a/b/c.tar.gz"_s << u"c.tar.gz"_s << u"c.tar"_s << u"/a/b"_s
                                 << u"gz"_s;
        QTest::newRow("trailing slash") << u"/a/b/"_s << u"b"_s << u"b"_s << u"/a"_s << QString();
        QTest::newRow("top level") << u"/a"_s << u"a"_s << u"a"_s << u"/"_s << QString();
        QTest::newRow("root") << u"/"_s << u"/"_s << u"/"_s << u"/"_s << QString();
        QTest::newRow("relative") << u"file.jpg"_s << u"file.jpg"_s << u"file"_s << QString()
                                  << u"jpg"_s;
        QTest::newRow("hidden") << u"/h/.bashrc"_s << u".bashrc"_s << u".bashrc"_s << u"/h"_s
                                << QString();
        QTest::newRow("dotted folder")
            << u"/x.d/name"_s << u"name"_s << u"name"_s << u"/x.d"_s << QString();
    }

    void pathParts()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, stem);
        QFETCH(QString, directory);
        QFETCH(QString, suffix);
        QCOMPARE(ZUFileManager::fileNameAtPath(path, true), name);
        QCOMPARE(ZUFileManager::fileNameAtPath(path, false), stem);
        QCOMPARE(ZUFileManager::directoryAtPath(path), directory);
        QCOMPARE(ZUFileManager::suffixAtPath(path), suffix);
    }

    void standardFolders()
    {
        QCOMPARE(ZUFileManager::homeDir(), m_root.filePath(QStringLiteral("home")));
        QCOMPARE(ZUFileManager::libraryDir(), m_root.filePath(QStringLiteral("data")));
        QCOMPARE(ZUFileManager::preferencesDir(), m_root.filePath(QStringLiteral("config")));
        QVERIFY(ZUFileManager::cachesDir().startsWith(m_root.filePath(QStringLiteral("cache/"))));
        QVERIFY(ZUFileManager::documentsDir().startsWith(m_root.filePath(QStringLiteral("home/"))));

        const QString tmp = ZUFileManager::tmpDir();
        QCOMPARE(QFileInfo(tmp).dir().path(), m_root.filePath(QStringLiteral("tmp")));
        QCOMPARE(QFileInfo(tmp).permissions() & 0x0077, QFileDevice::Permissions());
    }

    void tmpDirRefusesAPlantedLink()
    {
        const QString tmp = ZUFileManager::tmpDir();
        QVERIFY(QDir(tmp).removeRecursively());
        QVERIFY(QFile::link(m_work, tmp));
        QCOMPARE(ZUFileManager::tmpDir(), QString());
        QVERIFY(ZUFileManager::clearTmpDirectory());
        QVERIFY(QFile::remove(tmp));
        QCOMPARE(ZUFileManager::tmpDir(), tmp);
    }

    void clearTmpDirectoryGoesOnAfterAFailure()
    {
        const QString tmp = ZUFileManager::tmpDir();
        QVERIFY(!tmp.isEmpty());
        for (const char *name : {"a", "c", "locked/inner"}) {
            QVERIFY(QDir().mkpath(QFileInfo(tmp + u'/' + QString::fromLatin1(name)).path()));
            QVERIFY(writeFile(tmp + u'/' + QString::fromLatin1(name), "x"));
        }
        QVERIFY(QDir().mkpath(tmp + QStringLiteral("/b/deeper")));
        // The clean-up goes through entries in listing order; make sure some
        // come after the one that fails.
        for (int i = 0; ZUFileManager::listFilesInTmpDirectoryByDeep(false)->endsWith(u"locked"_s);
             ++i) {
            QVERIFY(i < 100);
            QVERIFY(writeFile(tmp + QStringLiteral("/e%1").arg(i), "x"));
        }

        {
            RemovalLock lock(tmp + QStringLiteral("/locked"));
            if (!lock.active())
                QSKIP("cannot make a folder undeletable here");
            QVERIFY(!ZUFileManager::clearTmpDirectory());
            QCOMPARE(*ZUFileManager::listFilesInTmpDirectoryByDeep(false),
                     QStringList{QStringLiteral("locked")});
        }
        QVERIFY(ZUFileManager::clearTmpDirectory());
        QCOMPARE(ZUFileManager::listFilesInTmpDirectoryByDeep(false), QStringList());
    }

    void clearCachesDirectory()
    {
        const QString caches = ZUFileManager::cachesDir();
        QVERIFY(QDir(caches).removeRecursively());
        QVERIFY(ZUFileManager::clearCachesDirectory()); // nothing there yet
        QVERIFY(QDir().mkpath(caches + QStringLiteral("/x/y")));
        QVERIFY(writeFile(caches + QStringLiteral("/z"), "z"));
        QVERIFY(ZUFileManager::clearCachesDirectory());
        QCOMPARE(ZUFileManager::listFilesInCachesDirectoryByDeep(true), QStringList());
        QVERIFY(QFileInfo(caches).isDir());
    }

    void removeItemAtPath()
    {
        QVERIFY(QDir().mkpath(path(QStringLiteral("r/s"))));
        QVERIFY(writeFile(path(QStringLiteral("r/s/t")), "t"));
        QVERIFY(writeFile(path(QStringLiteral("target")), "kept"));
        QVERIFY(QFile::link(path(QStringLiteral("target")), path(QStringLiteral("r/link"))));
        QVERIFY(ZUFileManager::removeItemAtPath(path(QStringLiteral("r"))));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("r"))));
        QCOMPARE(readAll(path(QStringLiteral("target"))), QByteArray("kept"));

        std::error_code error;
        QVERIFY(!ZUFileManager::removeItemAtPath(path(QStringLiteral("r")), &error));
        QCOMPARE(error, std::errc::no_such_file_or_directory);
    }
};

QTEST_GUILESS_MAIN(tst_ZUFileManager)
#include "tst_ZUFileManager.moc"
