// Program entry.
#include <chrono>
#include <filesystem>
#include <string>

#include "CxLog.h"
#include "DynamicLibrary.h"
#include "Text.h"

namespace {

// Makes the program's own folder the current directory, so the log, the settings and
// the databases are found beside it.
int SetCurDir() {
    wchar_t path[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) return 0;
    std::wstring dir = path;
    const auto cut = dir.find_last_of(L"\\/");
    if (cut != std::wstring::npos) dir.resize(cut);
    std::error_code ec;
    std::filesystem::current_path(text::ToUtf8(dir), ec);
    if (ec) {
        LOGF(LOG_ERROR, L"SetCurDir", L"SetCurrentDirectory:[%s] fail!!!", dir.c_str());
        return 0;
    }
    return 1;
}

}  // namespace

int main() {
    if (SetCurDir() == 0) return 0;
    LOGF(LOG_MESSAGE, L"wWinMain", L"Start...");
    CxLog::GetInstance()->Flush(std::chrono::milliseconds(1000));
    return 0;
}
