#include "viewer/ViewController.h"

#include "platform/ThreadRules.h"
#include "stream/CameraBuffer.h"

#include <QPalette>

namespace
{
void setBackground(QWidget *widget, const QColor &color)
{
    if (!widget)
        return;
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(color.alpha() > 0);
}
} // namespace

ViewController::ViewController(ViewOutlets outlets, ViewerServices services, QObject *parent)
    : QObject(parent), m_outlets(std::move(outlets)), m_services(services)
{
}

ViewController::~ViewController()
{
    if (CameraBuffer::hasSharedInstance() && CameraBuffer::shareInstance().delegate() == this)
        CameraBuffer::shareInstance().setDelegate(nullptr);
}

void ViewController::viewDidLoad()
{
    ORBILENS_ASSERT_MAIN_THREAD();
    // Black around the live picture (the preview paints it itself); the
    // control panel is a dark gray that does not dazzle at night.
    setBackground(m_outlets.previewImgeView, Qt::black);
    setBackground(m_outlets.menuView, QColor(0x2b, 0x2d, 0x31));
    setBackground(m_outlets.view, Qt::black);
    // The viewing aids as the user left them (ViewController_Aids.cpp).
    loadAids();

    // The first request for the stream client also starts its one-second
    // frame-rate timer, here on the main thread.
    CameraBuffer &camera = CameraBuffer::shareInstance();
    camera.setDelegate(this);
    camera.startWiFiBox();

    connectTips();

    // The focus keys, for the whole run (ViewController_Shortcuts.cpp).
    installKeyMonitor();

    // The save folder, or the prompt for one (ViewController_SaveLocation.cpp).
    getFilePath();

    setupFocusAssist();
}
