#include "stream/CameraBuffer.h"

#include "platform/CameraAddress.h"
#include "platform/LogCategories.h"
#include "platform/SharedInstance.h"
#include "platform/ThreadRules.h"
#include "stream/StreamTask.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QThread>

#include <algorithm>
#include <cstring>

namespace
{
platform::SharedInstance<CameraBuffer> g_shared;

bool endsWithEndOfImage(QByteArrayView chunk)
{
    return chunk.size() >= 2 && uchar(chunk[chunk.size() - 2]) == 0xFF &&
           uchar(chunk[chunk.size() - 1]) == 0xD9;
}
} // namespace

CameraBuffer &CameraBuffer::shareInstance()
{
    return g_shared.get([] {
        auto *instance = new CameraBuffer;
        QThread *mainThread = QCoreApplication::instance() ? QCoreApplication::instance()->thread()
                                                           : QThread::currentThread();
        if (QThread::currentThread() == mainThread) {
            instance->startFrameRateTimer();
        } else {
            // A first call from another thread: the instance and its timer
            // still belong to the main thread's event loop.
            instance->moveToThread(mainThread);
            QMetaObject::invokeMethod(
                instance, [instance] { instance->startFrameRateTimer(); }, Qt::QueuedConnection);
        }
        return instance;
    });
}

bool CameraBuffer::hasSharedInstance()
{
    return g_shared.peek() != nullptr;
}

void CameraBuffer::releaseSharedInstance()
{
    g_shared.release();
}

CameraBuffer::CameraBuffer() = default;

CameraBuffer::~CameraBuffer()
{
    if (FPSTimer)
        FPSTimer->invalidate();
    FPSTimer.reset();
    if (cameraBufferDataTask)
        delete cameraBufferDataTask.data(); // its end is not reported any more
    g_shared.forget(this);
}

void CameraBuffer::startFrameRateTimer()
{
    FPSTimer = platform::ScheduledTimer::scheduled(
        kFrameRateInterval, platform::ScheduledTimer::Repeat::Forever, [this] { resetFPSData(); });
}

void CameraBuffer::startWiFiBox()
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (cameraBufferDataTask)
        cameraBufferDataTask->cancel();
    startWiFiBoxV2();
}

void CameraBuffer::startWiFiBoxV2()
{
    if (!cameraBufferSession)
        cameraBufferSession = std::make_unique<QNetworkAccessManager>();
    StreamTask::Handlers handlers{
        [this](qint64 declared) { didReceiveResponse(declared); },
        [this](QByteArrayView bytes) { didReceiveData(bytes); },
        [this](QNetworkReply::NetworkError error) { didCompleteWithError(error); }};
    cameraBufferDataTask = new StreamTask(*cameraBufferSession, QUrl(CameraAddress::streamUrl()),
                                          std::move(handlers), this);
    clearData();
    dataRang = 0;
    m_discardingPart = false;
    cameraBufferDataTask->resume();
}

void CameraBuffer::stopTaskWiFiBox()
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (cameraBufferDataTask)
        cameraBufferDataTask->cancel();
    m_decoder.releaseReusedImages(); // up to two frames of memory, 66 MB at 3840 x 2160
}

bool CameraBuffer::isStreaming() const
{
    return cameraBufferDataTask && cameraBufferDataTask->isRunning();
}

void CameraBuffer::clearData()
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (!responseData.isEmpty())
        std::memset(responseData.data(), 0, size_t(responseData.size()));
    responseData.resize(0); // keeps the allocation for the next part
}

void CameraBuffer::resetFPSData()
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (m_delegate)
        m_delegate->cameraFPS(qint64(FPSNum));
    FPSNum = 0;
}

void CameraBuffer::didReceiveResponse(qint64 expectedContentLength)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    dataRang = quint64(expectedContentLength);
    m_discardingPart = false;
}

void CameraBuffer::didReceiveData(QByteArrayView chunk)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (g_shared.peek() != this || m_discardingPart)
        return;
    if (responseData.size() + chunk.size() > kMaxPartBytes) {
        // A part with no usable length or marker must not take all memory:
        // give it up and skip its remaining bytes until the next part. The
        // memory goes back too; real frames are a small fraction of the cap.
        qCWarning(lcStream) << "a part outgrew" << kMaxPartBytes << "bytes; skipped";
        clearData();
        responseData.squeeze();
        m_discardingPart = true;
        return;
    }
    const qsizetype needed = responseData.size() + chunk.size();
    if (needed > responseData.capacity()) {
        // Grow by doubling, as append() would, but never past the cap:
        // append() rounds up to the next power of two, 64 MiB for a part
        // that the cap stops at 48.
        responseData.reserve(
            std::min(kMaxPartBytes, std::max(needed, 2 * responseData.capacity())));
    }
    responseData.append(chunk.data(), chunk.size());
    if (chunk.isEmpty())
        return;
    if (quint64(responseData.size()) == dataRang) {
        ++FPSNum; // counted before decoding: a part that fails to decode still counts
        // The header's size goes to the delegate with every frame: the frame
        // may be decoded smaller, but its size is the picture's own.
        const QSize frameSize = m_decoder.peekSize(responseData);
        const QSize atLeast = m_delegate && !frameSize.isEmpty()
                                  ? m_delegate->frameDecodeSize(frameSize)
                                  : JpegDecoder::kFullSize;
        const QImage image = m_decoder.decode(responseData, atLeast);
        if (image.isNull())
            qCDebug(lcStream) << "a part of" << responseData.size() << "bytes did not decode";
        else if (m_delegate)
            m_delegate->cameraBufferFrame(image, frameSize);
        clearData();
    } else if (endsWithEndOfImage(chunk)) {
        clearData();
    }
}

void CameraBuffer::didCompleteWithError(QNetworkReply::NetworkError error)
{
    ORBILENS_ASSERT_MAIN_THREAD();
    qCInfo(lcStream) << "the stream transfer ended:" << error;
    if (m_delegate)
        m_delegate->disconnection();
}
