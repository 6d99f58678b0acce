#pragma once

#include <QObject>

#include <chrono>
#include <functional>

// Work posted to the main thread's event loop. Blocks run one at a time, in
// the order posted. A block is tied to a context object and is dropped if that
// object is destroyed before the block runs, so a block never runs against a
// dead receiver.
namespace platform::mainqueue
{

// Runs fn on the main thread soon, never inside this call.
void post(QObject *context, std::function<void()> fn);

// Runs fn on the main thread once delay has passed.
void postAfter(std::chrono::milliseconds delay, QObject *context, std::function<void()> fn);

} // namespace platform::mainqueue
