#include "viewer/UserTexts.h"
#include "viewer/ViewController.h"

#include "capture/ImageWritingVideoTool.h"
#include "platform/Controls.h"
#include "platform/ImageAssets.h"
#include "platform/Log.h"
#include "platform/LogCategories.h"
#include "platform/MainQueue.h"
#include "platform/ThreadRules.h"
#include "viewer/Tool.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

// The capture modes: the mode buttons, the capture button, the recording
// clock, the time-lapse sampling timer, and starting and finishing the video
// writer. Frames reach photos and recordings in ViewController_FrameCapture.cpp.

namespace
{

const QString kShootImage = QStringLiteral("icon_camera_shoot_White");
const QString kVideoImage = QStringLiteral("icon_camera_video_Default_White");
const QString kVideoRecordingImage = QStringLiteral("icon_camera_video_Select_White");
const QString kTimeLapseImage = QStringLiteral("WiFiCamera_Delay_Default_White");
const QString kTimeLapseRecordingImage = QStringLiteral("WiFiCamera_Delay_Select_White");
const QString kDenoisingImage = QStringLiteral("WiFiCamera_Denoising_White");

// The capture button's picture for a mode while no recording runs; empty for
// a value that is no mode.
QString idleImage(qint64 cameraStyleType)
{
    switch (cameraStyleType) {
    case ViewController::kPhotoMode:
        return kShootImage;
    case ViewController::kVideoMode:
        return kVideoImage;
    case ViewController::kTimeLapseMode:
        return kTimeLapseImage;
    case ViewController::kDenoisingMode:
        return kDenoisingImage;
    default:
        return {};
    }
}

// What the user learns of how a recording ended; empty when its file is
// complete and there is nothing to say.
QString notCompletedText(const ImageWritingVideoTool::FinishReport &report)
{
    switch (report.outcome) {
    case RecordingOutcome::Completed:
        return {};
    case RecordingOutcome::CutShort:
        return usertexts::recordingCutShort().arg(report.detail, report.keptPath);
    case RecordingOutcome::NoSpace:
        return report.keptPath.isEmpty() ? usertexts::diskFullLost().arg(report.path)
                                         : usertexts::diskFullKept().arg(report.keptPath);
    case RecordingOutcome::FolderRemovedRestored:
        return usertexts::folderRemovedKept().arg(report.keptPath);
    case RecordingOutcome::FolderRemovedLost:
        return usertexts::folderRemovedLost().arg(report.path);
    case RecordingOutcome::NothingKept:
        return usertexts::recordingNotCompleted().arg(report.path);
    }
    // No such outcome; said as plainly as possible.
    return usertexts::recordingNotCompleted().arg(report.path);
}

QString clockText(int seconds)
{
    // Minutes are not wrapped: the last second of the hour reads "60:00".
    return QString::asprintf("%02d:%02d", seconds / 60, seconds % 60);
}
} // namespace

void ViewController::clickModeBtn(QPushButton *sender)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (m_timer) {
        showTipsLabWithTipsStr(usertexts::recording());
        return;
    }
    QPushButton *current = m_outlets.currentModeBtn;
    if (!sender || !current || sender->text() == current->text())
        return;

    const QString title = sender->text();
    const int tag = platform::controls::tag(sender);
    sender->setText(current->text());
    platform::controls::setTag(sender, platform::controls::tag(current));
    current->setText(title);
    platform::controls::setTag(current, tag);
    m_cameraStyleType = tag;

    if (const QString image = idleImage(m_cameraStyleType); !image.isEmpty())
        setPhotoBtnImage(image);
}

void ViewController::clickPhotoBtn(QObject *)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    // The prompt for a folder comes a second later; the press goes on.
    if (m_filePathStr.isNull())
        getFilePath();
    if (m_isDisconnect) {
        Tool::tipsAlertWithTips(m_services.alerts, usertexts::disconnected(), [](int) {});
        return;
    }

    switch (m_cameraStyleType) {
    case kVideoMode:
    case kTimeLapseMode:
        if (m_isVideo)
            stopCapture();
        else
            startCapture();
        break;
    case kDenoisingMode:
        setPhotoBtnImage(kDenoisingImage);
        break;
    case kPhotoMode:
        // The next frame is saved (ViewController_FrameCapture.cpp).
        if (hasRoomForCapture())
            m_isSnapshot = true;
        break;
    default:
        break;
    }
}

void ViewController::startCapture()
{
    // Before the first frame there is no size to record at.
    if (m_photoSize.width() < 1 || m_photoSize.height() < 1) {
        showTipsLabWithTipsStr(usertexts::noPictureYet());
        return;
    }
    // No save folder: nothing starts; the prompt for one is on its way.
    const std::optional<QString> path = getWritePath();
    if (!path || !hasRoomForCapture())
        return;
    // The writer first: a recording that cannot be written never shows as
    // running.
    if (!startRecordingWithFileUrl(*path)) {
        showTipsLabWithTipsStr(usertexts::recordingCouldNotStart());
        return;
    }

    m_isVideo = true;
    setPhotoBtnImage(m_cameraStyleType == kVideoMode ? kVideoRecordingImage
                                                     : kTimeLapseRecordingImage);
    switchTimer(true);
    if (m_cameraStyleType == kTimeLapseMode)
        setTimeLapsePhotographyTimer();
}

void ViewController::stopCapture()
{
    m_isVideo = false;
    setPhotoBtnImage(m_cameraStyleType == kVideoMode ? kVideoImage : kTimeLapseImage);
    switchTimer(false);
    if (m_cameraStyleType == kTimeLapseMode)
        setTimeLapsePhotographyTimer();
    // At once, before the file is complete: finishing takes a moment, and a
    // failure is reported on its own once it is known.
    showTipsLabWithTipsStr(usertexts::savedSuccessfully());
    stopRecording();
}

