// The save folder and the capture file names, through the real window with
// a scripted folder chooser, recorded alerts and file-browser requests, and
// a settings store in memory or in a temporary QSettings location.

#include "app/MainWindow.h"
#include "platform/CameraAddress.h"
#include "platform/QtSettings.h"
#include "stream/CameraBuffer.h"
#include "support/LoopbackServer.h"
#include "support/TestImages.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using platform::kSaveFolderKey;
using Request = RecordingFileBrowser::Request;
using RequestKind = RecordingFileBrowser::Kind;

namespace
{
const QString kAppName = QStringLiteral("Orbilens Viewer");
const QString kPrompt = QStringLiteral("Please select the file save location.");
const QString kChooserMessage = QStringLiteral("Choose save location");
const QChar kEllipsis(0x2026);

// The window on screen (offscreen), so that the panel has its real width.
std::unique_ptr<MainWindow> shownWindow(ViewerServices services)
{
    auto window = std::make_unique<MainWindow>(services);
    window->resize(1200, 800);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    return window;
}

// The button shows path: whole, or with its middle elided, and whole in the tooltip.
bool showsPath(const QPushButton *button, const QString &path)
{
    if (button->toolTip() != path)
        return false;
    const QString text = button->text();
    if (text == path)
        return true;
    const qsizetype cut = text.indexOf(kEllipsis);
    return cut > 0 && path.startsWith(text.left(cut)) && path.endsWith(text.mid(cut + 1));
}

QString stored(const MemorySettings &settings)
{
    return settings.values().value(kSaveFolderKey);
}
} // namespace

class tst_ViewControllerSaveLocation : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    // Start-up
    void storedFolderIsLoadedAndShown();
    void firstStartPromptsAfterOneSecond();
    void promptOnlyOpensTheChooserOnOK();

    // Choosing
    void pickedFolderGetsTheApplicationSubfolder_data();
    void pickedFolderGetsTheApplicationSubfolder();
    void uncreatableFolderIsUsedButNotStored();
    void cancelKeepsEverything();
    void chooserOpenWhileFramesAndClicksArrive();
    void windowClosedWhileChoosing();
    void realStoreKeepsTheFolderForTheNextStart();

    // Showing
    void openFileBtnSendsBothRequestsEveryPress();
    void openFileBtnWithoutFolderOffersTheChooser();
    void longPathIsElidedInTheMiddle();

    // Capture file names
    void timestampHas23Characters_data();
    void timestampHas23Characters();
    void timestampIsLocalTimeInAsciiDigits();
    void extensionFollowsTheMode_data();
    void extensionFollowsTheMode();
    void writePathNeedsAFolder();

private:
    std::unique_ptr<LoopbackServer> m_server; // a stream that stays silent
    QTemporaryDir m_settingsDir;
};

void tst_ViewControllerSaveLocation::initTestCase()
{
    // The subfolder is named after the application, as the viewer's entry names it.
    QCoreApplication::setApplicationName(kAppName);
    QCoreApplication::setOrganizationName(QStringLiteral("Orbilens Test"));
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
}

void tst_ViewControllerSaveLocation::init()
{
    m_server = std::make_unique<LoopbackServer>([](QTcpSocket *, const QByteArray &) {});
    QVERIFY(CameraAddress::setBaseUrl(QUrl(m_server->baseUrl())));
}

void tst_ViewControllerSaveLocation::cleanup()
{
    if (CameraBuffer::hasSharedInstance())
        CameraBuffer::shareInstance().stopTaskWiFiBox();
    m_server.reset();
}

void tst_ViewControllerSaveLocation::storedFolderIsLoadedAndShown()
{
    ViewerFakes fakes;
    const QString folder = fakes.saveFolder.path();
    auto window = shownWindow(fakes.services());
    QVERIFY(window);
    window->controller().viewDidLoad();
    QCOMPARE(window->controller().filePathStr(), folder);
    QVERIFY(showsPath(window->form().openFileBtn, folder));

    // Nothing is asked for when a folder is stored.
    QTest::qWait(ViewController::kSaveFolderPromptDelay.count() + 500);
    QVERIFY(fakes.alerts.shown().isEmpty());
    QVERIFY(fakes.folderChooser.messages().isEmpty());
}

