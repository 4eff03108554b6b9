#include "internal/ThreadCall.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "EngineConstants.h"
#include "ScriptVM.h"
#include "Window.h"
#include "internal/ScriptOutput.h"

namespace uie::detail {
namespace {

// A page function that runs longer than this is broken, and its caller's own window should
// not be held by it for good.
std::atomic<std::chrono::milliseconds::rep> g_boundMs{5000};

using Clock = std::chrono::steady_clock;

struct Job {
    std::function<void()> run;
    Clock::time_point deadline;  // its caller gives up then: a job not begun by then never runs
};

// A thread that let a call run out, as of the jobs it had served when that call was sent: it
// counts as not answering until it has served one more (finished or dropped it), whenever
// that came.
struct Mark {
    std::uint64_t served;
    bool reported;
};

// Jobs sent and not yet taken, by the number their message carries: the one that takes a
// job (the window's thread, or its sender giving up) is the only one to have it.
struct Jobs {
    std::mutex mutex;
    std::unordered_map<std::uint64_t, Job> waiting;
    std::uint64_t last = 0;
    std::unordered_map<DWORD, std::uint64_t> served;  // by thread: jobs served
    std::unordered_map<DWORD, Mark> marks;
};

Jobs& J() {
    static Jobs jobs;
    return jobs;
}

bool Take(std::uint64_t id, Job* job) {
    Jobs& j = J();
    std::lock_guard lock(j.mutex);
    auto it = j.waiting.find(id);
    if (it == j.waiting.end()) return false;
    if (job != nullptr) *job = std::move(it->second);
    j.waiting.erase(it);
    return true;
}

void Served(DWORD thread) {
    Jobs& j = J();
    std::lock_guard lock(j.mutex);
    ++j.served[thread];
}

// With the jobs' lock: whether the thread still counts as not answering, and whether this
// refusal is the first since it was marked, to be reported.
bool NotServing(Jobs& j, DWORD thread, bool& report) {
    auto mark = j.marks.find(thread);
    if (mark == j.marks.end()) return false;
    if (mark->second.served != j.served[thread]) {
        j.marks.erase(mark);
        return false;
    }
    report = !std::exchange(mark->second.reported, true);
    return true;
}

void ReportRefused(HWND hwnd) {
    const std::wstring running = RunningScript(hwnd);
    ReportScriptError(hwnd, L"its window's thread let a call run out and runs " +
                                (running.empty() ? std::wstring(L"no page code") : running) +
                                L": calls into it fail at once until it serves its queue again");
}

}  // namespace

bool OnAnotherThread(HWND hwnd) {
    const DWORD owner = GetWindowThreadProcessId(hwnd, nullptr);
    return owner != 0 && owner != GetCurrentThreadId();
}

Reached RunOnWindowThread(HWND hwnd, std::function<void()> job) {
    return RunOnWindowThread(hwnd, std::move(job), CrossThreadBound());
}

Reached RunOnWindowThread(HWND hwnd, std::function<void()> job, std::chrono::milliseconds bound) {
    const DWORD owner = GetWindowThreadProcessId(hwnd, nullptr);
    if (owner == 0) return Reached::Gone;
    if (owner == GetCurrentThreadId()) {
        job();
        return Reached::Ran;
    }
    std::uint64_t id = 0;
    std::uint64_t servedBefore = 0;
    bool report = false;
    const auto deadline = Clock::now() + bound;
    {
        Jobs& j = J();
        std::lock_guard lock(j.mutex);
        if (!NotServing(j, owner, report)) {
            servedBefore = j.served[owner];
            id = ++j.last;
            j.waiting.emplace(id, Job{std::move(job), deadline});
        }
    }
    if (id == 0) {
        if (report) ReportRefused(hwnd);
        return Reached::NotServing;
    }
    DWORD_PTR ignored = 0;
    const auto ms = static_cast<UINT>(std::min<std::chrono::milliseconds::rep>(bound.count(), 0xFFFFFFFE));
    const bool answered =
        SendMessageTimeoutW(hwnd, kEngineMessage, kRunSentJob, static_cast<LPARAM>(id), SMTO_NORMAL, ms, &ignored) != 0;
    const bool timedOut = !answered && GetLastError() == ERROR_TIMEOUT;
    // Still waiting: the window never took it (gone meanwhile, or busy past the bound), and now
    // never will.
    const bool neverTaken = Take(id, nullptr);
    if (timedOut) {
        Jobs& j = J();
        std::lock_guard lock(j.mutex);
        // Unless it has served a job since this one was sent: then it answers again.
        if (j.served[owner] == servedBefore) j.marks[owner] = Mark{servedBefore, false};
    }
    if (neverTaken) return timedOut ? Reached::TimedOut : Reached::Gone;
    return answered ? Reached::Ran : Reached::TimedOut;
}

void RunSentJob(LPARAM id) {
    const DWORD self = GetCurrentThreadId();
    Job job;
    if (Take(static_cast<std::uint64_t>(id), &job) && Clock::now() <= job.deadline) job.run();
    Served(self);  // back at its queue, with this job over or dropped
}

std::chrono::milliseconds CrossThreadBound() { return std::chrono::milliseconds(g_boundMs.load()); }

void SetCrossThreadBound(std::chrono::milliseconds bound) { g_boundMs = bound.count(); }

}  // namespace uie::detail
