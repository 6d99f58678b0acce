#include "viewer/UserTexts.h"
#include "viewer/ViewController.h"

#include "analysis/Sharpness.h"
#include "platform/Settings.h"

#include <QSpinBox>

// Focus assist: a sharpness score of a region of the picture on every frame
// the worker can take, its graph and best, the region and the loupe drawn
// over the picture, and the sweep that finds the sharpest focus step.

namespace
{
QString regionText(const QRectF &r)
{
    return QStringLiteral("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

std::optional<QRectF> regionFromText(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return std::nullopt;
    double v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].toDouble(&ok);
        if (!ok)
            return std::nullopt;
    }
    return QRectF(v[0], v[1], v[2], v[3]);
}

QString scoreText(double score)
{
    return QString::number(score, 'f', score < 10 ? 2 : 1);
}
} // namespace

void ViewController::setupFocusAssist()
{
    if (m_focusWorker)
        return;
    m_focusClock.start();
    m_focusWorker = std::make_unique<analysis::MeasureWorker>(this, "orbilens-focus");

    if (m_services.settings) {
        if (const auto stored = m_services.settings->stringForKey(kFocusRegionKey))
            if (const auto region = regionFromText(*stored))
                m_focusOverlay.setRegion(*region);
    }
    connect(&m_focusOverlay, &platform::FocusOverlay::regionChanged, this,
            [this](const QRectF &region) {
                if (m_services.settings)
                    m_services.settings->setString(kFocusRegionKey, regionText(region));
            });
    if (m_outlets.previewImgeView)
        m_outlets.previewImgeView->setFocusOverlay(&m_focusOverlay);

    connect(&m_focusSweep, &focus::FocusSweep::curveChanged, this, [this] { showFocusSweep(); });
    connect(&m_focusSweep, &focus::FocusSweep::stateChanged, this, [this] { showFocusSweep(); });

    if (platform::FocusPanel *panel = m_outlets.focusPanel) {
        if (m_services.settings)
            if (const auto steps = m_services.settings->stringForKey(kFocusStepsKey))
                panel->sweepStepsBox->setValue(steps->toInt());
        connect(panel->sweepStepsBox, &QSpinBox::valueChanged, this, [this](int steps) {
            if (m_services.settings)
                m_services.settings->setString(kFocusStepsKey, QString::number(steps));
        });
        connect(panel->resetBtn, &QPushButton::clicked, this, [this] { resetFocusScore(); });
        connect(panel->regionBtn, &QPushButton::clicked, this, [this] { toggleFocusRegion(); });
        connect(panel->loupeBtn, &QPushButton::clicked, this, [this] { cycleLoupe(); });
        connect(panel->findFocusBtn, &QPushButton::clicked, this, [this] { clickFindFocus(); });
    }
    showFocusRegionState();
    showFocusSweep();
}

bool ViewController::isFocusAssistOn() const
{
    return (m_outlets.focusPanel && !m_outlets.focusPanel->isHidden()) ||
           m_focusOverlay.loupeZoom() > 0 || m_focusSweep.isRunning();
}

void ViewController::toggleFocusPanel()
{
    if (!m_outlets.focusPanel)
        return;
    m_outlets.focusPanel->setVisible(m_outlets.focusPanel->isHidden());
    showFocusRegionState();
}

void ViewController::toggleFocusRegion()
{
    m_focusRegionShown = !m_focusRegionShown;
    showFocusRegionState();
}

void ViewController::showFocusRegionState()
{
    const bool panelShown = m_outlets.focusPanel && !m_outlets.focusPanel->isHidden();
    m_focusOverlay.setRegionVisible(panelShown && m_focusRegionShown);
    if (m_outlets.focusAssistBtn)
        m_outlets.focusAssistBtn->setChecked(panelShown);
    if (m_outlets.focusPanel)
        m_outlets.focusPanel->regionBtn->setChecked(m_focusRegionShown);
}

void ViewController::cycleLoupe()
{
    const int next = m_focusOverlay.loupeZoom() == 0 ? 1 : m_focusOverlay.loupeZoom() * 2;
    m_focusOverlay.setLoupeZoom(next > 4 ? 0 : next);
    if (m_outlets.focusPanel) {
        const int zoom = m_focusOverlay.loupeZoom();
        m_outlets.focusPanel->loupeBtn->setText(zoom == 0   ? usertexts::loupeOff()
                                                : zoom == 1 ? usertexts::loupeOneToOne()
                                                            : usertexts::loupeZoom().arg(zoom));
    }
}

