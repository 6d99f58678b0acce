#include "viewer/ResolutionTable.h"
#include "viewer/UserTexts.h"
#include "viewer/ViewController.h"

#include "platform/Controls.h"
#include "platform/Log.h"
#include "platform/ThreadRules.h"

QSize ViewController::frameDecodeSize(QSize frameSize)
{
    if (needsFullFrame() || !m_outlets.previewImgeView)
        return frameSize;
    // Asked afresh for every frame: the view's size and its screen's scale
    // factor as they are now, after any resize or move to another screen.
    return m_outlets.previewImgeView->decodeSizeFor(frameSize);
}

bool ViewController::needsFullFrame() const
{
    // A photo and a recording keep the frame's own pixels; a time-lapse
    // writes only the frames it samples. Focus assist scores, and its loupe
    // shows, the region's own pixels.
    if (m_isSnapshot || isFocusAssistOn())
        return true;
    if (!m_isVideo)
        return false;
    return m_cameraStyleType != kTimeLapseMode || m_isTimeLapseGetImg;
}

void ViewController::cameraBufferImage(const QImage &image)
{
    cameraBufferFrame(image, image.size());
}

void ViewController::cameraBufferFrame(const QImage &image, QSize frameSize)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    m_sinceFrame.start();
    if (m_outlets.previewImgeView) {
        m_outlets.previewImgeView->setPictureAgeText({}); // before the paint of the new frame
        m_outlets.previewImgeView->setImage(image, frameSize);
    }
    measureFrame(image); // off this thread (ViewController_Aids.cpp)
    focusFrame(image);   // likewise (ViewController_Focus.cpp)

    if (frameCaptureStep(image, frameSize) == FrameStep::Stop)
        return;

    // The frame's own size, from its header, whatever size it was decoded
    // at. Exact comparison on purpose: QSizeF's == is fuzzy, and only a real
    // change of frame size may touch the log and the pop-up.
    const double width = frameSize.width();
    const double height = frameSize.height();
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
    showPictureAge();
}

void ViewController::showPictureAge()
{
    // A frozen picture must never pass for a live one. The clock stops when
    // the transfer ends, and the "Disconnect" picture says so instead.
    QString age;
    if (m_sinceFrame.isValid() && m_sinceFrame.elapsed() > kPictureAgeShownAfter.count())
        age = usertexts::pictureAge().arg(m_sinceFrame.elapsed() / 1000);
    if (m_outlets.previewImgeView)
        m_outlets.previewImgeView->setPictureAgeText(age);
}
