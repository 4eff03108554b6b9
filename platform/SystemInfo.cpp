#include "SystemInfo.h"

BOOL GetVersionExW(OSVERSIONINFOW* info) {
    if (info == nullptr) return FALSE;
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 2;
    info->dwBuildNumber = 9200;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->szCSDVersion[0] = L'\0';
    return TRUE;
}
