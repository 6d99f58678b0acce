#pragma once

// The viewer's window on a camera box on loopback (the simulator, or a test
// server), with fake platform services and a save folder: what the suites
// drive through the window's own controls.

#include "app/MainWindow.h"
#include "capture/ImageWritingVideoTool.h"
#include "control/RequestManager.h"
#include "platform/CameraAddress.h"
#include "stream/CameraBuffer.h"
#include "support/FormControls.h"
#include "support/SimProcess.h"
#include "support/TestImages.h"
#include "support/ViewerFakes.h"
#include "viewer/ViewController.h"

#include <QAbstractItemView>
#include <QDir>
#include <QTest>

#include <chrono>
#include <memory>
#include <optional>

class WindowRig
{
public:
    explicit WindowRig(ViewerFakes::Store store = ViewerFakes::Store::SaveFolderStored)
        : fakes(store)
    {
    }
    WindowRig(const WindowRig &) = delete;
    WindowRig &operator=(const WindowRig &) = delete;

    // The window, of windowSize, shown on the box at baseUrl (loopback only)
    // and loaded as at start-up: the stream runs.
    bool open(const QString &baseUrl, QSize windowSize = {1280, 780})
    {
        if (!CameraAddress::setBaseUrl(QUrl(baseUrl)))
            return false;
        window = std::make_unique<MainWindow>(fakes.services());
        window->resize(windowSize);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return false;
        m_form.emplace(*window);
        window->controller().viewDidLoad();
        return true;
    }
    // The same on a simulator started with simArguments.
    bool start(const QStringList &simArguments, QSize windowSize = {1280, 780})
    {
        return m_sim.start(simArguments) && open(m_sim.baseUrl(), windowSize);
    }

    virtual ~WindowRig()
    {
        if (CameraBuffer::hasSharedInstance())
            CameraBuffer::shareInstance().stopTaskWiFiBox();
        m_form.reset();
        window.reset();
        RequestManager::releaseSharedInstance();
        ImageWritingVideoTool::shareInstance().finishAllAndWait(std::chrono::seconds(20));
    }

    ViewController &c() { return window->controller(); }
    const FormControls &form() const { return *m_form; }
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
    // A frame handed to the controller as the stream client hands it over.
    void frame(QSize size, int seed = 0)
    {
        c().cameraBufferImage(testimages::picture(size.width(), size.height(), seed));
    }
    // Chooses the pop-up's item with tag by a click in its list, as a user does.
    void chooseResolution(int tag)
    {
        QComboBox *popUp = form().resolutionPopBtn;
        popUp->showPopup();
        QAbstractItemView *list = popUp->view();
        QTRY_VERIFY(list->isVisible());
        const QModelIndex item = list->model()->index(popUp->findData(tag), 0);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(item).center());
        QTRY_VERIFY(!list->isVisible());
    }

    ViewerFakes fakes;
    std::unique_ptr<MainWindow> window;

private:
    SimProcess m_sim;
    std::optional<FormControls> m_form; // while the window is open
};
