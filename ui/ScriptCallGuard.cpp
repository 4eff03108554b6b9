#include "ScriptCallGuard.h"

#include <map>
#include <mutex>

#include "CxLog.h"
#include "Dom.h"

namespace {

struct WindowNames {
    std::mutex mutex;
    std::map<HWND, std::wstring> names;
};

WindowNames& Names() {
    static WindowNames names;
    return names;
}

std::wstring NameOf(HELEMENT he) {
    const HWND hwnd = uie::ElementWindow(he);
    WindowNames& n = Names();
    std::lock_guard lock(n.mutex);
    const auto it = n.names.find(hwnd);
    return it != n.names.end() ? it->second : std::wstring(L"?");
}

void ReportTimedOut(const std::wstring& wanted, const std::wstring& holder) {
    LOGF(LOG_ERROR, L"CSciterWindow::callScript",
         L"the script-call lock was not had in time for a call into [%s]: the page of [%s] holds it", wanted.c_str(),
         holder.c_str());
}

}  // namespace

YieldingLock& ScriptCallGuard::Lock() {
    static YieldingLock lock(kBound, ReportTimedOut);
    return lock;
}

ScriptCallGuard::ScriptCallGuard(HELEMENT he) : held_(Lock().Lock(NameOf(he))) {}

ScriptCallGuard::~ScriptCallGuard() {
    if (held_) Lock().Unlock();
}

void ScriptCallGuard::NameWindow(HWND hwnd, const std::wstring& name) {
    WindowNames& n = Names();
    std::lock_guard lock(n.mutex);
    n.names[hwnd] = name.empty() ? std::wstring(L"?") : name;
}

void ScriptCallGuard::ForgetWindow(HWND hwnd) {
    WindowNames& n = Names();
    std::lock_guard lock(n.mutex);
    n.names.erase(hwnd);
}
