// Copying a file the way the program needs it for its databases: the new name holds the
// whole copy or nothing, even when the program is killed or the power fails mid-copy.
#pragma once

#include "WinTypes.h"

// Copies existingFileName to newFileName with its permissions. The bytes go to a hidden
// sibling of newFileName first and reach the disk before they take the name, so a copy
// cut short never leaves part of a file under it. failIfExists: an existing newFileName
// is kept and FALSE returned; otherwise it is replaced in one step.
BOOL CopyFileW(const wchar_t* existingFileName, const wchar_t* newFileName, BOOL failIfExists);
