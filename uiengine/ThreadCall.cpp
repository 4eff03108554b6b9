#include "internal/ThreadCall.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "EngineConstants.h"
#include "Window.h"

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

}  // namespace

bool OnAnotherThread(HWND hwnd) {
    const DWORD owner = GetWindowThreadProcessId(hwnd, nullptr);
    return owner != 0 && owner != GetCurrentThreadId();
}

Reached RunOnWindowThread(HWND hwnd, std::function<void()> job) {
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
        id = ++j.last;
        j.waiting.emplace(id, std::move(job));
    }
    DWORD_PTR ignored = 0;
    const auto bound = static_cast<UINT>(g_boundMs.load());
    const bool answered =
        SendMessageTimeoutW(hwnd, kEngineMessage, kRunSentJob, static_cast<LPARAM>(id), SMTO_NORMAL, bound, &ignored) != 0;
    // Still waiting: the window never took it (gone meanwhile, or busy past the bound), and now
    // never will.
    if (Take(id, nullptr)) return answered || GetLastError() != ERROR_TIMEOUT ? Reached::Gone : Reached::TimedOut;
    return answered ? Reached::Ran : Reached::TimedOut;
}

void RunSentJob(LPARAM id) {
    std::function<void()> job;
    if (Take(static_cast<std::uint64_t>(id), &job)) job();
}

std::chrono::milliseconds CrossThreadBound() { return std::chrono::milliseconds(g_boundMs.load()); }

void SetCrossThreadBound(std::chrono::milliseconds bound) { g_boundMs = bound.count(); }

}  // namespace uie::detail
