#pragma once

#include <QList>
#include <QObject>
#include <QPointF>

namespace focus
{

// Finds the sharpest focus by stepping the box's focus motor through a range
// and watching the sharpness score.
//
// It moves only with the commands the arrow keys send (autofocus off, then the
// step's two focus values), one step at a time, each after the box answered
// the one before. From where it starts it goes back half the range towards
// near, then measures every step of the range going towards far: after each
// step it skips the frames that were already on their way (settle) and
// averages the scores of the next few, to ride out the seeing. That gives the
// V-curve. It then goes back past the best step and comes forward onto it, so
// that the motor meets the best step from the same side as when it was
// measured and the drive's backlash cancels out.
//
// A cancel stops it at once wherever it is: nothing more is sent, late answers
// are ignored, the motor stays where it is. Main thread only.
class FocusSweep : public QObject
{
    Q_OBJECT
public:
    enum class Direction { Near, Far };
    enum class State { Idle, Rewinding, Measuring, Returning, Found, Cancelled, Failed };

    struct Settings {
        int steps = 20;        // steps measured, towards far; steps + 1 points
        int settleFrames = 2;  // frames skipped after each step
        int framesPerStep = 4; // scores averaged per point
        int overshoot = 2;     // steps beyond a point on the way back, for backlash
    };

    explicit FocusSweep(QObject *parent = nullptr);

    // Starts a sweep from the motor's present position (a running one is
    // cancelled first). Returns false for settings it cannot run.
    bool start(const Settings &settings);
    // Stops where it is; nothing more is sent. No effect unless running.
    void cancel();

    // Every frame as it arrives (numbered upwards), and the score of every
    // frame measured (the measures may skip frames, never reorder them).
    void frameArrived(quint64 frameNumber);
    void scoreMeasured(quint64 frameNumber, double score);

    State state() const { return m_state; }
    bool isRunning() const;
    const Settings &settings() const { return m_settings; }
    // The V-curve so far: x is the step (0 = nearest), y the mean score.
    const QList<QPointF> &curve() const { return m_curve; }
    // The step with the highest score, each weighed with its neighbours; -1
    // before the first point.
    int bestStep() const;

Q_SIGNALS:
    void curveChanged();
    void stateChanged(focus::FocusSweep::State state);

private:
    void setState(State state);
    void nextMove();
    void sendStep(Direction direction);
    void stepAnswered(bool taken);

    Settings m_settings;
    State m_state = State::Idle;
    QList<Direction> m_moves; // still to send in this phase
    int m_pendingAnswers = 0;
    bool m_stepTaken = true;
    unsigned m_generation = 0; // answers of an earlier sweep or a cancelled one are ignored
    quint64 m_lastFrame = 0;
    quint64 m_acceptAfter = 0; // scores of frames up to this one show the old position
    bool m_waitingForScores = false;
    QList<double> m_scores; // of the present point
    QList<QPointF> m_curve;
};

} // namespace focus
