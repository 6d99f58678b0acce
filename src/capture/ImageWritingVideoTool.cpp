#include "capture/ImageWritingVideoTool.h"

#include "capture/ImageBuffer.h"
#include "platform/Log.h"
#include "platform/ThreadRules.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace
{
// What the queue of one recording may hold in frame memory. A 3840 x 2160
// frame takes 33 MB, so the largest recordings get the smallest queues. Four
// frames at the least: the first frames of a recording take the encoder
// about twice as long as the later ones (x264 is still setting up its
// memory), and at 3840 x 2160 a queue of three ran full over that.
constexpr qint64 kQueueBudgetBytes = 96LL * 1024 * 1024;
constexpr int kMinQueueFrames = 4;
constexpr int kMaxQueueFrames = 8;
constexpr int kMaxFps = 240;
constexpr std::chrono::milliseconds kAbortGrace{1000};
constexpr std::chrono::seconds kWaitLogInterval{1};
} // namespace

ImageWritingVideoTool &ImageWritingVideoTool::shareInstance()
{
    static ImageWritingVideoTool instance;
    return instance;
}

ImageWritingVideoTool::ImageWritingVideoTool() : ImageWritingVideoTool(Options{}) {}

ImageWritingVideoTool::ImageWritingVideoTool(Options options) : m_options(std::move(options)) {}

ImageWritingVideoTool::~ImageWritingVideoTool()
{
    // The inputs' destructors abort and join their workers.
    videoWriter.reset();
    m_finishing.clear();
}

int ImageWritingVideoTool::queueCapacityFor(int width, int height)
{
    const qint64 frameBytes = std::max<qint64>(1, qint64(width) * height * 4);
    return int(
        std::clamp<qint64>(kQueueBudgetBytes / frameBytes, kMinQueueFrames, kMaxQueueFrames));
}

void ImageWritingVideoTool::writePath(const QString &path, QSizeF writingVideoSize, int videoFPS,
                                      StartCallback withCallbackBlock)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    reapFinished();
    if (videoWriter)
        finishCurrent({});

    m_frame = 0;
    m_fps = videoFPS;
    m_presentTime = MediaTime{0, videoFPS};
    m_writePath = path;
    m_imageSize = writingVideoSize;
    m_droppedFrames = 0;

    const double width = std::trunc(writingVideoSize.width());
    const double height = std::trunc(writingVideoSize.height());
    const bool encodable = width >= 2 && height >= 2 && width <= PixelBuffer::kMaxSide &&
                           height <= PixelBuffer::kMaxSide && videoFPS >= 1 && videoFPS <= kMaxFps;
    int fd = -1;
    if (encodable && !path.isEmpty()) {
        // O_EXCL: a capture already at the path is never overwritten. Read
        // too: a file removed while it is written is read back to restore it.
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                    0666);
    }
    if (withCallbackBlock)
        withCallbackBlock(fd >= 0);
    if (fd < 0)
        return;

    VideoWriterInput::Config config;
    config.path = path;
    config.fd = fd; // the input owns it from here on
    config.width = int(width);
    config.height = int(height);
    config.fps = videoFPS;
    config.queueCapacity = m_options.queueCapacity > 0
                               ? m_options.queueCapacity
                               : queueCapacityFor(config.width, config.height);
    config.preset = m_options.encoderPreset;
    config.frameHook = m_options.workerFrameHook;
    videoWriter = std::make_unique<VideoWriterInput>(std::move(config));
}

void ImageWritingVideoTool::writeImage(const QImage &image, FrameCallback withCallbackBlock)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (!videoWriter || !videoWriter->isReadyForMoreMediaData()) {
        if (videoWriter)
            ++m_droppedFrames;
        return;
    }
    m_presentTime = MediaTime{m_frame, m_fps};
    // Every buffer of a recording has the recording's size, so a spare one
    // fits; otherwise a new one is made.
    std::unique_ptr<PixelBuffer> buffer = videoWriter->takeSpareBuffer();
    if (buffer)
        drawFrameIntoPixelBuffer(image, *buffer);
    else
        buffer = pixelBufferRefWithSize(image, m_imageSize);
    if (!buffer) {
        ++m_droppedFrames;
        return;
    }
    // The buffer moves into the queue (or is freed when refused).
    const bool accepted = appendToAdapter(*videoWriter, std::move(buffer), m_presentTime);
    if (withCallbackBlock)
        withCallbackBlock(accepted);
    if (accepted)
        ++m_frame;
    else
        ++m_droppedFrames;
}

