#pragma once

#include "support/ViewerFakes.h"

#include <QSize>
#include <QString>

#include <functional>
#include <memory>

class MainWindow;
class ViewController;
class QPushButton;

namespace platform
{
class PreviewView;
}

namespace bench
{

// Runs the event loop for ms milliseconds, or until done() is true (checked
// every stepMs); answers done() at the end.
void spin(int ms);
bool spinUntil(const std::function<bool()> &done, int timeoutMs, int stepMs = 5);

// The viewer's real window, offscreen, on a camera box at baseUrl, with its
// platform services faked (on the box's network, a fresh save folder). Only
// one at a time: the stream client and the video writer are shared.
class ViewerRig
{
public:
    explicit ViewerRig(const QString &baseUrl);
    // The same with the real volumes service and captures going to saveFolder.
    ViewerRig(const QString &baseUrl, platform::Volumes &volumes, const QString &saveFolder);
    ~ViewerRig();
    ViewerRig(const ViewerRig &) = delete;
    ViewerRig &operator=(const ViewerRig &) = delete;

    MainWindow &window() { return *m_window; }
    ViewController &controller();
    platform::PreviewView &preview();
    QString saveFolder() const { return m_fakes.saveFolder.path(); }

    // Waits until the viewer shows frames of this size.
    bool waitForFrameSize(QSize size, int timeoutMs);
    // Clicks the mode button with this title ("Photo", "Video", "Time-lapse").
    bool chooseMode(const QString &title);
    // Clicks the capture button.
    void pressCapture();

private:
    void open(const QString &baseUrl, ViewerServices services);
    ViewerFakes m_fakes;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace bench
