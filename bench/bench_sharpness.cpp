// The sharpness score's cost per frame: a 512x512 region and a whole
// 1920x1080 frame, measured on the frame's own pixels as the analysis worker
// measures them. Prints the median and the fastest of many runs.
//
//   bench_sharpness [--runs N]

#include "analysis/Sharpness.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{
// A frame with detail everywhere, so no shortcut applies.
QImage noiseFrame(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator rng(42);
    for (int y = 0; y < size.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = rng.generate() | 0xff000000u;
    }
    return image;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int runs = 200;
    if (const qsizetype i = args.indexOf(QStringLiteral("--runs")); i >= 0 && i + 1 < args.size())
        runs = std::max(1, args[i + 1].toInt());

    const QImage frame = noiseFrame({1920, 1080});
    const struct {
        const char *name;
        QRect region;
    } cases[] = {{"512x512 region", QRect(704, 284, 512, 512)}, {"1920x1080 region", frame.rect()}};
    std::printf("sharpness score, %d runs each\n", runs);
    volatile double sink = 0;
    for (const auto &c : cases) {
        std::vector<double> ms;
        for (int r = 0; r < runs; ++r) {
            QElapsedTimer clock;
            clock.start();
            sink = sink + analysis::measureSharpness(frame, c.region).score;
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("  %-18s median %.3f ms  fastest %.3f ms  per frame\n", c.name,
                    ms[ms.size() / 2], ms.front());
    }
    return 0;
}
