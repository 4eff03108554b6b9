#include "UserActivity.h"

#include <map>

#include <dlfcn.h>
#include <unistd.h>

#include "Hooks.h"
#include "Text.h"

namespace {

// The few Xlib and screen-saver extension types used, declared here so that building
// needs neither library's headers.
using XDisplay = void;
using XWindow = unsigned long;
using XAtom = unsigned long;
struct XScreenSaverInfoRec {
    XWindow window;
    int state;
    int kind;
    unsigned long tilOrSince;
    unsigned long idle;  // milliseconds since the last input
    unsigned long eventMask;
};
using XErrorHandlerFn = int (*)(XDisplay*, void*);
constexpr XAtom kXaCardinal = 6;
constexpr XAtom kXaWindow = 33;

// A failed request on a window that has just gone must not end the program, which is
// what Xlib's own handler does.
int IgnoreXError(XDisplay*, void*) { return 0; }

template <class Fn>
bool Bind(void* library, const char* name, Fn& fn) {
    fn = library != nullptr ? reinterpret_cast<Fn>(dlsym(library, name)) : nullptr;
    return fn != nullptr;
}

}  // namespace

struct UserActivity::Api {
    void* x11 = nullptr;
    void* xss = nullptr;
    XDisplay* display = nullptr;
    XWindow root = 0;
    XScreenSaverInfoRec* info = nullptr;

    XDisplay* (*openDisplay)(const char*) = nullptr;
    int (*closeDisplay)(XDisplay*) = nullptr;
    XWindow (*defaultRootWindow)(XDisplay*) = nullptr;
    XAtom (*internAtom)(XDisplay*, const char*, int) = nullptr;
    int (*getWindowProperty)(XDisplay*, XWindow, XAtom, long, long, int, XAtom, XAtom*, int*, unsigned long*,
                             unsigned long*, unsigned char**) = nullptr;
    int (*xFree)(void*) = nullptr;
    XErrorHandlerFn (*setErrorHandler)(XErrorHandlerFn) = nullptr;
    int (*ssQueryExtension)(XDisplay*, int*, int*) = nullptr;
    XScreenSaverInfoRec* (*ssAllocInfo)() = nullptr;
    int (*ssQueryInfo)(XDisplay*, XWindow, XScreenSaverInfoRec*) = nullptr;

    ~Api() {
        if (info != nullptr && xFree != nullptr) xFree(info);
        if (display != nullptr && closeDisplay != nullptr) closeDisplay(display);
        if (xss != nullptr) dlclose(xss);
        if (x11 != nullptr) dlclose(x11);
    }

    bool BindX11() {
        x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        return Bind(x11, "XOpenDisplay", openDisplay) && Bind(x11, "XCloseDisplay", closeDisplay) &&
               Bind(x11, "XDefaultRootWindow", defaultRootWindow) && Bind(x11, "XInternAtom", internAtom) &&
               Bind(x11, "XGetWindowProperty", getWindowProperty) && Bind(x11, "XFree", xFree) &&
               Bind(x11, "XSetErrorHandler", setErrorHandler);
    }

    // The idle time needs the extension; the foreground program does without it.
    void BindScreenSaver() {
        xss = dlopen("libXss.so.1", RTLD_NOW | RTLD_LOCAL);
        int event = 0;
        int error = 0;
        if (Bind(xss, "XScreenSaverQueryExtension", ssQueryExtension) &&
            Bind(xss, "XScreenSaverAllocInfo", ssAllocInfo) && Bind(xss, "XScreenSaverQueryInfo", ssQueryInfo) &&
            ssQueryExtension(display, &event, &error) != 0)
            info = ssAllocInfo();
    }
};

std::shared_ptr<UserActivity> UserActivity::ForDisplay(const char* displayName) {
    static std::mutex lock;
    static std::map<std::string, std::weak_ptr<UserActivity>> shared;
    const std::string name = displayName != nullptr ? displayName : "";
    std::lock_guard guard(lock);
    std::shared_ptr<UserActivity> activity = shared[name].lock();
    if (!activity) {
        activity = std::make_shared<UserActivity>(name);
        shared[name] = activity;
    }
    return activity;
}

UserActivity::UserActivity(std::string displayName) : displayName_(std::move(displayName)) {}

UserActivity::~UserActivity() = default;

bool UserActivity::Connect() {
    if (tried_) return api_ != nullptr;
    tried_ = true;
    if (displayName_.empty()) return false;
    auto api = std::make_unique<Api>();
    if (!api->BindX11()) return false;
    api->display = api->openDisplay(displayName_.c_str());
    if (api->display == nullptr) return false;
    api->setErrorHandler(IgnoreXError);
    api->root = api->defaultRootWindow(api->display);
    api->BindScreenSaver();
    api_ = std::move(api);
    return true;
}

// The first 32-bit item of a window property of that type; 0 when there is none.
unsigned long UserActivity::WindowProperty(unsigned long window, const char* name, unsigned long type) {
    const XAtom atom = api_->internAtom(api_->display, name, 1);
    if (atom == 0) return 0;
    XAtom actualType = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = api_->getWindowProperty(api_->display, window, atom, 0, 1, 0, type, &actualType, &format,
                                               &items, &after, &data);
    unsigned long value = 0;
    // Format-32 items come as longs whatever the machine's word size.
    if (status == 0 && data != nullptr && format == 32 && items >= 1) value = *reinterpret_cast<unsigned long*>(data);
    if (data != nullptr) api_->xFree(data);
    return value;
}

std::wstring UserActivity::ForegroundProgram() {
    std::lock_guard guard(lock_);
    if (!Connect()) return {};
    const unsigned long active = WindowProperty(api_->root, "_NET_ACTIVE_WINDOW", kXaWindow);
    const unsigned long pid = active != 0 ? WindowProperty(active, "_NET_WM_PID", kXaCardinal) : 0;
    if (pid == 0) return {};
    char path[4096];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t length = readlink(link.c_str(), path, sizeof path - 1);
    if (length <= 0) return {};
    return text::FromUtf8(std::string_view(path, static_cast<std::size_t>(length)));
}

bool UserActivity::LastInputTick(DWORD& tick) {
    std::lock_guard guard(lock_);
    if (!Connect() || api_->info == nullptr) return false;
    if (api_->ssQueryInfo(api_->display, api_->root, api_->info) == 0) return false;
    tick = GetTickCount() - static_cast<DWORD>(api_->info->idle);
    return true;
}

BOOL GetLastInputInfo(LASTINPUTINFO* info) {
    DWORD tick = 0;
    if (info == nullptr || !Hooks().lastInputTick || !Hooks().lastInputTick(tick)) return FALSE;
    info->dwTime = tick;
    return TRUE;
}

DWORD GetForegroundModuleFileName(wchar_t* out, DWORD size) {
    if (out == nullptr || size == 0) return 0;
    const std::wstring path = Hooks().foregroundProgram ? Hooks().foregroundProgram() : std::wstring();
    text::CopyW(out, size, path);
    return static_cast<DWORD>(path.size() < size ? path.size() : size - 1);
}
