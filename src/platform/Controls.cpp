#include "platform/Controls.h"

#include <QAbstractSlider>
#include <QComboBox>
#include <QVariant>

namespace platform::controls
{

int tag(const QObject *control)
{
    return control ? control->property("tag").toInt() : 0;
}

void setTag(QObject *control, int tag)
{
    if (control)
        control->setProperty("tag", tag);
}

int selectedTag(const QComboBox *popUp)
{
    if (!popUp || popUp->currentIndex() < 0)
        return -1;
    return popUp->currentData().toInt();
}

bool selectItemWithTag(QComboBox *popUp, int tag)
{
    if (!popUp)
        return false;
    const int index = popUp->findData(tag);
    if (index < 0)
        return false;
    // currentIndexChanged fires, activated (the user's gesture) does not.
    popUp->setCurrentIndex(index);
    return true;
}

void connectSliderAction(QAbstractSlider *slider, QObject *context, std::function<void()> action)
{
    if (!slider)
        return;
    // A drag would send the box one command for every value it passes over;
    // the camera only needs the value where the handle was let go. A slider
    // that does not track takes that value only after the release, in a move
    // of its own, which then does the work.
    QObject::connect(slider, &QAbstractSlider::sliderReleased, context, [slider, action] {
        if (slider->sliderPosition() == slider->value())
            action();
    });
    // Keys, the wheel and the groove move the slider in steps, each a gesture
    // of its own. actionTriggered comes before the step reaches value(); the
    // slider would set it right after this slot, so setting it here first
    // changes nothing but lets the action read it. Moves while the handle is
    // held belong to the drag.
    QObject::connect(slider, &QAbstractSlider::actionTriggered, context,
                     [slider, action](int kind) {
                         if (kind == QAbstractSlider::SliderNoAction ||
                             (kind == QAbstractSlider::SliderMove && slider->isSliderDown()))
                             return;
                         slider->setValue(slider->sliderPosition());
                         action();
                     });
}

} // namespace platform::controls
