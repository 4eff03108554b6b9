// Page code of a window runs on the window's thread. A call from another thread (a page
// function, a function value, a load) is sent there and runs there, while the caller
// serves what is sent to its own windows, as a thread waiting in a send does on Windows: so
// two threads calling into each other's pages never hang. The caller waits a bounded time:
// past it the call is given up (the caller reports it), and a page that never ends holds its
// own thread and nothing else. A thread that has let a call run out is marked as not
// answering, as Windows marks a hung window: later calls into it fail at once (reported
// once) until it serves its queue again.
#pragma once

#include <chrono>
#include <functional>

#include "WinTypes.h"

namespace uie::detail {

enum class Reached {
    Ran,         // on the window's thread, to its end
    Gone,        // the window (or its thread) went before it could run
    TimedOut,    // not over within the bound: given up; never run when not begun by then
    NotServing,  // the thread let an earlier call run out and has not served its queue since
};

// Runs `job` on the thread of `hwnd`: at once when that is the calling thread. The job owns
// what it uses (it may run after the caller gave up). `bound` defaults to CrossThreadBound.
Reached RunOnWindowThread(HWND hwnd, std::function<void()> job);
Reached RunOnWindowThread(HWND hwnd, std::function<void()> job, std::chrono::milliseconds bound);

// Whether page code of `hwnd` would have to be sent: its window lives on another thread.
bool OnAnotherThread(HWND hwnd);

// The bound of the wait; tests shorten it (EngineTest.h).
std::chrono::milliseconds CrossThreadBound();
void SetCrossThreadBound(std::chrono::milliseconds bound);

// SciterProcND's part: runs the job a message of RunOnWindowThread carries, if it is still
// waiting; in any case the thread is serving its queue again.
void RunSentJob(LPARAM id);

}  // namespace uie::detail
