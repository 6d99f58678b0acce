#include "capture/AvPtr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace av
{

void Deleter::operator()(AVCodecContext *context) const
{
    avcodec_free_context(&context);
}

void Deleter::operator()(AVFormatContext *context) const
{
    avformat_free_context(context);
}

void Deleter::operator()(AVFrame *frame) const
{
    av_frame_free(&frame);
}

void Deleter::operator()(AVIOContext *context) const
{
    if (context)
        av_freep(&context->buffer); // may have been replaced by FFmpeg since we allocated it
    avio_context_free(&context);
}

void Deleter::operator()(AVPacket *packet) const
{
    av_packet_free(&packet);
}

void Deleter::operator()(SwsContext *context) const
{
    sws_freeContext(context);
}

} // namespace av
