#include "support/LoopbackServer.h"

#include "support/StreamParts.h"

#include <QTimer>

namespace
{
constexpr const char *kRequestLine = "requestLine"; // a socket's property, once it has one
}

LoopbackServer::LoopbackServer(Responder responder, QObject *parent)
    : QObject(parent), m_responder(std::move(responder))
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            m_sockets.append(socket);
            connect(socket, &QTcpSocket::readyRead, socket,
                    [this, socket, head = QByteArray()]() mutable {
                        if (head.endsWith("\r\n\r\n"))
                            return; // already answered; anything further is ignored
                        head.append(socket->readAll());
                        const qsizetype end = head.indexOf("\r\n\r\n");
                        if (end < 0)
                            return;
                        head.truncate(end + 4);
                        m_requestLines.append(head.left(head.indexOf("\r\n")));
                        socket->setProperty(kRequestLine, m_requestLines.last());
                        if (m_responder)
                            m_responder(socket, m_requestLines.last());
                    });
        }
    });
}

QList<QByteArray> LoopbackServer::requestLinesByConnection() const
{
    QList<QByteArray> lines;
    for (const QPointer<QTcpSocket> &socket : m_sockets)
        if (socket && socket->property(kRequestLine).isValid())
            lines << socket->property(kRequestLine).toByteArray();
    return lines;
}

void LoopbackServer::closeAll()
{
    for (const QPointer<QTcpSocket> &socket : m_sockets)
        if (socket)
            socket->abort();
    m_server.close();
}

quint16 LoopbackServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed with the probe
}

LoopbackServer::Responder LoopbackServer::cameraBox(const QByteArray &jpeg, int intervalMs)
{
    return [jpeg, intervalMs](QTcpSocket *socket, const QByteArray &line) {
        if (!line.contains("action=stream"))
            return; // commands go unanswered: the viewer does nothing with answers
        socket->write(StreamParts::httpHead("multipart/x-mixed-replace;boundary=myboundary"));
        const QByteArray part = StreamParts().raw("\r\n").part(jpeg).bytes();
        auto *timer = new QTimer(socket); // goes with the connection
        QObject::connect(timer, &QTimer::timeout, socket, [socket, part] { socket->write(part); });
        timer->start(intervalMs);
    };
}
