#pragma once

#include "analysis/Histogram.h"
#include "analysis/MeasureWorker.h"
#include "focus/FocusSweep.h"
#include "platform/FocusOverlay.h"
#include "platform/FocusPanel.h"
#include "platform/KeyMonitor.h"
#include "platform/NightTheme.h"
#include "platform/PreviewView.h"
#include "platform/ScheduledTimer.h"
#include "stream/CameraBufferDelegate.h"
#include "viewer/ViewAids.h"
#include "viewer/ViewerServices.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSizeF>
#include <QSlider>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class QDateTime;

// The controls the window's layout owns and hands to the controller. The
// controller never owns them; a control that goes away reads as null.
struct ViewOutlets {
    QPointer<QWidget> view; // the controller's own view: the window's central widget
    QPointer<QWidget> menuView;
    QPointer<platform::PreviewView> previewImgeView;
    QPointer<QLabel> fpsLab;
    QPointer<QPushButton> whiteBalanceBtn;
    QPointer<QSlider> whiteBalanceSlider;
    QPointer<QPushButton> exposureBtn;
    QPointer<QSlider> exposureSlider;
    QPointer<QComboBox> resolutionPopBtn;
    QPointer<QPushButton> currentModeBtn;
    QPointer<QPushButton> statusBtn;
    QPointer<QPushButton> photoBtn;
    QPointer<QLabel> timeLab;
    QPointer<QLabel> tipsLab;
    QPointer<QPushButton> openFileBtn;
    AidOutlets aids;
    QPointer<platform::FocusPanel> focusPanel; // shown and hidden by focus assist
    QPointer<QPushButton> focusAssistBtn;      // checked while the panel shows
};

// The viewer's controller: all user-interface state of the program and the
// actions behind the window's controls. It is the stream client's delegate
// for its whole life. Main thread only.
//
// The class is one object, its sources split by concern; each group of
// members below names the file that owns it.
class ViewController : public QObject, public CameraBufferDelegate
{
    Q_OBJECT
public:
    // The answer of the frame capture step: whether the frame handler goes
    // on to track the frame's size.
    enum class FrameStep { Continue, Stop };

    ViewController(ViewOutlets outlets, ViewerServices services, QObject *parent = nullptr);
    ~ViewController() override;

    // MARK: - ViewController.cpp: state and start-up
    void viewDidLoad();
    const ViewOutlets &outlets() const { return m_outlets; }
    qint64 cameraStyleType() const { return m_cameraStyleType; }
    QSizeF photoSize() const { return m_photoSize; }
    bool isSnapshot() const { return m_isSnapshot; }
    bool isVideo() const { return m_isVideo; }
    bool isDisconnect() const { return m_isDisconnect; }
    bool isTimeLapseGetImg() const { return m_isTimeLapseGetImg; }
    int recordTime() const { return m_recordTime; }
    QString filePathStr() const { return m_filePathStr; }

    // MARK: - ViewController_SaveLocation.cpp: save folder and capture file names
    // Loads the stored save folder into filePathStr and shows it on
    // openFileBtn. With none stored, the "Tips" prompt for one comes
    // kSaveFolderPromptDelay later; its "OK" opens the folder chooser.
    void getFilePath();
    // Asks for a folder; its subfolder named after the application becomes
    // the save folder at once: created, shown on openFileBtn, and stored only
    // when it exists afterwards. A cancel changes nothing. One chooser at a
    // time: a call while the chooser is open does nothing.
    void selectSavePath();
    void clickChooseSaveLocation(QObject *sender); // sender ignored, may be null
    // Opens the save folder, then shows it in a file-manager window. With no
    // save folder set it offers the folder chooser instead.
    void clickOpenFileBtn(QObject *sender); // sender ignored, may be null
    // The file for a capture starting now in the current capture mode:
    // "<save folder>/<timestamp>.jpg" in photo mode, ".mp4" in every other.
    // Nothing while no save folder is set: the capture must be skipped.
    std::optional<QString> getWritePath() const;
    // FAT, exFAT and NTFS volumes refuse ':' in names; captures there are
    // named with '-' in its place.
    enum class CaptureNames { WithColons = 1, WithoutColons };
    // The same for a given moment and mode, for callers that fix the time.
    static std::optional<QString> capturePath(const QString &folder, const QDateTime &localTime,
                                              qint64 cameraStyleType,
                                              CaptureNames names = CaptureNames::WithColons);
    // "yyyy-MM-dd-HH:mm:ss.zzz" of the local time: always 23 characters for
    // the years 0001 to 9999.
    static QString captureTimestamp(const QDateTime &localTime);
    // How captures in folder are named, by its volume's file-system type.
    CaptureNames captureNamesFor(const QString &folder) const;
    static constexpr std::chrono::milliseconds kSaveFolderPromptDelay{1000};

