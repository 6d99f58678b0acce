#pragma once

#include "stream/MultipartParser.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

class QNetworkAccessManager;

// One HTTP GET of a multipart/x-mixed-replace stream: a transfer.
//
// It reports, on the thread that owns it (the main thread):
//   - partStarted(declared length or -1), then the part's bytes in chunks;
//   - ended(error) exactly once, when the transfer ends for any reason: the
//     server closed, the network failed, or cancel() was called. The end of
//     a cancelled transfer is reported from the event loop, never from inside
//     cancel(), so a caller that cancels and starts a new transfer sees the
//     old one's end after the new one has been opened.
// A transfer on which no byte arrives for its idle time-out (from the request
// on) ends with TimeoutError: a box that hangs, or a Wi-Fi link that drops
// without a word, never closes the connection, and Qt's transport waits for
// ever. The bytes of an unfinished part are dropped.
// No report comes after ended. The task deletes itself after reporting its
// end, so owners hold it through a QPointer.
class StreamTask : public QObject
{
    Q_OBJECT
public:
    struct Handlers {
        std::function<void(qint64 declaredLength)> partStarted;
        std::function<void(QByteArrayView bytes)> partData; // view valid during the call
        std::function<void(QNetworkReply::NetworkError error)> ended;
    };

    // A live stream brings bytes many times a second, at every frame size;
    // ten seconds of silence is a stream that will not come back.
    static constexpr std::chrono::milliseconds kIdleTimeout{10000};

    StreamTask(QNetworkAccessManager &manager, QUrl url, Handlers handlers, QObject *parent,
               std::chrono::milliseconds idleTimeout = kIdleTimeout);
    ~StreamTask() override;

    void resume();          // sends the request; once
    void cancel();          // ends the transfer; its end is reported later
    bool isRunning() const; // resumed, and its end not yet reported

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void onIdleCheck();
    void reportEnd(QNetworkReply::NetworkError error);

    QNetworkAccessManager &m_manager;
    QUrl m_url;
    Handlers m_handlers;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<MultipartParser> m_parser;
    QByteArray m_readBuffer; // reused for every read
    std::chrono::milliseconds m_idleTimeout;
    QElapsedTimer m_sinceBytes; // since the request, or the last byte
    QTimer m_idleTimer;         // re-armed lazily: reads only restart the clock
    bool m_resumed = false;
    bool m_ended = false;
    bool m_cancelled = false;
};
