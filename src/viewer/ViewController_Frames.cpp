#include "viewer/ResolutionTable.h"
#include "viewer/ViewController.h"

#include "platform/Controls.h"
#include "platform/Log.h"

void ViewController::cameraBufferImage(const QImage &image)
{
    m_sinceFrame.start();
    if (m_outlets.previewImgeView) {
        m_outlets.previewImgeView->setPictureAgeText({}); // before the paint of the new frame
        m_outlets.previewImgeView->setImage(image);
    }

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
    if (m_outlets.fpsLab)
        m_outlets.fpsLab->setText(QStringLiteral("FPS:%1").arg(framesInLastSecond));
    showPictureAge();
}

void ViewController::showPictureAge()
{
    // A frozen picture must never pass for a live one. The clock stops when
    // the transfer ends, and the "Disconnect" picture says so instead.
    QString age;
    if (m_sinceFrame.isValid() && m_sinceFrame.elapsed() > kPictureAgeShownAfter.count())
        age = QStringLiteral("No new picture for %1 s").arg(m_sinceFrame.elapsed() / 1000);
    if (m_outlets.previewImgeView)
        m_outlets.previewImgeView->setPictureAgeText(age);
}
