#pragma once

#include "capture/ImageWritingVideoTool.h"
#include "support/TestImages.h"

#include <QPainter>

#include <atomic>
#include <csignal>
#include <future>
#include <sys/resource.h>
#include <thread>

// Helpers for the video writer's tests.
namespace recording
{
using namespace std::chrono_literals;
using Report = ImageWritingVideoTool::FinishReport;

// A test picture with a white top row, so that a frame encoded a row too
// high or too low shows.
inline QImage frame(QSize size, int seed)
{
    QImage image = testimages::picture(size.width(), size.height(), seed);
    QPainter(&image).fillRect(0, 0, size.width(), 1, Qt::white);
    return image;
}

// The mean luma an encoder should keep of an area of a frame (BT.709,
// limited range).
inline double meanLuma(const QImage &image, const QRect &area)
{
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            sum += 16 + 219 * (0.2126 * qRed(p) + 0.7152 * qGreen(p) + 0.0722 * qBlue(p)) / 255;
        }
    return sum / (double(area.width()) * area.height());
}

// Offers frames (seeds firstSeed, firstSeed + 1, ...) until count were
// accepted; a refused one comes again a moment later, as the next camera
// frame would. False when the recording failed first.
inline bool writeFrames(ImageWritingVideoTool &tool, int count, QSize size, int firstSeed = 0)
{
    for (int accepted = 0; accepted < count; std::this_thread::sleep_for(1ms)) {
        const int before = tool.frame();
        tool.writeImage(frame(size, firstSeed + accepted), {});
        accepted += tool.frame() > before;
        if (tool.hasFailed() || !tool.isRecording())
            return false;
    }
    return true;
}

// Finishes the running recording. The function returned waits for its
// report, which comes from the worker: a blank one when none came in 30 s.
inline std::function<Report()> finish(ImageWritingVideoTool &tool)
{
    auto promise = std::make_shared<std::promise<Report>>();
    tool.writeCompleteWithReport([promise](const Report &report) { promise->set_value(report); });
    return [report = promise->get_future().share()] {
        return report.wait_for(30s) == std::future_status::ready ? report.get() : Report{};
    };
}

// Holds the encoder workers in their frame hook while the test holds mutex.
struct Gate {
    std::mutex mutex;
    std::atomic<int> held = 0;
    VideoWriterInput::FrameHook hook()
    {
        return [this](MediaTime) {
            ++held;
            std::lock_guard pass(mutex);
            --held;
        };
    }
};

// A disk that fills up, played by a file size limit on this process: writes
// past it fail with EFBIG. Returns what lifts the limit again.
inline std::function<void()> limitFileSize(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved = {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limited{bytes, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limited);
    return [saved] { setrlimit(RLIMIT_FSIZE, &saved); };
}

} // namespace recording