    // MARK: - ViewController_Frames.cpp: what is done with each frame
    // A frame at its own size (photos and recordings take it as it is).
    void cameraBufferImage(const QImage &image) override;
    // The frame's own size while a photo is asked for or a recording takes
    // the next frame; otherwise the size the preview shows it at.
    QSize frameDecodeSize(QSize frameSize) override;
    // The frame handler; image may be smaller than frameSize, the frame's
    // own size, which the size tracking and the capture step go by.
    void cameraBufferFrame(const QImage &image, QSize frameSize) override;
    // Whether the next frame is read at full size: a photo is asked for, a
    // video records, or a time-lapse samples it.
    bool needsFullFrame() const;
    // Also, once a second: while the transfer is open and no frame has come
    // for more than kPictureAgeShownAfter, the picture says how old it is.
    void cameraFPS(qint64 framesInLastSecond) override;
    static constexpr std::chrono::milliseconds kPictureAgeShownAfter{2000};
    // The histogram and the clipped share follow the picture ten times a
    // second, as many as the eye reads; a faster stream skips its frames.
    static constexpr std::chrono::milliseconds kMeasureInterval{100};

    // MARK: - ViewController_Connection.cpp: connection status
    // The network check: on another network, the status button goes off and
    // the connection prompt shows. It neither stops nor starts the stream.
    void connectTips();
    // The status button's action (sender: the button): the network check,
    // then stop or restart the stream by the button's state.
    void clickStatusBtn(QObject *sender);
    // The end of a transfer. The end of one that a restart has already
    // replaced leaves the running stream alone.
    void disconnection() override;
    // Ends the running recording, as a second press of the capture button.
    void timeoutStop();
    void selectPosition();

    // MARK: - ViewController_Notices.cpp: the notice label
    // Shows text at full opacity for kNoticeVisible, then fades it out.
    void showTipsLabWithTipsStr(const QString &tipsStr);
    void hiddenTipsLab();
    static constexpr std::chrono::milliseconds kNoticeVisible{2000};
    static constexpr std::chrono::milliseconds kNoticeFadeOut{500};
    static constexpr std::chrono::milliseconds kNoticeFadeIn{250};
    platform::ScheduledTimer *tipsLabTimer() const { return m_tipsLabTimer.get(); } // may be null

    // MARK: - ViewController_Capture.cpp: capture modes
    // The values of cameraStyleType.
    static constexpr qint64 kPhotoMode = 0;
    static constexpr qint64 kVideoMode = 1;
    static constexpr qint64 kTimeLapseMode = 2;
    static constexpr qint64 kDenoisingMode = 3;
    static constexpr int kRecordingLimitSeconds = 3600;
    static constexpr std::chrono::milliseconds kRecordingClockInterval{1000};
    static constexpr std::chrono::milliseconds kTimeLapseInterval{625};
    // A mode button's action: it swaps title and tag with currentModeBtn, and
    // its tag becomes the mode. Refused with "Recording..." while recording.
    void clickModeBtn(QPushButton *sender);
    // The capture button's action; sender is the button, or null when the
    // controller ends a recording itself. Photo mode: the next frame is saved.
    // Video and time-lapse mode: starts or stops a recording, which starts
    // only with a frame size to record at and a save folder to write to.
    void clickPhotoBtn(QObject *sender);
    void switchTimer(bool on); // the recording clock; off shows "00:00", hidden
    // A tick of the recording clock; the tick after kRecordingLimitSeconds
    // ends the recording.
    void updateProgress();
    void setTimeLapsePhotographyTimer(); // sampling on while recording, else off
    void setIsTimeLapseGetImg();         // the sampling timer's action
    // Opens the video writer at path, sized photoSize, at recordingFps. True
    // when the file was created; the answer is known before this returns.
    bool startRecordingWithFileUrl(const QString &path);
    // Finishes the running recording's file, later and off the main thread.
    // A failure, once known, is shown as an alert naming the file.
    void stopRecording();
    // Writes image to fileName whole or not at all: JPEG at the highest
    // quality when the name ends in ".jpg", PNG otherwise. True when written.
    static bool saveImage(const QImage &image, const QString &fileName);
    static int recordingFps(qint64 cameraStyleType, QSizeF photoSize);
    void setRecordTime(int seconds) { m_recordTime = seconds; }
    // Null while no recording runs (the sampling timer: no time-lapse one).
    platform::ScheduledTimer *timer() const { return m_timer.get(); }
    platform::ScheduledTimer *timeLapseGetImgTimer() const { return m_timeLapseGetImgTimer.get(); }

