#include "capture/VideoWriterInput.h"

#include "capture/VideoFileEncoder.h"
#include "platform/Log.h"

#include <QFile>

#include <cstring>
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
    m_worker = std::thread([this] { run(); });
}

VideoWriterInput::~VideoWriterInput()
{
    abort();
    if (m_worker.joinable())
        m_worker.join();
}

bool VideoWriterInput::isReadyForMoreMediaData() const
{
    std::lock_guard lock(m_mutex);
    return !m_failed && !m_abort && !m_finishRequested &&
           m_queue.size() < size_t(m_config.queueCapacity);
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

void VideoWriterInput::setFailed(const QString &why)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_failed)
            return;
        m_failed = true;
        m_queue.clear();
    }
    m_changed.notify_all();
    platform::log(QStringLiteral("video writer: %1: %2").arg(m_config.path, why));
}

void VideoWriterInput::run()
{
    bool completed = false;
    {
        VideoFileEncoder encoder;
        if (!encoder.open(m_config.fd, m_config.width, m_config.height, m_config.fps,
                          m_config.preset.value_or(
                              EncoderPreset::forFrameSize(m_config.width, m_config.height))))
            setFailed(encoder.errorString());

        bool warmUp = true;
        int framesInFragment = 0;
        Clock::time_point fragmentDeadline;
        const auto flushFragment = [&] {
            if (framesInFragment > 0 && !m_failed && !encoder.flushFragment())
                setFailed(encoder.errorString());
            framesInFragment = 0;
        };

        for (;;) {
            QueuedFrame item;
            {
                std::unique_lock lock(m_mutex);
                const auto wake = [this] {
                    return !m_queue.empty() || m_finishRequested || m_abort;
                };
                if (!wake() && !m_failed && warmUp && m_spareBuffers.size() < mostBuffersInUse()) {
                    // Idle: prepare frame memory here rather than let the
                    // main thread fault it in (for a 3840 x 2160 frame that
                    // costs more than the conversion itself).
                    lock.unlock();
                    warmUp = warmUpSpareBuffer();
                    continue;
                }
                if (framesInFragment > 0) {
                    if (!m_changed.wait_until(lock, fragmentDeadline, wake)) {
                        // Frames stopped coming: do not leave them unwritten.
                        lock.unlock();
                        flushFragment();
                        continue;
                    }
                } else {
                    m_changed.wait(lock, wake);
                }
                if (m_abort || m_queue.empty())
                    break;
                item = std::move(m_queue.front());
                m_queue.pop_front();
            }
            m_changed.notify_all(); // there is room again
            if (m_failed)
                continue;

            if (m_config.frameHook)
                m_config.frameHook(item.time);
            if (!encoder.encode(*item.buffer, item.time)) {
                setFailed(encoder.errorString());
                continue;
            }
            recycle(std::move(item.buffer));
            if (framesInFragment++ == 0)
                fragmentDeadline = Clock::now() + kFragmentWallTime;
            if (framesInFragment >= m_config.fps || Clock::now() >= fragmentDeadline)
                flushFragment();
        }

        if (!m_failed) {
            // On abort the encoder is not drained; what the muxer has still
            // goes into the file, which is then closed properly.
            const auto drain = m_abort ? VideoFileEncoder::Drain::No : VideoFileEncoder::Drain::Yes;
            if (encoder.finish(drain))
                completed = !m_abort;
            else
                setFailed(encoder.errorString());
        }
    } // the encoder closes the file here if finish() did not

    if (!completed) {
        // A file the failure left empty (or cut back to nothing) is no capture.
        const QByteArray path = QFile::encodeName(m_config.path);
        struct stat info = {};
        if (::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0)
            ::unlink(path.constData());
    }

    Completion completion;
    {
        std::lock_guard lock(m_mutex);
        completion = std::move(m_completion);
    }
    if (completion)
        completion(completed);
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_changed.notify_all();
}
