#include "viewer/ViewController.h"

#include "capture/ImageWritingVideoTool.h"
#include "platform/Log.h"
#include "viewer/UserTexts.h"

#include <QDateTime>

// The frame handler's capture step: a due photo, the running recording, and
// the end of a recording whose frames changed size. Frames that are saved or
// written come at full size (frameDecodeSize); the others may be smaller and
// are judged by frameSize, their own size.

namespace
{
void logFrameWritten(bool accepted)
{
    platform::log(accepted ? QStringLiteral("视频写入") : QStringLiteral("视频写入失败"));
}
} // namespace

ViewController::FrameStep ViewController::frameCaptureStep(const QImage &image, QSize frameSize)
{
    if (m_isSnapshot) {
        // Cleared first: one press saves one frame, whatever the outcome.
        m_isSnapshot = false;
        // Named and encoded as the photo it was asked for, a ".jpg", even if
        // the mode changed between the press and this frame.
        const std::optional<QString> path = capturePath(m_filePathStr, QDateTime::currentDateTime(),
                                                        kPhotoMode, captureNamesFor(m_filePathStr));
        // Without a folder the prompt for one says enough.
        if (!path)
            return FrameStep::Continue;
        if (saveImage(image, *path))
            showTipsLabWithTipsStr(usertexts::savedSuccessfully());
        else
            showTipsLabWithTipsStr(usertexts::photoNotSaved());
        return FrameStep::Continue;
    }

    if (!m_isVideo)
        return FrameStep::Continue;
    if (ImageWritingVideoTool::shareInstance().hasFailed()) {
        recordingFailed();
        return FrameStep::Continue;
    }

    // photoSize is the recording's size while it runs: a frame of another
    // size ends it, and only the next frame, outside the recording, moves
    // photoSize on.
    if (frameSize.width() != m_photoSize.width() || frameSize.height() != m_photoSize.height()) {
        platform::log(QStringLiteral("录制分辨率发生改变，已保存录制"));
        timeoutStop();
        // After the stop's own "Saved successfully", so that the reason is the
        // notice left on screen.
        showTipsLabWithTipsStr(usertexts::resolutionChangedVideoSaved());
        return FrameStep::Stop;
    }
    if (m_cameraStyleType == kTimeLapseMode && !m_isTimeLapseGetImg)
        return FrameStep::Stop;

    m_isTimeLapseGetImg = false;
    ImageWritingVideoTool::shareInstance().writeImage(image, logFrameWritten);
    return FrameStep::Continue;
}