void tst_ViewControllerSaveLocation::firstStartPromptsAfterOneSecond()
{
    ViewerFakes fakes(ViewerFakes::Store::NoneStored);
    QTemporaryDir picked;
    fakes.folderChooser.answer(picked.path());
    MainWindow window(fakes.services());
    const QString titleBefore = window.form().openFileBtn->text();

    QElapsedTimer clock;
    clock.start();
    window.controller().viewDidLoad();
    QCoreApplication::processEvents();
    QVERIFY(window.controller().filePathStr().isNull());
    QVERIFY(fakes.alerts.shown().isEmpty());

    QTRY_COMPARE_WITH_TIMEOUT(fakes.alerts.shown().size(), 1, 10000);
    QVERIFY2(clock.elapsed() >= 990, qPrintable(QString::number(clock.elapsed())));
    const platform::AlertContent &alert = fakes.alerts.shown().first().content;
    QCOMPARE(alert.messageText, QStringLiteral("Tips"));
    QCOMPARE(alert.informativeText, kPrompt);
    QCOMPARE(alert.buttonTitles, QStringList{QStringLiteral("OK")});
    QVERIFY(fakes.folderChooser.messages().isEmpty()); // the chooser waits for "OK"

    QVERIFY(fakes.alerts.answer(platform::Alerts::kFirstButtonResponse));
    QCOMPARE(fakes.folderChooser.messages(), QStringList{kChooserMessage});
    const QString folder = picked.filePath(kAppName);
    QCOMPARE(window.controller().filePathStr(), folder);
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(stored(fakes.settings), folder);
    QVERIFY(window.form().openFileBtn->text() != titleBefore);
    QVERIFY(showsPath(window.form().openFileBtn, folder));
}

void tst_ViewControllerSaveLocation::promptOnlyOpensTheChooserOnOK()
{
    ViewerFakes fakes(ViewerFakes::Store::NoneStored);
    QTemporaryDir picked;
    fakes.folderChooser.answer(picked.path());
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();
    QTRY_COMPARE_WITH_TIMEOUT(fakes.alerts.shown().size(), 1, 10000);

    // The alert closed some other way: nothing is chosen.
    QVERIFY(fakes.alerts.answer(platform::Alerts::kFirstButtonResponse + 1));
    QVERIFY(fakes.folderChooser.messages().isEmpty());
    QVERIFY(window.controller().filePathStr().isNull());
    QVERIFY(fakes.settings.values().isEmpty());
}

void tst_ViewControllerSaveLocation::pickedFolderGetsTheApplicationSubfolder_data()
{
    QTest::addColumn<QString>("pickedBelowTemp"); // relative to a temporary folder
    QTest::addColumn<bool>("subfolderExists");
    QTest::newRow("plain folder") << QString() << false;
    QTest::newRow("subfolder already there") << QString() << true;
    QTest::newRow("missing parents") << QStringLiteral("not/yet/made") << false;
    QTest::newRow("spaces and non-ASCII") << QStringLiteral("星空 photos") << false;
}

void tst_ViewControllerSaveLocation::pickedFolderGetsTheApplicationSubfolder()
{
    QFETCH(QString, pickedBelowTemp);
    QFETCH(bool, subfolderExists);
    ViewerFakes fakes;
    QTemporaryDir temp;
    const QString picked = pickedBelowTemp.isEmpty() ? temp.path() : temp.filePath(pickedBelowTemp);
    const QString folder = picked + QLatin1Char('/') + kAppName;
    if (subfolderExists)
        QVERIFY(QDir().mkpath(folder));
    fakes.folderChooser.answer(picked);

    auto window = shownWindow(fakes.services());
    QVERIFY(window);
    window->controller().viewDidLoad();
    QTest::mouseClick(window->form().chooseFolderBtn, Qt::LeftButton);

    QCOMPARE(fakes.folderChooser.messages(), QStringList{kChooserMessage});
    QCOMPARE(window->controller().filePathStr(), folder);
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(stored(fakes.settings), folder);
    QVERIFY(showsPath(window->form().openFileBtn, folder));
    // Captures go there at once.
    QVERIFY(window->controller().getWritePath()->startsWith(folder + QLatin1Char('/')));
}

