// Lowering the calling thread's scheduling priority, for the threads that
// work beside the screen (the compressor list, the recording's encoder).
#pragma once

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace velarix {

enum class ThreadPriority {
    BelowNormal,  // yields to the screen when both want the same core
    Low,          // well below the screen's, not the very lowest, which starves
};

inline void LowerThisThread(ThreadPriority priority) {
#if defined(__linux__)
    // On Linux the nice value is per thread.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)),
                priority == ThreadPriority::Low ? 10 : 5);
#elif defined(_WIN32)
    SetThreadPriority(GetCurrentThread(), priority == ThreadPriority::Low
                                              ? THREAD_PRIORITY_LOWEST
                                              : THREAD_PRIORITY_BELOW_NORMAL);
#else
    (void)priority;
#endif
}

}  // namespace velarix
