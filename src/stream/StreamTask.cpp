#include "stream/StreamTask.h"

#include "platform/MainQueue.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>

namespace
{
constexpr qint64 kReadChunk = 256 * 1024;
// What the network layer may read ahead of the parser. Without a limit its
// own thread reads as fast as the server sends, and whatever the main thread
// has not yet taken piles up in memory, without bound.
constexpr qint64 kReadAhead = 4 * kReadChunk;
} // namespace

StreamTask::StreamTask(QNetworkAccessManager &manager, QUrl url, Handlers handlers, QObject *parent,
                       std::chrono::milliseconds idleTimeout)
    : QObject(parent), m_manager(manager), m_url(std::move(url)), m_handlers(std::move(handlers)),
      m_idleTimeout(idleTimeout)
{
    // Precise: the end of a stalled stream is due ten seconds after its last
    // byte, not anywhere within a coarse timer's 5 %.
    m_idleTimer.setTimerType(Qt::PreciseTimer);
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, &StreamTask::onIdleCheck);
}

StreamTask::~StreamTask()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void StreamTask::resume()
{
    if (m_resumed)
        return;
    m_resumed = true;
    QNetworkRequest request(m_url);
    // The box never redirects; following one could lead the viewer away from it.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    m_reply = m_manager.get(request);
    m_reply->setReadBufferSize(kReadAhead);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &StreamTask::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &StreamTask::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &StreamTask::onFinished);
    m_sinceBytes.start();
    m_idleTimer.start(m_idleTimeout);
}

void StreamTask::cancel()
{
    if (m_ended || !m_resumed)
        return;
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    // The parser may be inside feed() right now (a report led to this
    // cancel); it is dropped with the end report, and says nothing more.
    m_cancelled = true;
    m_idleTimer.stop();
    platform::mainqueue::post(this, [this] { reportEnd(QNetworkReply::OperationCanceledError); });
}

bool StreamTask::isRunning() const
{
    return m_resumed && !m_ended && m_reply;
}

void StreamTask::onMetaData()
{
    if (m_parser || !m_reply)
        return;
    m_sinceBytes.restart(); // the answer's head
    const QByteArray type = m_reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    MultipartParser::Handlers handlers{[this](qint64 declared) {
                                           if (!m_cancelled && m_handlers.partStarted)
                                               m_handlers.partStarted(declared);
                                       },
                                       [this](QByteArrayView bytes) {
                                           if (!m_cancelled && m_handlers.partData)
                                               m_handlers.partData(bytes);
                                       }};
    m_parser = std::make_unique<MultipartParser>(MultipartParser::boundaryFromContentType(type),
                                                 std::move(handlers),
                                                 length.isValid() ? length.toLongLong() : -1);
}

void StreamTask::onReadyRead()
{
    if (!m_reply)
        return;
    if (!m_parser)
        onMetaData();
    // Read in bounded slices into one reused buffer: no allocation per chunk.
    // The parser (and the client behind it) may cancel this task from a
    // handler, so re-check the reply after every slice.
    while (m_reply && m_parser && m_reply->bytesAvailable() > 0) {
        const qint64 want = std::min(m_reply->bytesAvailable(), kReadChunk);
        if (m_readBuffer.size() < want)
            m_readBuffer.resize(want);
        const qint64 got = m_reply->read(m_readBuffer.data(), want);
        if (got <= 0)
            break;
        m_sinceBytes.restart();
        m_parser->feed(QByteArrayView(m_readBuffer.constData(), got));
    }
}

void StreamTask::onFinished()
{
    if (!m_reply)
        return;
    onReadyRead();
    if (m_reply && m_parser)
        m_parser->finish();
    if (!m_reply)
        return; // cancelled from inside a report, the final flush's included
    const QNetworkReply::NetworkError error = m_reply->error();
    m_reply->deleteLater();
    m_reply = nullptr;
    reportEnd(error);
}

void StreamTask::onIdleCheck()
{
    if (!m_reply)
        return;
    // Bytes that wait unread (the main thread was busy) are not silence.
    if (m_reply->bytesAvailable() > 0)
        onReadyRead();
    if (!m_reply)
        return; // cancelled from inside a report
    const auto quiet = std::chrono::milliseconds(m_sinceBytes.elapsed());
    if (quiet < m_idleTimeout) {
        m_idleTimer.start(m_idleTimeout - quiet);
        return;
    }
    m_reply->disconnect(this);
    m_reply->abort();
    m_reply->deleteLater();
    m_reply = nullptr;
    reportEnd(QNetworkReply::TimeoutError);
}

void StreamTask::reportEnd(QNetworkReply::NetworkError error)
{
    if (m_ended)
        return;
    m_ended = true;
    m_idleTimer.stop();
    if (m_handlers.ended)
        m_handlers.ended(error);
    deleteLater();
}
