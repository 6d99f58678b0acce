#pragma once

// The camera-box simulator process and the viewer's window on it, with a save
// folder: what the capture suites drive through the window's own buttons.

#include "app/MainWindow.h"
#include "capture/ImageWritingVideoTool.h"
#include "control/RequestManager.h"
#include "platform/CameraAddress.h"
#include "stream/CameraBuffer.h"
#include "support/SimProcess.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QDir>
#include <QTest>

#include <chrono>
#include <memory>

class CaptureRig
{
public:
    CaptureRig() = default;
    CaptureRig(const CaptureRig &) = delete;
    CaptureRig &operator=(const CaptureRig &) = delete;

    // The simulator started with simArguments, and the window, of windowSize,
    // shown on it with the stream switched on.
    bool start(const QStringList &simArguments, QSize windowSize)
    {
        if (!m_sim.start(simArguments))
            return false;
        if (!CameraAddress::setBaseUrl(QUrl(m_sim.baseUrl())))
            return false;
        window = std::make_unique<MainWindow>(fakes.services());
        window->resize(windowSize);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return false;
        window->controller().viewDidLoad();
        return true;
    }

    virtual ~CaptureRig()
    {
        if (CameraBuffer::hasSharedInstance())
            CameraBuffer::shareInstance().stopTaskWiFiBox();
        window.reset();
        RequestManager::releaseSharedInstance();
        ImageWritingVideoTool::shareInstance().finishAllAndWait(std::chrono::seconds(20));
    }

    ViewController &c() { return window->controller(); }
    Ui::MainWindow &form() { return window->form(); }
    SimProcess &sim() { return m_sim; }
    void press() { QTest::mouseClick(form().photoBtn, Qt::LeftButton); }
    void chooseMode(const QString &title)
    {
        for (QPushButton *button : window->modeButtons())
            if (button->text() == title)
                QTest::mouseClick(button, Qt::LeftButton);
    }
    QString folder() const { return fakes.saveFolder.path(); }
    QString path(const QString &name) const { return fakes.saveFolder.filePath(name); }
    QStringList files(const QString &pattern) const
    {
        return QDir(folder()).entryList({pattern}, QDir::Files, QDir::Name);
    }
    QString notice() { return form().tipsLab->text(); }

    ViewerFakes fakes;
    std::unique_ptr<MainWindow> window;

private:
    SimProcess m_sim;
};
