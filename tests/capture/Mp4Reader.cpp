#include "capture/Mp4Reader.h"

#include "capture/AvPtr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QFile>
#include <QtEndian>

namespace
{
struct InputCloser {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};

double meanOfRows(const AVFrame *frame, int rows)
{
    double sum = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < frame->width; ++x)
            sum += frame->data[0][y * frame->linesize[0] + x];
    return sum / (double(frame->width) * rows);
}

void readBoxes(const QString &path, Mp4Contents &mp4)
{
    QFile file(path);
    qint64 at = 0;
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (file.seek(at)) {
        const QByteArray head = file.read(16); // size, type, and a 64-bit size if size is 1
        qint64 size = head.size() < 8 ? 0 : qFromBigEndian<quint32>(head.constData());
        if (size == 1 && head.size() == 16)
            size = qint64(qFromBigEndian<quint64>(head.constData() + 8));
        if (size < 8 || at + size > file.size())
            break;
        mp4.boxes.emplace_back(head.mid(4, 4), at += size);
    }
    mp4.endsWithWholeBox = at > 0 && at == file.size();
}
} // namespace

Mp4Contents readMp4(const QString &path, bool decode)
{
    Mp4Contents mp4;
    readBoxes(path, mp4);
    AVFormatContext *raw = nullptr;
    mp4.error = QStringLiteral("cannot open");
    if (avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return mp4;
    const std::unique_ptr<AVFormatContext, InputCloser> input(raw);
    const int index = avformat_find_stream_info(raw, nullptr) < 0
                          ? -1
                          : av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    mp4.error = QStringLiteral("no video stream");
    if (index < 0)
        return mp4;
    const AVStream *stream = raw->streams[index];
    const AVCodecParameters *parameters = stream->codecpar;
    mp4.codecName = QString::fromUtf8(avcodec_get_name(parameters->codec_id));
    mp4.width = parameters->width;
    mp4.height = parameters->height;
    mp4.timeBaseNum = stream->time_base.num;
    mp4.timeBaseDen = stream->time_base.den;
    if (raw->duration != AV_NOPTS_VALUE)
        mp4.durationSeconds = double(raw->duration) / AV_TIME_BASE;

    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    av::CodecContextPtr decoder(decode ? avcodec_alloc_context3(codec) : nullptr);
    mp4.error = QStringLiteral("no decoder");
    if (decode &&
        (!codec || !decoder || avcodec_parameters_to_context(decoder.get(), parameters) < 0 ||
         avcodec_open2(decoder.get(), codec, nullptr) < 0))
        return mp4;
    mp4.error.clear();
    mp4.decodedFrames = decode ? 0 : -1;
    const av::PacketPtr packet(av_packet_alloc());
    const av::FramePtr frame(av_frame_alloc());
    const auto decodeNext = [&](const AVPacket *next) {
        mp4.decodeErrors += avcodec_send_packet(decoder.get(), next) < 0 && next;
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            ++mp4.decodedFrames;
            mp4.meanLuma.push_back(meanOfRows(frame.get(), frame->height));
            mp4.topRowLuma.push_back(meanOfRows(frame.get(), 1));
            mp4.decodeErrors += frame->decode_error_flags != 0;
        }
    };
    while (av_read_frame(raw, packet.get()) >= 0) {
        if (packet->stream_index == index) {
            mp4.pts.push_back(packet->pts);
            if (decoder)
                decodeNext(packet.get());
        }
        av_packet_unref(packet.get());
    }
    if (decoder)
        decodeNext(nullptr); // what the decoder still holds
    return mp4;
}
