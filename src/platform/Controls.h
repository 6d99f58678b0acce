#pragma once

#include <QObject>

#include <functional>

class QAbstractButton;
class QAbstractSlider;
class QComboBox;

// Small adapters that give Qt's controls the few properties the viewer's
// logic is written against: a button's tag, a pop-up's item tags. Setting any
// of these never emits a user signal (clicked, activated), so code that sets
// them is never mistaken for a user gesture. Main thread only.
namespace platform::controls
{

// A button's tag: a whole number kept as the dynamic property "tag"; 0 when
// none was set.
int tag(const QObject *control);
void setTag(QObject *control, int tag);

// The tag of the pop-up's selected item (its item data); -1 when nothing is
// selected.
int selectedTag(const QComboBox *popUp);

// Selects the first item whose tag equals tag. Answers false, and leaves the
// selection alone, when no item carries it.
bool selectItemWithTag(QComboBox *popUp, int tag);

// Runs action once for each move of the slider by the user, after the
// slider's value has taken the move: at the end of a drag of the handle (one
// action, however far it went), and for each step made by keyboard, wheel or
// a click on the groove. Setting the value from code runs nothing. action
// runs inside the gesture's event, and not once context is gone.
void connectSliderAction(QAbstractSlider *slider, QObject *context, std::function<void()> action);

} // namespace platform::controls