    // MARK: - ViewController_DiskGuard.cpp: room on the save folder's volume
    // Free space a capture never eats into: below it nothing starts, and a
    // recording is finished before it is reached.
    static constexpr qint64 kDiskMarginBytes = 256LL * 1024 * 1024;
    // The recording's time left shows next to the clock below this.
    static constexpr int kTimeLeftShownBelowSeconds = 5 * 60;
    // A recording is finished once no more than this much of it fits above
    // the margin: the clock looks once a second, and finishing writes a little.
    static constexpr int kDiskStopAheadSeconds = 5;
    // True when the save folder's volume has more than the margin free, or
    // cannot tell; otherwise shows why nothing is captured.
    bool hasRoomForCapture();

    // MARK: - ViewController_Controls.cpp: camera settings
    // Actions of the window's controls, each given the control that sent it.
    // Buttons are read after their click has flipped them; sliders after
    // the user's move has set their value.
    void clickWhiteBalanceBtn(QPushButton *sender);
    void sliderWhiteBalance(QSlider *sender);
    void clickExposureBtn(QPushButton *sender);
    void sliderExposure(QSlider *sender);
    void clickResolutionPopBtn(QComboBox *sender);
    // Switches the box's autofocus off.
    void setManualFocus();
    // Off: title "Auto" and the slider at its minimum, sending nothing.
    // On: title "Manual".
    void setParameterStateWithBtn(QPushButton *btn, QSlider *slider);
    // Sends one control command for a parameter string, "<id>&group=1&value=<v>".
    void setParameterWithUrl(const QString &parameter);

    // MARK: - ViewController_Shortcuts.cpp: focus keys and buttons
    // The key handler: autofocus off, then a focus step near (Left) or far
    // (Right); other keys send only the autofocus-off command.
    void keyDown(const QKeyEvent &event);
    // Focus buttons: a step of two values, the second 0.1 s after the first.
    void clickLeftBtn();
    void clickRightBtn();
    void mouseClickFocusWithValue(const QString &value);

    // MARK: - ViewController_Aids.cpp: viewing aids and capture keys
    // Switches an aid: its button, what the window shows, its stored setting.
    void setAid(Aid aid, bool on);
    bool isAidOn(Aid aid) const { return m_aidOn[int(aid) - 1]; }
    // The keys beside the focus keys: capture (Space), capture modes (1, 2,
    // 3), each aid's key, and Esc out of full screen. Held keys do not repeat,
    // and no key is taken while a dialog, a menu or a text field has the keys.
    // True when the key was taken.
    bool viewKeyDown(const QKeyEvent &event);

