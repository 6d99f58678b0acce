// camera-box-sim: a camera box on this machine, for the viewer's demo, tests
// and benchmarks. It listens on 127.0.0.1 only.

#include "BoxServer.h"

#include <QCommandLineParser>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    using QOption = QCommandLineOption;
    // Drawing the sky needs fonts but never a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("camera-box-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A camera box on 127.0.0.1: serves /?action=stream (MJPEG) and /?action=command."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port to listen on (0: any free port)."),
                                  QStringLiteral("N"), QStringLiteral("8080"));
    const QCommandLineOption fps(QStringLiteral("fps"),
                                 QStringLiteral("Frames per second (0: as fast as possible)."),
                                 QStringLiteral("N"), QStringLiteral("20"));
    const QCommandLineOption resolution(
        QStringLiteral("resolution"),
        QStringLiteral("Starting resolution tag, 0 to 11 (0 is 640x480)."), QStringLiteral("TAG"),
        QStringLiteral("0"));
    const QCommandLineOption quality(QStringLiteral("quality"),
                                     QStringLiteral("JPEG quality, 1 to 100."), QStringLiteral("Q"),
                                     QStringLiteral("85"));
    const QCommandLineOption commandLog(
        QStringLiteral("command-log"), QStringLiteral("Append every command URL received to FILE."),
        QStringLiteral("FILE"));
    const QOption bestFocus(QStringLiteral("best-focus"),
                            QStringLiteral("Focus position where the sky is sharpest, 0 to 1000; "
                                           "the box starts at 350 and a step moves 20."),
                            QStringLiteral("N"), QStringLiteral("500"));
    const QOption backlash(QStringLiteral("backlash"),
                           QStringLiteral("Slack of the focus drive on a reversal, 0 to 100."),
                           QStringLiteral("N"), QStringLiteral("8"));
    const QOption seeing(QStringLiteral("seeing"),
                         QStringLiteral("Mean extra blur of the air per frame, in pixels."),
                         QStringLiteral("PX"), QStringLiteral("0"));
    const QOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the seeing."),
                       QStringLiteral("N"), QStringLiteral("1"));
    const QOption reportFocus(QStringLiteral("report-focus"),
                              QStringLiteral("Print \"focus position N\" when the lens moves."));
    parser.addOptions({port, fps, resolution, quality, commandLog, bestFocus, backlash, seeing,
                       seed, reportFocus});
    parser.process(app);

    BoxServer::Options options;
    options.port = quint16(parser.value(port).toUInt());
    options.fps = parser.value(fps).toDouble();
    options.resolutionTag = std::clamp(parser.value(resolution).toInt(), 0, 11);
    options.quality = std::clamp(parser.value(quality).toInt(), 1, 100);
    options.commandLogPath = parser.value(commandLog);
    options.bestFocus = std::clamp(parser.value(bestFocus).toInt(), 0, 1000);
    options.backlash = std::clamp(parser.value(backlash).toInt(), 0, 100);
    options.seeing = std::clamp(parser.value(seeing).toDouble(), 0.0, 20.0);
    options.seed = parser.value(seed).toUInt();
    options.reportFocus = parser.isSet(reportFocus);

    BoxServer server(options);
    if (!server.listen()) {
        std::fprintf(stderr, "camera-box-sim: cannot listen on 127.0.0.1:%u\n",
                     unsigned(options.port));
        return 1;
    }
    std::printf("listening on 127.0.0.1:%u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}
