#include "capture/EncoderPreset.h"

EncoderPreset EncoderPreset::forFrameSize(int width, int height)
{
    const long long pixels = static_cast<long long>(width) * height;
    if (pixels <= 1280LL * 720)
        return {"veryfast", "zerolatency"};
    if (pixels <= 1920LL * 1080)
        return {"superfast", "zerolatency"};
    return {"ultrafast", "zerolatency"};
}
