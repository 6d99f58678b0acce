// The focus sweep driving the simulator's focus drive (backlash and seeing on)
// and scoring the simulator's own stream, as the viewer does.

#include "analysis/Sharpness.h"
#include "control/RequestManager.h"
#include "focus/FocusSweep.h"
#include "platform/CameraAddress.h"
#include "stream/CameraBuffer.h"
#include "stream/CameraBufferDelegate.h"
#include "support/CommandUrls.h"
#include "support/SimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using focus::FocusSweep;

namespace
{
constexpr int kStep = 20; // lens travel of one arrow-key step in the simulator

// The stream, scored on the centre of each frame and handed to the sweep.
class ScoredStream : public CameraBufferDelegate
{
public:
    explicit ScoredStream(FocusSweep &sweep) : m_sweep(sweep) {}
    void cameraFPS(qint64) override {}
    void cameraBufferImage(const QImage &image) override
    {
        m_sweep.frameArrived(++frames);
        const QRect centre(image.width() / 4, image.height() / 4, image.width() / 2,
                           image.height() / 2);
        m_sweep.scoreMeasured(frames, analysis::measureSharpness(image, centre).score);
    }
    void disconnection() override {}
    quint64 frames = 0;

private:
    FocusSweep &m_sweep;
};

class SweepRig
{
public:
    explicit SweepRig(int bestFocus)
    {
        m_ok = m_sim.start({QStringLiteral("--fps"), QStringLiteral("30"),
                            QStringLiteral("--best-focus"), QString::number(bestFocus),
                            QStringLiteral("--backlash"), QStringLiteral("12"),
                            QStringLiteral("--seeing"), QStringLiteral("0.6"),
                            QStringLiteral("--seed"), QString::number(bestFocus),
                            QStringLiteral("--report-focus"), QStringLiteral("--command-log"),
                            m_dir.filePath(QStringLiteral("commands.log"))}) &&
               CameraAddress::setBaseUrl(QUrl(m_sim.baseUrl()));
        if (!m_ok)
            return;
        CameraBuffer::shareInstance().setDelegate(&stream);
        CameraBuffer::shareInstance().startWiFiBox();
    }
    ~SweepRig()
    {
        CameraBuffer::shareInstance().stopTaskWiFiBox();
        CameraBuffer::shareInstance().setDelegate(nullptr);
        RequestManager::releaseSharedInstance();
    }
    bool ok() const { return m_ok; }
    QList<QByteArray> commands()
    {
        QFile log(m_dir.filePath(QStringLiteral("commands.log")));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> lines = log.readAll().split('\n');
        lines.removeAll(QByteArray());
        return lines;
    }
    int lens() { return m_sim.reportedFocus(); }

    FocusSweep sweep;
    ScoredStream stream{sweep};

private:
    QTemporaryDir m_dir;
    SimProcess m_sim;
    bool m_ok = false;
};
} // namespace

class tst_FocusSweep : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void endsOnTheBestStep_data();
    void endsOnTheBestStep();
    void cancelSendsNothingMore_data();
    void cancelSendsNothingMore();
    void skipsTheFramesInFlight();
};

void tst_FocusSweep::endsOnTheBestStep_data()
{
    QTest::addColumn<int>("bestFocus");
    // The drive starts at 350; the best lies towards far, then towards near.
    QTest::addRow("best towards far") << 500;
    QTest::addRow("best towards near") << 210;
}