void tst_ViewControllerSaveLocation::uncreatableFolderIsUsedButNotStored()
{
    ViewerFakes fakes;
    const QString before = fakes.saveFolder.path();
    // A file where the subfolder would go: the folder cannot be made.
    QTemporaryDir picked;
    QFile inTheWay(picked.filePath(kAppName));
    QVERIFY(inTheWay.open(QIODevice::WriteOnly));
    inTheWay.close();
    fakes.folderChooser.answer(picked.path());

    auto window = shownWindow(fakes.services());
    QVERIFY(window);
    window->controller().viewDidLoad();
    QTest::mouseClick(window->form().chooseFolderBtn, Qt::LeftButton);

    const QString folder = picked.filePath(kAppName);
    QCOMPARE(window->controller().filePathStr(), folder);
    QVERIFY(QFileInfo(folder).isFile()); // untouched
    QCOMPARE(stored(fakes.settings), before);
    QVERIFY(showsPath(window->form().openFileBtn, folder));
    QVERIFY(window->controller().getWritePath()->startsWith(folder + QLatin1Char('/')));
}

void tst_ViewControllerSaveLocation::cancelKeepsEverything()
{
    // With a folder in effect.
    {
        ViewerFakes fakes;
        const QString folder = fakes.saveFolder.path();
        fakes.folderChooser.cancel();
        auto window = shownWindow(fakes.services());
        QVERIFY(window);
        window->controller().viewDidLoad();
        const QString title = window->form().openFileBtn->text();
        QTest::mouseClick(window->form().chooseFolderBtn, Qt::LeftButton);
        QCOMPARE(fakes.folderChooser.messages().size(), 1);
        QCOMPARE(window->controller().filePathStr(), folder);
        QCOMPARE(stored(fakes.settings), folder);
        QCOMPARE(window->form().openFileBtn->text(), title);
        QCOMPARE(window->form().openFileBtn->toolTip(), folder);
    }
    // With none: still none, and the prompt's chooser can be cancelled too.
    {
        ViewerFakes fakes(ViewerFakes::Store::NoneStored);
        fakes.folderChooser.cancel();
        MainWindow window(fakes.services());
        const QString title = window.form().openFileBtn->text();
        window.controller().viewDidLoad();
        QTRY_COMPARE_WITH_TIMEOUT(fakes.alerts.shown().size(), 1, 10000);
        QVERIFY(fakes.alerts.answer());
        QCOMPARE(fakes.folderChooser.messages().size(), 1);
        QVERIFY(window.controller().filePathStr().isNull());
        QVERIFY(fakes.settings.values().isEmpty());
        QCOMPARE(window.form().openFileBtn->text(), title);
        QVERIFY(!window.controller().getWritePath());
    }
}

void tst_ViewControllerSaveLocation::chooserOpenWhileFramesAndClicksArrive()
{
    ViewerFakes fakes;
    const QString before = fakes.saveFolder.path();
    QTemporaryDir picked;
    fakes.folderChooser.answer(picked.path());
    auto window = shownWindow(fakes.services());
    QVERIFY(window);
    ViewController &controller = window->controller();
    controller.viewDidLoad();

    std::optional<QString> pathWhileOpen;
    fakes.folderChooser.setWhileOpen([&] {
        // The stream goes on, and the user presses both buttons again.
        controller.cameraBufferImage(testimages::picture(640, 360));
        controller.cameraBufferImage(testimages::picture(640, 360, 1));
        pathWhileOpen = controller.getWritePath();
        QTest::mouseClick(window->form().chooseFolderBtn, Qt::LeftButton);
        controller.clickOpenFileBtn(nullptr);
        QTest::qWait(50);
    });
    QTest::mouseClick(window->form().chooseFolderBtn, Qt::LeftButton);

    // One chooser only, and the frames were handled meanwhile.
    QCOMPARE(fakes.folderChooser.messages().size(), 1);
    QCOMPARE(controller.photoSize(), QSizeF(640, 360));
    QVERIFY(pathWhileOpen && pathWhileOpen->startsWith(before + QLatin1Char('/')));
    QCOMPARE(fakes.fileBrowser.requests(), (QList<Request>{{RequestKind::OpenFolder, before},
                                                           {RequestKind::ShowFolder, before}}));
    // The answer still takes effect, and the chooser can be opened again.
    QCOMPARE(controller.filePathStr(), picked.filePath(kAppName));
    fakes.folderChooser.setWhileOpen({});
    fakes.folderChooser.cancel();
    QTest::mouseClick(window->form().chooseFolderBtn, Qt::LeftButton);
    QCOMPARE(fakes.folderChooser.messages().size(), 2);
}

