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
// them at about three fifths of superfast's CPU. 3840 x 2160 also gives up
// a little quality (rate factor 26): with a noisy sky most of the encoder's
// time goes into coding the noise, and this takes a sixth to a quarter of it
// off.
EncoderPreset EncoderPreset::forFrameSize(int width, int height)
{
    const long long pixels = static_cast<long long>(width) * height;
    if (pixels <= 1280LL * 720)
        return {"veryfast", "zerolatency"};
    if (pixels <= 1600LL * 1200)
        return {"superfast", "zerolatency"};
    if (pixels <= 2688LL * 1944)
        return {"ultrafast", "zerolatency"};
    return {"ultrafast", "zerolatency", 26};
}
