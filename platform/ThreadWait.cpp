#include "ThreadWait.h"

#include <atomic>
#include <cstdio>
#include <utility>

#include "Window.h"

namespace {

using Clock = std::chrono::steady_clock;

// The calling thread's script-call lock: how deep its page calls nest now. Only the thread
// itself ever reads or writes it.
thread_local unsigned t_lockDepth = 0;

// How often a wait for another thread asks whether it is over, between the sends it serves.
constexpr auto kPoll = std::chrono::milliseconds(2);

std::atomic<threadwait::RefusedReport> g_report{nullptr};

void ReportRefused(const char* kind) {
    std::wstring what = L"a plain ";
    for (const char* c = kind; *c != '\0'; ++c) what += static_cast<wchar_t>(*c);
    what += L" under a page call, where only a wait that serves the thread's windows may wait for another thread";
    if (const threadwait::RefusedReport report = g_report.load()) {
        report(what);
        return;
    }
    std::fprintf(stderr, "%ls\n", what.c_str());
}

void CheckPlain(const char* kind) {
    if (ScriptCallLock::HeldHere()) ReportRefused(kind);
}

}  // namespace

namespace {

bool TakeLock(DWORD vmThread) {
    if (vmThread == 0 || vmThread != GetCurrentThreadId()) return false;
    ++t_lockDepth;
    return true;
}

}  // namespace

ScriptCallLock::ScriptCallLock(DWORD vmThread) : held_(TakeLock(vmThread)) {}

ScriptCallLock::~ScriptCallLock() {
    if (held_ && t_lockDepth > 0) --t_lockDepth;
}

bool ScriptCallLock::HeldHere() { return t_lockDepth > 0; }

LockGivenUp::LockGivenUp() : depth_(std::exchange(t_lockDepth, 0)) {}

// What a page call served meanwhile took, it has given back.
LockGivenUp::~LockGivenUp() { t_lockDepth = depth_; }

namespace threadwait {

bool WaitForOtherThread(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const LockGivenUp given;
    const auto deadline = Clock::now() + bound;
    for (;;) {
        if (done()) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        ServeSentUntil(std::min(deadline, now + kPoll));
    }
}

Thread::Thread(std::function<void()> body) : ended_(std::make_shared<std::atomic<bool>>(false)) {
    thread_ = std::thread([ended = ended_, body = std::move(body)] {
        body();
        *ended = true;
    });
}

Thread::~Thread() { Join(); }

void Thread::Detach() {
    if (thread_.joinable()) thread_.detach();
}

bool Thread::Join(std::chrono::milliseconds bound) {
    if (!thread_.joinable()) return true;
    if (thread_.get_id() == std::this_thread::get_id()) return false;  // it cannot wait for itself
    const std::shared_ptr<std::atomic<bool>> ended = ended_;
    if (!WaitForOtherThread([&ended] { return ended->load(); }, bound)) return false;
    thread_.join();
    return true;
}

void Join(std::thread& thread) {
    if (!thread.joinable()) return;
    CheckPlain("join");
    thread.join();
}

void Wait(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready) {
    CheckPlain("wait");
    cv.wait(lock, ready);
}

bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout,
             const std::function<bool()>& ready) {
    CheckPlain("wait");
    return cv.wait_for(lock, timeout, ready);
}

RefusedReport SetRefusedReport(RefusedReport report) { return g_report.exchange(report); }

}  // namespace threadwait