void tst_ViewControllerSaveLocation::windowClosedWhileChoosing()
{
    ViewerFakes fakes;
    QTemporaryDir picked;
    fakes.folderChooser.answer(picked.path());
    auto window = std::make_unique<MainWindow>(fakes.services());
    window->controller().viewDidLoad();
    fakes.folderChooser.setWhileOpen([&] { window.reset(); });
    ViewController *controller = &window->controller();
    controller->clickChooseSaveLocation(nullptr);
    QVERIFY(!window);
    // The answer came for a controller that is gone: nothing made, nothing stored.
    QVERIFY(!QFileInfo::exists(picked.filePath(kAppName)));
    QCOMPARE(stored(fakes.settings), fakes.saveFolder.path());
}

void tst_ViewControllerSaveLocation::realStoreKeepsTheFolderForTheNextStart()
{
    QSettings().clear();
    QTemporaryDir picked;
    const QString folder = picked.filePath(kAppName);
    {
        ViewerFakes fakes(ViewerFakes::Store::NoneStored);
        platform::QtSettings settings;
        ViewerServices services = fakes.services();
        services.settings = &settings;
        fakes.folderChooser.answer(picked.path());
        MainWindow window(services);
        window.controller().viewDidLoad();
        window.controller().clickChooseSaveLocation(nullptr);
        QCOMPARE(window.controller().filePathStr(), folder);
    }
    // The next run: loaded at once, no prompt.
    ViewerFakes fakes(ViewerFakes::Store::NoneStored);
    platform::QtSettings settings;
    QCOMPARE(settings.stringForKey(kSaveFolderKey), folder);
    ViewerServices services = fakes.services();
    services.settings = &settings;
    MainWindow window(services);
    window.controller().viewDidLoad();
    QCOMPARE(window.controller().filePathStr(), folder);
    QCOMPARE(window.form().openFileBtn->toolTip(), folder);
    QTest::qWait(ViewController::kSaveFolderPromptDelay.count() + 500);
    QVERIFY(fakes.alerts.shown().isEmpty());
    QSettings().clear();
}

void tst_ViewControllerSaveLocation::openFileBtnSendsBothRequestsEveryPress()
{
    ViewerFakes fakes;
    const QString folder = fakes.saveFolder.path();
    auto window = shownWindow(fakes.services());
    QVERIFY(window);
    window->controller().viewDidLoad();
    QTest::mouseClick(window->form().openFileBtn, Qt::LeftButton);
    QTest::mouseClick(window->form().openFileBtn, Qt::LeftButton);
    const Request open{RequestKind::OpenFolder, folder};
    const Request show{RequestKind::ShowFolder, folder};
    QCOMPARE(fakes.fileBrowser.requests(), (QList<Request>{open, show, open, show}));
    QVERIFY(fakes.folderChooser.messages().isEmpty());
}

void tst_ViewControllerSaveLocation::openFileBtnWithoutFolderOffersTheChooser()
{
    ViewerFakes fakes(ViewerFakes::Store::NoneStored);
    QTemporaryDir picked;
    fakes.folderChooser.answer(picked.path());
    auto window = shownWindow(fakes.services());
    QVERIFY(window);
    window->controller().viewDidLoad();
    QTest::mouseClick(window->form().openFileBtn, Qt::LeftButton);
    QVERIFY(fakes.fileBrowser.requests().isEmpty());
    QCOMPARE(fakes.folderChooser.messages(), QStringList{kChooserMessage});
    QCOMPARE(window->controller().filePathStr(), picked.filePath(kAppName));
}

