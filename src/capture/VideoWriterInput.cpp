#include "capture/VideoWriterInput.h"

#include "capture/VideoFileEncoder.h"
#include "platform/FileSync.h"
#include "platform/LogCategories.h"
#include "platform/ThreadRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// A fragment holds at most one second of the file and at most about one
// second of wall-clock time, whichever comes first: a time-lapse recording
// gets a frame only every 0.625 s, and a crash should lose little of it.
constexpr std::chrono::milliseconds kFragmentWallTime{1000};
} // namespace

VideoWriterInput::VideoWriterInput(Config config) : m_config(std::move(config))
{
    if (m_config.fd >= 0)
        m_probeFd = ::fcntl(m_config.fd, F_DUPFD_CLOEXEC, 0);
    m_worker = std::thread([this] {
        // Named, so that top -H, gdb and perf tell the encoder from the rest.
        platform::threads::setCurrentThreadName(kWorkerThreadName);
        run();
    });
}

VideoWriterInput::~VideoWriterInput()
{
    abort();
    if (m_worker.joinable())
        m_worker.join();
    if (m_probeFd >= 0)
        ::close(m_probeFd);
}

QString VideoWriterInput::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

QString VideoWriterInput::keptPath() const
{
    std::lock_guard lock(m_mutex);
    return m_keptPath;
}

bool VideoWriterInput::fileWasRemoved() const
{
    struct stat info = {};
    return m_probeFd >= 0 && ::fstat(m_probeFd, &info) == 0 && info.st_nlink == 0;
}

bool VideoWriterInput::restoreRemovedFile() const
{
    struct stat info = {};
    if (::fstat(m_probeFd, &info) != 0 || info.st_size == 0)
        return false;
    // Only where nothing is now: whatever took the path meanwhile is kept.
    if (!QDir().mkpath(QFileInfo(m_config.path).absolutePath()))
        return false;
    const QByteArray path = QFile::encodeName(m_config.path);
    const int out = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0)
        return false;
    bool copied = true;
    char chunk[64 * 1024];
    for (off_t offset = 0; copied && offset < info.st_size;) {
        const ssize_t got = ::pread(m_probeFd, chunk, sizeof chunk, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            copied = false;
            break;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, chunk + done, size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                copied = false;
                break;
            }
            done += put;
        }
        offset += got;
    }
    copied = copied && platform::filesync::dataSync(out) == 0;
    ::close(out);
    if (!copied)
        ::unlink(path.constData()); // half a copy would pass for the recording
    return copied;
}

bool VideoWriterInput::isReadyForMoreMediaData() const
{
    std::lock_guard lock(m_mutex);
    return !m_failed && !m_abort && !m_finishRequested &&
           m_queue.size() < size_t(m_config.queueCapacity);
}

size_t VideoWriterInput::highestQueueDepth() const
{
    std::lock_guard lock(m_mutex);
    return m_highestQueueDepth;
}

bool VideoWriterInput::appendPixelBuffer(std::unique_ptr<PixelBuffer> buffer, MediaTime time)
{
    if (!buffer)
        return false;
    {
        std::lock_guard lock(m_mutex);
        if (m_failed || m_abort || m_finishRequested ||
            m_queue.size() >= size_t(m_config.queueCapacity))
            return false;
        m_queue.push_back({std::move(buffer), time});
        m_highestQueueDepth = std::max(m_highestQueueDepth, m_queue.size());
    }
    m_changed.notify_all();
    return true;
}

size_t VideoWriterInput::mostBuffersInUse() const
{
    // The queue, the frame being encoded and the frame being drawn: with this
    // many spare buffers a recording allocates no frame memory after its start.
    return size_t(m_config.queueCapacity) + 2;
}

std::unique_ptr<PixelBuffer> VideoWriterInput::takeSpareBuffer()
{
    std::lock_guard lock(m_mutex);
    if (m_spareBuffers.empty())
        return {};
    std::unique_ptr<PixelBuffer> buffer = std::move(m_spareBuffers.back());
    m_spareBuffers.pop_back();
    return buffer;
}

void VideoWriterInput::recycle(std::unique_ptr<PixelBuffer> buffer)
{
    std::lock_guard lock(m_mutex);
    if (m_spareBuffers.size() < mostBuffersInUse() && !m_finishRequested && !m_abort)
        m_spareBuffers.push_back(std::move(buffer));
}

