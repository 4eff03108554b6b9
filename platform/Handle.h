// Kernel objects (mutexes, threads, ...) behind HANDLE values, closed with CloseHandle.
#pragma once

#include <memory>

#include "WinTypes.h"

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

// Takes ownership and hands out the handle that names the object.
HANDLE RegisterHandle(std::unique_ptr<KernelObject> object);
// The object behind a handle, or null for a closed or unknown handle.
KernelObject* HandleObject(HANDLE handle);
// FALSE with ERROR_INVALID_HANDLE for a closed or unknown handle.
BOOL CloseHandle(HANDLE handle);
