#include "capture/ThreadPriority.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace velarix {

void LowerThisThread(ThreadPriority priority) {
#if defined(__linux__)
    // On Linux the nice value is per thread.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)),
                priority == ThreadPriority::Low ? 10 : 5);
#else
    // Elsewhere a nice value belongs to the whole process, screen included.
    (void)priority;
#endif
}

}  // namespace velarix
