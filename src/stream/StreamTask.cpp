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

StreamTask::StreamTask(QNetworkAccessManager &manager, QUrl url, Handlers handlers, QObject *parent)
    : QObject(parent), m_manager(manager), m_url(std::move(url)), m_handlers(std::move(handlers))
{
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
        m_parser->feed(QByteArrayView(m_readBuffer.constData(), got));
    }
}

void StreamTask::onFinished()
{
    if (!m_reply)
        return;
    onReadyRead();
    if (!m_reply)
        return; // cancelled from inside a report
    if (m_parser)
        m_parser->finish();
    const QNetworkReply::NetworkError error = m_reply->error();
    m_reply->deleteLater();
    m_reply = nullptr;
    reportEnd(error);
}

void StreamTask::reportEnd(QNetworkReply::NetworkError error)
{
    if (m_ended)
        return;
    m_ended = true;
    if (m_handlers.ended)
        m_handlers.ended(error);
    deleteLater();
}
