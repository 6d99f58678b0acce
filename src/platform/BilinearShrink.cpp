#include "platform/BilinearShrink.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform
{

namespace
{
// Where a destination pixel's centre falls between two source pixels: the
// left (or upper) one and the weight of the next, 0 to 256.
struct Tap {
    int index;
    std::uint32_t weight;
};

std::vector<Tap> taps(int from, int to)
{
    std::vector<Tap> result(static_cast<std::size_t>(to));
    const std::int64_t step = (std::int64_t(from) << 16) / to;
    for (int i = 0; i < to; ++i) {
        const std::int64_t at = std::max<std::int64_t>(0, i * step + step / 2 - 0x8000);
        Tap t{int(at >> 16), std::uint32_t((at >> 8) & 0xff)};
        if (t.index >= from - 1)
            t = {from - 1, 0};
        result[std::size_t(i)] = t;
    }
    return result;
}

// a and b mixed, b weighing weight / 256, for each channel of 0xAARRGGBB.
inline std::uint32_t mix(std::uint32_t a, std::uint32_t b, std::uint32_t weight)
{
    const std::uint32_t keep = 256 - weight;
    const std::uint32_t rb = (((a & 0xff00ff) * keep + (b & 0xff00ff) * weight) >> 8) & 0xff00ff;
    const std::uint32_t ag =
        (((a >> 8) & 0xff00ff) * keep + ((b >> 8) & 0xff00ff) * weight) & 0xff00ff00;
    return rb | ag;
}

// Row a and row b mixed into out, pixels 0 .. width - 1.
void mixRows(const std::uint32_t *a, const std::uint32_t *b, std::uint32_t weight,
             std::uint32_t *out, int width)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i wb = _mm_set1_epi16(short(weight));
    const __m128i wa = _mm_set1_epi16(short(256 - weight));
    // Each product fits 16 bits: 255 * 256 at most, and so does their sum.
    for (; x + 4 <= width; x += 4) {
        const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + x));
        const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + x));
        const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(pa, zero), wa),
                                         _mm_mullo_epi16(_mm_unpacklo_epi8(pb, zero), wb));
        const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(pa, zero), wa),
                                         _mm_mullo_epi16(_mm_unpackhi_epi8(pb, zero), wb));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x),
                         _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8)));
    }
#endif
    for (; x < width; ++x)
        out[x] = mix(a[x], b[x], weight);
}

// Each pixel of out from the two of row its tap names; row has one pixel
// more than any tap's index.
void mixColumns(const std::uint32_t *row, const std::vector<Tap> &columns, std::uint32_t *out)
{
    const int width = int(columns.size());
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    // Two output pixels at a time, each from its pair of neighbours.
    for (; i + 2 <= width; i += 2) {
        const Tap t0 = columns[std::size_t(i)], t1 = columns[std::size_t(i) + 1];
        __m128i p0 = _mm_unpacklo_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + t0.index)), zero);
        __m128i p1 = _mm_unpacklo_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + t1.index)), zero);
        p0 = _mm_mullo_epi16(p0, _mm_unpacklo_epi64(_mm_set1_epi16(short(256 - t0.weight)),
                                                    _mm_set1_epi16(short(t0.weight))));
        p1 = _mm_mullo_epi16(p1, _mm_unpacklo_epi64(_mm_set1_epi16(short(256 - t1.weight)),
                                                    _mm_set1_epi16(short(t1.weight))));
        const __m128i sum = _mm_add_epi16(_mm_unpacklo_epi64(p0, p1), _mm_unpackhi_epi64(p0, p1));
        const __m128i packed = _mm_packus_epi16(_mm_srli_epi16(sum, 8), zero);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), packed);
    }
#endif
    for (; i < width; ++i) {
        const Tap t = columns[std::size_t(i)];
        out[i] = mix(row[t.index], row[t.index + 1], t.weight);
    }
}
} // namespace

QImage bilinearShrink(const QImage &source, QSize size, QImage into)
{
    if (source.isNull() || source.format() != QImage::Format_RGB32 || size.isEmpty())
        return {};
    if (into.size() != size || into.format() != QImage::Format_RGB32 || !into.isDetached())
        into = QImage(size, QImage::Format_RGB32);
    if (into.isNull())
        return {};
    const std::vector<Tap> columns = taps(source.width(), size.width());
    const std::vector<Tap> rows = taps(source.height(), size.height());
    // One source row's width of the two rows mixed, and one pixel more, so
    // that the last tap's neighbour is always there.
    std::vector<std::uint32_t> mixed(std::size_t(source.width()) + 1);
    const int last = source.height() - 1;
    for (int y = 0; y < size.height(); ++y) {
        const Tap t = rows[std::size_t(y)];
        mixRows(reinterpret_cast<const std::uint32_t *>(source.constScanLine(t.index)),
                reinterpret_cast<const std::uint32_t *>(
                    source.constScanLine(std::min(t.index + 1, last))),
                t.weight, mixed.data(), source.width());
        mixed.back() = mixed[mixed.size() - 2];
        mixColumns(mixed.data(), columns, reinterpret_cast<std::uint32_t *>(into.scanLine(y)));
    }
    return into;
}

} // namespace platform
