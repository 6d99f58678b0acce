#pragma once

#include "capture/EncoderPreset.h"
#include "capture/MediaTime.h"
#include "capture/PixelBuffer.h"
#include "capture/RecordingOutcome.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// The input of one recording: a small bounded queue of frames and the worker
// thread that owns the recording's encoder and file (VideoFileEncoder).
//
// The feeding thread (the main thread) never waits on the encoder: a frame is
// either queued at once or refused. The worker encodes the frames in order,
// cuts a fragment of the file about once a second (by the frame count at the
// recording's rate, or by the clock when frames come slowly) and, once the
// input is marked as finished, drains the queue, flushes the encoder, closes
// the file and calls the completion on the worker thread.
//
// Frame memory is recycled: encoded buffers go back to a spare list that the
// feeding thread draws the next frames into, and the idle worker fills that
// list up front. A recording holds at most queue capacity + 2 buffers (six
// 33 MB buffers at 3840 x 2160), released as soon as its file is complete,
// before the completion runs.
//
// The file descriptor is taken over in the constructor; the file must be new
// and empty, open for reading and writing. A file that ends up without a
// frame after a failure is removed again, but only if the path still names
// that same file: whatever took its place meanwhile is left alone. The destructor aborts a worker
// that is still running (see abort()) and joins it.
//
// A file removed while it is written (its folder deleted, say) lives on only
// as long as it is open. The worker looks after every fragment: a removed
// file fails the recording, and once the file is closed what it holds is
// copied back to its path, the folders on the way made again.
class VideoWriterInput
{
public:
    using Clock = std::chrono::steady_clock;
    // Called on the worker thread when the file is closed, with how it ended.
    using Completion = std::function<void(RecordingOutcome outcome)>;
    // Called on the worker thread before each frame is encoded, with the
    // frame's time. Lets a caller pace or observe the worker.
    using FrameHook = std::function<void(MediaTime)>;
    // The worker's thread name (at most 15 characters, as Linux keeps them).
    static constexpr const char *kWorkerThreadName = "orbilens-encode";

    struct Config {
        QString path;
        int fd = -1;
        int width = 0;
        int height = 0;
        int fps = 0;
        int queueCapacity = 3;
        // By frame size (EncoderPreset::forFrameSize) when empty.
        std::optional<EncoderPreset> preset;
        FrameHook frameHook;
    };

    explicit VideoWriterInput(Config config);
    ~VideoWriterInput();
    VideoWriterInput(const VideoWriterInput &) = delete;
    VideoWriterInput &operator=(const VideoWriterInput &) = delete;

    // True while the queue has room and the recording neither failed nor was
    // marked as finished.
    bool isReadyForMoreMediaData() const;
    // Queues one frame; false (and the buffer is dropped) when not ready.
    bool appendPixelBuffer(std::unique_ptr<PixelBuffer> buffer, MediaTime time);
    // Waits at most timeout for the input to become ready; false when it did
    // not, or when it never will again (failed or finished).
    bool waitUntilReady(std::chrono::microseconds timeout) const;
    // The most frames the queue has held at once; the queue's capacity means
    // the worker fell behind at some point.
    size_t highestQueueDepth() const;
    // The memory of a frame already encoded, to draw the next frame into:
    // fresh memory for a large frame costs more to fault in than to fill.
    // Null when there is none to spare.
    std::unique_ptr<PixelBuffer> takeSpareBuffer();
    // True once encoding or writing the file has failed.
    bool hasFailed() const { return m_failed.load(); }
    // Why it failed, for the user; empty while it has not.
    QString failure() const;
    // True when the file was found removed while it was written.
    bool wasRemoved() const { return m_removed.load(); }
    // Once the file is closed (in the completion and later): the path that
    // holds what was written, or empty when nothing was kept.
    QString keptPath() const;
    // The bytes of frame memory the input holds: queued frames and spares.
    qint64 frameMemoryBytes() const;

    // No more frames: the worker finishes the file and then calls completion.
    // Only the first call counts.
    void markAsFinished(Completion completion);
    // Finish as fast as possible: queued frames are dropped, frames inside
    // the encoder are not drained, the file is closed with what it has. The
    // completion (if one was given) reports CutShort.
    void abort();
    // The completion is not called from now on. Returns once a call already
    // under way has returned, so that afterwards the worker no longer reaches
    // anything the completion refers to. The file is still closed as usual.
    void dropCompletion();

    // True once the worker has closed the file and called the completion.
    bool isDone() const { return m_done.load(); }
    bool waitUntilDone(Clock::time_point deadline) const;

    const QString &path() const { return m_config.path; }

private:
    struct QueuedFrame {
        std::unique_ptr<PixelBuffer> buffer;
        MediaTime time;
    };

    // What the encoding loop leaves for settling the file.
    struct Encoded {
        bool completed = false;
        bool holdsFrames = false; // a fragment, or the whole file, reached the disk
    };

    void run();
    Encoded encodeQueuedFrames();
    // Blocks until a frame is due (false: the loop ends) or, with a fragment
    // open past its deadline, until it is time to flush (frame left empty).
    bool takeNextFrame(QueuedFrame &item, bool &warmUp, bool fragmentOpen,
                       Clock::time_point fragmentDeadline);
    // After the encoder has closed the file: restores a removed file,
    // removes one that kept no frame, and says how the recording ended.
    RecordingOutcome settleClosedFile(Encoded encoded);
    bool removeOwnFile() const;
    void releaseFrameMemory();
    void report(RecordingOutcome outcome);
    void setFailed(const QString &why, bool noSpace = false);
    bool fileWasRemoved() const;
    // Copies the removed file's bytes back to its path; true when done.
    bool restoreRemovedFile() const;
    void recycle(std::unique_ptr<PixelBuffer> buffer);
    size_t mostBuffersInUse() const;
    // Makes one spare buffer with its memory in place; false when it cannot.
    bool warmUpSpareBuffer();

    const Config m_config;
    // A second descriptor of the file, kept after the encoder closes its own:
    // it tells whether the file was removed and still reads it if it was.
    int m_probeFd = -1;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed; // any change of the fields below
    std::deque<QueuedFrame> m_queue;
    size_t m_highestQueueDepth = 0;
    std::vector<std::unique_ptr<PixelBuffer>> m_spareBuffers;
    bool m_finishRequested = false;
    Completion m_completion;
    bool m_completionDropped = false;
    bool m_inCompletion = false;
    QString m_failure;
    QString m_keptPath;

    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_removed{false};
    std::atomic<bool> m_noSpace{false};

    std::thread m_worker; // last: starts once everything above exists
};
