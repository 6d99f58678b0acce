#include "platform/BilinearShrink.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
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

// The taps of to destination pixels over a picture from pixels long, read
// from samples that each span factor of its pixels (a subsampled plane):
// samples of them, the last ones repeating the picture's edge when the plane
// is padded.
std::vector<Tap> taps(int from, int to, int factor = 1, int samples = 0)
{
    if (samples <= 0)
        samples = from;
    std::vector<Tap> result(static_cast<std::size_t>(to));
    const std::int64_t step = (std::int64_t(from) << 16) / (std::int64_t(to) * factor);
    for (int i = 0; i < to; ++i) {
        const std::int64_t at = std::max<std::int64_t>(0, i * step + step / 2 - 0x8000);
        Tap t{int(at >> 16), std::uint32_t((at >> 8) & 0xff)};
        if (t.index >= samples - 1)
            t = {samples - 1, 0};
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

// Rows a and b of bytes (a plane's samples, or pixels channel by channel)
// mixed into out, b weighing weight / 256, truncated as QPainter's filtered
// paint does.
void mixByteRows(const std::uint8_t *a, const std::uint8_t *b, std::uint32_t weight,
                 std::uint8_t *out, int width)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i wb = _mm_set1_epi16(short(weight));
    const __m128i wa = _mm_set1_epi16(short(256 - weight));
    // Each product fits 16 bits: 255 * 256 at most, and so does their sum.
    for (; x + 16 <= width; x += 16) {
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
        out[x] = std::uint8_t((a[x] * (256 - weight) + b[x] * weight) >> 8);
}

// A plane's column taps as pmaddwd takes them: for each destination sample,
// the weights of its left and right neighbours side by side.
struct PlaneColumns {
    std::vector<int> index;
    std::vector<std::int16_t> weights; // 256 - weight, weight; two per sample
    // For each whole group of eight samples: where the 16 bytes that hold
    // all their neighbours start (-1 when they spread wider), and the byte
    // shuffle that gathers the pairs from them.
    std::vector<int> groupStart;
    std::vector<std::uint8_t> shuffles; // 16 per group
};

constexpr int kGroup = 8;
constexpr int kWindow = 16; // bytes a group's pairs are gathered from

PlaneColumns planeColumns(const std::vector<Tap> &columns)
{
    PlaneColumns result;
    for (const Tap &t : columns) {
        result.index.push_back(t.index);
        result.weights.push_back(std::int16_t(256 - t.weight));
        result.weights.push_back(std::int16_t(t.weight));
    }
    const int groups = int(columns.size()) / kGroup;
    result.groupStart.assign(std::size_t(groups), -1);
    result.shuffles.assign(std::size_t(groups) * kWindow, 0);
    for (int g = 0; g < groups; ++g) {
        const int start = result.index[std::size_t(g * kGroup)];
        if (result.index[std::size_t(g * kGroup + kGroup - 1)] + 1 - start >= kWindow)
            continue; // a shrink of about two or more: gathered one by one
        result.groupStart[std::size_t(g)] = start;
        std::uint8_t *shuffle = &result.shuffles[std::size_t(g) * kWindow];
        for (int k = 0; k < 2 * kGroup; ++k)
            shuffle[k] =
                std::uint8_t(result.index[std::size_t(g * kGroup + k / 2)] + k % 2 - start);
    }
    return result;
}

inline void pickScalar(const std::uint8_t *row, const PlaneColumns &columns, int i,
                       std::uint8_t *out)
{
    const int at = columns.index[std::size_t(i)];
    const std::int16_t *w = &columns.weights[std::size_t(2 * i)];
    out[i] = std::uint8_t((row[at] * w[0] + row[at + 1] * w[1] + 128) >> 8);
}

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#define ORBILENS_PICK_BY_SHUFFLES 1
// The whole groups of eight, each with one byte shuffle and two pmaddwd;
// returns the first sample not done. SSSE3, checked by the caller.
__attribute__((target("ssse3"))) int pickByShuffles(const std::uint8_t *row,
                                                    const PlaneColumns &columns, std::uint8_t *out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(128);
    const int groups = int(columns.groupStart.size());
    for (int g = 0; g < groups; ++g) {
        const int i = g * kGroup;
        const int start = columns.groupStart[std::size_t(g)];
        if (start < 0) {
            for (int k = 0; k < kGroup; ++k)
                pickScalar(row, columns, i + k, out);
            continue;
        }
        const __m128i pairs =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(row + start)),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(
                                 &columns.shuffles[std::size_t(g) * kWindow])));
        const std::int16_t *weights = &columns.weights[std::size_t(2 * i)];
        const __m128i w0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(weights));
        const __m128i w1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(weights + 8));
        const __m128i lo = _mm_srli_epi32(
            _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(pairs, zero), w0), half), 8);
        const __m128i hi = _mm_srli_epi32(
            _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi8(pairs, zero), w1), half), 8);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i),
                         _mm_packus_epi16(_mm_packs_epi32(lo, hi), zero));
    }
    return groups * kGroup;
}
#endif

