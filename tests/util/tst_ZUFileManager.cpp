#include "util/ZUFileManager.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Every case starts from a folder holding "file" ("source"), "other"
// ("destination"), "tree/sub/f" ("deep") and "link" (to "tree").
class tst_ZUFileManager : public QObject
{
    Q_OBJECT
    QTemporaryDir m_root;
    QString path(const QString &relative) const { return m_root.filePath(u"work/"_s + relative); }
    // "item=text" for a file, "item=<folder>", or "item=<none>".
    QString state(const QString &item) const
    {
        QFile file(path(item));
        return item + u'=' +
               (QFileInfo(file).isDir()      ? u"<folder>"_s
                : file.open(QFile::ReadOnly) ? QString::fromUtf8(file.readAll())
                                             : u"<none>"_s);
    }
    static bool write(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

private Q_SLOTS:
    void initTestCase() { qputenv("TMPDIR", QFile::encodeName(m_root.path())); }
    void init()
    {
        QVERIFY(QDir(path({})).removeRecursively() && QDir().mkpath(path(u"tree/sub"_s)));
        QVERIFY(write(path(u"file"_s), "source") && write(path(u"other"_s), "destination"));
        QVERIFY(write(path(u"tree/sub/f"_s), "deep") && QFile::link(u"tree"_s, path(u"link"_s)));
    }

    void operation_data()
    {
        QTest::addColumn<QString>("call");  // mkdir, copy or move ("!": overwrite), items
        QTest::addColumn<int>("error");     // errno
        QTest::addColumn<QString>("after"); // item=contents ...
        QTest::newRow("new folders") << "mkdir a/b" << 0 << "a/b=<folder> file=source";
        QTest::newRow("a link to one") << "mkdir link" << 0 << "link=<folder>";
        QTest::newRow("a file there") << "mkdir file" << ENOTDIR << "file=source";
        QTest::newRow("copy onto an item") << "copy file other" << EEXIST << "other=destination";
        QTest::newRow("copy over it") << "copy! file other" << 0 << "other=source file=source";
        QTest::newRow("move onto an item")
            << "move file other" << EEXIST << "file=source other=destination";
        QTest::newRow("move over it") << "move! file other" << 0 << "other=source file=<none>";
        QTest::newRow("copy a folder") << "copy tree new/tree" << 0 << "new/tree/sub/f=deep";
        QTest::newRow("copy into itself")
            << "copy tree tree/sub/t" << EINVAL << "tree/sub/t=<none>";
        QTest::newRow("copy onto itself") << "copy! tree link" << EINVAL << "tree/sub/f=deep";
    }
    void operation()
    {
        QFETCH(QString, call);
        QFETCH(int, error);
        QFETCH(QString, after);
        const QStringList words = call.split(u' ');
        const QString from = path(words[1]), to = path(words.value(2));
        const bool overwrite = words[0].endsWith(u'!');
        std::error_code got;
        const bool ok = words[0] == u"mkdir" ? ZUFileManager::createDirectoryAtPath(from, &got)
                        : words[0].startsWith(u"move")
                            ? ZUFileManager::moveItemAtPath(from, to, overwrite, &got)
                            : ZUFileManager::copyItemAtPath(from, to, overwrite, &got);
        QCOMPARE(ok, error == 0);
        QCOMPARE(got.value(), error);
        for (const QString &item : after.split(u' '))
            QCOMPARE(state(item.section(u'=', 0, 0)), item);
    }

    void tmpDirIsOurOwnFolder_data()
    {
        QTest::addColumn<QString>("planted"); // under its name before
        QTest::newRow("nothing") << QString();
        QTest::newRow("a link") << "link";
        QTest::newRow("a file") << "file";
        QTest::newRow("someone else's folder") << "folder";
    }
    void tmpDirIsOurOwnFolder()
    {
        QFETCH(QString, planted);
        const QString dir = ZUFileManager::tmpDir();
        QVERIFY(!dir.isEmpty() && QDir(dir).removeRecursively());
        const QByteArray native = QFile::encodeName(dir);
        const auto cleanUp =
            qScopeGuard([&] { QFile::remove(dir) || QDir(dir).removeRecursively(); });
        if (planted == u"link")
            QVERIFY(QFile::link(path(u"tree"_s), dir));
        else if (planted == u"file")
            QVERIFY(write(dir, "x"));
        else if (!planted.isEmpty() &&
                 (::mkdir(native.constData(), 0700) != 0 ||
                  ::chown(native.constData(), ::getuid() + 1, ::getgid()) != 0))
            QSKIP("cannot give a folder to another user here");
        QCOMPARE(ZUFileManager::tmpDir(), planted.isEmpty() ? dir : QString());
        QVERIFY(!planted.isEmpty() || (QFileInfo(dir).permissions() & 0x0077) == 0); // private
    }

    void pathParts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("parts"); // name, without suffix, folder, suffix
        QTest::newRow("archive") << "/a/b/c.tar.gz" << u"c.tar.gz c.tar /a/b gz"_s;
        QTest::newRow("trailing slash") << "/a/b/" << u"b b /a "_s;
        QTest::newRow("root") << "/" << u"/ / / "_s;
        QTest::newRow("relative") << "file.jpg" << u"file.jpg file  jpg"_s;
        QTest::newRow("hidden") << "/h/.bashrc" << u".bashrc .bashrc /h "_s;
        QTest::newRow("dotted folder") << "/x.d/name" << u"name name /x.d "_s;
    }
    void pathParts()
    {
        QFETCH(QString, path);
        QFETCH(QString, parts);
        QCOMPARE(
            QStringList({ZUFileManager::fileNameAtPath(path, true),
                         ZUFileManager::fileNameAtPath(path, false),
                         ZUFileManager::directoryAtPath(path), ZUFileManager::suffixAtPath(path)})
                .join(u' '),
            parts);
    }
};

QTEST_GUILESS_MAIN(tst_ZUFileManager)
#include "tst_ZUFileManager.moc"
