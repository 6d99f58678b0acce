#pragma once

#include "platform/ScheduledTimer.h"
#include "platform/SharedInstance.h"
#include "stream/CameraBufferDelegate.h"
#include "stream/JpegDecoder.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>

#include <memory>

class QNetworkAccessManager;
class StreamTask;

// The one client of the camera box's live picture.
//
// It keeps one HTTP GET of the stream URL open, collects each part of the
// multipart body until the part's declared length is reached, decodes it (at
// the size the delegate asks for: no more pixels than it needs) and
// hands the frame to its delegate. A chunk that ends with the JPEG
// end-of-image marker while the part is incomplete gives the part up. Every
// second it reports the frames completed in that second; every end of a
// transfer is reported as a disconnection. It never reconnects by itself.
//
// A shared instance, created on first use (thread-safe) and living on the
// main thread; everything else is main-thread only. The delegate is not
// owned: whoever sets it clears it before it goes away.
class CameraBuffer : public QObject
{
    Q_OBJECT
public:
    // A part may grow to this many bytes before it is given up. A 3840 x 2160
    // JPEG at the highest quality is well under 10 MiB even for a noisy
    // picture; the raw pixels themselves take 32 MiB.
    static constexpr qsizetype kMaxPartBytes = 48 * 1024 * 1024;
    static constexpr std::chrono::milliseconds kFrameRateInterval{1000};

    static CameraBuffer &shareInstance();
    static bool hasSharedInstance();
    static void releaseSharedInstance();

    CameraBufferDelegate *delegate() const { return m_delegate; }
    void setDelegate(CameraBufferDelegate *delegate) { m_delegate = delegate; }

    // (Re)starts the stream: drops the current transfer, then opens a new one.
    void startWiFiBox();
    // Stops the stream. The frame-rate reports go on (with 0).
    void stopTaskWiFiBox();
    // Zeroes and empties the part buffer; the buffer itself stays in use.
    void clearData();
    // The frame-rate timer's action.
    void resetFPSData();

    // True while the current transfer is open and has not ended. During a
    // disconnection report this tells a stale end (of a transfer a restart
    // has already replaced) from the end of the stream in use.
    bool isStreaming() const;

    // The transport's reports, public so that tests and fuzzers can drive
    // the chunk path directly.
    void didReceiveResponse(qint64 expectedContentLength);
    void didReceiveData(QByteArrayView chunk);
    void didCompleteWithError(QNetworkReply::NetworkError error);

    qsizetype bufferedBytes() const { return responseData.size(); }

private:
    friend class platform::SharedInstance<CameraBuffer>; // creates and destroys it
    CameraBuffer();
    ~CameraBuffer() override;
    void startWiFiBoxV2();
    void startFrameRateTimer();

    int FPSNum = 0;
    quint64 dataRang = 0; // the part's declared length; -1 wraps to never-equal
    CameraBufferDelegate *m_delegate = nullptr;
    QByteArray responseData;
    std::unique_ptr<platform::ScheduledTimer> FPSTimer;
    std::unique_ptr<QNetworkAccessManager> cameraBufferSession;
    QPointer<StreamTask> cameraBufferDataTask;
    JpegDecoder m_decoder;
    bool m_discardingPart = false; // the part outgrew kMaxPartBytes
};
