#include "viewer/ViewController.h"

#include <QGraphicsOpacityEffect>

namespace
{
// The label's opacity effect, made on first use; the label owns it.
QGraphicsOpacityEffect *opacityEffect(QLabel *label)
{
    if (auto *effect = qobject_cast<QGraphicsOpacityEffect *>(label->graphicsEffect()))
        return effect;
    auto *effect = new QGraphicsOpacityEffect(label);
    // Before the first notice the label looks as the layout has it.
    effect->setOpacity(label->isHidden() ? 0.0 : 1.0);
    label->setGraphicsEffect(effect);
    return effect;
}
} // namespace

void ViewController::showTipsLabWithTipsStr(const QString &tipsStr)
{
    QLabel *label = m_outlets.tipsLab;
    if (label) {
        label->setText(tipsStr);
        label->setVisible(true);
        QGraphicsOpacityEffect *effect = opacityEffect(label);
        if (!m_tipsLabAnimation)
            // Owned by the effect: it goes when the effect or the label goes.
            m_tipsLabAnimation = new QPropertyAnimation(effect, "opacity", effect);
        // A notice during the fade stops the fade and comes back from where
        // the fade had got to.
        m_tipsLabAnimation->stop();
        m_tipsLabAnimation->setDuration(int(kNoticeFadeIn.count()));
        m_tipsLabAnimation->setStartValue(effect->opacity());
        m_tipsLabAnimation->setEndValue(1.0);
        m_tipsLabAnimation->start();
    }

    // A new notice gets the full period. The old timer is invalidated before
    // the new one is made, and freed only once the new one has replaced it.
    if (m_tipsLabTimer && m_tipsLabTimer->isValid())
        m_tipsLabTimer->invalidate();
    m_tipsLabTimer = platform::ScheduledTimer::scheduled(
        kNoticeVisible, platform::ScheduledTimer::Repeat::Once, [this] { hiddenTipsLab(); });
}

void ViewController::hiddenTipsLab()
{
    QLabel *label = m_outlets.tipsLab;
    if (!label)
        return;
    QGraphicsOpacityEffect *effect = opacityEffect(label);
    if (!m_tipsLabAnimation)
        m_tipsLabAnimation = new QPropertyAnimation(effect, "opacity", effect);
    // The label stays visible, fully transparent, until the next notice.
    m_tipsLabAnimation->stop();
    m_tipsLabAnimation->setDuration(int(kNoticeFadeOut.count()));
    m_tipsLabAnimation->setStartValue(effect->opacity());
    m_tipsLabAnimation->setEndValue(0.0);
    m_tipsLabAnimation->start();
}
