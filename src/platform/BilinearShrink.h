#pragma once

#include <QImage>
#include <QSize>

namespace platform
{

// source (Format_RGB32) scaled to size with bilinear filtering, each pixel
// centre sampled where it falls on the source, as QPainter's smooth image
// transform does: the same picture within two levels per channel (the two
// directions are mixed in the other order), made on the calling thread. Meant for shrinking at most
// twice; beyond that a filter that averages every pixel is needed. into is reused when it has the
// size and format and nobody else holds it.
QImage bilinearShrink(const QImage &source, QSize size, QImage into = {});

// A picture as JPEG keeps it before its colour conversion: luma and the two
// chroma planes (full range, 128 for no colour). Each sample of a plane spans
// factor pixels of the picture, centred on them (2 x 2 for 4:2:0 chroma);
// a plane may hold more samples than the picture needs (libjpeg-turbo pads
// them to a whole number of chroma samples).
struct YcbcrPlanes {
    QSize picture; // in pixels
    const unsigned char *data[3] = {};
    int stride[3] = {};
    QSize size[3];   // in samples
    QSize factor[3]; // pixels per sample
};

// planes scaled to size and turned into RGB32 in one pass: each plane
// sampled bilinearly at the destination's pixel centres (as bilinearShrink
// does), then converted with JPEG's YCbCr matrix. The same picture as the
// planes converted at their size and then shrunk, within a few levels where
// chroma changes sharply. Meant for shrinking at most twice. into is reused
// as by bilinearShrink.
QImage bilinearShrinkYcbcr(const YcbcrPlanes &planes, QSize size, QImage into = {});

} // namespace platform
