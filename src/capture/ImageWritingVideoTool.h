#pragma once

#include "capture/MediaTime.h"
#include "capture/PixelBuffer.h"
#include "capture/VideoWriterInput.h"

#include <QImage>
#include <QSizeF>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Writes the frames of a recording into an MP4 file with one H.264 track.
//
// Frames are not timed by their arrival: the n-th frame accepted into a
// recording is stamped n / fps, so the file plays at the recording's rate
// whatever the wall-clock pace was. A frame that is refused takes no index.
//
// Encoding runs on one worker thread per recording (VideoWriterInput),
// behind a small bounded queue. That one object is the recording's file
// writer, its video input and the adaptor that takes pixel buffers, and
// "ready for more media data" means its queue has room.
//
// Threads: every operation is called on one thread, the main thread, and
// never waits on the encoder for more than a few milliseconds. The start and
// frame callbacks run on the caller's thread before the call returns. The
// finish callback runs on the recording's worker thread once its file is
// closed; it must not call back into the writer (post to the main thread for
// that) and touches nothing of a recording started after it.
class ImageWritingVideoTool
{
public:
    using StartCallback = std::function<void(bool created)>;
    using FrameCallback = std::function<void(bool accepted)>;
    using CompletionCallback = std::function<void(const QString &path)>;
    // How a recording's file ended up.
    struct FinishReport {
        RecordingOutcome outcome = RecordingOutcome::NothingKept;
        QString path;     // the recording's file
        QString keptPath; // what holds what was written; empty when nothing was kept
        QString detail;   // why it did not complete, for the user; empty when it did
    };
    using FinishReportCallback = std::function<void(const FinishReport &report)>;

    struct Options {
        // Frames the queue holds; 0 picks by frame size (queueCapacityFor).
        int queueCapacity = 0;
        // The x264 preset and tuning; by frame size when empty.
        std::optional<EncoderPreset> encoderPreset;
        // Runs on the worker before each frame is encoded.
        VideoWriterInput::FrameHook workerFrameHook;
    };

    // The longest an append waits for room in the queue.
    static constexpr std::chrono::microseconds kAppendWaitLimit{3000};

    // The writer the viewer uses, made on first use (thread-safe).
    static ImageWritingVideoTool &shareInstance();

    ImageWritingVideoTool();
    explicit ImageWritingVideoTool(Options options);
    // Stops what still runs (as abort() would) and joins every worker.
    ~ImageWritingVideoTool();
    ImageWritingVideoTool(const ImageWritingVideoTool &) = delete;
    ImageWritingVideoTool &operator=(const ImageWritingVideoTool &) = delete;

    // Starts a recording into a new file at path, of the size truncated to
    // whole pixels, at videoFPS. The callback, if any, learns at once whether
    // the file was created: it is false when something exists at the path
    // (which is never touched), when it cannot be created, or when the size
    // or rate cannot be encoded. A recording still running is finished first,
    // silently.
    void writePath(const QString &path, QSizeF writingVideoSize, int videoFPS,
                   StartCallback withCallbackBlock);

    // Hands one frame to the running recording. A frame that finds the queue
    // full, or no running recording, is dropped without a callback; one that
    // cannot be converted too. Otherwise the callback, if any, gets whether
    // the frame was queued, and a queued frame advances frame().
    void writeImage(const QImage &image, FrameCallback withCallbackBlock);

    // Queues a converted frame at a time, waiting at most kAppendWaitLimit
    // for room. True when the frame was queued.
    bool appendToAdapter(VideoWriterInput &adaptor, std::unique_ptr<PixelBuffer> pixelBuffer,
                         MediaTime atTime);

    // Finishes the running recording and returns at once. Later, on the
    // recording's worker thread, callback gets the file's path when the file
    // is complete, or the empty text when it is not. Nothing happens, and the
    // callback is not called, when no recording runs (also when its start
    // failed).
    void writeCompleteBlock(CompletionCallback callback);
    // The same, with the whole report: also why a file did not complete and
    // where what it holds was kept.
    void writeCompleteWithReport(FinishReportCallback callback);

    // For the application's exit: finishes the running recording (without a
    // callback) and waits at most timeout for every recording being finished.
    // What is still not done then is cut short (its file keeps the fragments
    // written so far) and given a moment more. A recording not done even then
    // goes on closing its file in the background, but its callback is never
    // called: after this returns no worker reaches into the caller's objects.
    // True when everything finished in time.
    bool finishAllAndWait(std::chrono::milliseconds timeout);

    // The current recording, as the last start left it.
    int frame() const { return m_frame; }
    int fps() const { return m_fps; }
    const QString &writePath() const { return m_writePath; }
    QSizeF imageSize() const { return m_imageSize; }
    MediaTime presentTime() const { return m_presentTime; }
    bool isRecording() const { return videoWriter != nullptr; }
    // True when the running recording can take no more frames for good: its
    // file could not be written, or was removed.
    bool hasFailed() const { return videoWriter && videoWriter->hasFailed(); }
    // Frames of the current recording that were dropped: queue full, no
    // buffer, or refused by the append.
    qint64 droppedFrames() const { return m_droppedFrames; }
    // The most frames the running recording's queue has held at once.
    int highestQueueDepth() const
    {
        return videoWriter ? int(videoWriter->highestQueueDepth()) : 0;
    }
    // Recordings whose finish has not completed yet.
    int finishingCount();
    // The frame memory (queued frames and spare buffers) that every
    // recording, running or finishing, still holds.
    qint64 frameMemoryBytes() const;

    static int queueCapacityFor(int width, int height);

private:
    void finishCurrent(FinishReportCallback callback);
    void reapFinished();

    const Options m_options;

    int m_frame = 0;
    int m_fps = 0;
    QString m_writePath;
    QSizeF m_imageSize;
    MediaTime m_presentTime;
    qint64 m_droppedFrames = 0;
    VideoWriterInput::Clock::time_point m_lastWaitLog;

    std::unique_ptr<VideoWriterInput> videoWriter; // the running recording
    std::vector<std::unique_ptr<VideoWriterInput>> m_finishing;
};
