#include "support/LoopbackServer.h"

#include <QHostAddress>

LoopbackServer::LoopbackServer(Responder responder, QObject *parent)
    : QObject(parent), m_responder(std::move(responder))
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            m_sockets.append(socket);
            auto head = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head] {
                if (head->endsWith("\r\n\r\n"))
                    return; // already answered; ignore anything further
                head->append(socket->readAll());
                const qsizetype end = head->indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                head->truncate(end + 4);
                const QByteArray line = head->left(head->indexOf("\r\n"));
                m_requestLines.append(line);
                Q_EMIT requestReceived(line);
                if (m_responder)
                    m_responder(socket, line);
            });
        }
    });
}

QString LoopbackServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void LoopbackServer::closeAll()
{
    for (const auto &socket : m_sockets)
        if (socket)
            socket->abort();
    m_server.close();
}

void LoopbackServer::writeSliced(QTcpSocket *socket, const QByteArray &bytes, qsizetype sliceSize)
{
    for (qsizetype at = 0; at < bytes.size(); at += sliceSize) {
        socket->write(bytes.mid(at, sliceSize));
        socket->flush();
    }
}

quint16 LoopbackServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
