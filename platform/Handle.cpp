#include "Handle.h"

#include <map>
#include <mutex>

#include "LastError.h"

namespace {
std::mutex g_handlesLock;
std::map<HANDLE, std::unique_ptr<KernelObject>>& Handles() {
    static std::map<HANDLE, std::unique_ptr<KernelObject>> handles;
    return handles;
}
}  // namespace

HANDLE RegisterHandle(std::unique_ptr<KernelObject> object) {
    if (!object) return nullptr;
    HANDLE handle = object.get();
    std::lock_guard<std::mutex> lock(g_handlesLock);
    Handles().emplace(handle, std::move(object));
    return handle;
}

KernelObject* HandleObject(HANDLE handle) {
    std::lock_guard<std::mutex> lock(g_handlesLock);
    auto it = Handles().find(handle);
    return it == Handles().end() ? nullptr : it->second.get();
}

BOOL CloseHandle(HANDLE handle) {
    std::unique_ptr<KernelObject> object;
    {
        std::lock_guard<std::mutex> lock(g_handlesLock);
        auto it = Handles().find(handle);
        if (it == Handles().end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        Handles().erase(it);
    }
    return TRUE;  // the object is destroyed outside the lock
}
