#include "UiThreadManager.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "CxLog.h"
#include "Quorvix.h"
#include "ScriptVM.h"
#include "ThreadWait.h"

UiThreadManager g_UiThreads;

struct UiThreadManager::ThreadState {
    std::atomic<bool> ended{false};  // set under the manager's lock, read anywhere
    DWORD threadId = 0;              // under the manager's lock, once the thread has a queue
};

namespace {

// ERROR_MAX_THRDS_REACHED: the registry is full.
constexpr DWORD kErrorMaxThreads = 164;
constexpr DWORD kErrorNoMemory = 8;

// The kernel object behind a UI thread's handle.
class UiThread : public KernelObject {
public:
    ~UiThread() override {
        if (!thread.joinable()) return;
        // Closing a handle never waits for a thread that still runs, as on Windows.
        if (state->ended.load() && thread.get_id() != std::this_thread::get_id()) {
            threadwait::Join(thread);  // it has ended: a moment
        } else {
            thread.detach();
        }
    }

    std::shared_ptr<UiThreadManager::ThreadState> state = std::make_shared<UiThreadManager::ThreadState>();
    std::thread thread;
};

std::shared_ptr<UiThreadManager::ThreadState> StateOf(HANDLE handle) {
    auto* thread = dynamic_cast<UiThread*>(HandleObject(handle));
    return thread != nullptr ? thread->state : nullptr;
}

// The start-up thread looks for ended threads this often.
constexpr DWORD kRunPollMs = 50;

}  // namespace

HANDLE UiThreadManager::StartThread(std::function<DWORD()> body, const std::function<void(HANDLE)>& registered,
                                    DWORD* error) {
    auto object = std::make_unique<UiThread>();
    UiThread* thread = object.get();
    auto state = thread->state;
    HANDLE handle = RegisterHandle(std::move(object));
    DWORD code = 0;
    {
        // Held until the thread exists, so the thread's first step (recording its id)
        // comes after its entry and `registered`.
        std::lock_guard lock(m_lock);
        if (!AddLocked(handle)) {
            code = kErrorMaxThreads;
        } else {
            if (registered) registered(handle);
            try {
                thread->thread = std::thread([this, state, body = std::move(body)] {
                    // A queue before anyone can learn the id, so a wake-up is never lost.
                    MSG msg{};
                    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
                    {
                        std::lock_guard inner(m_lock);
                        state->threadId = GetCurrentThreadId();
                    }
                    try {
                        body();
                    } catch (...) {
                        LOGF(LOG_ERROR, L"UiThreadManager::StartThread", L"thread body threw");
                    }
                    {
                        std::lock_guard inner(m_lock);
                        state->ended = true;
                    }
                    m_changed.notify_all();
                });
            } catch (const std::system_error& e) {
                code = e.code().value() != 0 ? static_cast<DWORD>(e.code().value()) : kErrorNoMemory;
                ClearLocked(--m_nCount);
            }
        }
    }
    if (code != 0) {
        CloseHandle(handle);
        if (error != nullptr) *error = code;
        return nullptr;
    }
    m_changed.notify_all();
    return handle;
}

bool UiThreadManager::AddLocked(HANDLE thread) {
    if (m_nCount >= kMaxThreads) {
        LOGF(LOG_ERROR, L"UiThreadManager::AddThread", L"thread registry full[%d], thread refused", kMaxThreads);
        return false;
    }
    m_hThreads[m_nCount] = thread;
    m_hWnds[m_nCount] = nullptr;
    m_names[m_nCount].clear();
    m_states[m_nCount] = StateOf(thread);
    ++m_nCount;
    return true;
}

void UiThreadManager::ClearLocked(int index) {
    m_hThreads[index] = nullptr;
    m_hWnds[index] = nullptr;
    m_names[index].clear();
    m_states[index].reset();
}

bool UiThreadManager::AddThread(HANDLE thread) {
    bool added = false;
    {
        std::lock_guard lock(m_lock);
        added = AddLocked(thread);
    }
    m_changed.notify_all();
    return added;
}

void UiThreadManager::SetThreadWindow(HANDLE thread, HWND hwnd, std::wstring name) {
    std::lock_guard lock(m_lock);
    for (int i = 0; i < m_nCount; ++i) {
        if (m_hThreads[i] != thread) continue;
        m_hWnds[i] = hwnd;
        m_names[i] = name;
    }
}

