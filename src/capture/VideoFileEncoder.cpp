#include "capture/VideoFileEncoder.h"

#include "capture/PixelBuffer.h"
#include "platform/FileSync.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int kIoBufferBytes = 256 * 1024;

QString avErrorText(int averror)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return QString::fromUtf8(text);
}

// libx264 prints its statistics at FFmpeg's default level whenever a file
// is closed; a viewer has no use for them on its output. Someone who asked
// for more (or less) keeps what they asked for.
void quietenEncoderStatistics()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() == AV_LOG_INFO)
            av_log_set_level(AV_LOG_WARNING);
    });
}

} // namespace

VideoFileEncoder::VideoFileEncoder() = default;

VideoFileEncoder::~VideoFileEncoder()
{
    closeFile();
}

bool VideoFileEncoder::failedForLackOfSpace() const
{
    return m_errorCode == AVERROR(ENOSPC) || m_errorCode == AVERROR(EDQUOT);
}

bool VideoFileEncoder::fail(const QString &what, int averror)
{
    m_errorCode = averror;
    m_error = averror ? QStringLiteral("%1: %2").arg(what, avErrorText(averror)) : what;
    return false;
}

int VideoFileEncoder::writeToFile(void *opaque, uint8_t *data, int size)
{
    auto *self = static_cast<VideoFileEncoder *>(opaque);
    int left = size;
    while (left > 0) {
        const ssize_t written = ::write(self->m_fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return AVERROR(errno);
        }
        data += written;
        left -= int(written);
    }
    return size;
}

int64_t VideoFileEncoder::seekInFile(void *opaque, int64_t offset, int whence)
{
    auto *self = static_cast<VideoFileEncoder *>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat info = {};
        return ::fstat(self->m_fd, &info) == 0 ? int64_t(info.st_size) : AVERROR(errno);
    }
    const off_t position = ::lseek(self->m_fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : int64_t(position);
}

bool VideoFileEncoder::open(int fd, int width, int height, int fps, EncoderPreset preset)
{
    quietenEncoderStatistics();
    m_fd = fd;
    m_bufferWidth = width;
    m_bufferHeight = height;
    const int encodedWidth = width & ~1;
    const int encodedHeight = height & ~1;
    if (fd < 0 || encodedWidth < 2 || encodedHeight < 2 || fps < 1)
        return fail(QStringLiteral("bad recording parameters %1x%2 at %3 fps")
                        .arg(width)
                        .arg(height)
                        .arg(fps));

    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return fail(QStringLiteral("no libx264 encoder"));

    AVFormatContext *format = nullptr;
    int ret = avformat_alloc_output_context2(&format, nullptr, "mp4", nullptr);
    if (ret < 0)
        return fail(QStringLiteral("mp4 muxer"), ret);
    m_format.reset(format);

    auto *ioBuffer = static_cast<unsigned char *>(av_malloc(kIoBufferBytes));
    if (!ioBuffer)
        return fail(QStringLiteral("out of memory"));
    m_io.reset(
        avio_alloc_context(ioBuffer, kIoBufferBytes, 1, this, nullptr, &writeToFile, &seekInFile));
    if (!m_io) {
        av_free(ioBuffer);
        return fail(QStringLiteral("out of memory"));
    }
    m_format->pb = m_io.get(); // the muxer borrows it; m_io frees it
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO;

    m_codec.reset(avcodec_alloc_context3(codec));
    if (!m_codec)
        return fail(QStringLiteral("out of memory"));
    m_codec->width = encodedWidth;
    m_codec->height = encodedHeight;
    m_codec->pix_fmt = AV_PIX_FMT_YUV420P;
    m_codec->time_base = AVRational{1, fps};
    m_codec->framerate = AVRational{fps, 1};
    // A key frame every two seconds of the file: players seek well enough,
    // and a noisy sky makes every key frame expensive.
    m_codec->gop_size = 2 * fps;
    m_codec->color_range = AVCOL_RANGE_MPEG;
    m_codec->colorspace = AVCOL_SPC_BT709;
    m_codec->color_primaries = AVCOL_PRI_BT709;
    m_codec->color_trc = AVCOL_TRC_BT709;
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(m_codec->priv_data, "preset", preset.preset, 0);
    if (preset.tune && *preset.tune)
        av_opt_set(m_codec->priv_data, "tune", preset.tune, 0);
    if (preset.crf > 0)
        av_opt_set_double(m_codec->priv_data, "crf", preset.crf, 0);
    ret = avcodec_open2(m_codec.get(), codec, nullptr);
    if (ret < 0)
        return fail(QStringLiteral("libx264"), ret);

    m_stream = avformat_new_stream(m_format.get(), nullptr);
    if (!m_stream)
        return fail(QStringLiteral("out of memory"));
    ret = avcodec_parameters_from_context(m_stream->codecpar, m_codec.get());
    if (ret < 0)
        return fail(QStringLiteral("stream parameters"), ret);
    m_stream->time_base = m_codec->time_base; // a hint; the muxer picks its own

    // A moov without samples first, then fragments that we cut ourselves
    // (frag_custom), each indexed by its own moof: nothing waits for the end.
    AVDictionary *muxerOptions = nullptr;
    av_dict_set(&muxerOptions, "movflags", "empty_moov+default_base_moof+frag_custom", 0);
    ret = avformat_write_header(m_format.get(), &muxerOptions);
    av_dict_free(&muxerOptions);
    if (ret < 0)
        return fail(QStringLiteral("mp4 header"), ret);
    m_headerWritten = true;
    if (!syncToDisk())
        return false;

    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_frame || !m_packet)
        return fail(QStringLiteral("out of memory"));
    m_frame->format = AV_PIX_FMT_YUV420P;
    m_frame->width = encodedWidth;
    m_frame->height = encodedHeight;
    ret = av_frame_get_buffer(m_frame.get(), 0);
    if (ret < 0)
        return fail(QStringLiteral("frame buffer"), ret);

    m_sws.reset(sws_getContext(encodedWidth, encodedHeight, AV_PIX_FMT_ARGB, encodedWidth,
                               encodedHeight, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                               nullptr));
    if (!m_sws)
        return fail(QStringLiteral("no ARGB to YUV 4:2:0 conversion"));
    sws_setColorspaceDetails(m_sws.get(), sws_getCoefficients(SWS_CS_ITU709), 1,
                             sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    return true;
}

