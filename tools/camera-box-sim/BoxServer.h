#pragma once

#include "BoxControls.h"
#include "SkyRenderer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <random>

// The box's HTTP side on 127.0.0.1: "/?action=stream" as a
// multipart/x-mixed-replace stream to any number of clients, and
// "/?action=command..." answering {"result":"0"} or {"result":"-1"}.
class BoxServer : public QObject
{
    Q_OBJECT
public:
    struct Options {
        quint16 port = 8080;
        double fps = 20;
        int resolutionTag = 0;
        int quality = 85;
        QString commandLogPath;
        // The focus model: where the sky is sharpest, the drive's slack, the
        // seeing (mean extra blur per frame, pixels at 1280 wide) and the
        // seed of its randomness, so a test run repeats.
        int bestFocus = 500;
        int backlash = 8;
        double seeing = 0;
        quint32 seed = 1;
        // Prints "focus position N" on stdout whenever the lens moves.
        bool reportFocus = false;
    };

    explicit BoxServer(Options options, QObject *parent = nullptr);
    bool listen();
    quint16 port() const { return m_server.serverPort(); }

private:
    void onConnection();
    void onRequest(QTcpSocket *socket, const QByteArray &target);
    void answerCommand(QTcpSocket *socket, const QByteArray &target);
    void sendFrame();

    Options m_options;
    QTcpServer m_server;
    QTimer m_frameTimer;
    QElapsedTimer m_clock;
    BoxControls m_controls;
    SkyRenderer m_renderer;
    QList<QPointer<QTcpSocket>> m_streamClients;
    QFile m_commandLog;
    quint64 m_frameNumber = 0;
    std::mt19937 m_air;
};
