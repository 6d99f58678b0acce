// Soak: the status button switched off and on again, over and over, against
// the simulator, with the real window offscreen.
//
// Each cycle switches the stream off, waits for the end of the transfer to
// show, switches it on again and waits for the next frame(s) to be shown. At
// the start, every --every cycles and at the end it prints the process's
// open file descriptors, threads, resident memory and the allocator's bytes
// in use. With --check it fails when descriptors or threads grew between the
// end of the warm-up and the end, or memory by more than a little a cycle.
//
//   bench_soak [--cycles 1000] [--every 100] [--frames 1] [--warm-up 20] [--check]

#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "platform/CameraAddress.h"
#include "support/FormControls.h"
#include "support/ProcessFigures.h"
#include "support/SimProcess.h"
#include "support/ViewerFakes.h"
#include "viewer/ViewController.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace
{

struct Figures {
    int cycle = 0;
    int fds = 0;
    int threads = 0;
    qint64 residentBytes = 0;
    qint64 heapBytes = 0;
    double seconds = 0;
};

Figures take(int cycle, const QElapsedTimer &clock)
{
    return {cycle,
            bench::openFileDescriptors(),
            bench::threads(),
            bench::residentBytes(),
            processfigures::heapInUse(),
            double(clock.elapsed()) / 1000.0};
}

void print(const Figures &f)
{
    std::printf("%6d %6d %8d %10.1f %10.1f %9.1f\n", f.cycle, f.fds, f.threads,
                double(f.residentBytes) / (1024.0 * 1024.0),
                double(f.heapBytes) / (1024.0 * 1024.0), f.seconds);
    std::fflush(stdout);
}

// Runs an event loop until done() or the time-out; false on the time-out. A
// real loop, not processEvents(): objects deleted later (transfers, replies)
// are deleted only by a running loop, as in the application.
bool waitFor(const std::function<bool()> &done, int timeoutMs = 10000)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

} // namespace

int main(int argc, char **argv)
{
    bench::prepareEnvironment();
    QApplication app(argc, argv);
    bench::quietViewerLog();
    QCommandLineParser parser;
    const QCommandLineOption cyclesOption(QStringLiteral("cycles"),
                                          QStringLiteral("Off and on cycles."), QStringLiteral("N"),
                                          QStringLiteral("1000"));
    const QCommandLineOption everyOption(QStringLiteral("every"),
                                         QStringLiteral("Print the figures every N cycles."),
                                         QStringLiteral("N"), QStringLiteral("100"));
    const QCommandLineOption framesOption(QStringLiteral("frames"),
                                          QStringLiteral("Frames to show after each switch-on."),
                                          QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption warmUpOption(
        QStringLiteral("warm-up"),
        QStringLiteral("Cycles before the figures that --check compares."), QStringLiteral("N"),
        QStringLiteral("20"));
    const QCommandLineOption checkOption(
        QStringLiteral("check"), QStringLiteral("Fail when the figures grew after the warm-up."));
    parser.addOptions({cyclesOption, everyOption, framesOption, warmUpOption, checkOption});
    parser.process(app);
    const int cycles = parser.value(cyclesOption).toInt();
    const int every = std::max(1, parser.value(everyOption).toInt());
    const int framesPerCycle = parser.value(framesOption).toInt();
    const int warmUp = std::min(parser.value(warmUpOption).toInt(), cycles);

    SimProcess sim;
    if (!sim.start({QStringLiteral("--fps"), QStringLiteral("30"), QStringLiteral("--resolution"),
                    QStringLiteral("11")})) {
        std::fprintf(stderr, "camera-box-sim did not start (set ORBILENS_SIM)\n");
        return 2;
    }
    CameraAddress::setBaseUrl(QUrl(sim.baseUrl()));

    ViewerFakes fakes; // on the box's network: the status button works
    MainWindow window(fakes.services());
    window.show();
    window.controller().viewDidLoad();
    const ViewController &controller = window.controller();
    const FormControls form(window);
    const platform::PreviewView *preview = form.previewImgeView;
    QPushButton *status = form.statusBtn;
    if (!waitFor(
            [&] { return !preview->image().isNull() && controller.photoSize().width() > 0; })) {
        std::fprintf(stderr, "no frame from the simulator\n");
        return 2;
    }

    std::printf("%d cycles of the status button off and on, %d frame(s) shown per cycle\n", cycles,
                framesPerCycle);
    std::printf("%6s %6s %8s %10s %10s %9s\n", "cycle", "fds", "threads", "RSS MiB", "heap MiB",
                "seconds");
    QElapsedTimer clock;
    clock.start();
    const Figures start = take(0, clock);
    print(start);
    Figures afterWarmUp = start;
    qint64 framesShown = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        status->click(); // off
        if (status->isChecked() || !waitFor([&] { return controller.isDisconnect(); })) {
            std::fprintf(stderr, "cycle %d: the stream did not end\n", cycle);
            return 1;
        }
        status->click(); // on
        for (int f = 0; f < framesPerCycle; ++f) {
            const qint64 shown = preview->image().cacheKey();
            if (!waitFor([&] { return preview->image().cacheKey() != shown; })) {
                std::fprintf(stderr, "cycle %d: no frame after switching on\n", cycle);
                return 1;
            }
            ++framesShown;
        }
        if (cycle == warmUp)
            afterWarmUp = take(cycle, clock);
        if (cycle % every == 0 || cycle == cycles)
            print(take(cycle, clock));
    }
    const Figures end = take(cycles, clock);
    std::printf("%lld frames shown; %.1f ms per cycle\n", static_cast<long long>(framesShown),
                end.seconds * 1000.0 / std::max(1, cycles));
    std::printf("after cycle %d to the end: fds %+d, threads %+d, RSS %+.1f MiB, heap %+.1f MiB\n",
                afterWarmUp.cycle, end.fds - afterWarmUp.fds, end.threads - afterWarmUp.threads,
                double(end.residentBytes - afterWarmUp.residentBytes) / (1024.0 * 1024.0),
                double(end.heapBytes - afterWarmUp.heapBytes) / (1024.0 * 1024.0));
    if (parser.isSet(checkOption)) {
        // Descriptors and threads must come back exactly. The allocator's
        // bytes in use may move by what caches keep, but a leak of even a
        // few objects a cycle (a reply and its buffers are some 12 KiB)
        // shows over the cycles after the warm-up; resident memory is looser.
        const qint64 measured = std::max(1, cycles - afterWarmUp.cycle);
        // Under AddressSanitizer freed memory stays resident in its
        // quarantine (up to 256 MiB), so only the heap figure counts there.
        const bool residentFlat = processfigures::underAddressSanitizer() ||
                                  end.residentBytes - afterWarmUp.residentBytes < 16 * 1024 * 1024;
        const bool flat = end.fds <= afterWarmUp.fds && end.threads <= afterWarmUp.threads &&
                          end.heapBytes - afterWarmUp.heapBytes < measured * 4 * 1024 &&
                          residentFlat;
        std::printf("%s\n", flat ? "flat" : "NOT FLAT");
        return flat ? 0 : 1;
    }
    return 0;
}
