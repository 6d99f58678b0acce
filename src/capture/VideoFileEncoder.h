#pragma once

#include "capture/AvPtr.h"
#include "capture/EncoderPreset.h"
#include "capture/MediaTime.h"

#include <QString>

#include <cstdint>

extern "C" {
struct AVFrame;
struct AVStream;
}
class PixelBuffer;

// One recording's H.264 encoder (libx264) and fragmented MP4 file, in the
// manner of FFmpeg's mux.c: everything of the recording in one object.
//
// The file starts with a moov box that lists no samples; the samples follow
// in fragments (moof + mdat), one per flushFragment(). Every fragment goes to
// the disk (fdatasync) before flushFragment() returns, so a file cut short by
// a crash, a kill or a power loss still plays up to its last fragment.
// finish() drains the encoder, writes the last fragment and the trailer and
// closes the file.
//
// Frames are converted from ARGB to YUV 4:2:0 (BT.709, limited range). The
// encoded size is the buffer size rounded down to even sides; an odd buffer
// loses its right-hand column and its top row, as a larger frame would.
//
// Not thread-safe: one thread uses it from open() to finish(), normally the
// recording's worker thread. Errors come back as false with errorString().
class VideoFileEncoder
{
public:
    VideoFileEncoder();
    // Closes a file that is still open, without the trailer: what was flushed
    // stays readable. After a failed write the file is cut back to its last
    // complete fragment, so that no reader meets half a fragment.
    ~VideoFileEncoder();
    VideoFileEncoder(const VideoFileEncoder &) = delete;
    VideoFileEncoder &operator=(const VideoFileEncoder &) = delete;

    // Takes ownership of fd, an empty file open for writing (also on failure).
    // Opens the encoder for width x height buffers at fps frames per second
    // and writes the file header.
    bool open(int fd, int width, int height, int fps, EncoderPreset preset);

    // Encodes one buffer of the size given to open() at the given time and
    // writes the packets the encoder has ready.
    bool encode(const PixelBuffer &buffer, MediaTime time);

    // Closes the current fragment and makes it durable. Frames still inside
    // the encoder go into a later fragment.
    bool flushFragment();

    enum class Drain { Yes, No };
    // Flushes the encoder (unless told not to, when time is short), writes
    // the trailer and closes the file.
    bool finish(Drain drain = Drain::Yes);

    const QString &errorString() const { return m_error; }
    // True when the failure was the volume running out of room (or of the
    // user's quota).
    bool failedForLackOfSpace() const;
    bool isOpen() const { return m_fd >= 0; }

private:
    bool fail(const QString &what, int averror = 0);
    bool send(const AVFrame *frame);
    bool syncToDisk();
    void closeFile();

    static int writeToFile(void *opaque, uint8_t *data, int size);
    static int64_t seekInFile(void *opaque, int64_t offset, int whence);

    int m_fd = -1;
    int m_bufferWidth = 0;
    int m_bufferHeight = 0;
    bool m_headerWritten = false;
    qint64 m_durableBytes = 0; // the file's size after the last complete sync
    QString m_error;
    int m_errorCode = 0;

    // Declared in the order they may be freed in reverse: the muxer goes
    // before its I/O context.
    av::IoContextPtr m_io;
    av::FormatContextPtr m_format;
    av::CodecContextPtr m_codec;
    av::SwsContextPtr m_sws;
    av::FramePtr m_frame;
    av::PacketPtr m_packet;
    AVStream *m_stream = nullptr; // owned by m_format
};
