#pragma once

#include "capture/PixelBuffer.h"

#include <QImage>
#include <QSizeF>

#include <memory>

// Turns a frame into a new pixel buffer of the given size, in the layout of
// PixelBuffer (ARGB, premultiplied, rows top to bottom).
//
// The sides are truncated toward zero (1280.9 x 720.9 gives 1280 x 720). The
// frame is not scaled: it is placed with its bottom-left corner on the
// buffer's bottom-left corner, so a smaller frame covers the bottom-left part
// and a larger one loses its right-hand columns and its top rows. Whatever
// the frame does not cover is opaque black. A null frame leaves the whole
// buffer black.
//
// Returns null when the buffer cannot be made (a side below 1 or above
// PixelBuffer::kMaxSide, or no memory). Pure and reentrant: any thread.
std::unique_ptr<PixelBuffer> pixelBufferRefWithSize(const QImage &image, QSizeF size);

// The same drawing into an existing buffer, whose size stands for the given
// size. Lets a recording reuse the memory of frames already encoded.
void drawFrameIntoPixelBuffer(const QImage &image, PixelBuffer &buffer);
