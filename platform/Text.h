// The text layer: wide strings are std::wstring (UTF-32 here); files, SQLite and the
// wire want UTF-16, UTF-8 or the system code page (GBK), converted only here.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace text {

// UTF-16 with surrogate pairs; an invalid code point becomes U+FFFD.
std::u16string ToUtf16(std::wstring_view s);
// The same into out, whose room is kept: a caller converting text after text allocates
// only when one is longer than any before.
void ToUtf16(std::wstring_view s, std::u16string& out);
// Unpaired surrogates become U+FFFD.
std::wstring FromUtf16(std::u16string_view s);
// Little-endian bytes without a byte-order mark, as the log and profile files hold them.
std::string ToUtf16LeBytes(std::wstring_view s);
std::wstring FromUtf16LeBytes(std::string_view bytes);

// Whether every character is ASCII, which reads the same in UTF-8 and the code page.
bool IsAscii(std::wstring_view s);

std::string ToUtf8(std::wstring_view s);
std::wstring FromUtf8(std::string_view s);

// The system code page (GBK, code page 936). A character it cannot hold becomes '?';
// a byte sequence that is not GBK becomes U+FFFD.
std::string ToAnsi(std::wstring_view s);
std::wstring FromAnsi(std::string_view s);

// Formats a Windows-style wide format: %s and %c take wide arguments, %S and %hs narrow
// ones (system code page), %I64d/%I64u 64-bit integers. The result is cut to
// bufferChars - 1 characters, as a Windows buffer of bufferChars would hold it.
// Returns false when the result was cut (or the format could not be applied).
bool FormatW(std::wstring& out, std::size_t bufferChars, const wchar_t* format, ...);
bool VFormatW(std::wstring& out, std::size_t bufferChars, const wchar_t* format, va_list args);

// Doubles every single quote, so the text can stand between quotes in SQL.
std::wstring QuoteSql(std::wstring_view s);

// _wtoi: leading blanks, an optional sign, then digits; anything else ends the number.
// Out of range clamps to INT_MIN / INT_MAX. Null or no digits gives 0.
int WToI(const wchar_t* s);
// A whole decimal number in int range (an optional sign, blanks around it allowed);
// false, with `out` unchanged, for anything else.
bool ParseWholeInt(std::wstring_view s, int& out);

// Bounded copy into a fixed field of `capacity` characters, always NUL-terminated.
// Returns false when the source was cut.
bool CopyW(wchar_t* dest, std::size_t capacity, std::wstring_view src);
bool CopyA(char* dest, std::size_t capacity, std::string_view src);

}  // namespace text