bool VideoWriterInput::warmUpSpareBuffer()
{
    std::unique_ptr<PixelBuffer> buffer = PixelBuffer::create(m_config.width, m_config.height);
    if (!buffer)
        return false;
    std::memset(buffer->data(), 0, size_t(buffer->byteCount())); // fault the pages in
    recycle(std::move(buffer));
    return true;
}

bool VideoWriterInput::waitUntilReady(std::chrono::microseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    const auto hopeless = [this] { return m_failed || m_abort || m_finishRequested; };
    m_changed.wait_for(lock, timeout, [&] {
        return hopeless() || m_queue.size() < size_t(m_config.queueCapacity);
    });
    return !hopeless() && m_queue.size() < size_t(m_config.queueCapacity);
}

void VideoWriterInput::markAsFinished(Completion completion)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_finishRequested)
            return;
        m_finishRequested = true;
        m_completion = std::move(completion);
    }
    m_changed.notify_all();
}

void VideoWriterInput::abort()
{
    {
        std::lock_guard lock(m_mutex);
        m_abort = true;
    }
    m_changed.notify_all();
}

bool VideoWriterInput::waitUntilDone(Clock::time_point deadline) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_until(lock, deadline, [this] { return m_done.load(); });
}

void VideoWriterInput::setFailed(const QString &why, bool noSpace)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_failed)
            return;
        m_failed = true;
        m_noSpace = noSpace;
        m_failure = why;
        m_queue.clear();
    }
    m_changed.notify_all();
    qCWarning(lcCapture).noquote()
        << QStringLiteral("video writer: %1: %2").arg(m_config.path, why);
}

void VideoWriterInput::run()
{
    const Encoded encoded = encodeQueuedFrames(); // the encoder has closed the file
    report(settleClosedFile(encoded));
}

bool VideoWriterInput::takeNextFrame(QueuedFrame &item, bool &warmUp, bool fragmentOpen,
                                     Clock::time_point fragmentDeadline)
{
    std::unique_lock lock(m_mutex);
    const auto wake = [this] { return !m_queue.empty() || m_finishRequested || m_abort; };
    while (!wake() && !m_failed && warmUp && m_spareBuffers.size() < mostBuffersInUse()) {
        // Idle: prepare frame memory here rather than let the main thread
        // fault it in (for a 3840 x 2160 frame that costs more than the
        // conversion itself).
        lock.unlock();
        warmUp = warmUpSpareBuffer();
        lock.lock();
    }
    if (fragmentOpen) {
        if (!m_changed.wait_until(lock, fragmentDeadline, wake))
            return true; // frames stopped coming: the open fragment is due
    } else {
        m_changed.wait(lock, wake);
    }
    if (m_abort || m_queue.empty())
        return false;
    item = std::move(m_queue.front());
    m_queue.pop_front();
    lock.unlock();
    m_changed.notify_all(); // there is room again
    return true;
}

VideoWriterInput::Encoded VideoWriterInput::encodeQueuedFrames()
{
    Encoded result;
    VideoFileEncoder encoder;
    const auto failWith = [&] { setFailed(encoder.errorString(), encoder.failedForLackOfSpace()); };
    if (!encoder.open(
            m_config.fd, m_config.width, m_config.height, m_config.fps,
            m_config.preset.value_or(EncoderPreset::forFrameSize(m_config.width, m_config.height))))
        failWith();

    bool warmUp = true;
    int framesInFragment = 0;
    Clock::time_point fragmentDeadline;
    const auto flushFragment = [&] {
        if (framesInFragment > 0 && !m_failed) {
            if (!encoder.flushFragment()) {
                failWith();
            } else {
                result.holdsFrames = true;
                if (fileWasRemoved()) {
                    // Writing on would fill a file that no one can reach.
                    m_removed = true;
                    setFailed(QStringLiteral("the file was removed while it was written"));
                }
            }
        }
        framesInFragment = 0;
    };

    for (;;) {
        QueuedFrame item;
        if (!takeNextFrame(item, warmUp, framesInFragment > 0, fragmentDeadline))
            break;
        if (!item.buffer) {
            flushFragment();
            continue;
        }
        if (m_failed)
            continue;
        if (m_config.frameHook)
            m_config.frameHook(item.time);
        if (!encoder.encode(*item.buffer, item.time)) {
            failWith();
            continue;
        }
        recycle(std::move(item.buffer));
        if (framesInFragment++ == 0)
            fragmentDeadline = Clock::now() + kFragmentWallTime;
        if (framesInFragment >= m_config.fps || Clock::now() >= fragmentDeadline)
            flushFragment();
    }

    if (!m_failed) {
        // On abort the encoder is not drained; what the muxer has still goes
        // into the file, which is then closed properly.
        const auto drain = m_abort ? VideoFileEncoder::Drain::No : VideoFileEncoder::Drain::Yes;
        if (encoder.finish(drain)) {
            result.holdsFrames = true;
            result.completed = !m_abort;
        } else {
            failWith();
        }
    }
    return result; // the encoder closes the file here if finish() did not
}

