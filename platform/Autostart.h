// Start with the user's session. The value the program would keep in the user's Run
// registry key is kept as the desktop's autostart entry
// (~/.config/autostart/<name>.desktop), whose command line carries the same text.
#pragma once

#include <string>

bool WriteRunValue(const std::wstring& name, const std::wstring& commandLine);
bool DeleteRunValue(const std::wstring& name);
// False when there is no entry of that name.
bool ReadRunValue(const std::wstring& name, std::wstring& commandLine);
