#pragma once

#include "capture/ImageWritingVideoTool.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>

// Helpers for the video writer's tests.
namespace recording
{

// Finish callbacks arrive on worker threads; this collects them by slot.
class Completions
{
public:
    ImageWritingVideoTool::CompletionCallback callback(int slot);
    bool waitFor(int calls, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // The path a slot's callback got, or "<no call>".
    QString path(int slot);
    int calls();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QHash<int, QString> m_paths;
    int m_calls = 0;
};

// Holds the encoder workers (through a frame hook) while closed.
class Gate
{
public:
    void close();
    void open();
    // Called by the hook: waits while the gate is closed.
    void pass();
    // Waits until count callers are held in pass().
    bool waitForWaiting(int count);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = true;
    int m_waiting = 0;
};

// Offers test frames (seeds firstSeed, firstSeed + 1, ...) until count were
// accepted. A refused frame is offered again a moment later, as the next
// camera frame would be. Returns the frame callbacks' answers.
QList<bool> writeFrames(ImageWritingVideoTool &tool, int count, QSize size, int firstSeed = 0);

// The mean luma an encoder should keep of a frame (BT.709, limited range).
double meanLuma(const QImage &image);

} // namespace recording