    // MARK: - ViewController_Focus.cpp: focus assist
    // The score of the region on each frame (off the main thread), its graph
    // and best, the region and loupe over the picture, and the focus sweep.
    void setupFocusAssist();
    void toggleFocusPanel();  // F, or the focus assist button
    void toggleFocusRegion(); // R, or the panel's region button
    void cycleLoupe();        // L: off, 1:1, 2x, 4x
    void resetFocusScore();
    // "Find focus": starts the sweep over the panel's range, or stops a
    // running one. Refused, with a notice, while recording or without a
    // picture.
    void clickFindFocus();
    // Esc, an arrow key, a focus button, the end of the stream or a recording
    // starting: the motor stays where it is.
    void cancelFocusSweep();
    focus::FocusSweep &focusSweep() { return m_focusSweep; }
    platform::FocusOverlay &focusOverlay() { return m_focusOverlay; }
    bool isFocusAssistOn() const;
    // The scores of the last kFocusGraphSpan: x in seconds, y the score.
    const QList<QPointF> &focusHistory() const { return m_focusHistory; }
    double bestFocusScore() const { return m_bestFocusScore; }
    static constexpr double kFocusGraphSpan = 30.0;
    static inline const QString kFocusRegionKey = QStringLiteral("focus/region");
    static inline const QString kFocusStepsKey = QStringLiteral("focus/sweepSteps");

private:
    // MARK: - ViewController_Focus.cpp
    void focusFrame(const QImage &image);
    void focusReading(double score, quint64 frameNumber);
    void showFocusSweep();
    void showFocusRegionState();
    focus::FocusSweep m_focusSweep;
    platform::FocusOverlay m_focusOverlay;
    std::unique_ptr<analysis::MeasureWorker> m_focusWorker; // made by setupFocusAssist
    quint64 m_focusFrameNumber = 0;
    QElapsedTimer m_focusClock;
    QList<QPointF> m_focusHistory;
    double m_bestFocusScore = 0;
    bool m_focusRegionShown = true;

    // MARK: - ViewController_FrameCapture.cpp
    FrameStep frameCaptureStep(const QImage &image, QSize frameSize);

    // MARK: - ViewController_Frames.cpp
    void showPictureAge();
    QElapsedTimer m_sinceFrame; // since the last frame; invalid once the stream has ended

    ViewOutlets m_outlets;
    ViewerServices m_services;

    // MARK: - ViewController_Capture.cpp
    void setPhotoBtnImage(const QString &name);
    void startCapture();
    void stopCapture();
    void recordingDidNotComplete(const QString &message);
    void recordingFailed();
    QString m_recordingPath; // the file of the running recording
    std::unique_ptr<platform::ScheduledTimer> m_timeLapseGetImgTimer;
    bool m_isTimeLapseGetImg = false;
    qint64 m_cameraStyleType = 0; // 0 photo, 1 video, 2 time-lapse, 3 denoising
    QSizeF m_photoSize{0, 0};     // size of the frames now arriving
    std::unique_ptr<platform::ScheduledTimer> m_timer; // the recording clock
    int m_recordTime = 0;
    bool m_isSnapshot = false;
    bool m_isVideo = false;

    // MARK: - ViewController_Connection.cpp, ViewController_Notices.cpp
    bool m_isDisconnect = false;
    std::unique_ptr<platform::ScheduledTimer> m_tipsLabTimer;
    QPointer<QPropertyAnimation> m_tipsLabAnimation; // on the label's opacity effect

    // MARK: - ViewController_DiskGuard.cpp
    // At a tick of the recording clock: the clock's text, with the time left
    // when it is short. Finishes the recording when the disk is nearly full
    // (and then returns nothing).
    std::optional<QString> checkDiskWhileRecording(const QString &clock);

    // MARK: - ViewController_SaveLocation.cpp
    void showSaveFolder();
    QString m_filePathStr;             // the save folder; null while none is set
    bool m_isChoosingSavePath = false; // the folder chooser is open

    // MARK: - ViewController_Shortcuts.cpp
    void installKeyMonitor();
    std::unique_ptr<platform::KeyMonitor> m_keyMonitor; // installed by viewDidLoad, kept

    // MARK: - ViewController_Aids.cpp
    void loadAids();
    void applyAid(Aid aid);
    void measureFrame(const QImage &image, bool atOnce = false);
    void showMeasures(const analysis::Histogram &histogram, const QImage &clipMask);
    bool keysAreFree(const QKeyEvent &event) const;
    std::array<bool, kAidCount> m_aidOn{};
    platform::NightTheme m_nightTheme;
    std::unique_ptr<analysis::MeasureWorker> m_histogramWorker; // made when first needed
    QElapsedTimer m_sinceMeasure; // since a frame last went to m_histogramWorker
};