bool UiThreadManager::RemoveThread(int index) {
    HANDLE thread = nullptr;
    {
        std::lock_guard lock(m_lock);
        if (index < 0 || index >= m_nCount) return false;
        thread = m_hThreads[index];
        for (int i = index; i + 1 < m_nCount; ++i) {
            m_hThreads[i] = m_hThreads[i + 1];
            m_hWnds[i] = m_hWnds[i + 1];
            m_names[i] = std::move(m_names[i + 1]);
            m_states[i] = std::move(m_states[i + 1]);
        }
        ClearLocked(--m_nCount);
    }
    CloseHandle(thread);
    return true;
}

void UiThreadManager::QuitAll() {
    g_nRunState = 4;
    WakeAll();
    std::vector<std::pair<HWND, std::wstring>> windows;
    {
        std::lock_guard lock(m_lock);
        for (int i = 0; i < m_nCount; ++i) windows.emplace_back(m_hWnds[i], m_names[i]);
    }
    // Sent without the lock: each window's thread runs its procedure meanwhile. One bound for
    // them all, so the forced end stays within its own.
    const auto deadline = std::chrono::steady_clock::now() + kEndBound;
    for (const auto& [hwnd, name] : windows) {
        if (hwnd == nullptr) continue;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        SendEnd(hwnd, WM_QUIT, 0, name, std::max(left, std::chrono::milliseconds(0)));
    }
}

bool UiThreadManager::SendEnd(HWND hwnd, UINT msg, WPARAM wParam, const std::wstring& name,
                              std::chrono::milliseconds bound) {
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutW(hwnd, msg, wParam, 0, SMTO_NORMAL, static_cast<UINT>(bound.count()), &ignored) != 0 ||
        GetLastError() != ERROR_TIMEOUT)
        return true;
    const std::wstring running = uie::RunningScript(hwnd);
    LOGF(LOG_ERROR, L"UiThreadManager::SendEnd", L"window [%s] did not end in time: its page runs %s", name.c_str(),
         running.empty() ? L"nothing" : running.c_str());
    return false;
}

void UiThreadManager::WakeAll() {
    std::vector<DWORD> threads;
    {
        std::lock_guard lock(m_lock);
        for (int i = 0; i < m_nCount; ++i) {
            if (m_states[i] && m_states[i]->threadId != 0 && !m_states[i]->ended) {
                threads.push_back(m_states[i]->threadId);
            }
        }
    }
    for (DWORD id : threads) PostThreadMessageW(id, WM_NULL, 0, 0);
}

int UiThreadManager::GetCount() const {
    std::lock_guard lock(m_lock);
    return m_nCount;
}

HANDLE UiThreadManager::GetThread(int index) const {
    std::lock_guard lock(m_lock);
    return index >= 0 && index < m_nCount ? m_hThreads[index] : nullptr;
}

HWND UiThreadManager::GetWindow(int index) const {
    std::lock_guard lock(m_lock);
    return index >= 0 && index < m_nCount ? m_hWnds[index] : nullptr;
}

int UiThreadManager::WaitAnyEnded(DWORD timeoutMs) const {
    std::unique_lock lock(m_lock);
    int found = -1;
    auto anyEnded = [&] {
        for (int i = 0; i < m_nCount; ++i) {
            if (m_states[i] && m_states[i]->ended) {
                found = i;
                return true;
            }
        }
        return false;
    };
    // Only the start-up thread waits here, which runs no page.
    if (timeoutMs == kInfinite) {
        threadwait::Wait(m_changed, lock, anyEnded);
    } else {
        threadwait::WaitFor(m_changed, lock, std::chrono::milliseconds(timeoutMs), anyEnded);
    }
    return found;
}

bool UiThreadManager::WaitThread(HANDLE thread, DWORD timeoutMs) const {
    auto state = StateOf(thread);
    if (!state) return true;
    // Page code waits here for a window it opened to be made.
    const auto ended = [&state] { return state->ended.load(); };
    if (timeoutMs != kInfinite) return threadwait::WaitForOtherThread(ended, std::chrono::milliseconds(timeoutMs));
    while (!threadwait::WaitForOtherThread(ended, std::chrono::hours(1))) {
    }
    return true;
}

std::vector<std::pair<std::wstring, HWND>> UiThreadManager::Running() const {
    std::vector<std::pair<std::wstring, HWND>> running;
    std::lock_guard lock(m_lock);
    for (int i = 0; i < m_nCount; ++i) {
        if (m_states[i] && !m_states[i]->ended) running.emplace_back(m_names[i], m_hWnds[i]);
    }
    return running;
}

int UiThreadManager::Run() {
    MSG msg{};
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the start-up thread gets its queue
    while (GetCount() > 0) {
        const int ended = WaitAnyEnded(kRunPollMs);
        if (ended >= 0) RemoveThread(ended);
    }
    return 0;
}
