// The live view's shrink: a frame of the simulator's sky decoded at the
// reduced scale the preview asks for, then shrunk to the preview's size by
// each candidate, next to the full-size decode shrunk by Qt's smooth scaling
// (what the viewer did before it decoded at reduced scales). For each it
// prints the CPU per frame and how far its picture is from that
// reference: the largest difference of any colour channel of any pixel and
// the mean one.
//
//   bench_preview_scale [--tags 1,2,5] [--view WxH] [--rounds N]

#include "BenchSupport.h"
#include "ViewerRig.h"

#include "platform/BilinearShrink.h"
#include "platform/PreviewView.h"
#include "support/LoopbackServer.h"

#include "stream/JpegDecoder.h"
#include "viewer/ResolutionTable.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPainter>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace bench;

namespace
{

struct Difference {
    int max = 0;
    double mean = 0;
};

Difference difference(const QImage &a, const QImage &b)
{
    Difference d;
    if (a.size() != b.size())
        return {255, 255};
    qint64 sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *pa = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *pb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            for (const int shift : {0, 8, 16}) {
                const int delta =
                    std::abs(int((pa[x] >> shift) & 0xff) - int((pb[x] >> shift) & 0xff));
                d.max = std::max(d.max, delta);
                sum += delta;
            }
        }
    }
    d.mean = double(sum) / (3.0 * a.width() * a.height());
    return d;
}

QImage swsShrink(const QImage &source, QSize target, int flags)
{
    // Kept from call to call, as the view would keep it.
    static SwsContext *context = nullptr;
    context = sws_getCachedContext(context, source.width(), source.height(), AV_PIX_FMT_BGRA,
                                   target.width(), target.height(), AV_PIX_FMT_BGRA, flags, nullptr,
                                   nullptr, nullptr);
    QImage out(target, QImage::Format_RGB32);
    const uint8_t *src[] = {source.constBits()};
    const int srcStride[] = {int(source.bytesPerLine())};
    uint8_t *dst[] = {out.bits()};
    const int dstStride[] = {int(out.bytesPerLine())};
    sws_scale(context, src, srcStride, 0, source.height(), dst, dstStride);
    return out;
}

QImage paintShrink(const QImage &source, QSize target)
{
    QImage out(target, QImage::Format_RGB32);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(), target), source);
    return out;
}

// Median CPU of one call, in milliseconds, of every thread of the process:
// Qt spreads large scaling over a thread pool.
double timeMs(const std::function<QImage()> &work, int rounds, QImage *result)
{
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const double start = processCpuSeconds();
        *result = work();
        ms.push_back(1000 * (processCpuSeconds() - start));
    }
    return median(ms);
}

} // namespace

int main(int argc, char **argv)
{
    bench::prepareEnvironment();
    QApplication app(argc, argv);
    bench::quietViewerLog();
    QCommandLineParser parser;
    const QCommandLineOption tagsOption(QStringLiteral("tags"), QStringLiteral("Resolution tags."),
                                        QStringLiteral("LIST"), QStringLiteral("1,2,5"));
    const QCommandLineOption viewOption(
        QStringLiteral("view"),
        QStringLiteral("Preview size (default: the preview's in the 1280 x 780 window)."),
        QStringLiteral("WxH"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("Rounds."),
                                          QStringLiteral("N"), QStringLiteral("30"));
    parser.addOptions({tagsOption, viewOption, roundsOption});
    parser.process(app);
    const QStringList view = parser.value(viewOption).split(QLatin1Char('x'));
    QSize area(view.value(0).toInt(), view.value(1).toInt());
    if (area.isEmpty()) {
        // The real window, on a box that refuses the connection.
        ViewerRig rig(QStringLiteral("http://127.0.0.1:%1").arg(LoopbackServer::closedPort()));
        area = rig.preview().size();
    }
    const int rounds = std::max(3, parser.value(roundsOption).toInt());

    std::printf("Preview shrink into %dx%d, process CPU ms per frame (median of %d)\n",
                area.width(), area.height(), rounds);
    std::printf("%-10s %-10s %-9s %-26s %9s %8s %9s\n", "size", "decoded", "decode ms", "shrink",
                "shrink ms", "max diff", "mean diff");
    for (const QString &tagText : parser.value(tagsOption).split(QLatin1Char(','))) {
        const resolution::Entry *entry = resolution::entryForTag(tagText.toInt());
        if (!entry)
            continue;
        const QSize size(entry->width, entry->height);
        JpegDecoder decoder;
        const QImage picture = decoder.decode(simulatorFrame(entry->tag));
        if (picture.size() != size) {
            std::fprintf(stderr, "camera-box-sim gave no %dx%d frame\n", size.width(),
                         size.height());
            return 1;
        }
        const QByteArray jpeg = encodeJpeg(picture, 85);
        const QSize target = size.scaled(area, Qt::KeepAspectRatio);
        QImage full, reduced, reference;
        const double fullMs =
            timeMs([&] { return QImage(decoder.decode(jpeg)).copy(); }, rounds, &full);
        const double reducedMs =
            timeMs([&] { return QImage(decoder.decode(jpeg, target)).copy(); }, rounds, &reduced);
        const double referenceMs = timeMs(
            [&] { return full.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation); },
            rounds, &reference);
        const auto row = [&](const char *what, const QSize &decoded, double decodeMs,
                             double shrinkMs, const QImage &result) {
            const Difference d = difference(result, reference);
            std::printf("%4dx%-5d %4dx%-5d %9.2f %-26s %9.2f %8d %9.2f\n", size.width(),
                        size.height(), decoded.width(), decoded.height(), decodeMs, what, shrinkMs,
                        d.max, d.mean);
            std::fflush(stdout);
        };
        row("Qt smooth (before)", full.size(), fullMs, referenceMs, reference);
        const std::pair<const char *, std::function<QImage(const QImage &)>> shrinks[] = {
            {"Qt smooth",
             [&](const QImage &i) {
                 return i.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
             }},
            {"swscale area", [&](const QImage &i) { return swsShrink(i, target, SWS_AREA); }},
            {"swscale bilinear",
             [&](const QImage &i) { return swsShrink(i, target, SWS_BILINEAR); }},
            {"swscale fast bilinear",
             [&](const QImage &i) { return swsShrink(i, target, SWS_FAST_BILINEAR); }},
            {"paint, smooth transform", [&](const QImage &i) { return paintShrink(i, target); }},
            {"own bilinear pass",
             [&](const QImage &i) { return platform::bilinearShrink(i, target); }},
        };
        for (const auto &[name, shrink] : shrinks) {
            QImage result;
            const double ms = timeMs([&] { return shrink(reduced); }, rounds, &result);
            row(name, reduced.size(), reducedMs, ms, result);
        }
    }
    return 0;
}