void tst_FocusSweep::endsOnTheBestStep()
{
    QFETCH(int, bestFocus);
    SweepRig rig(bestFocus);
    QVERIFY2(rig.ok(), "camera-box-sim did not start");
    QTRY_VERIFY_WITH_TIMEOUT(rig.stream.frames > 3, 15000);

    QVERIFY(rig.sweep.start({}));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.sweep.isRunning(), 120000);
    QCOMPARE(rig.sweep.state(), FocusSweep::State::Found);
    QCOMPARE(rig.sweep.curve().size(), 21);
    QTest::qWait(300); // the last answers' log lines and reports
    const int lens = rig.lens();
    QVERIFY2(qAbs(lens - bestFocus) <= kStep,
             qPrintable(QStringLiteral("ended at %1, best %2").arg(lens).arg(bestFocus)));
    // The curve is a V: its ends are well below its top.
    const QList<QPointF> &curve = rig.sweep.curve();
    const double top = curve[rig.sweep.bestStep()].y();
    QVERIFY(curve.first().y() < top * 0.8 || curve.last().y() < top * 0.8);

    // Only the arrow keys' commands, in whole steps: back 12 (half the range
    // and the overshoot), forward 2 + 20, back past the best by 2, forward 2.
    using namespace commandurls;
    QMap<QByteArray, int> count;
    for (const QByteArray &line : rig.commands())
        ++count[line];
    const int near = 12 + 20 - rig.sweep.bestStep() + 2, far = 2 + 20 + 2;
    const QMap<QByteArray, int> expected = {{control(kFocusAuto, "0"), near + far},
                                            {control(kFocusAbsolute, "20"), near},
                                            {control(kFocusAbsolute, "10"), near},
                                            {control(kFocusAbsolute, "90"), far},
                                            {control(kFocusAbsolute, "80"), far}};
    QCOMPARE(count, expected);
}

void tst_FocusSweep::cancelSendsNothingMore_data()
{
    QTest::addColumn<int>("points"); // cancel once the curve has this many
    QTest::addRow("while the first step is answered") << 0;
    QTest::addRow("while measuring") << 3;
}

void tst_FocusSweep::cancelSendsNothingMore()
{
    QFETCH(int, points);
    SweepRig rig(500);
    QVERIFY2(rig.ok(), "camera-box-sim did not start");
    QTRY_VERIFY_WITH_TIMEOUT(rig.stream.frames > 3, 15000);

    qsizetype sentAtCancel = -1;
    QObject::connect(&rig.sweep, &FocusSweep::curveChanged, &rig.sweep, [&] {
        if (points > 0 && rig.sweep.curve().size() == points) {
            rig.sweep.cancel();
            sentAtCancel = rig.commands().size();
        }
    });
    QVERIFY(rig.sweep.start({}));
    if (points == 0) {
        rig.sweep.cancel(); // its first step's three commands are on their way
        sentAtCancel = 3;
    }
    QTRY_VERIFY_WITH_TIMEOUT(sentAtCancel >= 0, 60000);
    QCOMPARE(rig.sweep.state(), FocusSweep::State::Cancelled);
    QTest::qWait(300);
    const int lens = rig.lens();
    QTest::qWait(1500); // frames flow and answers come back; nothing is sent
    QCOMPARE(rig.commands().size(), sentAtCancel);
    QCOMPARE(rig.lens(), lens);
    QCOMPARE(rig.sweep.state(), FocusSweep::State::Cancelled);
}

void tst_FocusSweep::skipsTheFramesInFlight()
{
    // Frames up to the newest one received when a step is answered, and the
    // settle frames after it, show the old position: their scores (100 here)
    // never count.
    SimProcess sim;
    QVERIFY(sim.start() && CameraAddress::setBaseUrl(QUrl(sim.baseUrl())));
    FocusSweep sweep;
    sweep.frameArrived(10);
    QVERIFY(sweep.start({2, 2, 1, 1})); // steps, settle, frames per step, overshoot
    QTRY_COMPARE(sweep.state(), FocusSweep::State::Measuring);
    for (quint64 frame = 11; frame <= 13; ++frame) {
        sweep.frameArrived(frame);
        sweep.scoreMeasured(frame, frame == 13 ? 1 : 100);
    }
    QCOMPARE(sweep.curve(), QList<QPointF>{QPointF(0, 1)});
    QTest::qWait(500); // the next step is answered
    for (quint64 frame = 14; frame <= 16; ++frame)
        sweep.scoreMeasured(frame, frame == 16 ? 2 : 100);
    QCOMPARE(sweep.curve().size(), 2);
    QCOMPARE(sweep.curve().last(), QPointF(1, 2));
    sweep.cancel();
    RequestManager::releaseSharedInstance();
}

QTEST_MAIN(tst_FocusSweep)
#include "tst_FocusSweep.moc"
