// Lowering the calling thread's scheduling priority, for the threads that
// work beside the screen (the compressor list, the recording's encoder).
// ThreadPriorityPosix.cpp and ThreadPriorityWin.cpp implement it; the build
// compiles one of the two.
#pragma once

namespace velarix {

enum class ThreadPriority {
    BelowNormal,  // yields to the screen when both want the same core
    Low,          // well below the screen's, not the very lowest, which starves
};

// Lowers the calling thread only, never the process; a refusal by the system
// leaves the thread as it was, which costs smoothness, not correctness.
void LowerThisThread(ThreadPriority priority);

}  // namespace velarix
