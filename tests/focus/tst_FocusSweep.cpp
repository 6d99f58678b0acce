// The focus sweep's bookkeeping against the simulator's answers, its scores
// handed in by hand. The whole sweep, driving the simulator's focus drive from
// the window, is in tst_FocusAssist.

#include "control/RequestManager.h"
#include "focus/FocusSweep.h"
#include "platform/CameraAddress.h"
#include "support/SimProcess.h"

#include <QTest>

using focus::FocusSweep;

class tst_FocusSweep : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void skipsTheFramesInFlight();
};

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
