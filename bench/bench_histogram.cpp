// The histogram and the clipped mask: what one frame costs the analysis
// thread at the camera box's picture sizes (every pixel counted, and sampled
// as the live view measures), what handing a frame to that thread costs the
// main thread, and what drawing the plot from the counts costs it.
//
//   bench_histogram [--repeats N]

#include "analysis/Histogram.h"
#include "analysis/MeasureWorker.h"
#include "platform/HistogramView.h"
#include "support/TestImages.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QImage>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace
{
// Median and best of repeats runs of work, in milliseconds.
template <typename Work> std::pair<double, double> timeMs(int repeats, Work work)
{
    std::vector<double> ms;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption repeatsOption(QStringLiteral("repeats"),
                                           QStringLiteral("Runs per size."), QStringLiteral("N"),
                                           QStringLiteral("100"));
    parser.addOption(repeatsOption);
    parser.addHelpOption();
    parser.process(app);
    const int repeats = std::max(3, parser.value(repeatsOption).toInt());

    std::printf(
        "histogram and clipped mask, %d runs per size (median / best, ms of CPU per frame)\n",
        repeats);
    std::printf("%-11s %18s %18s %18s %18s %18s\n", "size", "histogram", "sampled (live)",
                "clipped mask", "main thread: submit", "main thread: plot");
    for (const QSize size :
         {QSize(640, 480), QSize(1280, 720), QSize(1920, 1080), QSize(2592, 1944)}) {
        const QImage frame = testimages::picture(size.width(), size.height(), 7);
        volatile std::uint64_t sink = 0;
        const auto histogram = timeMs(
            repeats, [&] { sink = sink + analysis::histogramOf(frame, frame.rect()).clipped; });
        // The live view's sample: about a quarter of a million pixels.
        const int step = int(std::ceil(std::sqrt(size.width() * double(size.height()) / 250000)));
        const auto sampled = timeMs(repeats, [&] {
            sink = sink + analysis::histogramOf(frame, frame.rect(), step).clipped;
        });
        const auto mask = timeMs(
            repeats, [&] { sink = sink + analysis::clippedMask(frame, frame.rect()).width(); });

        // The worker measures while frames keep coming; the main thread's part
        // is the hand-over only.
        int reports = 0;
        QObject context;
        analysis::MeasureWorker worker(&context, "bench-histo");
        const auto submit = timeMs(repeats, [&] {
            worker.post([&, frame] {
                const analysis::Histogram histogram = analysis::histogramOf(frame, frame.rect());
                const QImage mask = analysis::clippedMask(frame, frame.rect());
                return [&, histogram, mask] { ++reports; };
            });
        });
        QTest::qWait(50);

        // The plot in the panel's size, drawn from this frame's counts.
        platform::HistogramView view;
        view.resize(256, 72);
        view.setCounts(analysis::histogramOf(frame, frame.rect()).counts);
        QImage canvas(view.size(), QImage::Format_ARGB32_Premultiplied);
        const auto plot = timeMs(repeats, [&] { view.render(&canvas); });
        std::printf(
            "%4dx%-6d %8.3f / %7.3f %8.3f / %7.3f %8.3f / %7.3f %8.4f / %7.4f %8.3f / %7.3f\n",
            size.width(), size.height(), histogram.first, histogram.second, sampled.first,
            sampled.second, mask.first, mask.second, submit.first, submit.second, plot.first,
            plot.second);
    }
    return 0;
}
