#include "viewer/ViewController.h"

#include "platform/ImageAssets.h"
#include "platform/Log.h"
#include "platform/ThreadRules.h"
#include "stream/CameraBuffer.h"
#include "viewer/Tool.h"
#include "viewer/UserTexts.h"

#include <QAbstractButton>

namespace
{
// The "Disconnect" picture at the size it was drawn for; the preview shows
// it at that size, or shrunk to fit a smaller view.
constexpr QSize kDisconnectPictureSize{640, 360};

// What the connection prompt shows for the network when there is none.
const QString kNoNetworkName = QStringLiteral("(none)");

void setStatusOff(QPushButton *statusBtn)
{
    // setChecked sends no clicked(): this is never mistaken for the user's click.
    if (statusBtn)
        statusBtn->setChecked(false);
}
} // namespace

void ViewController::connectTips()
{
    if (Tool::getTelescopeConnectionStatus(m_services.wifiName))
        return;
    setStatusOff(m_outlets.statusBtn);
    const QString ssid = Tool::getSSID(m_services.wifiName).value_or(kNoNetworkName);
    Tool::tipsAlertWithTips(m_services.alerts, usertexts::connectToBoxNetwork().arg(ssid),
                            [](int) {});
}

void ViewController::clickStatusBtn(QObject *sender)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    // The check may turn the button off whatever the click has just done.
    connectTips();
    const auto *button = qobject_cast<const QAbstractButton *>(sender);
    CameraBuffer &camera = CameraBuffer::shareInstance();
    if (!button || !button->isChecked()) {
        platform::log(QStringLiteral("On"));
        camera.stopTaskWiFiBox();
        return;
    }
    platform::log(QStringLiteral("Off"));
    camera.startWiFiBox();
    // At once, without waiting for a frame: the capture button acts now.
    m_isDisconnect = false;
}

void ViewController::disconnection()
{
    ORBILENS_ASSERT_MAIN_THREAD();
    platform::log(QStringLiteral("中断"));

    // The stream client reports the end of every transfer, also of one that
    // a restart has just cancelled; that end arrives after the new transfer
    // has been opened. While the client's current transfer still runs, the
    // stream the user asked for is alive, and this end is not its end.
    if (CameraBuffer::hasSharedInstance() && CameraBuffer::shareInstance().isStreaming())
        return;

    cancelFocusSweep(); // no picture to judge by
    m_sinceFrame.invalidate();
    if (m_outlets.previewImgeView) {
        m_outlets.previewImgeView->setPictureAgeText({});
        m_outlets.previewImgeView->setImage(
            platform::assets::image(QStringLiteral("Disconnect"), kDisconnectPictureSize));
    }
    setStatusOff(m_outlets.statusBtn);
    // Before the flag: the capture button refuses to act while disconnected,
    // and the recording must still be ended and saved.
    if (m_isVideo)
        timeoutStop();
    m_isDisconnect = true;
}

void ViewController::timeoutStop()
{
    clickPhotoBtn(nullptr);
}

void ViewController::selectPosition()
{
    if (m_isVideo)
        timeoutStop();
}
