#include "LogReader.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <vector>

#include "CxLog.h"
#include "TempDir.h"
#include "Text.h"

int CountLogLines(const std::wstring& needle) {
    CxLog* log = CxLog::GetInstance();
    log->Flush(std::chrono::seconds(2));
    return CountOf(text::FromUtf16LeBytes(ReadFileBytes(log->FileName())), needle);
}

std::wstring ReadProgramLog(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "Log", ec)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());  // named by date: a run past midnight goes on in the next
    std::wstring all;
    for (const auto& file : files) all += text::FromUtf16LeBytes(ReadFileBytes(file));
    return all;
}
