// The error every SQLite wrapper call throws: an SQLite result code (or 1000 for a
// fault the wrapper finds itself) and the text "name[code]: message".
#pragma once

#include <string>

class CSqliteException {
public:
    static constexpr int kWrapperError = 1000;

    CSqliteException(int errorCode, const wchar_t* message);
    CSqliteException(int errorCode, const std::wstring& message);
    virtual ~CSqliteException() = default;

    int errorCode() const { return errorCode_; }
    const wchar_t* errorMessage() const { return errorMessage_.c_str(); }

    static const wchar_t* errorCodeAsString(int errorCode);

private:
    int errorCode_;
    std::wstring errorMessage_;
};