bool VideoFileEncoder::encode(const PixelBuffer &buffer, MediaTime time)
{
    if (!m_sws)
        return fail(QStringLiteral("encoder not open"));
    if (buffer.width() != m_bufferWidth || buffer.height() != m_bufferHeight)
        return fail(QStringLiteral("frame of %1x%2 in a %3x%4 recording")
                        .arg(buffer.width())
                        .arg(buffer.height())
                        .arg(m_bufferWidth)
                        .arg(m_bufferHeight));
    // The encoder may still hold a reference to the last frame's planes.
    int ret = av_frame_make_writable(m_frame.get());
    if (ret < 0)
        return fail(QStringLiteral("frame buffer"), ret);

    // An odd buffer height leaves out the top row: start one row down.
    const int skippedRows = m_bufferHeight - m_frame->height;
    const uint8_t *source[4] = {buffer.row(skippedRows), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {int(buffer.bytesPerRow()), 0, 0, 0};
    sws_scale(m_sws.get(), source, sourceStride, 0, m_frame->height, m_frame->data,
              m_frame->linesize);

    m_frame->pts = av_rescale_q(time.value, AVRational{1, time.timescale}, m_codec->time_base);
    return send(m_frame.get());
}

bool VideoFileEncoder::send(const AVFrame *frame)
{
    int ret = avcodec_send_frame(m_codec.get(), frame);
    if (ret < 0)
        return fail(QStringLiteral("libx264"), ret);
    for (;;) {
        ret = avcodec_receive_packet(m_codec.get(), m_packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return true;
        if (ret < 0)
            return fail(QStringLiteral("libx264"), ret);
        // Every frame lasts one frame period, the last one included.
        if (m_packet->duration <= 0)
            m_packet->duration = 1;
        av_packet_rescale_ts(m_packet.get(), m_codec->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        // Takes over the packet's data and leaves m_packet blank for the next one.
        ret = av_interleaved_write_frame(m_format.get(), m_packet.get());
        if (ret < 0)
            return fail(QStringLiteral("mp4 write"), ret);
    }
}

bool VideoFileEncoder::flushFragment()
{
    if (!m_headerWritten)
        return fail(QStringLiteral("encoder not open"));
    // With frag_custom a null packet closes the fragment of what was written.
    const int ret = av_write_frame(m_format.get(), nullptr);
    if (ret < 0)
        return fail(QStringLiteral("mp4 fragment"), ret);
    return syncToDisk();
}

bool VideoFileEncoder::syncToDisk()
{
    avio_flush(m_io.get());
    if (m_io->error < 0)
        return fail(QStringLiteral("write"), m_io->error);
    // EINVAL: a file that cannot be synced (a pipe, say) is written all the same.
    if (platform::filesync::dataSync(m_fd) != 0 && errno != EINVAL)
        return fail(QStringLiteral("sync"), AVERROR(errno));
    struct stat info = {};
    if (::fstat(m_fd, &info) == 0)
        m_durableBytes = info.st_size;
    return true;
}

bool VideoFileEncoder::finish(Drain drain)
{
    if (!m_headerWritten || !m_sws)
        return fail(m_error.isEmpty() ? QStringLiteral("encoder not open") : m_error);
    if (drain == Drain::Yes && !send(nullptr))
        return false;
    // The trailer writes the last fragment and the random-access index; the
    // muxer's state must still be whole, so nothing is freed before it.
    const int ret = av_write_trailer(m_format.get());
    if (ret < 0)
        return fail(QStringLiteral("mp4 trailer"), ret);
    m_headerWritten = false;
    if (!syncToDisk())
        return false;
    closeFile();
    return true;
}

void VideoFileEncoder::closeFile()
{
    if (m_fd < 0)
        return;
    if (!m_error.isEmpty()) {
        // A write failed somewhere after the last sync: keep the complete
        // fragments only.
        if (::ftruncate(m_fd, off_t(m_durableBytes)) == 0)
            platform::filesync::dataSync(m_fd);
    } else if (m_io) {
        avio_flush(m_io.get()); // whole fragments still buffered help a reader
    }
    ::close(m_fd);
    m_fd = -1;
}
