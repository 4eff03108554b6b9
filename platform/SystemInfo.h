// What the system reports about itself to the program.
#pragma once

#include "WinTypes.h"

constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    wchar_t szCSDVersion[128];
};

// Reported as the newest system the program knows (6.2, build 9200, NT family).
BOOL GetVersionExW(OSVERSIONINFOW* info);
