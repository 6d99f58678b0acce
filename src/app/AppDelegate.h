#pragma once

#include <QObject>

#include <chrono>

class QGuiApplication;

// The application's life-cycle hooks. Main thread only.
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // How long the exit waits for recordings to finish their files; what is
    // still not done then is cut short, keeping what was written.
    static constexpr std::chrono::milliseconds kFinishRecordingsAtExit{3000};

    // Makes app quit when its last window closes, and run
    // applicationWillTerminate on the way out. The delegate must outlive app's
    // event loop.
    void attachTo(QGuiApplication &app);

    void applicationDidFinishLaunching();
    // Finishes a recording still running, and any still being finished, into
    // complete files: closing the window during a recording keeps it. Waits
    // at most about kFinishRecordingsAtExit.
    void applicationWillTerminate();
    // Closing the viewer's window quits the application.
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
};
