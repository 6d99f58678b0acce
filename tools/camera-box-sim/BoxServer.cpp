#include "BoxServer.h"

#include <QHostAddress>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace
{
constexpr char kBoundary[] = "boundarydonotcross";
constexpr qsizetype kMaxRequestHead = 8192;
} // namespace

BoxServer::BoxServer(Options options, QObject *parent)
    : QObject(parent), m_options(std::move(options))
{
    m_controls.resolutionTag = m_options.resolutionTag;
    m_controls.bestFocus = m_options.bestFocus;
    m_controls.backlash = m_options.backlash;
    m_air.seed(m_options.seed);
    connect(&m_server, &QTcpServer::newConnection, this, &BoxServer::onConnection);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    m_frameTimer.setInterval(m_options.fps > 0 ? int(1000.0 / m_options.fps) : 0);
    connect(&m_frameTimer, &QTimer::timeout, this, &BoxServer::sendFrame);
    if (!m_options.commandLogPath.isEmpty()) {
        m_commandLog.setFileName(m_options.commandLogPath);
        if (!m_commandLog.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            std::fprintf(stderr, "camera-box-sim: cannot write %s\n",
                         qPrintable(m_options.commandLogPath));
    }
    m_clock.start();
}

bool BoxServer::listen()
{
    // Loopback only: the simulator is never reachable from another machine.
    if (!m_server.listen(QHostAddress::LocalHost, m_options.port))
        return false;
    m_frameTimer.start();
    return true;
}

void BoxServer::onConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (socket->property("answered").toBool()) {
                socket->readAll();
                return;
            }
            QByteArray head = socket->property("head").toByteArray() + socket->readAll();
            const qsizetype end = head.indexOf("\r\n\r\n");
            if (end < 0) {
                if (head.size() > kMaxRequestHead)
                    socket->abort();
                else
                    socket->setProperty("head", head);
                return;
            }
            socket->setProperty("answered", true);
            const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
            if (words.size() < 2 || words[0] != "GET") {
                socket->write("HTTP/1.0 405 Method Not Allowed\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
                return;
            }
            onRequest(socket, words[1]);
        });
    }
}

void BoxServer::onRequest(QTcpSocket *socket, const QByteArray &target)
{
    const QByteArray query = target.mid(target.indexOf('?') + 1);
    if (target.startsWith("/?") && query == "action=stream") {
        socket->write(QByteArray("HTTP/1.0 200 OK\r\n"
                                 "Server: camera-box-sim\r\n"
                                 "Connection: close\r\n"
                                 "Cache-Control: no-store, no-cache, must-revalidate\r\n"
                                 "Pragma: no-cache\r\n"
                                 "Content-Type: multipart/x-mixed-replace;boundary=") +
                      kBoundary + "\r\n\r\n");
        m_streamClients.append(socket);
        return;
    }
    if (target.startsWith("/?") && query.startsWith("action=command")) {
        answerCommand(socket, target);
        return;
    }
    socket->write("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
}

void BoxServer::answerCommand(QTcpSocket *socket, const QByteArray &target)
{
    if (m_commandLog.isOpen()) {
        m_commandLog.write(target + '\n');
        m_commandLog.flush();
    }
    const int lensBefore = m_controls.focusPosition;
    const bool applied =
        m_controls.apply(target.mid(target.indexOf('?') + 1)) == BoxControls::Result::Applied;
    if (m_options.reportFocus && m_controls.focusPosition != lensBefore) {
        std::printf("focus position %d\n", m_controls.focusPosition);
        std::fflush(stdout);
    }
    const QByteArray body = applied ? R"({"result":"0"})" : R"({"result":"-1"})";
    socket->write("HTTP/1.0 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

void BoxServer::sendFrame()
{
    m_streamClients.removeIf([](const QPointer<QTcpSocket> &s) {
        return !s || s->state() != QAbstractSocket::ConnectedState;
    });
    if (m_streamClients.isEmpty())
        return;
    // Seeing comes and goes from frame to frame: half-normal around its mean.
    double seeing = 0;
    if (m_options.seeing > 0)
        seeing = std::abs(std::normal_distribution<double>(0.0, m_options.seeing * 1.25)(m_air));
    const QByteArray jpeg =
        m_renderer.frame(m_controls, m_frameNumber++, m_options.quality, seeing);
    if (jpeg.isEmpty())
        return;
    // The time the part is handed to the sockets, in microseconds since the
    // epoch, for latency measurements; each socket is flushed right after, so
    // the part goes to the kernel now rather than on the next turn of the loop.
    const qint64 us = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    const QByteArray head =
        QByteArray("--") + kBoundary +
        "\r\nContent-Type: image/jpeg\r\nContent-Length: " + QByteArray::number(jpeg.size()) +
        "\r\nX-Timestamp: " + QByteArray::number(us / 1000000) + "." +
        QByteArray::number(us % 1000000).rightJustified(6, '0') + "\r\n\r\n";
    for (const auto &client : std::as_const(m_streamClients)) {
        // A client that cannot keep up skips frames instead of queueing them.
        if (client->bytesToWrite() > 2 * jpeg.size())
            continue;
        client->write(head);
        client->write(jpeg);
        client->write("\r\n");
        client->flush();
    }
}
