#pragma once

#include <functional>

// Making a file's data durable (fdatasync), the one place the recordings ask
// the disk for it. Any thread.
namespace platform::filesync
{

// As ::fdatasync(fd): 0 once the file's data is on the disk, otherwise -1
// with errno set.
int dataSync(int fd);

// Lets a test stand in for ::fdatasync, to see or pace every sync of the
// process; an empty function restores the real call. Set it while no
// recording runs.
void setHookForTests(std::function<int(int fd)> hook);

} // namespace platform::filesync
