// Plug-in libraries. A library named "X.dll" in the program's data is the file
// "X.so" beside it, or "libX.so" when only that exists.
#pragma once

#include <filesystem>

#include "WinTypes.h"

struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
using FARPROC = void (*)();

// The file that stands for a library name (the name itself when it is no ".dll").
std::filesystem::path LibraryFileFor(const std::filesystem::path& name);

// Loaded with every symbol bound now and kept local, so two plug-ins' same-named
// exports never bind to each other. Null with ERROR_MOD_NOT_FOUND on failure.
HMODULE LoadLibraryW(const wchar_t* name);
// Null with ERROR_PROC_NOT_FOUND when the export is missing.
FARPROC GetProcAddress(HMODULE module, const char* exportName);
BOOL FreeLibrary(HMODULE module);
// The program itself for a null name, else a library already loaded; null otherwise.
HMODULE GetModuleHandleW(const wchar_t* name);
// The path of a loaded library, or of the program itself when module is null, cut to
// size - 1 characters; returns the characters copied (0 on failure).
DWORD GetModuleFileNameW(HMODULE module, wchar_t* out, DWORD size);
// The loader's text for the last failure on this thread ("" when none).
const char* LastLibraryError();
