#include "app/AppDelegate.h"

#include "capture/ImageWritingVideoTool.h"
#include "platform/LogCategories.h"

#include <QGuiApplication>

void AppDelegate::attachTo(QGuiApplication &app)
{
    app.setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    connect(&app, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
}

void AppDelegate::applicationDidFinishLaunching() {}

void AppDelegate::applicationWillTerminate()
{
    // The writer's workers would otherwise be stopped wherever they are when
    // the process ends, and the last seconds of the file lost with them.
    if (!ImageWritingVideoTool::shareInstance().finishAllAndWait(kFinishRecordingsAtExit))
        qCWarning(lcCapture) << "A recording was cut short at exit.";
}
