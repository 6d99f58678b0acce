// Live view: the real window, offscreen, showing the simulator's stream.
//
// For each picture size it prints the frames shown per second, the CPU time
// per shown frame of this process (user + system: receive, split, decode,
// paint), and next to it the CPU time libjpeg-turbo alone takes to decode
// one of the same frames, with the ratio of the two.
//
//   bench_live_view [--seconds N] [--fps N] [--tags 5,1]

#include "app/MainWindow.h"
#include "platform/CameraAddress.h"
#include "stream/JpegDecoder.h"
#include "support/SimProcess.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ResolutionTable.h"
#include "viewer/ViewController.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace
{

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One JPEG frame as the simulator sends it, cut out of its stream.
QByteArray grabFrame(const QString &baseUrl)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply =
        manager.get(QNetworkRequest(QUrl(baseUrl + QStringLiteral("/?action=stream"))));
    QByteArray bytes, frame;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::readyRead, [&] {
        bytes += reply->readAll();
        const qsizetype start = bytes.indexOf("\xff\xd8");
        const qsizetype end = start < 0 ? -1 : bytes.indexOf("\xff\xd9", start);
        if (end > 0 && frame.isEmpty()) {
            frame = bytes.mid(start, end + 2 - start);
            loop.quit();
        }
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    reply->abort();
    reply->deleteLater();
    return frame;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("Measured seconds per size."),
                                     QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption fps(QStringLiteral("fps"),
                                 QStringLiteral("Frames per second the box sends."),
                                 QStringLiteral("N"), QStringLiteral("20"));
    const QCommandLineOption tags(QStringLiteral("tags"), QStringLiteral("Resolution tags to run."),
                                  QStringLiteral("LIST"), QStringLiteral("8,5,1"));
    parser.addOptions({seconds, fps, tags});
    parser.process(app);
    const int measureMs = parser.value(seconds).toInt() * 1000;

    std::printf("%-11s %8s %10s %12s %12s %7s\n", "size", "sent fps", "shown fps", "cpu ms/frame",
                "decode ms", "ratio");
    for (const QString &tagText : parser.value(tags).split(QLatin1Char(','))) {
        const resolution::Entry *entry = resolution::entryForTag(tagText.toInt());
        if (!entry)
            continue;
        SimProcess sim;
        if (!sim.start({QStringLiteral("--resolution"), tagText, QStringLiteral("--fps"),
                        parser.value(fps)})) {
            std::fprintf(stderr, "camera-box-sim did not start (set ORBILENS_SIM)\n");
            return 1;
        }
        CameraAddress::setBaseUrl(QUrl(sim.baseUrl()));

        // Decode alone, on a frame of this stream.
        const QByteArray jpeg = grabFrame(sim.baseUrl());
        JpegDecoder decoder;
        const int decodes = 40;
        const double d0 = cpuSeconds();
        for (int i = 0; i < decodes; ++i)
            decoder.decode(jpeg);
        const double decodeMs = (cpuSeconds() - d0) * 1000.0 / decodes;

        ViewerFakes fakes; // on the box's network: no prompt over the picture
        MainWindow window(fakes.services());
        window.resize(1280, 780);
        window.show();
        window.controller().viewDidLoad();
        spin(2000); // warm up: first frames, allocations, caches
        const auto *preview = window.form().previewImgeView;
        const auto painted0 = preview->paintCount();
        const double c0 = cpuSeconds();
        spin(measureMs);
        const double cpu = cpuSeconds() - c0;
        const auto shown = preview->paintCount() - painted0;
        const double perFrameMs = shown ? cpu * 1000.0 / double(shown) : 0.0;
        std::printf("%4dx%-6d %8s %10.1f %12.2f %12.2f %7.2f\n", entry->width, entry->height,
                    qPrintable(parser.value(fps)), double(shown) * 1000.0 / measureMs, perFrameMs,
                    decodeMs, decodeMs > 0 ? perFrameMs / decodeMs : 0.0);
        std::fflush(stdout);
    }
    return 0;
}
