// The records of the system's device-arrival and device-removal broadcasts
// (WM_DEVICECHANGE: the event in wParam, a pointer to the record in lParam). The USB
// watch raises them; the main window reads them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "WinTypes.h"

constexpr WPARAM DBT_DEVICEARRIVAL = 0x8000;
constexpr WPARAM DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr DWORD DBT_DEVTYP_DEVICEINTERFACE = 5;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

// What every broadcast record starts with; size covers the whole record.
struct DEV_BROADCAST_HDR {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
};

// A device interface: its class and its path, NUL-terminated within dbcc_size.
struct DEV_BROADCAST_DEVICEINTERFACE_W {
    DWORD dbcc_size;
    DWORD dbcc_devicetype;
    DWORD dbcc_reserved;
    GUID dbcc_classguid;
    wchar_t dbcc_name[1];
};

static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_devicetype) ==
              offsetof(DEV_BROADCAST_HDR, dbch_devicetype));
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) == 28);
