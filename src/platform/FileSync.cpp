#include "platform/FileSync.h"

#include <mutex>
#include <unistd.h>

namespace platform::filesync
{
namespace
{
std::mutex hookMutex;
std::function<int(int)> testHook; // guarded by hookMutex
} // namespace

int dataSync(int fd)
{
    std::function<int(int)> hook;
    {
        std::lock_guard lock(hookMutex);
        hook = testHook;
    }
    return hook ? hook(fd) : ::fdatasync(fd);
}

void setHookForTests(std::function<int(int fd)> hook)
{
    std::lock_guard lock(hookMutex);
    testHook = std::move(hook);
}

} // namespace platform::filesync