bool VideoWriterInput::removeOwnFile() const
{
    // Only the file this recording created: one moved aside meanwhile is
    // that file no longer, and whatever took its path belongs to someone else.
    const QByteArray path = QFile::encodeName(m_config.path);
    struct stat atPath = {};
    struct stat own = {};
    if (::lstat(path.constData(), &atPath) != 0 || ::fstat(m_probeFd, &own) != 0 ||
        atPath.st_dev != own.st_dev || atPath.st_ino != own.st_ino)
        return false;
    return ::unlink(path.constData()) == 0;
}

RecordingOutcome VideoWriterInput::settleClosedFile(Encoded encoded)
{
    QString keptPath;
    RecordingOutcome outcome = RecordingOutcome::Completed;
    if (fileWasRemoved()) {
        // Removed after the last fragment's look, or before: either way what
        // was written (cut back to whole fragments) goes back to its path.
        m_removed = true;
        if (!m_failed)
            setFailed(QStringLiteral("the file was removed while it was written"));
        if (encoded.holdsFrames && restoreRemovedFile())
            keptPath = m_config.path;
        if (keptPath.isEmpty())
            qCWarning(lcCapture).noquote()
                << QStringLiteral("video writer: %1: lost").arg(m_config.path);
        else
            qCInfo(lcCapture).noquote()
                << QStringLiteral("video writer: %1: restored").arg(m_config.path);
        outcome = keptPath.isEmpty() ? RecordingOutcome::FolderRemovedLost
                                     : RecordingOutcome::FolderRemovedRestored;
    } else {
        struct stat own = {};
        const bool empty = ::fstat(m_probeFd, &own) != 0 || own.st_size == 0;
        // A file the failure left without a frame (cut back to its header, or
        // to nothing) is no capture.
        if (!encoded.completed && (!encoded.holdsFrames || empty))
            removeOwnFile();
        else
            keptPath = m_config.path;
        if (encoded.completed)
            outcome = RecordingOutcome::Completed;
        else if (m_noSpace)
            outcome = RecordingOutcome::NoSpace;
        else if (keptPath.isEmpty())
            outcome = RecordingOutcome::NothingKept;
        else
            outcome = RecordingOutcome::CutShort;
    }
    {
        std::lock_guard lock(m_mutex);
        m_keptPath = keptPath;
        if (m_abort && m_failure.isEmpty())
            m_failure = QStringLiteral("cut short at exit");
    }
    // The file is complete: its frame memory is of no further use, and the
    // input may stay around a while until its owner reaps it.
    releaseFrameMemory();
    return outcome;
}

void VideoWriterInput::releaseFrameMemory()
{
    std::vector<std::unique_ptr<PixelBuffer>> spares;
    std::deque<QueuedFrame> queued;
    {
        std::lock_guard lock(m_mutex);
        spares.swap(m_spareBuffers);
        queued.swap(m_queue);
    }
    // Freed here, outside the lock.
}

qint64 VideoWriterInput::frameMemoryBytes() const
{
    std::lock_guard lock(m_mutex);
    qint64 bytes = 0;
    for (const auto &buffer : m_spareBuffers)
        bytes += buffer->byteCount();
    for (const auto &item : m_queue)
        bytes += item.buffer->byteCount();
    return bytes;
}

void VideoWriterInput::dropCompletion()
{
    std::unique_lock lock(m_mutex);
    m_completionDropped = true;
    m_completion = {};
    m_changed.wait(lock, [this] { return !m_inCompletion; });
}

void VideoWriterInput::report(RecordingOutcome outcome)
{
    Completion completion;
    {
        std::lock_guard lock(m_mutex);
        if (!m_completionDropped) {
            completion = std::move(m_completion);
            m_inCompletion = bool(completion);
        }
    }
    if (completion)
        completion(outcome);
    {
        std::lock_guard lock(m_mutex);
        m_inCompletion = false;
        m_done = true;
    }
    m_changed.notify_all();
}
