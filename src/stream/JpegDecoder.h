#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QSize>

#include <limits>
#include <vector>

// Decodes a JPEG picture straight into the memory of a QImage
// (Format_RGB32) with libjpeg-turbo: one decode, no intermediate copy. The
// image owns its pixels and shares nothing with the input bytes.
//
// The decoder keeps the last kReusedImages pictures it gave out and decodes
// the next picture of the same size into one of them once nobody else holds
// it any more (QImage::isDetached()): a live stream then takes no new frame
// memory, and a large frame's fresh memory costs more to fault in than to
// decode into. A picture still held anywhere is never written again.
//
// Pictures larger than kMaxPixels are refused before any pixel memory is
// taken, so a header that declares 65535 x 65535 costs nothing. A damaged
// picture that still decodes shows mid-grey wherever its data gave out, never
// memory it did not write. Each picture is decoded from a clean state: what
// one picture's tables define never leaks into the next. One decoder per
// thread.
//
// A picture may be decoded at a reduced scale, 1/2, 1/4 or 1/8, inside
// libjpeg-turbo's inverse DCT: the live view asks for no more pixels than it
// shows, at a fraction of the full decode's cost. What remains to shrink, at
// most twice, the decoder shrinks itself for YCbCr pictures: from the planes
// the inverse DCT leaves, before any colour conversion, so that only the
// pixels shown are upsampled and converted.
class JpegDecoder
{
public:
    // 4096 x 4096: twice the pixels of the box's largest picture (3840 x
    // 2160), 64 MiB of RGB32.
    static constexpr qint64 kMaxPixels = 4096LL * 4096LL;

    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder &) = delete;
    JpegDecoder &operator=(const JpegDecoder &) = delete;

    // A size no picture reaches: decode() at full size.
    static constexpr QSize kFullSize{std::numeric_limits<int>::max(),
                                     std::numeric_limits<int>::max()};

    // The picture decoded at decodedSize(its header's size, atLeast), and
    // shrunk further to atLeast exactly when that is at most twice smaller
    // and the picture is YCbCr (bilinear, as a filtered paint would). A null
    // image when the bytes are not a JPEG picture this decoder can read, or
    // the picture is too large.
    QImage decode(QByteArrayView jpeg, QSize atLeast = kFullSize);

    // The size a picture of frameSize decodes to at the smallest of the
    // reduced scales (1/2, 1/4, 1/8) that still gives at least atLeast in
    // both directions; frameSize when none does. libjpeg-turbo rounds a
    // scaled side up.
    static QSize decodedSize(QSize frameSize, QSize atLeast);

    // The picture's size from its header alone; an empty size when unreadable.
    QSize peekSize(QByteArrayView jpeg);

    // Lets go of the pictures kept for reuse (the stream stopped).
    void releaseReusedImages();

private:
    static constexpr int kReusedImages = 2;

    struct Header {
        QSize size; // empty when unreadable
        int subsampling = -1;
        int colorspace = -1;
    };
    Header readHeader(QByteArrayView jpeg);
    void resetHandle();
    static bool shrinksItself(const Header &header, QSize scaled, QSize atLeast);
    QImage decodeShrunk(QByteArrayView jpeg, const Header &header, QSize scaled, QSize size);
    // decompress() succeeded, or gave a warning: then the picture is decoded
    // again over fillGrey()'s grey. False for a fatal error.
    template <typename Decompress, typename FillGrey>
    bool decodedWell(const Decompress &decompress, const FillGrey &fillGrey);
    // A kept picture of size that nobody else holds, taken out of the
    // keeping so that writing it copies nothing, or else a new picture.
    QImage takeImage(QSize size);
    void keepImage(const QImage &image);

    void *m_handle = nullptr; // tjhandle
    QImage m_reused[kReusedImages];
    std::vector<unsigned char> m_planes[3]; // Y, Cb, Cr of a picture shrunk here
    int m_nextReused = 0;                   // the slot a new picture replaces
};
