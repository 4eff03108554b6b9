// Profile (INI) files, read and written the way the program's Windows build expects:
// names match without regard to case, a file keeps its encoding (UTF-16LE, UTF-8 with a
// byte-order mark, or the system code page), and a new file is UTF-16LE so any text fits.
// Safe to call from several threads; a reader never sees a half-written file.
#pragma once

#include <string>

#include "WinTypes.h"

// key null lists the section's key names, section null the section names, each
// NUL-terminated with one more NUL at the end. Returns the characters written without
// the final NUL.
DWORD GetPrivateProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                               wchar_t* out, DWORD size, const wchar_t* fileName);
UINT GetPrivateProfileIntW(const wchar_t* section, const wchar_t* key, int defaultValue, const wchar_t* fileName);
// value null deletes the key, key null the whole section.
BOOL WritePrivateProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                const wchar_t* fileName);

// The whole value, or the default when it is missing, without a buffer limit.
std::wstring GetProfileText(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                            const wchar_t* fileName);