void ViewController::resetFocusScore()
{
    m_focusHistory.clear();
    m_bestFocusScore = 0;
    if (platform::FocusPanel *panel = m_outlets.focusPanel) {
        panel->scoreLab->setText(QStringLiteral("–"));
        panel->bestLab->clear();
        panel->graph->setPoints({}, kFocusGraphSpan);
        panel->graph->setLevel(0);
    }
}

void ViewController::focusFrame(const QImage &image)
{
    ++m_focusFrameNumber;
    m_focusSweep.frameArrived(m_focusFrameNumber);
    if (m_isVideo && m_focusSweep.isRunning()) {
        cancelFocusSweep();
        showTipsLabWithTipsStr(usertexts::focusSweepStoppedByRecording());
    }
    if (!m_focusWorker || !isFocusAssistOn())
        return;
    // The frame as it came from the box, full size: the score needs the
    // region's own pixels, never a picture shrunk for the screen.
    const QRect region = platform::FocusOverlay::frameRegion(m_focusOverlay.region(), image.size());
    m_focusWorker->post([this, image, region, frameNumber = m_focusFrameNumber] {
        const double score = analysis::measureSharpness(image, region).score;
        return [this, score, frameNumber] { focusReading(score, frameNumber); };
    });
}

void ViewController::focusReading(double score, quint64 frameNumber)
{
    m_focusSweep.scoreMeasured(frameNumber, score);

    const double now = m_focusClock.elapsed() / 1000.0;
    m_focusHistory.append(QPointF(now, score));
    while (!m_focusHistory.isEmpty() && m_focusHistory.first().x() < now - kFocusGraphSpan)
        m_focusHistory.removeFirst();
    m_bestFocusScore = std::max(m_bestFocusScore, score);

    platform::FocusPanel *panel = m_outlets.focusPanel;
    if (!panel || panel->isHidden())
        return;
    panel->scoreLab->setText(scoreText(score));
    panel->bestLab->setText(QStringLiteral("best %1").arg(scoreText(m_bestFocusScore)));
    panel->graph->setPoints(m_focusHistory, kFocusGraphSpan);
    panel->graph->setLevel(m_bestFocusScore);
}

void ViewController::clickFindFocus()
{
    if (m_focusSweep.isRunning()) {
        cancelFocusSweep();
        return;
    }
    if (m_isVideo) {
        showTipsLabWithTipsStr(usertexts::noFocusSweepWhileRecording());
        return;
    }
    if (m_isDisconnect) {
        showTipsLabWithTipsStr(usertexts::noFocusSweepWithoutPicture());
        return;
    }
    focus::FocusSweep::Settings settings;
    if (m_outlets.focusPanel)
        settings.steps = m_outlets.focusPanel->sweepStepsBox->value();
    m_focusSweep.start(settings);
}

void ViewController::cancelFocusSweep()
{
    m_focusSweep.cancel();
}

void ViewController::showFocusSweep()
{
    platform::FocusPanel *panel = m_outlets.focusPanel;
    if (!panel)
        return;
    const bool running = m_focusSweep.isRunning();
    panel->findFocusBtn->setText(running ? usertexts::stopSweep() : usertexts::findFocus());
    panel->sweepStepsBox->setEnabled(!running);
    panel->curvePlot->setPoints(m_focusSweep.curve());
    panel->curvePlot->setMarker(
        m_focusSweep.state() == focus::FocusSweep::State::Measuring ? -1 : m_focusSweep.bestStep());
    using State = focus::FocusSweep::State;
    const int steps = m_focusSweep.settings().steps;
    switch (m_focusSweep.state()) {
    case State::Idle:
        panel->sweepLab->clear();
        break;
    case State::Rewinding:
        panel->sweepLab->setText(usertexts::sweepRewinding());
        break;
    case State::Measuring:
        panel->sweepLab->setText(
            usertexts::sweepMeasuring().arg(m_focusSweep.curve().size() + 1).arg(steps + 1));
        break;
    case State::Returning:
        panel->sweepLab->setText(usertexts::sweepReturning().arg(m_focusSweep.bestStep() + 1));
        break;
    case State::Found:
        panel->sweepLab->setText(
            usertexts::sweepFound().arg(m_focusSweep.bestStep() + 1).arg(steps + 1));
        break;
    case State::Cancelled:
        panel->sweepLab->setText(usertexts::sweepCancelled());
        break;
    case State::Failed:
        panel->sweepLab->setText(usertexts::sweepFailed());
        break;
    }
}
