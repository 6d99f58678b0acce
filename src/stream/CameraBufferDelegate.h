#pragma once

#include <QImage>
#include <QSize>
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

    // Asked once per complete frame, just before it is decoded, with the
    // frame's own size from its JPEG header: the smallest size it may be
    // decoded at. The stream client decodes at the smallest of the decoder's
    // reduced scales that still gives at least that size, or at full size.
    // Whoever reads the frame's full pixels answers frameSize, as the
    // default does.
    virtual QSize frameDecodeSize(QSize frameSize) { return frameSize; }

    // The frame as decoded for the answer of frameDecodeSize, with its own
    // size from the header (the size image has when decoded at full size).
    // Called in place of cameraBufferImage, to which the default hands the
    // frame on.
    virtual void cameraBufferFrame(const QImage &image, QSize frameSize)
    {
        Q_UNUSED(frameSize);
        cameraBufferImage(image);
    }

    // A stream transfer has ended, for whatever reason, including a stop or
    // a restart. Once per transfer.
    virtual void disconnection() = 0;
};
