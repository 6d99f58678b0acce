#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace platform
{

// What an alert says: a short message, the text under it and its buttons.
struct AlertContent {
    QString messageText;
    QString informativeText;
    QStringList buttonTitles; // the first is the default button
};

// Alerts shown as sheets on the viewer's window: informational, modal to
// that window only, never to the whole application.
//
// Main thread only. show() returns at once, before the user has answered;
// no modal loop runs inside it. The completion runs later on the main thread,
// exactly once, when the user ends the alert, with the response code of the
// button that ended it: kFirstButtonResponse for the first, one more for each
// further button. An alert that cannot be shown yet (no window on screen, or
// another alert showing) waits and is shown in its turn, never dropped while
// the window lives. The application owns the service; users hold a reference
// that must not outlive it.
class Alerts
{
public:
    static constexpr int kFirstButtonResponse = 1000;
    using Completion = std::function<void(int response)>;

    virtual ~Alerts() = default;

    virtual void show(const AlertContent &content, Completion completion) = 0;
};

} // namespace platform
