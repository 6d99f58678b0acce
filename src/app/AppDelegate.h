#pragma once

#include <QObject>

// The application's life-cycle hooks. Main thread only.
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // Closing the viewer's window quits the application.
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
};
