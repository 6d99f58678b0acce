#pragma once

#include <memory>

// Owning pointers for the FFmpeg objects of a recording. Each deleter calls
// the matching free function, which also takes care of null pointers. The
// FFmpeg headers stay out of here so that headers including this one do not
// drag them in.
extern "C" {
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct SwsContext;
}

namespace av
{

struct Deleter {
    void operator()(AVCodecContext *context) const;
    // An output context only; its I/O context is owned separately (IoContextPtr).
    void operator()(AVFormatContext *context) const;
    void operator()(AVFrame *frame) const;
    // A custom I/O context together with its buffer.
    void operator()(AVIOContext *context) const;
    void operator()(AVPacket *packet) const;
    void operator()(SwsContext *context) const;
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, Deleter>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, Deleter>;
using FramePtr = std::unique_ptr<AVFrame, Deleter>;
using IoContextPtr = std::unique_ptr<AVIOContext, Deleter>;
using PacketPtr = std::unique_ptr<AVPacket, Deleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, Deleter>;

} // namespace av
