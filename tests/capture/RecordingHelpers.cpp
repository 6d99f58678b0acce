#include "capture/RecordingHelpers.h"

#include "support/TestImages.h"

#include <thread>

namespace recording
{

ImageWritingVideoTool::CompletionCallback Completions::callback(int slot)
{
    return [this, slot](const QString &path) {
        std::lock_guard lock(m_mutex);
        m_paths[slot] = path;
        ++m_calls;
        m_changed.notify_all();
    };
}

bool Completions::waitFor(int calls, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_calls >= calls; });
}

QString Completions::path(int slot)
{
    std::lock_guard lock(m_mutex);
    return m_paths.value(slot, QStringLiteral("<no call>"));
}

int Completions::calls()
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

void Gate::close()
{
    std::lock_guard lock(m_mutex);
    m_open = false;
}

void Gate::open()
{
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
    }
    m_changed.notify_all();
}

void Gate::pass()
{
    std::unique_lock lock(m_mutex);
    ++m_waiting;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_open; });
    --m_waiting;
}

bool Gate::waitForWaiting(int count)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_waiting >= count; });
}

QList<bool> writeFrames(ImageWritingVideoTool &tool, int count, QSize size, int firstSeed)
{
    QList<bool> answers;
    for (int accepted = 0; accepted < count;) {
        const int before = tool.frame();
        tool.writeImage(testimages::picture(size.width(), size.height(), firstSeed + accepted),
                        [&](bool ok) { answers.append(ok); });
        if (tool.frame() > before)
            ++accepted;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return answers;
}

double meanLuma(const QImage &image)
{
    double sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            sum += 16 + 219 * (0.2126 * qRed(p) + 0.7152 * qGreen(p) + 0.0722 * qBlue(p)) / 255;
        }
    }
    return sum / (double(image.width()) * image.height());
}

} // namespace recording