bool ImageWritingVideoTool::appendToAdapter(VideoWriterInput &adaptor,
                                            std::unique_ptr<PixelBuffer> pixelBuffer,
                                            MediaTime atTime)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (!adaptor.isReadyForMoreMediaData() && !adaptor.hasFailed()) {
        // Only the main thread fills the queue, so after writeImage's own
        // check this hardly ever waits; when it does, briefly and with one
        // log line a second at most.
        const auto now = VideoWriterInput::Clock::now();
        if (now - m_lastWaitLog >= kWaitLogInterval) {
            platform::log(QStringLiteral("等待"));
            m_lastWaitLog = now;
        }
        adaptor.waitUntilReady(kAppendWaitLimit);
    }
    return adaptor.appendPixelBuffer(std::move(pixelBuffer), atTime);
}

void ImageWritingVideoTool::writeCompleteBlock(CompletionCallback callback)
{
    FinishReportCallback reportCallback;
    if (callback)
        reportCallback = [callback = std::move(callback)](const FinishReport &report) {
            callback(report.outcome == RecordingOutcome::Completed ? report.path : QString());
        };
    writeCompleteWithReport(std::move(reportCallback));
}

void ImageWritingVideoTool::writeCompleteWithReport(FinishReportCallback callback)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    reapFinished();
    if (videoWriter)
        finishCurrent(std::move(callback));
}

void ImageWritingVideoTool::finishCurrent(FinishReportCallback callback)
{
    // The completion knows only its own input, path and callback: it runs on
    // the worker and must not reach into whatever recording runs by then.
    VideoWriterInput *input = videoWriter.get();
    VideoWriterInput::Completion completion;
    if (callback)
        completion = [input, callback = std::move(callback)](RecordingOutcome outcome) {
            // The input calls this from its own worker, so it is alive: it
            // stays in m_finishing until it is done, after this returns.
            FinishReport report;
            report.outcome = outcome;
            report.path = input->path();
            report.keptPath = input->keptPath();
            report.detail = input->failure();
            callback(report);
        };
    videoWriter->markAsFinished(std::move(completion));
    m_finishing.push_back(std::move(videoWriter));
    m_frame = 0;
}

bool ImageWritingVideoTool::finishAllAndWait(std::chrono::milliseconds timeout)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (videoWriter)
        finishCurrent({});
    const auto deadline = VideoWriterInput::Clock::now() + timeout;
    bool allFinished = true;
    for (const auto &input : m_finishing)
        allFinished = input->waitUntilDone(deadline) && allFinished;
    if (!allFinished) {
        for (const auto &input : m_finishing)
            input->abort();
        const auto graceDeadline = VideoWriterInput::Clock::now() + kAbortGrace;
        for (const auto &input : m_finishing)
            if (!input->waitUntilDone(graceDeadline))
                // Still closing its file: it may do so, but its report would
                // reach objects that the exit is about to destroy.
                input->dropCompletion();
    }
    reapFinished();
    return allFinished;
}

int ImageWritingVideoTool::finishingCount()
{
    reapFinished();
    return int(m_finishing.size());
}

qint64 ImageWritingVideoTool::frameMemoryBytes() const
{
    qint64 bytes = videoWriter ? videoWriter->frameMemoryBytes() : 0;
    for (const auto &input : m_finishing)
        bytes += input->frameMemoryBytes();
    return bytes;
}

void ImageWritingVideoTool::reapFinished()
{
    // A done input's worker has returned; destroying it joins at once.
    std::erase_if(m_finishing, [](const auto &input) { return input->isDone(); });
}
