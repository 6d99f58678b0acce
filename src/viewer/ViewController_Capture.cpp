#include "viewer/ViewController.h"

#include "viewer/Tool.h"

void ViewController::clickPhotoBtn(QObject *)
{
    if (m_isDisconnect) {
        Tool::tipsAlertWithTips(m_services.alerts,
                                QStringLiteral("Disconnected. Please reconnect."), [](int) {});
        return;
    }
    // Photos and recordings, by capture mode, come with the capture modes.
}
