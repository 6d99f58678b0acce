#pragma once

#include "platform/SharedInstance.h"

#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

// The one client of the camera box's command interface.
//
// A command is one GET of a complete URL (see CommandUrl); the box answers a
// small JSON object whose "result" is the text "0" when it carried the
// command out (see CommandAnswer). Commands never wait for one another; each
// is answered by itself, in whatever order the answers come. Nothing is
// queued, remembered, retried or logged.
//
// Every completion runs exactly once, on the main thread, from the event
// loop (never inside the call that issued the command): when the answer has
// arrived, when the request failed (box unreachable, connection refused),
// when the answer grew past CommandAnswer::kMaxBodyBytes, or when
// requestTimeout() passed without a complete answer. A completion never runs
// once the manager has been released.
//
// A shared instance, created on first use (thread-safe) and living on the
// main thread. Commands may be issued from any thread; they go out from the
// main thread. Everything else is main-thread only.
class RequestManager : public QObject
{
    Q_OBJECT
public:
    // responseObject is undefined when there is none. error is always empty:
    // a command is judged by its response object alone.
    using ResponseCompletion =
        std::function<void(const QJsonValue &responseObject, const QString &error)>;
    // True when the box reported success.
    using SuccessCompletion = std::function<void(bool success)>;

    // The box sits on a lossy Wi-Fi link and answers within milliseconds when
    // it answers at all; a command that has no complete answer after this
    // long is given up as failed.
    static constexpr std::chrono::milliseconds kRequestTimeout{10000};

    static RequestManager &sharedManager();
    static bool hasSharedInstance();
    // Deletes the shared instance: requests in flight are dropped and no
    // completion of theirs runs. Done when the application object goes away,
    // and by tests. Main thread only.
    static void releaseSharedInstance();

    // GET of url with the parameters appended to its query (percent-encoded;
    // an empty map leaves the URL unchanged). A URL that is not valid http as
    // written is not sent and completes with no response object. completed
    // may be empty; the request is sent all the same.
    void getApi(const QString &url, const QVariantMap &parameters,
                ResponseCompletion completed = {});

    // Control command for V4L2_CID_FOCUS_AUTO with value ("0" = autofocus off).
    void setFocusStyle(const QString &value, SuccessCompletion completed);
    // Control command for V4L2_CID_FOCUS_ABSOLUTE with value.
    void setFocusWithValue(const QString &value, SuccessCompletion completed);
    // Focus step left: "20" then "10", back to back; completed reports the
    // outcome of the second only.
    void setLeftCompleted(SuccessCompletion completed);
    // Focus step right: "90" then "80", likewise.
    void setRightCompleted(SuccessCompletion completed);
    // Control command: the command base URL followed by parameter, a
    // parameter string ("<id>&group=1&value=<value>").
    void setParameterWithIdValue(const QString &parameter, SuccessCompletion completed);

    std::chrono::milliseconds requestTimeout() const { return m_requestTimeout; }
    void setRequestTimeout(std::chrono::milliseconds timeout) { m_requestTimeout = timeout; }

private:
    friend class platform::SharedInstance<RequestManager>; // creates and destroys it
    RequestManager();
    ~RequestManager() override;

    void send(const QString &url, ResponseCompletion completed);
    void finish(QNetworkReply *reply, ResponseCompletion completed);
    void complete(ResponseCompletion completed, const QJsonValue &responseObject);
    void sendJudged(const QString &url, SuccessCompletion completed);

    QNetworkAccessManager *m_network = nullptr; // child; made on the first send, on the main thread
    std::chrono::milliseconds m_requestTimeout = kRequestTimeout;
};
