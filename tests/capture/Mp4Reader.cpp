#include "capture/Mp4Reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <memory>

namespace
{
struct InputCloser {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct CodecCloser {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct PacketFree {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct FrameFree {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};

double meanOfPlane(const AVFrame *frame)
{
    double sum = 0;
    for (int y = 0; y < frame->height; ++y)
        for (int x = 0; x < frame->width; ++x)
            sum += frame->data[0][y * frame->linesize[0] + x];
    return sum / (double(frame->width) * frame->height);
}
} // namespace

bool Mp4Contents::hasContiguousTimes(int fps) const
{
    for (size_t i = 0; i < pts.size(); ++i) {
        // pts * num / den == i / fps, in integers
        if (pts[i] * timeBaseNum * fps != int64_t(i) * timeBaseDen)
            return false;
    }
    return true;
}

Mp4Contents readMp4(const QString &path, bool decode)
{
    Mp4Contents result;
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr) < 0) {
        result.error = QStringLiteral("cannot open");
        return result;
    }
    std::unique_ptr<AVFormatContext, InputCloser> input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        result.error = QStringLiteral("no stream info");
        return result;
    }
    result.formatName = QString::fromUtf8(input->iformat->name);
    result.streamCount = int(input->nb_streams);
    result.formatDurationSeconds =
        input->duration == AV_NOPTS_VALUE ? -1 : double(input->duration) / AV_TIME_BASE;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        result.error = QStringLiteral("no video stream");
        return result;
    }
    const AVStream *stream = input->streams[index];
    const AVCodecParameters *parameters = stream->codecpar;
    result.codecName = QString::fromUtf8(avcodec_get_name(parameters->codec_id));
    const char *pixelFormat = av_get_pix_fmt_name(AVPixelFormat(parameters->format));
    result.pixelFormat = pixelFormat ? QString::fromUtf8(pixelFormat) : QString();
    result.width = parameters->width;
    result.height = parameters->height;
    result.timeBaseNum = stream->time_base.num;
    result.timeBaseDen = stream->time_base.den;

    std::unique_ptr<AVCodecContext, CodecCloser> decoder;
    if (decode) {
        const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
        decoder.reset(avcodec_alloc_context3(codec));
        if (!codec || !decoder || avcodec_parameters_to_context(decoder.get(), parameters) < 0 ||
            avcodec_open2(decoder.get(), codec, nullptr) < 0) {
            result.error = QStringLiteral("no decoder");
            return result;
        }
        result.decodedFrames = 0;
    }
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    const auto receiveAll = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            ++result.decodedFrames;
            result.meanLuma.push_back(meanOfPlane(frame.get()));
            if (frame->decode_error_flags)
                ++result.decodeErrors;
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == index) {
            result.pts.push_back(packet->pts);
            result.keyFrames.push_back(packet->flags & AV_PKT_FLAG_KEY);
            if (decoder) {
                if (avcodec_send_packet(decoder.get(), packet.get()) < 0)
                    ++result.decodeErrors;
                receiveAll();
            }
        }
        av_packet_unref(packet.get());
    }
    if (decoder) {
        avcodec_send_packet(decoder.get(), nullptr);
        receiveAll();
    }
    return result;
}

ProbeReport ffprobe(const QString &path)
{
    ProbeReport report;
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                 QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                 QStringLiteral("-show_entries"),
                 QStringLiteral("stream=codec_name,nb_read_frames:format=duration"),
                 QStringLiteral("-of"), QStringLiteral("json"), path});
    if (!probe.waitForFinished(60000))
        return report;
    report.exitCode = probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -1;
    report.errors = QString::fromUtf8(probe.readAllStandardError()).trimmed();
    const QJsonObject root = QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
    const QJsonArray streams = root.value(QStringLiteral("streams")).toArray();
    if (!streams.isEmpty()) {
        const QJsonObject stream = streams.first().toObject();
        report.codecName = stream.value(QStringLiteral("codec_name")).toString();
        report.readFrames = stream.value(QStringLiteral("nb_read_frames")).toString().toInt();
    }
    const QString duration = root.value(QStringLiteral("format"))
                                 .toObject()
                                 .value(QStringLiteral("duration"))
                                 .toString();
    if (!duration.isEmpty())
        report.durationSeconds = duration.toDouble();
    return report;
}
