#pragma once

// The x264 preset, tuning and quality for a recording's frame size, chosen
// so that every resolution of the camera box records at its frame rate
// without dropping frames on a two-core machine that also decodes and shows
// the stream.
struct EncoderPreset {
    const char *preset;
    const char *tune;
    // x264's constant rate factor; 0 keeps x264's own default (23).
    int crf = 0;

    static EncoderPreset forFrameSize(int width, int height);
};
