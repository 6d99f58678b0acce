#pragma once

#include "BoxControls.h"

#include <QByteArray>
#include <QImage>

// Draws the box's synthetic sky and encodes it as JPEG. Stars blur as the
// focus leaves its best position, exposure scales the brightness and a manual
// white balance tints the picture; the air's seeing blurs it a little more
// from frame to frame. A satellite crosses the field and the
// frame number is printed in a corner, so a viewer can see the picture is
// live. The still part of the sky is redrawn only when a control changes.
class SkyRenderer
{
public:
    SkyRenderer();
    ~SkyRenderer();
    SkyRenderer(const SkyRenderer &) = delete;
    SkyRenderer &operator=(const SkyRenderer &) = delete;

    // seeing: extra blur of this frame from the air, in pixels at 1280 wide.
    QByteArray frame(const BoxControls &controls, quint64 frameNumber, int quality = 85,
                     double seeing = 0);

private:
    void renderBase(const BoxControls &controls, double seeing);

    void *m_encoder = nullptr; // tjhandle
    QImage m_base;
    QImage m_work;
    struct Key {
        QSize size;
        int defocus = -1, exposure = -1, temperature = -1, seeing = -1;
        bool operator==(const Key &) const = default;
    } m_key;
    double m_blur = 0; // of the sky last drawn, in pixels
    unsigned char *m_jpegBuffer = nullptr;
    unsigned long m_jpegCapacity = 0;
};
