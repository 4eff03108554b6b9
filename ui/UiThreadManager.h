// The registry of user-interface threads: each thread handle with the window its
// thread serves. Start-up waits on the threads and removes those that end; quit-all
// ends them. Thread handles are kernel objects (CloseHandle) that can be waited on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Handle.h"
#include "Window.h"

class UiThreadManager {
public:
    static constexpr int kMaxThreads = 63;
    static constexpr DWORD kInfinite = 0xFFFFFFFF;
    struct ThreadState;  // whether a thread has ended, kept with its handle

    UiThreadManager() = default;
    UiThreadManager(const UiThreadManager&) = delete;
    UiThreadManager& operator=(const UiThreadManager&) = delete;

    // Starts body on a new thread that is registered before body runs: `registered`
    // gets the new handle first, under the registry's lock. Null when the registry is
    // full or no thread can be made; *error then holds the error code.
    HANDLE StartThread(std::function<DWORD()> body, const std::function<void(HANDLE)>& registered,
                       DWORD* error);

    // Appends a handle with window 0 beside it; false (logged) when all entries are used.
    bool AddThread(HANDLE thread);
    // Stores the window, and its name for log lines, beside every entry of that thread.
    void SetThreadWindow(HANDLE thread, HWND hwnd, std::wstring name = {});
    // Closes the entry's thread handle and moves the later entries down, each thread
    // with its window. A thread still running goes on without its handle.
    bool RemoveThread(int index);

    // The start-up thread's wait: removes each entry whose thread ended; returns 0 once
    // no entry is left.
    int Run();

    // How long a closer waits for a window of another thread to take the message that ends
    // it: the window's end itself (its pages' finalizers) runs after that answer.
    static constexpr std::chrono::seconds kEndBound{3};

    // Run state 4, every thread woken, and WM_QUIT sent to every registered window, all within
    // kEndBound.
    void QuitAll();
    // Sends the message that ends a window of another thread (WM_QUIT, WM_CLOSE, command 18),
    // waiting at most `bound` for its answer; false past it, logged: the window named `name`
    // did not end in time.
    static bool SendEnd(HWND hwnd, UINT msg, WPARAM wParam, const std::wstring& name, std::chrono::milliseconds bound);
    // Posts WM_NULL to every registered thread, so one waiting for a message looks at
    // the run state again.
    void WakeAll();

    int GetCount() const;
    HANDLE GetThread(int index) const;  // null past the count
    HWND GetWindow(int index) const;
    // The index of an entry whose thread has ended, waiting up to timeoutMs; -1 when
    // none ended in time. The caller removes the entry. The start-up thread's wait only.
    int WaitAnyEnded(DWORD timeoutMs) const;
    // True once the thread behind a handle this registry's StartThread made has ended
    // (a closed handle counts as ended); false when it still runs after timeoutMs. A wait for
    // another thread that serves the caller's windows meanwhile (ThreadWait.h).
    bool WaitThread(HANDLE thread, DWORD timeoutMs) const;
    // The name and window of each thread this registry's StartThread made that still runs.
    std::vector<std::pair<std::wstring, HWND>> Running() const;

private:
    bool AddLocked(HANDLE thread);
    void ClearLocked(int index);  // the entry emptied

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    int m_nCount = 0;
    HANDLE m_hThreads[kMaxThreads] = {};
    HWND m_hWnds[kMaxThreads] = {};
    std::wstring m_names[kMaxThreads];
    std::shared_ptr<ThreadState> m_states[kMaxThreads];  // null for a handle made elsewhere
};

extern UiThreadManager g_UiThreads;
