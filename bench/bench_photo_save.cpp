// Photo saving: how long the viewer's saveImage takes on the main thread for
// a frame of the simulator's sky, per picture size, as a JPEG at the highest
// quality; and for pixel noise of the same size, the worst case for the
// encoder (a bright, grainy sky comes between the two). Next to it, libjpeg-turbo's own compressor
// on the same pixels at the same quality, without the file write, to show what the encoder alone
// costs.
//
//   bench_photo_save [--repeats N] [--tags 5,1]

#include "BenchSupport.h"
#include "stream/JpegDecoder.h"
#include "viewer/ResolutionTable.h"
#include "viewer/ViewController.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

QImage noise(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(42);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    return image;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// libjpeg-turbo alone: compress the RGB32 pixels at quality 100, 4:2:0 as
// Qt's writer does at that quality, into memory already in place (a fresh
// worst-case buffer would mostly measure page faults). Milliseconds, or -1 on
// failure.
double turboCompressMs(const QImage &image)
{
    tjhandle handle = tjInitCompress();
    if (!handle)
        return -1;
    const unsigned long capacity = tjBufSize(image.width(), image.height(), TJSAMP_420);
    unsigned char *out = tjAlloc(int(capacity));
    if (!out) {
        tjDestroy(handle);
        return -1;
    }
    std::fill_n(out, capacity, 0);
    unsigned long size = capacity;
    QElapsedTimer timer;
    timer.start();
    const int rc =
        tjCompress2(handle, image.constBits(), image.width(), int(image.bytesPerLine()),
                    image.height(), TJPF_BGRX, &out, &size, TJSAMP_420, 100, TJFLAG_NOREALLOC);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    tjFree(out);
    tjDestroy(handle);
    return rc == 0 ? ms : -1;
}

// Saves image count times as the viewer would and prints one line.
bool measure(const char *label, const QImage &image, const QString &tagText, int count,
             const QTemporaryDir &folder)
{
    std::vector<double> saveMs, turboMs;
    qint64 bytes = 0;
    for (int i = 0; i < count; ++i) {
        const QString path =
            folder.filePath(QStringLiteral("%1-%2-%3.jpg").arg(tagText, label).arg(i));
        QElapsedTimer timer;
        timer.start();
        if (!ViewController::saveImage(image, path)) {
            std::fprintf(stderr, "saveImage failed for %s\n", qPrintable(path));
            return false;
        }
        saveMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        bytes = QFileInfo(path).size();
        QFile::remove(path);
        turboMs.push_back(turboCompressMs(image));
    }
    std::printf("%4dx%-6d %-6s %10lld %12.1f %12.1f %12.1f\n", image.width(), image.height(), label,
                bytes / 1024, median(saveMs), *std::max_element(saveMs.begin(), saveMs.end()),
                median(turboMs));
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    bench::prepareEnvironment();
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption repeats(QStringLiteral("repeats"),
                                     QStringLiteral("Photos saved per size."), QStringLiteral("N"),
                                     QStringLiteral("10"));
    const QCommandLineOption tags(QStringLiteral("tags"), QStringLiteral("Resolution tags to run."),
                                  QStringLiteral("LIST"), QStringLiteral("5,1"));
    parser.addOptions({repeats, tags});
    parser.process(app);
    const int count = std::max(1, parser.value(repeats).toInt());

    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }

    std::printf("%-11s %-6s %10s %12s %12s %12s\n", "size", "frame", "file KB", "save ms",
                "save max ms", "turbo ms");
    for (const QString &tagText : parser.value(tags).split(QLatin1Char(','))) {
        const resolution::Entry *entry = resolution::entryForTag(tagText.toInt());
        if (!entry)
            continue;
        JpegDecoder decoder;
        const QImage frame = decoder.decode(bench::simulatorFrame(tagText.toInt()));
        if (frame.isNull()) {
            std::fprintf(stderr, "no frame at tag %s (set ORBILENS_SIM)\n", qPrintable(tagText));
            return 1;
        }

        if (!measure("sky", frame, tagText, count, folder) ||
            !measure("noise", noise(frame.size()), tagText, count, folder))
            return 1;
    }
    return 0;
}
