#include "platform/QtSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using platform::kSaveFolderKey;

class tst_QtSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString storeFile() const
    {
        return m_dir.filePath(QStringLiteral("Orbilens Test/Orbilens Viewer.conf"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QCoreApplication::setOrganizationName(QStringLiteral("Orbilens Test"));
        QCoreApplication::setApplicationName(QStringLiteral("Orbilens Viewer"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    }

    void valueIsOnDiskAtOnceAndSurvivesTheStore()
    {
        const QString folder = QStringLiteral("/data/星空 photos/Orbilens Viewer");
        {
            platform::QtSettings settings;
            QVERIFY(!settings.stringForKey(kSaveFolderKey));
            QVERIFY(settings.setString(kSaveFolderKey, QStringLiteral("/first")));
            QVERIFY(settings.setString(kSaveFolderKey, folder));
            QCOMPARE(settings.stringForKey(kSaveFolderKey), folder);

            // Already in the file while the store is still alive. (Another
            // QSettings in this process would see unwritten changes too, so
            // the file is read as bytes.)
            QFile onDisk(storeFile());
            QVERIFY(onDisk.open(QIODevice::ReadOnly));
            QVERIFY(onDisk.readAll().contains("getFilePath=/data/"));
        }
        const platform::QtSettings reopened;
        QCOMPARE(reopened.stringForKey(kSaveFolderKey), folder);
    }

    void valueThatIsNotTextIsNoText()
    {
        {
            QSettings other;
            other.setValue(QStringLiteral("list"),
                           QStringList{QStringLiteral("a"), QStringLiteral("b")});
        }
        const platform::QtSettings settings;
        QVERIFY(!settings.stringForKey(QStringLiteral("list")));
    }

    void unwritableStoreSaysSo()
    {
        // A file where the store's folder should be.
        QTemporaryDir blocked;
        QVERIFY(blocked.isValid());
        QFile blocker(blocked.filePath(QStringLiteral("Orbilens Test")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocked.path());

        platform::QtSettings settings;
        const bool stored = settings.setString(kSaveFolderKey, QStringLiteral("/x"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        QVERIFY(!stored);
    }
};

QTEST_GUILESS_MAIN(tst_QtSettings)
#include "tst_QtSettings.moc"
