#pragma once

// Checks of the program's thread rules. Most state lives on the main thread
// and no lock guards it, so an entry point that is main-thread only says so
// with ORBILENS_ASSERT_MAIN_THREAD(). The check is compiled in for debug
// builds (NDEBUG not defined) and for ORBILENS_THREAD_CHECKS builds, which
// CMake turns on for the sanitizer and fuzz builds; elsewhere it is nothing.
// A broken rule stops the process with a message that names the function.
namespace platform::threads
{

#if !defined(NDEBUG) || defined(ORBILENS_THREAD_CHECKS)
inline constexpr bool kChecksActive = true;
#else
inline constexpr bool kChecksActive = false;
#endif

// True on the application's main thread, and before any application exists
// (there is no main thread to compare with yet). Any thread.
bool isMainThread();

// Stops the process: function was called off the main thread.
[[noreturn]] void mainThreadRuleBroken(const char *function, const char *file, int line);

// Names the calling thread, as top -H, gdb and perf show it. Linux keeps at
// most 15 characters.
void setCurrentThreadName(const char *name);

} // namespace platform::threads

#if !defined(NDEBUG) || defined(ORBILENS_THREAD_CHECKS)
#define ORBILENS_ASSERT_MAIN_THREAD()                                                              \
    do {                                                                                           \
        if (!::platform::threads::isMainThread())                                                  \
            ::platform::threads::mainThreadRuleBroken(__func__, __FILE__, __LINE__);               \
    } while (false)
#else
#define ORBILENS_ASSERT_MAIN_THREAD()                                                              \
    do {                                                                                           \
    } while (false)
#endif
