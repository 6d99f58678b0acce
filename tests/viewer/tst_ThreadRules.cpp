// The main-thread rule of the stream client, the video writer, the timers and
// the controller, checked where it is compiled in: a call from another thread
// stops the process, naming the function. Each case runs this binary again
// with --from-worker ENTRY.

#include "capture/ImageWritingVideoTool.h"
#include "platform/ScheduledTimer.h"
#include "platform/ThreadRules.h"
#include "stream/CameraBuffer.h"
#include "support/ViewerFakes.h"
#include "viewer/ViewController.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

#include <cstring>
#include <functional>
#include <map>
#include <thread>

namespace
{
// Makes the objects on the main thread, then calls entry on a worker.
int callFromWorker(const QString &entry)
{
    ViewerFakes fakes;
    ViewController controller({}, fakes.services());
    ImageWritingVideoTool writer;
    platform::ScheduledTimer timer(std::chrono::hours(1), platform::ScheduledTimer::Repeat::Once,
                                   [] {});
    CameraBuffer &stream = CameraBuffer::shareInstance();
    const std::map<QString, std::function<void()>> calls{
        {QStringLiteral("clearData"), [&] { stream.clearData(); }},
        {QStringLiteral("writeImage"),
         [&] { writer.writeImage(QImage(8, 8, QImage::Format_RGB32), {}); }},
        {QStringLiteral("invalidate"), [&] { timer.invalidate(); }},
        {QStringLiteral("cameraFPS"), [&] { controller.cameraFPS(3); }},
    };
    if (!calls.contains(entry))
        return 2;
    std::thread(calls.at(entry)).join();
    CameraBuffer::releaseSharedInstance();
    return 0;
}
} // namespace

class tst_ThreadRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void callFromWorkerStops_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("stream client") << "clearData";
        QTest::newRow("video writer") << "writeImage";
        QTest::newRow("timer") << "invalidate";
        QTest::newRow("controller") << "cameraFPS";
    }
    void callFromWorkerStops()
    {
        QFETCH(QString, entry);
        QVERIFY(platform::threads::kChecksActive);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--from-worker"), entry});
        QVERIFY(child.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(child.readAllStandardError());
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY2(err.contains(QStringLiteral("orbilens: %1 called off the main thread").arg(entry)),
                 qPrintable(err));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc == 3 && !std::strcmp(argv[1], "--from-worker"))
        return callFromWorker(QString::fromLocal8Bit(argv[2]));
    tst_ThreadRules suite;
    return QTest::qExec(&suite, argc, argv);
}

#include "tst_ThreadRules.moc"
