#include <windows.h>

#include "capture/ThreadPriority.h"

namespace velarix {

void LowerThisThread(ThreadPriority priority) {
    // THREAD_PRIORITY_LOWEST, not IDLE: an idle thread starves while the
    // screen keeps a core busy.
    ::SetThreadPriority(::GetCurrentThread(), priority == ThreadPriority::Low
                                                  ? THREAD_PRIORITY_LOWEST
                                                  : THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace velarix
