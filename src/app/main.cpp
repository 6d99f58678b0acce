#include "app/AppDelegate.h"
#include "app/AppStyle.h"
#include "app/MainWindow.h"

#include "platform/CameraAddress.h"
#include "platform/DesktopFileBrowser.h"
#include "platform/DialogFolderChooser.h"
#include "platform/FixedWifiName.h"
#include "platform/MessageBoxAlerts.h"
#include "platform/Nl80211WifiName.h"
#include "platform/QtSettings.h"
#include "viewer/ViewController.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orbilens Viewer"));
    QApplication::setOrganizationName(QStringLiteral("Orbilens"));
    QApplication::setApplicationVersion(QStringLiteral(ORBILENS_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("orbilens-viewer"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Live view, camera controls and capture for the Orbilens Wi-Fi camera box."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption cameraUrl(
        QStringLiteral("camera-url"),
        QStringLiteral(
            "Base URL of the camera box, http://HOST:PORT (default: the box's own address)."),
        QStringLiteral("URL"));
    parser.addOption(cameraUrl);
    const QCommandLineOption assumeNetwork(
        QStringLiteral("assume-network"),
        QStringLiteral("Behave as if this computer had joined the Wi-Fi network NAME instead of "
                       "asking the Wi-Fi interface (for demos against the simulator)."),
        QStringLiteral("NAME"));
    parser.addOption(assumeNetwork);
    parser.process(app);

    if (parser.isSet(cameraUrl) && !CameraAddress::setBaseUrl(QUrl(parser.value(cameraUrl)))) {
        std::fprintf(stderr, "orbilens-viewer: --camera-url wants http://HOST:PORT, not %s\n",
                     qPrintable(parser.value(cameraUrl)));
        return 2;
    }

    AppDelegate delegate;
    delegate.attachTo(app);
    appstyle::apply(app);

    // The platform services outlive the window, which is destroyed first.
    std::unique_ptr<platform::WifiName> wifiName;
    if (parser.isSet(assumeNetwork)) {
        // An empty NAME stands for no network at all.
        const QString name = parser.value(assumeNetwork);
        wifiName = std::make_unique<platform::FixedWifiName>(
            name.isEmpty() ? std::nullopt : std::optional<QString>(name));
    } else {
        wifiName = std::make_unique<platform::Nl80211WifiName>();
    }
    platform::MessageBoxAlerts alerts;
    platform::QtSettings settings; // after the application's names, which name its file
    platform::DialogFolderChooser folderChooser;
    platform::DesktopFileBrowser fileBrowser;
    ViewerServices services{alerts, *wifiName};
    services.settings = &settings;
    services.folderChooser = &folderChooser;
    services.fileBrowser = &fileBrowser;

    MainWindow window(services);
    // Alerts raised while the window loads wait until it is on screen.
    alerts.setWindow(&window);
    folderChooser.setWindow(&window);
    window.controller().viewDidLoad();
    window.show();
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
