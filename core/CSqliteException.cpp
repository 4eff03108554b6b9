#include "CSqliteException.h"

#include "Text.h"

CSqliteException::CSqliteException(int errorCode, const wchar_t* message)
    : CSqliteException(errorCode, std::wstring(message != nullptr ? message : L"")) {}

CSqliteException::CSqliteException(int errorCode, const std::wstring& message) : errorCode_(errorCode) {
    text::FormatW(errorMessage_, message.size() + 50, L"%s[%d]: %s", errorCodeAsString(errorCode), errorCode,
                  message.c_str());
}

const wchar_t* CSqliteException::errorCodeAsString(int errorCode) {
    static const wchar_t* const kNames[] = {
        L"SQLITE_OK",       L"SQLITE_ERROR",    L"SQLITE_INTERNAL",   L"SQLITE_PERM",     L"SQLITE_ABORT",
        L"SQLITE_BUSY",     L"SQLITE_LOCKED",   L"SQLITE_NOMEM",      L"SQLITE_READONLY", L"SQLITE_INTERRUPT",
        L"SQLITE_IOERR",    L"SQLITE_CORRUPT",  L"SQLITE_NOTFOUND",   L"SQLITE_FULL",     L"SQLITE_CANTOPEN",
        L"SQLITE_PROTOCOL", L"SQLITE_EMPTY",    L"SQLITE_SCHEMA",     L"SQLITE_TOOBIG",   L"SQLITE_CONSTRAINT",
        L"SQLITE_MISMATCH", L"SQLITE_MISUSE",   L"SQLITE_NOLFS",      L"SQLITE_AUTH",     L"SQLITE_FORMAT",
        L"SQLITE_RANGE",
    };
    if (errorCode >= 0 && errorCode < static_cast<int>(std::size(kNames))) return kNames[errorCode];
    switch (errorCode) {
    case 100: return L"SQLITE_ROW";
    case 101: return L"SQLITE_DONE";
    case kWrapperError: return L"CSQLITE_ERROR";
    default: return L"UNKNOWN_ERROR";
    }
}
