// Named mutexes, as the program uses them: to tell whether another instance runs.
// The name is an advisory lock on a file in the user's runtime folder, held while
// the handle is open.
#pragma once

#include "WinTypes.h"

// Returns a handle, or null when the lock file cannot be made. GetLastError() is
// ERROR_ALREADY_EXISTS when another holder (in this or another process) has the name.
HANDLE CreateMutexW(void* security, BOOL initialOwner, const wchar_t* name);
