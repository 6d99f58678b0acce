#include "viewer/UserTexts.h"
#include "viewer/ViewController.h"

#include "platform/Log.h"
#include "platform/Volumes.h"

#include <QFileInfo>

// The disk guard: no capture starts on a volume with less than the margin
// free, and a running recording is watched at every tick of its clock, its
// time left estimated from its file's growth and the free space.

namespace
{
} // namespace

bool ViewController::hasRoomForCapture()
{
    if (!m_services.volumes || m_filePathStr.isEmpty())
        return true;
    const std::optional<qint64> free = m_services.volumes->bytesAvailable(m_filePathStr);
    if (!free || *free >= kDiskMarginBytes)
        return true;
    platform::log(QStringLiteral("disk guard: %1 bytes free in %2").arg(*free).arg(m_filePathStr));
    showTipsLabWithTipsStr(usertexts::notEnoughSpace());
    return false;
}

std::optional<QString> ViewController::checkDiskWhileRecording(const QString &clock)
{
    if (!m_services.volumes || m_recordingPath.isEmpty() || m_recordTime < 1)
        return clock;
    const std::optional<qint64> free =
        m_services.volumes->bytesAvailable(QFileInfo(m_recordingPath).path());
    if (!free)
        return clock;
    // The file's mean growth per second of the clock so far: the stream's
    // rate changes little within a recording, and a mean is steadier than
    // the last second's fragments.
    const qint64 size = QFileInfo(m_recordingPath).size();
    const qint64 spare = *free - kDiskMarginBytes;
    if (spare * m_recordTime <= size * kDiskStopAheadSeconds) {
        platform::log(QStringLiteral("disk guard: %1 bytes free, recording stopped").arg(*free));
        timeoutStop();
        // After the stop's own "Saved successfully": the reason stays on screen.
        showTipsLabWithTipsStr(usertexts::diskAlmostFull());
        return std::nullopt;
    }
    if (size <= 0)
        return clock;
    const qint64 secondsLeft = spare * m_recordTime / size;
    if (secondsLeft >= kTimeLeftShownBelowSeconds)
        return clock;
    return clock +
           QString::asprintf(" \u00b7 %lld:%02lld left", secondsLeft / 60, secondsLeft % 60);
}
