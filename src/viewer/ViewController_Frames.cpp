#include "viewer/ResolutionTable.h"
#include "viewer/ViewController.h"

#include "platform/Controls.h"
#include "platform/Log.h"
#include "platform/ThreadRules.h"

void ViewController::cameraBufferImage(const QImage &image)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (m_outlets.previewImgeView)
        m_outlets.previewImgeView->setImage(image);

    if (frameCaptureStep(image) == FrameStep::Stop)
        return;

    // Exact comparison on purpose: QSizeF's == is fuzzy, and only a real
    // change of frame size may touch the log and the pop-up.
    const double width = image.width();
    const double height = image.height();
    if (width == m_photoSize.width() && height == m_photoSize.height())
        return;
    m_photoSize = QSizeF(width, height);
    const int tag = resolution::tagForSize(width, height);
    platform::log(QString::asprintf("%ld --- w:%f -- h:%f", long(tag), m_photoSize.width(),
                                    m_photoSize.height()));
    platform::controls::selectItemWithTag(m_outlets.resolutionPopBtn, tag);
}

void ViewController::cameraFPS(qint64 framesInLastSecond)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (m_outlets.fpsLab)
        m_outlets.fpsLab->setText(QStringLiteral("FPS:%1").arg(framesInLastSecond));
}
