#pragma once

#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

// An HTTP server on 127.0.0.1 for tests, on the main thread: it records each
// request line and hands the socket to the responder, to write what it likes.
class LoopbackServer : public QObject
{
public:
    using Responder = std::function<void(QTcpSocket *socket, const QByteArray &requestLine)>;

    explicit LoopbackServer(Responder responder, QObject *parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }
    QList<QByteArray> requestLines() const { return m_requestLines; }
    QList<QPointer<QTcpSocket>> sockets() const { return m_sockets; }
    // The request line of each connection, in the order they were accepted
    // (a client that opens one connection per request: the order issued).
    QList<QByteArray> requestLinesByConnection() const;
    void closeAll(); // every connection aborted, and no new one taken

    // A loopback port that nothing listens on: a connection there is refused.
    static quint16 closedPort();
    // A camera box that streams jpeg as a part every intervalMs on
    // "/?action=stream".
    static Responder cameraBox(const QByteArray &jpeg, int intervalMs);

private:
    QTcpServer m_server;
    Responder m_responder;
    QList<QByteArray> m_requestLines;
    QList<QPointer<QTcpSocket>> m_sockets;
};