// Each sample of out from the two of row its tap names; row holds kWindow
// bytes from any tap's index on.
void pickPlaneColumns(const std::uint8_t *row, const PlaneColumns &columns, std::uint8_t *out)
{
    int i = 0;
#if defined(ORBILENS_PICK_BY_SHUFFLES)
    static const bool shuffles = __builtin_cpu_supports("ssse3");
    if (shuffles)
        i = pickByShuffles(row, columns, out);
#endif
    for (const int width = int(columns.index.size()); i < width; ++i)
        pickScalar(row, columns, i, out);
}

// JPEG's YCbCr to RGB (full range), in fixed point with 14 fraction bits.
constexpr int kCrToR = 22970; // 1.40200
constexpr int kCbToG = 5638;  // 0.34414
constexpr int kCrToG = 11700; // 0.71414
constexpr int kCbToB = 29032; // 1.77200
constexpr int kRound = 1 << 13;

inline std::uint32_t clampByte(int v)
{
    return std::uint32_t(std::clamp(v, 0, 255));
}

void ycbcrToRgb32(const std::uint8_t *luma, const std::uint8_t *cb, const std::uint8_t *cr,
                  std::uint32_t *out, int width)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i neutral = _mm_set1_epi16(128);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i opaque = _mm_set1_epi8(char(0xff));
    // madd pairs: (cr, 1) and (cb, 1) take the rounding term as their second
    // factor; (cb, cr) for green adds it after.
    const __m128i toR = _mm_set1_epi32((kRound << 16) | kCrToR);
    const __m128i toB = _mm_set1_epi32((kRound << 16) | kCbToB);
    const __m128i toG =
        _mm_set1_epi32(int((std::uint32_t(std::uint16_t(-kCrToG)) << 16) | std::uint16_t(-kCbToG)));
    const __m128i round = _mm_set1_epi32(kRound);
    for (; x + 8 <= width; x += 8) {
        const __m128i y =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(luma + x)), zero);
        const __m128i u = _mm_sub_epi16(
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cb + x)), zero),
            neutral);
        const __m128i v = _mm_sub_epi16(
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cr + x)), zero),
            neutral);
        const auto term = [](__m128i lo, __m128i hi, __m128i factors, __m128i add) {
            return _mm_packs_epi32(
                _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(lo, factors), add), 14),
                _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(hi, factors), add), 14));
        };
        const __m128i r = _mm_adds_epi16(
            y, term(_mm_unpacklo_epi16(v, one), _mm_unpackhi_epi16(v, one), toR, zero));
        const __m128i g =
            _mm_adds_epi16(y, term(_mm_unpacklo_epi16(u, v), _mm_unpackhi_epi16(u, v), toG, round));
        const __m128i b = _mm_adds_epi16(
            y, term(_mm_unpacklo_epi16(u, one), _mm_unpackhi_epi16(u, one), toB, zero));
        // B, G, R, A in memory: 0xAARRGGBB on this little-endian target.
        const __m128i bg = _mm_unpacklo_epi8(_mm_packus_epi16(b, b), _mm_packus_epi16(g, g));
        const __m128i ra = _mm_unpacklo_epi8(_mm_packus_epi16(r, r), opaque);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_unpacklo_epi16(bg, ra));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x + 4), _mm_unpackhi_epi16(bg, ra));
    }
