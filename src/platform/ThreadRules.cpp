#include "platform/ThreadRules.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <pthread.h>

namespace platform::threads
{

bool isMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void mainThreadRuleBroken(const char *function, const char *file, int line)
{
    // Straight to stderr and abort: the message handler may itself be busy on
    // the main thread, and a broken thread rule must not be caught or logged away.
    std::fprintf(stderr, "orbilens: %s called off the main thread (%s:%d)\n", function, file, line);
    std::fflush(stderr);
    std::abort();
}

void setCurrentThreadName(const char *name)
{
    char shortName[16] = {};
    std::snprintf(shortName, sizeof shortName, "%s", name);
    pthread_setname_np(pthread_self(), shortName);
}

} // namespace platform::threads
