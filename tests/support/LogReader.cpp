#include "LogReader.h"

#include <chrono>
#include <fstream>
#include <iterator>

#include "CxLog.h"
#include "Text.h"

int CountLogLines(const std::wstring& needle) {
    CxLog* log = CxLog::GetInstance();
    log->Flush(std::chrono::seconds(2));
    std::ifstream in(log->FileName(), std::ios::binary);
    const std::wstring all =
        text::FromUtf16LeBytes(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    int count = 0;
    for (auto pos = all.find(needle); pos != std::wstring::npos; pos = all.find(needle, pos + needle.size())) ++count;
    return count;
}