void tst_ViewControllerSaveLocation::longPathIsElidedInTheMiddle()
{
    ViewerFakes fakes;
    auto window = shownWindow(fakes.services());
    QVERIFY(window);
    QPushButton *button = window->form().openFileBtn;
    const int panelWidth = window->form().menuView->width();

    const QString shortPath = QStringLiteral("/X/") + kAppName;
    fakes.settings.setString(kSaveFolderKey, shortPath);
    window->controller().getFilePath();
    QCOMPARE(button->text(), shortPath);
    QCOMPARE(button->toolTip(), shortPath);

    QString longPath;
    for (int i = 0; i < 12; ++i)
        longPath += QStringLiteral("/a-rather-long-folder-name-%1").arg(i);
    longPath += QLatin1Char('/') + kAppName;
    fakes.settings.setString(kSaveFolderKey, longPath);
    window->controller().getFilePath();
    QCOMPARE(window->controller().filePathStr(), longPath);
    QCOMPARE(button->toolTip(), longPath);
    const QString text = button->text();
    QVERIFY2(text.contains(kEllipsis), qPrintable(text));
    QVERIFY(showsPath(button, longPath));
    QVERIFY(text.startsWith(QStringLiteral("/a-rather")));
    QVERIFY(text.size() > 20); // elided to the button, not to nothing
    QVERIFY(button->fontMetrics().horizontalAdvance(text) < button->width());
    // The title fits the panel; it does not widen it.
    QCoreApplication::processEvents();
    QCOMPARE(window->form().menuView->width(), panelWidth);
    QVERIFY(button->geometry().right() <= panelWidth);

    // A larger font takes more room: elided again to the same width.
    QFont larger = button->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.5);
    button->setFont(larger);
    QVERIFY(button->text().size() < text.size());
    QVERIFY(showsPath(button, longPath));
    QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) < button->width());
}

void tst_ViewControllerSaveLocation::timestampHas23Characters_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("timestamp");
    auto local = [](int y, int mo, int d, int h, int mi, int s, int ms) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
    };
    QTest::newRow("example") << local(2024, 5, 1, 13, 45, 7, 123)
                             << QStringLiteral("2024-05-01-13:45:07.123");
    QTest::newRow("midnight, no milliseconds")
        << local(2024, 1, 1, 0, 0, 0, 0) << QStringLiteral("2024-01-01-00:00:00.000");
    QTest::newRow("one millisecond before a new year")
        << local(2023, 12, 31, 23, 59, 59, 999) << QStringLiteral("2023-12-31-23:59:59.999");
    QTest::newRow("leap day, single digits")
        << local(2024, 2, 29, 9, 5, 3, 7) << QStringLiteral("2024-02-29-09:05:03.007");
    QTest::newRow("three-digit year")
        << local(999, 3, 4, 5, 6, 7, 80) << QStringLiteral("0999-03-04-05:06:07.080");
    QTest::newRow("year one") << local(1, 1, 1, 1, 1, 1, 1)
                              << QStringLiteral("0001-01-01-01:01:01.001");
    QTest::newRow("year 9999") << local(9999, 12, 31, 23, 59, 59, 999)
                               << QStringLiteral("9999-12-31-23:59:59.999");
}

void tst_ViewControllerSaveLocation::timestampHas23Characters()
{
    QFETCH(QDateTime, time);
    QFETCH(QString, timestamp);
    const QString made = ViewController::captureTimestamp(time);
    QCOMPARE(made, timestamp);
    QCOMPARE(made.size(), 23);
}

