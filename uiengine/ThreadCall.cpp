#include "internal/ThreadCall.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "EngineConstants.h"
#include "ScriptVM.h"
#include "Window.h"
#include "internal/ScriptOutput.h"

namespace uie::detail {
namespace {

// A page function that runs longer than this is broken, and its caller's own window should
// not be held by it for good.
std::atomic<std::chrono::milliseconds::rep> g_boundMs{5000};

// Jobs sent and not yet taken, by the number their message carries: the one that takes a
// job (the window's thread, or its sender giving up) is the only one to have it.
struct Jobs {
    std::mutex mutex;
    std::unordered_map<std::uint64_t, std::function<void()>> waiting;
    std::uint64_t last = 0;
    // Threads that let a call run out and have not served their queue since, and of those
    // the ones a refused call has been reported for.
    std::unordered_set<DWORD> notServing;
    std::unordered_set<DWORD> refusalReported;
};

Jobs& J() {
    static Jobs jobs;
    return jobs;
}

bool Take(std::uint64_t id, std::function<void()>* job) {
    Jobs& j = J();
    std::lock_guard lock(j.mutex);
    auto it = j.waiting.find(id);
    if (it == j.waiting.end()) return false;
    if (job != nullptr) *job = std::move(it->second);
    j.waiting.erase(it);
    return true;
}

void MarkNotServing(DWORD thread) {
    Jobs& j = J();
    std::lock_guard lock(j.mutex);
    j.notServing.insert(thread);
}

// A call refused at once: reported for the first of them only.
void ReportRefused(HWND hwnd, DWORD thread) {
    {
        Jobs& j = J();
        std::lock_guard lock(j.mutex);
        if (!j.refusalReported.insert(thread).second) return;
    }
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
    {
        Jobs& j = J();
        std::lock_guard lock(j.mutex);
        if (j.notServing.count(owner) == 0) {
            id = ++j.last;
            j.waiting.emplace(id, std::move(job));
        }
    }
    if (id == 0) {
        ReportRefused(hwnd, owner);
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
    if (timedOut) MarkNotServing(owner);
    if (neverTaken) return timedOut ? Reached::TimedOut : Reached::Gone;
    return answered ? Reached::Ran : Reached::TimedOut;
}

void RunSentJob(LPARAM id) {
    {
        Jobs& j = J();
        std::lock_guard lock(j.mutex);
        const DWORD self = GetCurrentThreadId();
        j.notServing.erase(self);
        j.refusalReported.erase(self);
    }
    std::function<void()> job;
    if (Take(static_cast<std::uint64_t>(id), &job)) job();
}

std::chrono::milliseconds CrossThreadBound() { return std::chrono::milliseconds(g_boundMs.load()); }

void SetCrossThreadBound(std::chrono::milliseconds bound) { g_boundMs = bound.count(); }

}  // namespace uie::detail
