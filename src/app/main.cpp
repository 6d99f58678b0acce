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
#include "platform/Volumes.h"
#include "viewer/ViewController.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <memory>

namespace
{

struct Options {
    QCommandLineOption cameraUrl{
        QStringLiteral("camera-url"),
        QStringLiteral(
            "Base URL of the camera box, http://HOST:PORT (default: the box's own address)."),
        QStringLiteral("URL")};
    QCommandLineOption assumeNetwork{
        QStringLiteral("assume-network"),
        QStringLiteral("Behave as if this computer had joined the Wi-Fi network NAME instead of "
                       "asking the Wi-Fi interface (for demos against the simulator)."),
        QStringLiteral("NAME")};
};

void describeApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Orbilens Viewer"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orbilens"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORBILENS_VERSION));
}

void addOptions(QCommandLineParser &parser, const Options &options)
{
    parser.setApplicationDescription(QStringLiteral(
        "Live view, camera controls and capture for the Orbilens Wi-Fi camera box.\n"
        "\n"
        "Keys in the window (not while a text field or a dialog has the keyboard):\n"
        "  Space        take a photo, or start and stop a recording\n"
        "  1 / 2 / 3    capture mode: photo / video / time-lapse\n"
        "  Left, Right  focus nearer, farther\n"
        "  H            histogram          G  its logarithmic scale\n"
        "  C            clipping warning   X  reticle\n"
        "  M            flip left-right    V  flip top-bottom    O  rotate 180 degrees\n"
        "  N            night mode         P  live picture in red\n"
        "  F11          full screen        Esc  leave full screen\n"
        "The viewing aids change only what the window shows, never what is captured."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(options.cameraUrl);
    parser.addOption(options.assumeNetwork);
}

// --help and --version answer without a display, as on a remote shell.
bool asksForHelpOrVersion(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "-h" || arg == "--help" || arg == "-v" || arg == "--version" || arg == "-?")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    const Options options;
    if (asksForHelpOrVersion(argc, argv)) {
        QCoreApplication core(argc, argv);
        describeApplication();
        QCommandLineParser parser;
        addOptions(parser, options);
        parser.process(core); // prints and exits
        return 0;
    }

    QApplication app(argc, argv);
    describeApplication();
    QGuiApplication::setDesktopFileName(QStringLiteral("org.orbilens.Viewer"));

    QCommandLineParser parser;
    addOptions(parser, options);
    parser.process(app);
    const QCommandLineOption &cameraUrl = options.cameraUrl;
    const QCommandLineOption &assumeNetwork = options.assumeNetwork;

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
    platform::StorageVolumes volumes;
    ViewerServices services{alerts, *wifiName};
    services.settings = &settings;
    services.folderChooser = &folderChooser;
    services.fileBrowser = &fileBrowser;
    services.volumes = &volumes;

    MainWindow window(services);
    // Alerts raised while the window loads wait until it is on screen.
    alerts.setWindow(&window);
    folderChooser.setWindow(&window);
    window.controller().viewDidLoad();
    window.show();
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
