// Wide text to and from SQLite's UTF-16 interface, shared by the wrapper classes.
#pragma once

#include <sqlite3.h>

#include <string>

#include "Text.h"

inline std::u16string ToSqlite16(const std::wstring& s) { return text::ToUtf16(s); }
// Into a buffer the caller keeps, so that statement after statement allocates nothing.
inline void ToSqlite16(const std::wstring& s, std::u16string& out) { text::ToUtf16(s, out); }

inline std::wstring FromSqlite16(const void* s) {
    return s == nullptr ? std::wstring() : text::FromUtf16(static_cast<const char16_t*>(s));
}

inline std::wstring SqliteErrorText(sqlite3* db) { return FromSqlite16(sqlite3_errmsg16(db)); }
