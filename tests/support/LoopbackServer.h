#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

// A small HTTP server on 127.0.0.1 for tests. It reads each request's head,
// records its request line and hands the socket to the responder, which
// writes whatever the test needs: a multipart stream in odd framing, a JSON
// answer, nothing at all. Main thread only.
class LoopbackServer : public QObject
{
    Q_OBJECT
public:
    using Responder = std::function<void(QTcpSocket *socket, const QByteArray &requestLine)>;

    explicit LoopbackServer(Responder responder, QObject *parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }
    QString baseUrl() const; // "http://127.0.0.1:PORT"
    QList<QByteArray> requestLines() const { return m_requestLines; }
    QList<QPointer<QTcpSocket>> sockets() const { return m_sockets; }
    void closeAll();

    // A loopback port that nothing listens on: a connection there is refused.
    static quint16 closedPort();

    // Writes bytes in slices of sliceSize, each flushed to the socket as its
    // own write, so the client sees the stream cut at those points.
    static void writeSliced(QTcpSocket *socket, const QByteArray &bytes, qsizetype sliceSize);

Q_SIGNALS:
    void requestReceived(const QByteArray &requestLine);

private:
    QTcpServer m_server;
    Responder m_responder;
    QList<QByteArray> m_requestLines;
    QList<QPointer<QTcpSocket>> m_sockets;
};
