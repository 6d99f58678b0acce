#include "app/AppDelegate.h"
#include "app/AppStyle.h"
#include "app/MainWindow.h"

#include "platform/CameraAddress.h"
#include "viewer/ViewController.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

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
    parser.process(app);

    if (parser.isSet(cameraUrl) && !CameraAddress::setBaseUrl(QUrl(parser.value(cameraUrl)))) {
        std::fprintf(stderr, "orbilens-viewer: --camera-url wants http://HOST:PORT, not %s\n",
                     qPrintable(parser.value(cameraUrl)));
        return 2;
    }

    AppDelegate delegate;
    app.setQuitOnLastWindowClosed(delegate.applicationShouldTerminateAfterLastWindowClosed());
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);
    appstyle::apply(app);

    MainWindow window;
    window.controller().viewDidLoad();
    window.show();
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
