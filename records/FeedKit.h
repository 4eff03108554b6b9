// What the server's feeds (messages, weather, life indices) share: taking a row, asking
// whether a row is stored, the local date for the readers, and the environment pop-up's
// refresh. Whether a reply or a row is whole is the data classes' HasFields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CPopWin;

namespace records {

// A feed's statements are formatted whole: quoting doubles every apostrophe of a text,
// and a statement cut to a buffer would never run, its feed stalling on it for good.
constexpr std::size_t kWholeStatement = SIZE_MAX;
// The local date as SQLite computes it (yyyymmdd), as the rest of the program dates.
inline constexpr wchar_t kLocalToday[] = L"strftime('%Y%m%d','now','localtime')";

// Row n (from 1) of a reply whose rows are separated by code 3, as a 260 field.
std::wstring ReplyRow(const std::wstring& reply, int n);
// True when the count query runs and gives a first column above 0; a failing query
// counts as a missing row.
bool RowStored(const std::wstring& countSql);
// Has the floating bar's environment pop-up, when there is one, run `post`.
void PostToEnvironmentPopup(void (CPopWin::*post)());

}  // namespace records