void tst_ViewControllerSaveLocation::timestampIsLocalTimeInAsciiDigits()
{
    // A time given in UTC is named by the local time: here UTC+5:30.
    {
        const QByteArray oldTz = qgetenv("TZ");
        const auto restoreTz = qScopeGuard([&] {
            if (oldTz.isNull())
                qunsetenv("TZ");
            else
                qputenv("TZ", oldTz);
        });
        qputenv("TZ", "XST-5:30");
        const QDateTime utc(QDate(2024, 5, 1), QTime(8, 15, 7, 123), Qt::UTC);
        QCOMPARE(ViewController::captureTimestamp(utc), QStringLiteral("2024-05-01-13:45:07.123"));
    }

    // The user's language never changes the digits or separators, and every
    // moment round-trips through the pattern.
    const QLocale oldDefault;
    const auto restoreLocale = qScopeGuard([&] { QLocale::setDefault(oldDefault); });
    QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
    const QRegularExpression shape(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}-\\d{2}:\\d{2}:\\d{2}\\.\\d{3}$"));
    QDateTime t(QDate(1970, 1, 1), QTime(0, 0));
    for (int i = 0; i < 2000; ++i) {
        t = t.addMSecs(1'234'567'891LL + i); // about 14 days and a varying millisecond
        const QString made = ViewController::captureTimestamp(t);
        QVERIFY2(made.size() == 23 && shape.match(made).hasMatch(), qPrintable(made));
        QVERIFY2(std::all_of(made.cbegin(), made.cend(), [](QChar c) { return c.unicode() < 128; }),
                 qPrintable(made));
        QCOMPARE(QDateTime::fromString(made, QStringLiteral("yyyy-MM-dd-HH:mm:ss.zzz")), t);
    }
}

void tst_ViewControllerSaveLocation::extensionFollowsTheMode_data()
{
    QTest::addColumn<qint64>("mode");
    QTest::addColumn<QString>("extension");
    QTest::newRow("photo") << qint64(0) << QStringLiteral(".jpg");
    QTest::newRow("video") << qint64(1) << QStringLiteral(".mp4");
    QTest::newRow("time-lapse") << qint64(2) << QStringLiteral(".mp4");
    QTest::newRow("denoising") << qint64(3) << QStringLiteral(".mp4");
}

void tst_ViewControllerSaveLocation::extensionFollowsTheMode()
{
    QFETCH(qint64, mode);
    QFETCH(QString, extension);
    const QDateTime time(QDate(2024, 5, 1), QTime(13, 45, 7, 123));
    QCOMPARE(ViewController::capturePath(QStringLiteral("/data/captures"), time, mode),
             QStringLiteral("/data/captures/2024-05-01-13:45:07.123") + extension);
}

void tst_ViewControllerSaveLocation::writePathNeedsAFolder()
{
    const QDateTime time = QDateTime::currentDateTime();
    QVERIFY(!ViewController::capturePath(QString(), time, 0));
    QVERIFY(!ViewController::capturePath(QStringLiteral(""), time, 1));

    // In effect: a name of now, in photo mode (the mode the viewer starts in).
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    QVERIFY(!window.controller().getWritePath()); // not loaded yet
    window.controller().viewDidLoad();
    const QDateTime before = QDateTime::currentDateTime();
    const std::optional<QString> path = window.controller().getWritePath();
    const QDateTime after = QDateTime::currentDateTime();
    QVERIFY(path);
    const QString prefix = fakes.saveFolder.path() + QLatin1Char('/');
    QVERIFY2(path->startsWith(prefix) && path->endsWith(QStringLiteral(".jpg")), qPrintable(*path));
    const QDateTime named = QDateTime::fromString(path->mid(prefix.size(), 23),
                                                  QStringLiteral("yyyy-MM-dd-HH:mm:ss.zzz"));
    QVERIFY(named >= before.addMSecs(-1) && named <= after);

    // A stored empty text is no folder either.
    ViewerFakes emptyText(ViewerFakes::Store::NoneStored);
    emptyText.settings.setString(kSaveFolderKey, QString());
    MainWindow other(emptyText.services());
    other.controller().viewDidLoad();
    QVERIFY(other.controller().filePathStr().isNull());
    QVERIFY(!other.controller().getWritePath());
}

QTEST_MAIN(tst_ViewControllerSaveLocation)
#include "tst_ViewControllerSaveLocation.moc"
