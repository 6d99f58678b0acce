#include "capture/EncoderPreset.h"

// zerolatency everywhere: no B-frames and no lookahead, so every frame leaves
// the encoder as soon as it is in, a fragment holds what was recorded up to
// its cut (a time-lapse frame comes only every 0.625 s), and a 3840 x 2160
// recording keeps no queue of frames inside x264. Sliced threads use both
// cores for one frame.
//
// The presets are the fastest that still keep the small sizes sharp. The
// costly recordings are 1920 x 1080 at 20 fps (41 Mpx/s) and the large
// sizes at 8 or 10 fps (32 to 66 Mpx/s): they get ultrafast, which encodes
// them at about two thirds of superfast's CPU.
EncoderPreset EncoderPreset::forFrameSize(int width, int height)
{
    const long long pixels = static_cast<long long>(width) * height;
    if (pixels <= 1280LL * 720)
        return {"veryfast", "zerolatency"};
    if (pixels <= 1600LL * 1200)
        return {"superfast", "zerolatency"};
    return {"ultrafast", "zerolatency"};
}
