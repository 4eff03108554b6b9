// The outcome of a device window's last upload, which the window's page shows. Set on
// the socket thread, read on the window's thread.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "Hooks.h"

struct struUploadState {
    bool busy = false;
    int retCode = 0;
    std::wstring message;
};

class CDeviceUploadState {
public:
    // A window whose upload waits for several replies answers for them itself: a failure
    // that the socket side reports (Set with a state that is not busy) goes to
    // requestFailed, and a read that finds the upload past its time runs timeUp once.
    // Both run on the caller's thread outside the lock and end the upload with End.
    struct Owner {
        std::function<void(const struUploadState& told)> requestFailed;
        std::function<void()> timeUp;
    };
    void SetOwner(Owner owner) {
        std::lock_guard lock(m_lock);
        m_owner = std::move(owner);
    }

    void Set(const struUploadState& state) {
        std::function<void(const struUploadState&)> failed;
        {
            std::lock_guard lock(m_lock);
            if (state.busy || !m_owner.requestFailed) {
                Store(state);
                return;
            }
            failed = m_owner.requestFailed;
        }
        failed(state);
    }
    // The owner's upload begins: busy, and over once allowanceMs have passed (0: never).
    void Begin(std::wstring message, DWORD allowanceMs) {
        std::lock_guard lock(m_lock);
        Store({true, 0, std::move(message)});
        m_allowanceMs = allowanceMs;
        m_begunAt = GetTickCount();
    }
    // The end of an upload or a device read as the page sees it: not busy, with its code
    // and text. Returns result, for callers that end with it.
    int End(int result, int retCode, std::wstring message) {
        std::lock_guard lock(m_lock);
        Store({false, retCode, std::move(message)});
        return result;
    }
    struUploadState Get() const {
        std::function<void()> timeUp;
        {
            std::lock_guard lock(m_lock);
            // Ticks wrap: the time passed is their unsigned difference.
            const bool over = m_state.busy && m_allowanceMs != 0 && GetTickCount() - m_begunAt >= m_allowanceMs;
            if (!over || !m_owner.timeUp) return m_state;
            m_allowanceMs = 0;  // once, however many threads read at the same time
            timeUp = m_owner.timeUp;
        }
        timeUp();
        std::lock_guard lock(m_lock);
        return m_state;
    }

private:
    void Store(const struUploadState& state) {
        m_state = state;
        m_allowanceMs = 0;
    }

    mutable std::mutex m_lock;
    struUploadState m_state;
    Owner m_owner;
    mutable DWORD m_allowanceMs = 0;
    DWORD m_begunAt = 0;
};
