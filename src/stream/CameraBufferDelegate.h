#pragma once

#include <QImage>
#include <QtGlobal>

// The reports of the stream client. All three arrive on the main thread.
class CameraBufferDelegate
{
public:
    virtual ~CameraBufferDelegate() = default;

    // Frames completed in the last second; every second, also while no
    // stream runs (then 0).
    virtual void cameraFPS(qint64 framesInLastSecond) = 0;

    // One complete, decoded frame. The image owns its pixels; the receiver
    // may keep it. Called synchronously from the stream's data callback.
    virtual void cameraBufferImage(const QImage &image) = 0;

    // A stream transfer has ended, for whatever reason, including a stop or
    // a restart. Once per transfer.
    virtual void disconnection() = 0;
};
