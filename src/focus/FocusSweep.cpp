#include "focus/FocusSweep.h"

#include "control/RequestManager.h"

#include <QPointer>

#include <algorithm>

#include <numeric>

namespace focus
{

FocusSweep::FocusSweep(QObject *parent) : QObject(parent) {}

bool FocusSweep::isRunning() const
{
    return m_state == State::Rewinding || m_state == State::Measuring ||
           m_state == State::Returning;
}

int FocusSweep::bestStep() const
{
    // Each point weighed with its neighbours ([1 2 1]), so that one point
    // lifted by a moment of good seeing does not win on its own.
    int best = -1;
    double bestScore = 0;
    for (qsizetype i = 0; i < m_curve.size(); ++i) {
        double sum = 2 * m_curve[i].y(), weight = 2;
        for (qsizetype j : {i - 1, i + 1})
            if (j >= 0 && j < m_curve.size()) {
                sum += m_curve[j].y();
                weight += 1;
            }
        if (best < 0 || sum / weight > bestScore) {
            best = int(i);
            bestScore = sum / weight;
        }
    }
    return best;
}

bool FocusSweep::start(const Settings &settings)
{
    if (settings.steps < 2 || settings.framesPerStep < 1 || settings.settleFrames < 0 ||
        settings.overshoot < 1)
        return false;
    cancel();
    m_settings = settings;
    m_curve.clear();
    Q_EMIT curveChanged();
    // Back half the range and the overshoot towards near, then the overshoot
    // towards far: the first point is met moving far, like every later one.
    m_moves.clear();
    for (int i = 0; i < settings.steps / 2 + settings.overshoot; ++i)
        m_moves.append(Direction::Near);
    for (int i = 0; i < settings.overshoot; ++i)
        m_moves.append(Direction::Far);
    setState(State::Rewinding);
    nextMove();
    return true;
}

void FocusSweep::cancel()
{
    if (!isRunning())
        return;
    ++m_generation;
    m_moves.clear();
    m_pendingAnswers = 0;
    m_waitingForScores = false;
    setState(State::Cancelled);
}

void FocusSweep::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

void FocusSweep::frameArrived(quint64 frameNumber)
{
    m_lastFrame = std::max(m_lastFrame, frameNumber);
}

void FocusSweep::scoreMeasured(quint64 frameNumber, double score)
{
    if (!m_waitingForScores || frameNumber <= m_acceptAfter)
        return;
    m_scores.append(score);
    if (m_scores.size() < m_settings.framesPerStep)
        return;
    m_waitingForScores = false;
    const double mean = std::accumulate(m_scores.cbegin(), m_scores.cend(), 0.0) / m_scores.size();
    m_curve.append(QPointF(m_curve.size(), mean));
    Q_EMIT curveChanged(); // a listener may cancel here
    if (m_state != State::Measuring)
        return;
    if (m_curve.size() <= m_settings.steps) {
        sendStep(Direction::Far);
        return;
    }
    // Back past the best step, then forward onto it.
    const int back = m_settings.steps - bestStep() + m_settings.overshoot;
    for (int i = 0; i < back; ++i)
        m_moves.append(Direction::Near);
    for (int i = 0; i < m_settings.overshoot; ++i)
        m_moves.append(Direction::Far);
    setState(State::Returning);
    nextMove();
}

void FocusSweep::nextMove()
{
    if (!m_moves.isEmpty()) {
        sendStep(m_moves.takeFirst());
        return;
    }
    if (m_state == State::Rewinding) {
        // At the nearest step of the range: measure it as it is.
        setState(State::Measuring);
        m_scores.clear();
        m_acceptAfter = m_lastFrame + quint64(m_settings.settleFrames);
        m_waitingForScores = true;
    } else if (m_state == State::Returning) {
        setState(State::Found);
    }
}

void FocusSweep::sendStep(Direction direction)
{
    // What a press of the arrow key sends: autofocus off, then the step.
    m_pendingAnswers = 2;
    m_stepTaken = true;
    const auto answered = [self = QPointer<FocusSweep>(this), generation = m_generation](bool ok) {
        if (self && self->m_generation == generation)
            self->stepAnswered(ok);
    };
    RequestManager &box = RequestManager::sharedManager();
    box.setFocusStyle(QStringLiteral("0"), answered);
    if (direction == Direction::Near)
        box.setLeftCompleted(answered);
    else
        box.setRightCompleted(answered);
}

void FocusSweep::stepAnswered(bool taken)
{
    m_stepTaken = m_stepTaken && taken;
    if (--m_pendingAnswers > 0)
        return;
    if (!m_stepTaken) {
        // The box did not move as asked: a curve from here would lie.
        ++m_generation;
        m_moves.clear();
        setState(State::Failed);
        return;
    }
    if (m_state == State::Measuring) {
        // The frames up to the newest one received left the box before the
        // step did, or while it moved; skip them and a few more.
        m_scores.clear();
        m_acceptAfter = m_lastFrame + quint64(m_settings.settleFrames);
        m_waitingForScores = true;
        return;
    }
    nextMove();
}

} // namespace focus
