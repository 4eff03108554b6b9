// What the user is doing at the computer: the program in the foreground and the time
// of the last keyboard or mouse input. Both go through hooks (Hooks.h); the defaults
// read the X11 display named by $DISPLAY and know nothing without one.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "WinTypes.h"

struct LASTINPUTINFO {
    UINT cbSize;
    DWORD dwTime;  // tick count of the last input
};

// FALSE when the time of the last input is not known.
BOOL GetLastInputInfo(LASTINPUTINFO* info);
// The module path of the process that owns the foreground window (what the foreground
// window, its process and GetModuleFileNameExW give together), cut to size - 1
// characters; the characters copied, 0 when no foreground program is known.
DWORD GetForegroundModuleFileName(wchar_t* out, DWORD size);

// One X11 display connection for both defaults. libX11 and libXss are loaded at the
// first query, so nothing else needs them; without a display nothing is loaded.
class UserActivity {
public:
    // The shared connection for this display name (null or empty: none).
    static std::shared_ptr<UserActivity> ForDisplay(const char* displayName);

    explicit UserActivity(std::string displayName);
    ~UserActivity();
    UserActivity(const UserActivity&) = delete;
    UserActivity& operator=(const UserActivity&) = delete;

    // The executable of the active window's process; empty when unknown.
    std::wstring ForegroundProgram();
    // The tick count (GetTickCount) of the last input; false when unknown.
    bool LastInputTick(DWORD& tick);

private:
    struct Api;
    bool Connect();
    unsigned long WindowProperty(unsigned long window, const char* name, unsigned long type);

    std::mutex lock_;  // Xlib calls from several threads are not safe on one connection
    std::string displayName_;
    bool tried_ = false;
    std::unique_ptr<Api> api_;
};
