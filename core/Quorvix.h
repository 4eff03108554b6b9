// Program-wide state and the orderly end of the process.
#pragma once

#include <atomic>

// 1 while the program runs; 4 once it is ending, which every worker loop checks.
extern std::atomic<int> g_nRunState;
// 1 started with "autoRun", 2 with "dataSync", else 0.
extern std::atomic<int> g_nRunMode;

// Makes the program's own folder the current directory; 1, or 0 on failure.
int SetCurDir();

// Ends the process from any thread: the run state turns to 4, the log is written out,
// and the process ends with code 0. Returns only when a test replaced the exit hook.
void AppExit();
