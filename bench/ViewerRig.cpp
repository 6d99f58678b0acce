#include "ViewerRig.h"

#include "app/MainWindow.h"
#include "capture/ImageWritingVideoTool.h"
#include "control/RequestManager.h"
#include "platform/CameraAddress.h"
#include "platform/PreviewView.h"
#include "stream/CameraBuffer.h"
#include "support/FormControls.h"
#include "viewer/ViewController.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace bench
{

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool spinUntil(const std::function<bool()> &done, int timeoutMs, int stepMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        spin(stepMs);
    return done();
}

ViewerRig::ViewerRig(const QString &baseUrl)
{
    open(baseUrl, m_fakes.services());
}

ViewerRig::ViewerRig(const QString &baseUrl, platform::Volumes &volumes, const QString &saveFolder)
{
    m_fakes.settings.setString(platform::kSaveFolderKey, saveFolder);
    ViewerServices services = m_fakes.services();
    services.volumes = &volumes;
    open(baseUrl, services);
}

void ViewerRig::open(const QString &baseUrl, ViewerServices services)
{
    CameraAddress::setBaseUrl(QUrl(baseUrl));
    m_window = std::make_unique<MainWindow>(services);
    m_window->resize(1280, 780);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        std::fprintf(stderr, "the viewer's window was not exposed\n");
    m_window->controller().viewDidLoad();
}

ViewerRig::~ViewerRig()
{
    if (CameraBuffer::hasSharedInstance()) {
        CameraBuffer::shareInstance().setDelegate(nullptr);
        CameraBuffer::shareInstance().stopTaskWiFiBox();
    }
    m_window.reset();
    RequestManager::releaseSharedInstance();
    ImageWritingVideoTool::shareInstance().finishAllAndWait(std::chrono::seconds(60));
}

ViewController &ViewerRig::controller()
{
    return m_window->controller();
}

platform::PreviewView &ViewerRig::preview()
{
    return *FormControls(*m_window).previewImgeView;
}

bool ViewerRig::waitForFrameSize(QSize size, int timeoutMs)
{
    return spinUntil([&] { return controller().photoSize() == QSizeF(size); }, timeoutMs);
}

bool ViewerRig::chooseMode(const QString &title)
{
    for (QPushButton *button : m_window->modeButtons())
        if (button->text() == title) {
            QTest::mouseClick(button, Qt::LeftButton);
            return true;
        }
    return false;
}

void ViewerRig::pressCapture()
{
    QTest::mouseClick(FormControls(*m_window).photoBtn, Qt::LeftButton);
}

} // namespace bench
