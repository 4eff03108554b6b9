#include "VepInterface.h"

struVepInterface::~struVepInterface() { Free(); }

int struVepInterface::Load(const std::wstring& libraryPath) {
    Free();
    path = libraryPath;
    handle = LoadLibraryW(path.c_str());
    if (handle == nullptr) return kVepNoLibrary;
    for (std::size_t i = 0; i < kVepExportCount; ++i) {
        procs[i] = GetProcAddress(handle, kVepBinding[i].name.data());
        if (procs[i] == nullptr) {
            const int missing = kVepBinding[i].missing;
            Free();
            return missing;
        }
    }
    return 0;
}

void struVepInterface::Free() {
    procs.fill(nullptr);
    if (handle != nullptr) FreeLibrary(handle);
    handle = nullptr;
}
