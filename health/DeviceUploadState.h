// The outcome of a device window's last upload, which the window's page shows. Set on
// the socket thread, read on the window's thread.
#pragma once

#include <mutex>
#include <string>
#include <utility>

struct struUploadState {
    bool busy = false;
    int retCode = 0;
    std::wstring message;
};

class CDeviceUploadState {
public:
    void Set(const struUploadState& state) {
        std::lock_guard lock(m_lock);
        m_state = state;
    }
    // The end of an upload or a device read as the page sees it: not busy, with its code
    // and text. Returns result, for callers that end with it.
    int End(int result, int retCode, std::wstring message) {
        Set({false, retCode, std::move(message)});
        return result;
    }
    struUploadState Get() const {
        std::lock_guard lock(m_lock);
        return m_state;
    }

private:
    mutable std::mutex m_lock;
    struUploadState m_state;
};
