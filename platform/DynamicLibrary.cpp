#include "DynamicLibrary.h"

#include <cctype>
#include <string>

#include <cwchar>
#include <system_error>

#include <dlfcn.h>
#include <link.h>

#include "LastError.h"
#include "Text.h"

namespace {
thread_local std::string t_lastLibraryError;

void NoteFailure(DWORD code) {
    const char* why = dlerror();
    t_lastLibraryError = why != nullptr ? why : "";
    SetLastError(code);
}

bool IsDllName(const std::filesystem::path& name) {
    std::string ext = name.extension().string();
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".dll";
}
}  // namespace

std::filesystem::path LibraryFileFor(const std::filesystem::path& name) {
    if (!IsDllName(name)) return name;
    auto plain = name;
    plain.replace_extension(".so");
    if (std::filesystem::exists(plain)) return plain;
    auto prefixed = name.parent_path() / ("lib" + plain.filename().string());
    return std::filesystem::exists(prefixed) ? prefixed : plain;
}

HMODULE LoadLibraryW(const wchar_t* name) {
    if (name == nullptr || *name == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto file = LibraryFileFor(std::filesystem::path(text::ToUtf8(name)));
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        NoteFailure(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* exportName) {
    if (module == nullptr || exportName == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    dlerror();
    void* symbol = dlsym(module, exportName);
    if (symbol == nullptr) {
        NoteFailure(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr || dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HMODULE GetModuleHandleW(const wchar_t* name) {
    if (name == nullptr) return static_cast<HMODULE>(dlopen(nullptr, RTLD_NOW));
    const auto file = LibraryFileFor(std::filesystem::path(text::ToUtf8(name)));
    return static_cast<HMODULE>(dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD));
}

DWORD GetModuleFileNameW(HMODULE module, wchar_t* out, DWORD size) {
    if (out == nullptr || size == 0) return 0;
    std::error_code ec;
    std::filesystem::path path;
    if (module == nullptr) {
        path = std::filesystem::read_symlink("/proc/self/exe", ec);
    } else {
        link_map* map = nullptr;
        if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
            path = std::filesystem::absolute(map->l_name, ec);
        }
    }
    if (path.empty()) {
        out[0] = L'\0';
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    text::CopyW(out, size, text::FromUtf8(path.string()));
    return static_cast<DWORD>(std::wcslen(out));
}

const char* LastLibraryError() { return t_lastLibraryError.c_str(); }
