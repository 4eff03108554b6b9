// A reply or request text as the server writes it: each field ended by code 2.
#pragma once

#include <string>
#include <vector>

inline std::wstring JoinFields(const std::vector<std::wstring>& fields, wchar_t sep = L'\x02') {
    std::wstring out;
    for (const auto& f : fields) out += f + sep;
    return out;
}
