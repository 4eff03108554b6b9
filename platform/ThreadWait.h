// Waits for other threads, in one place, and the script-call lock they are about.
//
// Native code calls a page function only on the page's own thread (a call from another
// thread is sent there), under the script-call lock of the page's script VM; a VM lives on
// one thread, so each thread has one such lock and no other thread ever takes it. The lock
// therefore never makes anyone wait: what it guards is that a thread inside a page call stays
// reachable. A thread that blocks there without serving what other threads send to its
// windows hangs every one of them that sends, and its own window with them. So:
// - every wait for another thread that page code can reach goes through WaitForOtherThread
//   (or Thread::Join, built on it): it serves the thread's sent messages meanwhile, gives the
//   lock up for the wait (a send served meanwhile takes it afresh), and ends at its bound;
// - every other wait of the program (a worker waiting for its own queue, the program's end)
//   goes through the plain waits below, which refuse to run under the lock: such a wait is
//   reported (the program logs it, the tests fail on it) and then made, since a join cannot
//   be skipped;
// - Sleep (Hooks.h) waits for time, not for a thread: it gives the lock up while it sleeps.
// The one bound that means "another thread did not answer" is the caller's: the time a
// waiter gives the thread it waits for.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "WinTypes.h"

// The script-call lock of the VM of thread `vmThread`, held for one native call of one of its
// page functions while this lives: taken only on that thread, again as often as calls nest
// there. Elsewhere it is not had (held() false) and the call is not to be made.
class ScriptCallLock {
public:
    explicit ScriptCallLock(DWORD vmThread);
    ~ScriptCallLock();
    ScriptCallLock(const ScriptCallLock&) = delete;
    ScriptCallLock& operator=(const ScriptCallLock&) = delete;

    bool held() const { return held_; }
    // Held by the calling thread, and not given up for a wait.
    static bool HeldHere();

private:
    const bool held_;
};

// Gives up the calling thread's script-call lock while it lives; a page call made meanwhile
// (a send served during the wait) takes it afresh and gives it back. The waits here use it.
class LockGivenUp {
public:
    LockGivenUp();
    ~LockGivenUp();
    LockGivenUp(const LockGivenUp&) = delete;
    LockGivenUp& operator=(const LockGivenUp&) = delete;

private:
    const unsigned depth_;
};

namespace threadwait {

// Waits until done() (another thread made it so) or `bound` passed, serving what is sent to
// the calling thread's windows meanwhile, without the script-call lock; false at the bound.
// done() is asked without any lock of this layer held.
bool WaitForOtherThread(const std::function<bool()>& done, std::chrono::milliseconds bound);

// A thread that page code may have to wait for: its Join waits as WaitForOtherThread does
// until the body has returned, then joins it, which takes a moment. Moved and assigned as a
// std::thread is.
class Thread {
public:
    Thread() = default;
    // Throws std::system_error when no thread can be made, as std::thread does.
    explicit Thread(std::function<void()> body);
    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&&) noexcept = default;
    // Joins as Join does.
    ~Thread();

    bool joinable() const { return thread_.joinable(); }
    // False (not joined) when the body has not returned within `bound`, and at once on the
    // thread itself.
    bool Join(std::chrono::milliseconds bound = std::chrono::hours(24));
    // The body goes on alone, as the process ends.
    void Detach();

private:
    std::shared_ptr<std::atomic<bool>> ended_;
    std::thread thread_;
};

// The plain waits: each is refused under the script-call lock (reported), then made.
void Join(std::thread& thread);
void Wait(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready);
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout,
             const std::function<bool()>& ready);

// Where a refused wait is reported (the program's log; the tests make it a failure); standard
// error until set. Any thread. Returns the report set before.
using RefusedReport = void (*)(const std::wstring& what);
RefusedReport SetRefusedReport(RefusedReport report);

}  // namespace threadwait
