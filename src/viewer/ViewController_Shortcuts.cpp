#include "viewer/ViewController.h"

#include "control/CommandUrl.h"
#include "control/RequestManager.h"
#include "platform/KeyMonitor.h"
#include "platform/MainQueue.h"

#include <QKeyEvent>

// Focus in steps: the arrow keys and the two focus buttons each switch the
// box's autofocus off and send two focus values, low ones towards near, high
// ones towards far.

namespace
{
// The arrow keys the camera box's users know as key codes 123 and 124.
constexpr int kFocusNearKey = Qt::Key_Left;
constexpr int kFocusFarKey = Qt::Key_Right;

// The buttons send the second value of their step this long after the first.
constexpr std::chrono::milliseconds kFocusButtonSecondHalf{100};
} // namespace

void ViewController::installKeyMonitor()
{
    if (m_keyMonitor)
        return; // once for the whole run
    m_keyMonitor = std::make_unique<platform::KeyMonitor>([this](const QKeyEvent &event) {
        // A held key repeats its presses, and every repeat steps again, the
        // way a fresh press does. Arrows meant for a dialog, a pop-up list or
        // a field leave the telescope's focus alone.
        if ((event.key() == kFocusNearKey || event.key() == kFocusFarKey) &&
            platform::windowHasKeyboard(m_outlets.view ? m_outlets.view->window() : nullptr))
            keyDown(event);
        else
            viewKeyDown(event); // capture and viewing-aid keys (ViewController_Aids.cpp)
    });
}

void ViewController::keyDown(const QKeyEvent &event)
{
    cancelFocusSweep(); // the user takes the focus back
    setManualFocus();
    if (event.key() == kFocusNearKey)
        RequestManager::sharedManager().setLeftCompleted([](bool) {});
    else if (event.key() == kFocusFarKey)
        RequestManager::sharedManager().setRightCompleted([](bool) {});
}

void ViewController::mouseClickFocusWithValue(const QString &value)
{
    setManualFocus();
    setParameterWithUrl(CommandUrl::parameterString(CommandUrl::ControlId::FocusAbsolute, value));
}

void ViewController::clickLeftBtn()
{
    cancelFocusSweep();
    mouseClickFocusWithValue(QStringLiteral("15"));
    // Never cancelled: a second click within the delay sends its first half
    // before this second half, and both second halves go out.
    platform::mainqueue::postAfter(kFocusButtonSecondHalf, this,
                                   [this] { mouseClickFocusWithValue(QStringLiteral("10")); });
}

void ViewController::clickRightBtn()
{
    cancelFocusSweep();
    mouseClickFocusWithValue(QStringLiteral("85"));
    platform::mainqueue::postAfter(kFocusButtonSecondHalf, this,
                                   [this] { mouseClickFocusWithValue(QStringLiteral("80")); });
}
