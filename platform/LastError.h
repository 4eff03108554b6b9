// The calling thread's last error code, as the Windows-named functions leave it.
#pragma once

#include "WinTypes.h"

DWORD GetLastError();
void SetLastError(DWORD code);