void ViewController::switchTimer(bool on)
{
    if (!on) {
        if (m_outlets.timeLab) {
            m_outlets.timeLab->setText(clockText(0));
            m_outlets.timeLab->setVisible(false);
        }
        if (m_timer)
            m_timer->invalidate();
        m_recordTime = 0;
        m_timer.reset();
        return;
    }
    if (m_timer)
        return;
    m_timer = platform::ScheduledTimer::scheduled(kRecordingClockInterval,
                                                  platform::ScheduledTimer::Repeat::Forever,
                                                  [this] { updateProgress(); });
    if (m_outlets.timeLab)
        m_outlets.timeLab->setVisible(true);
}

void ViewController::updateProgress()
{
    if (m_recordTime < kRecordingLimitSeconds) {
        ++m_recordTime;
        const std::optional<QString> text = checkDiskWhileRecording(clockText(m_recordTime));
        if (text && m_outlets.timeLab)
            m_outlets.timeLab->setText(*text);
        return;
    }
    // The tick after the hour was reached.
    timeoutStop();
}

void ViewController::setTimeLapsePhotographyTimer()
{
    if (m_isVideo) {
        // The first frame after the start goes in at once.
        m_isTimeLapseGetImg = true;
        m_timeLapseGetImgTimer = platform::ScheduledTimer::scheduled(
            kTimeLapseInterval, platform::ScheduledTimer::Repeat::Forever,
            [this] { setIsTimeLapseGetImg(); });
        return;
    }
    if (m_timeLapseGetImgTimer && m_timeLapseGetImgTimer->isValid()) {
        m_timeLapseGetImgTimer->invalidate();
        m_timeLapseGetImgTimer.reset();
    }
}

void ViewController::setIsTimeLapseGetImg()
{
    m_isTimeLapseGetImg = true;
}

int ViewController::recordingFps(qint64 cameraStyleType, QSizeF photoSize)
{
    // Time-lapse plays its samples at 24 frames per second. Video records at
    // what the box delivers at each size.
    if (cameraStyleType != kVideoMode)
        return 24;
    const double w = photoSize.width();
    const double h = photoSize.height();
    if (w <= 1920 && h <= 1080)
        return 20;
    if (w <= 2592 && h <= 1944)
        return 10;
    if (w <= 3840 && h <= 3104)
        return 8;
    return 24;
}

bool ViewController::startRecordingWithFileUrl(const QString &path)
{
    bool created = false;
    // The writer answers before writePath returns, on this thread.
    ImageWritingVideoTool::shareInstance().writePath(
        path, m_photoSize, recordingFps(m_cameraStyleType, m_photoSize), [&created](bool ok) {
            created = ok;
            platform::log(ok ? QStringLiteral("成功") : QStringLiteral("失败"));
        });
    if (created)
        m_recordingPath = path;
    return created;
}

void ViewController::stopRecording()
{
    // The completion runs on the recording's worker thread. It carries its own
    // file's report, and reaches the controller only through the main thread,
    // where a controller gone by then is seen as gone. It never touches the
    // recording state: a recording started meanwhile is not its business.
    const QPointer<ViewController> self(this);
    ImageWritingVideoTool::shareInstance().writeCompleteWithReport(
        [self](const ImageWritingVideoTool::FinishReport &report) {
            if (report.outcome == RecordingOutcome::Completed) {
                platform::log(QStringLiteral("stopRecording1"));
                return;
            }
            platform::log(QStringLiteral("stopRecording0"));
            QCoreApplication *app = QCoreApplication::instance();
            if (!app)
                return; // the application is gone; so is anyone to tell
            platform::mainqueue::post(app, [self, message = notCompletedText(report)] {
                if (self)
                    self->recordingDidNotComplete(message);
            });
        });
    m_recordingPath.clear();
}

void ViewController::recordingDidNotComplete(const QString &message)
{
    // An alert rather than a notice: the file may have failed long after its
    // "Saved successfully", and a two-second notice is easily missed.
    Tool::tipsAlertWithTips(m_services.alerts, message, [](int) {});
}

void ViewController::recordingFailed()
{
    // The writer takes no more frames for good (a full disk, a removed
    // folder): recording on would only look like recording. The finish
    // tells what became of the file.
    platform::log(QStringLiteral("视频写入失败"));
    timeoutStop();
    showTipsLabWithTipsStr(usertexts::recordingWriteFailed());
}

bool ViewController::saveImage(const QImage &image, const QString &fileName)
{
    const bool jpeg = QFileInfo(fileName).suffix() == QLatin1String("jpg");
    // QSaveFile writes beside the target and renames on commit: the photo
    // appears whole or not at all.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcViewer).noquote() << "photo" << fileName << "not saved:" << file.errorString();
        return false;
    }
    QImageWriter writer(&file, jpeg ? QByteArrayLiteral("jpeg") : QByteArrayLiteral("png"));
    // PNG keeps its default compression: quality 100 would mean none at all.
    if (jpeg)
        writer.setQuality(100);
    if (!writer.write(image)) {
        qCWarning(lcViewer).noquote()
            << "photo" << fileName << "not saved:" << writer.errorString() << file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCWarning(lcViewer).noquote() << "photo" << fileName << "not saved:" << file.errorString();
        return false;
    }
    return true;
}

void ViewController::setPhotoBtnImage(const QString &name)
{
    if (m_outlets.photoBtn)
        m_outlets.photoBtn->setIcon(platform::assets::icon(name));
}
