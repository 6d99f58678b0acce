#pragma once

// The x264 preset and tuning for a recording's frame size, chosen so that
// every resolution of the camera box records at its frame rate without
// dropping frames on a two-core machine that also decodes and shows the
// stream.
struct EncoderPreset {
    const char *preset;
    const char *tune;

    static EncoderPreset forFrameSize(int width, int height);
};