#endif
    for (; x < width; ++x) {
        const int y = luma[x], u = cb[x] - 128, v = cr[x] - 128;
        const std::uint32_t r = clampByte(y + ((kCrToR * v + kRound) >> 14));
        const std::uint32_t g = clampByte(y + ((-kCbToG * u - kCrToG * v + kRound) >> 14));
        const std::uint32_t b = clampByte(y + ((kCbToB * u + kRound) >> 14));
        out[x] = 0xff000000u | (r << 16) | (g << 8) | b;
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
        mixByteRows(source.constScanLine(t.index),
                    source.constScanLine(std::min(t.index + 1, last)), t.weight,
                    reinterpret_cast<std::uint8_t *>(mixed.data()), 4 * source.width());
        mixed.back() = mixed[mixed.size() - 2];
        mixColumns(mixed.data(), columns, reinterpret_cast<std::uint32_t *>(into.scanLine(y)));
    }
    return into;
}

QImage bilinearShrinkYcbcr(const YcbcrPlanes &planes, QSize size, QImage into)
{
    if (size.isEmpty() || planes.picture.isEmpty())
        return {};
    for (int i = 0; i < 3; ++i) {
        const QSize from = planes.size[i], factor = planes.factor[i];
        if (!planes.data[i] || from.isEmpty() || factor.isEmpty() ||
            planes.stride[i] < from.width() ||
            qint64(from.width()) * factor.width() < planes.picture.width() ||
            qint64(from.height()) * factor.height() < planes.picture.height())
            return {};
    }
    if (into.size() != size || into.format() != QImage::Format_RGB32 || !into.isDetached())
        into = QImage(size, QImage::Format_RGB32);
    if (into.isNull())
        return {};
    struct Plane {
        PlaneColumns columns;
        std::vector<Tap> rows;
        std::vector<std::uint8_t> mixed;  // two rows mixed, and one sample more
        std::vector<std::uint8_t> picked; // a row of the destination
    } plane[3];
    for (int i = 0; i < 3; ++i) {
        const QSize from = planes.size[i], factor = planes.factor[i];
        plane[i].columns =
            planeColumns(taps(planes.picture.width(), size.width(), factor.width(), from.width()));
        plane[i].rows =
            taps(planes.picture.height(), size.height(), factor.height(), from.height());
        plane[i].mixed.resize(std::size_t(from.width()) + kWindow);
        plane[i].picked.resize(std::size_t(size.width()));
    }
    for (int y = 0; y < size.height(); ++y) {
        for (int i = 0; i < 3; ++i) {
            Plane &p = plane[i];
            const Tap t = p.rows[std::size_t(y)];
            const int width = planes.size[i].width();
            const int next = std::min(t.index + 1, planes.size[i].height() - 1);
            mixByteRows(planes.data[i] + std::ptrdiff_t(t.index) * planes.stride[i],
                        planes.data[i] + std::ptrdiff_t(next) * planes.stride[i], t.weight,
                        p.mixed.data(), width);
            pickPlaneColumns(p.mixed.data(), p.columns, p.picked.data());
        }
        ycbcrToRgb32(plane[0].picked.data(), plane[1].picked.data(), plane[2].picked.data(),
                     reinterpret_cast<std::uint32_t *>(into.scanLine(y)), size.width());
    }
    return into;
}

} // namespace platform
