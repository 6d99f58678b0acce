#include "viewer/UserTexts.h"

#include <QCoreApplication>

namespace usertexts
{
namespace
{
QString text(const char *source)
{
    return QCoreApplication::translate("UserTexts", source);
}
} // namespace

QString tipsTitle()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Tips"));
}

QString ok()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "OK"));
}

QString connectToBoxNetwork()
{
    return text(QT_TRANSLATE_NOOP(
        "UserTexts", "Currently connect to WiFi: %1.\nPlease connect to WiFi: Orbilens."));
}

QString automatic()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Auto"));
}

QString manual()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Manual"));
}

QString savedSuccessfully()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Saved successfully"));
}

QString photoNotSaved()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "The photo could not be saved."));
}

QString resolutionChangedVideoSaved()
{
    return text(
        QT_TRANSLATE_NOOP("UserTexts", "The resolution has changed and the video has been saved."));
}

QString saveFolderPrompt()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Please select the file save location."));
}

QString chooseSaveLocation()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Choose save location"));
}
QString recording()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Recording..."));
}

QString disconnected()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Disconnected. Please reconnect."));
}

QString noPictureYet()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "No picture to record yet."));
}

QString recordingCouldNotStart()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "The recording could not start."));
}

QString recordingNotCompleted()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "The recording could not be saved completely:\n%1"));
}

QString recordingCutShort()
{
    return text(QT_TRANSLATE_NOOP("UserTexts",
                                  "The recording could not be saved completely (%1):\n%2\nIt "
                                  "plays up to the moment writing failed."));
}

QString folderRemovedKept()
{
    return text(QT_TRANSLATE_NOOP("UserTexts",
                                  "The save folder was removed during the recording. What was "
                                  "recorded until then was saved again at:\n%1"));
}

QString folderRemovedLost()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "The save folder was removed during the recording, "
                                               "and the recording could not be kept:\n%1"));
}

QString diskFullKept()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "The disk is full, so the recording stopped. It "
                                               "plays up to the moment the disk filled:\n%1"));
}

QString diskFullLost()
{
    return text(QT_TRANSLATE_NOOP("UserTexts",
                                  "The disk is full, and the recording could not be kept:\n%1"));
}

QString recordingWriteFailed()
{
    return text(
        QT_TRANSLATE_NOOP("UserTexts", "The recording stopped: its file could not be written."));
}

QString notEnoughSpace()
{
    return text(QT_TRANSLATE_NOOP(
        "UserTexts", "Not enough free space in the save folder: at least 256 MB must stay free."));
}

QString diskAlmostFull()
{
    return text(QT_TRANSLATE_NOOP("UserTexts",
                                  "The disk is almost full: the recording was stopped and saved."));
}

QString pictureAge()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "No new picture for %1 s"));
}

QString focusSweepStoppedByRecording()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Focus sweep stopped: recording"));
}

QString noFocusSweepWhileRecording()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "No focus sweep while recording"));
}

QString noFocusSweepWithoutPicture()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "No focus sweep without a picture"));
}

QString clippedShare()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Clipped: %1%"));
}

QString loupeOff()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Loupe off"));
}

QString loupeOneToOne()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Loupe 1:1"));
}

QString loupeZoom()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Loupe %1x"));
}

QString stopSweep()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Stop"));
}

QString findFocus()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Find focus"));
}

QString sweepRewinding()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Moving to the start of the range…"));
}

QString sweepMeasuring()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Measuring step %1 of %2"));
}

QString sweepReturning()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Returning to step %1"));
}

QString sweepFound()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Focused at step %1 of %2"));
}

QString sweepCancelled()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Sweep stopped; the focus stays here"));
}

QString sweepFailed()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "The camera did not take a focus step"));
}

} // namespace usertexts
