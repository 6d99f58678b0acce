#include "platform/DesktopFileBrowser.h"

#include <QDBusConnection>
#include <QDesktopServices>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace
{

// A D-Bus daemon of our own on a socket in a temporary folder, with no
// services to start, so that nothing on this machine is asked.
class PrivateBus
{
public:
    ~PrivateBus()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }

    // The bus address, or empty when no daemon could be started.
    QString start()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !m_dir.isValid())
            return {};
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(QStringLiteral("<busconfig><type>session</type>"
                                  "<listen>unix:path=%1</listen><auth>EXTERNAL</auth>"
                                  "<policy context=\"default\">"
                                  "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                                  "</policy></busconfig>")
                       .arg(m_dir.filePath(QStringLiteral("socket")))
                       .toUtf8());
        file.close();
        m_process.start(daemon, {QStringLiteral("--config-file=") + config,
                                 QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!m_process.waitForStarted(5000))
            return {};
        while (!m_process.canReadLine() && m_process.waitForReadyRead(5000)) {
        }
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

} // namespace

// Stands in for the desktop's file manager on the private bus.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QList<QStringList> shownFolders;
    QStringList startupIds;

public Q_SLOTS:
    void ShowFolders(const QStringList &uris, const QString &startupId)
    {
        shownFolders << uris;
        startupIds << startupId;
    }
};

class tst_DesktopFileBrowser : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    // Stands in for xdg-open: QDesktopServices hands file URLs here.
    void open(const QUrl &url) { m_opened << url; }

private:
    QList<QUrl> m_opened;
    const QString m_folder = QStringLiteral("/tmp/a b/星");
    const QUrl m_url = QUrl::fromLocalFile(m_folder);

private Q_SLOTS:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    void init() { m_opened.clear(); }

    void openFolderOpensIt()
    {
        platform::DesktopFileBrowser browser{QString()};
        QVERIFY(browser.openFolder(m_folder));
        QCOMPARE(m_opened, QList<QUrl>{m_url});
    }

    void withoutABusShowFolderOpensTheFolder_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("no address") << QString();
        QTest::newRow("nothing listening") << QStringLiteral("unix:path=/nonexistent/orbilens-bus");
    }

    void withoutABusShowFolderOpensTheFolder()
    {
        QFETCH(QString, address);
        platform::DesktopFileBrowser browser(address);
        QVERIFY(browser.showFolder(m_folder));
        QCOMPARE(m_opened, QList<QUrl>{m_url});
    }

    void showFolderAsksTheFileManager()
    {
        PrivateBus bus;
        const QString address = bus.start();
        if (address.isEmpty())
            QSKIP("dbus-daemon is not available");

        FakeFileManager fileManager;
        QDBusConnection service =
            QDBusConnection::connectToBus(address, QStringLiteral("fake-file-manager"));
        QVERIFY(service.isConnected());
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"),
                                       &fileManager, QDBusConnection::ExportAllSlots));
        {
            platform::DesktopFileBrowser browser(address);
            QVERIFY(browser.showFolder(m_folder));
            QTRY_COMPARE(fileManager.shownFolders.size(), 1);
            QCOMPARE(fileManager.shownFolders.first(),
                     QStringList{QStringLiteral("file:///tmp/a%20b/%E6%98%9F")});
            QCOMPARE(fileManager.startupIds, QStringList{QString()});
            // Let the answer travel back; a success must not open anything.
            QTest::qWait(100);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-file-manager"));
        QCOMPARE(m_opened, QList<QUrl>());
    }

    void busWithoutAFileManagerOpensTheFolder()
    {
        PrivateBus bus;
        const QString address = bus.start();
        if (address.isEmpty())
            QSKIP("dbus-daemon is not available");

        platform::DesktopFileBrowser browser(address);
        QVERIFY(browser.showFolder(m_folder));
        QTRY_COMPARE(m_opened, QList<QUrl>{m_url});
    }
};

QTEST_MAIN(tst_DesktopFileBrowser)
#include "tst_DesktopFileBrowser.moc"
