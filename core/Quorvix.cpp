#include "Quorvix.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

#include "CxLog.h"
#include "DynamicLibrary.h"
#include "Hooks.h"
#include "Text.h"

std::atomic<int> g_nRunState{1};
std::atomic<int> g_nRunMode{0};

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

void AppExit() {
    LOGF(LOG_MESSAGE, L"AppExit", L"AppExit...");
    g_nRunState = 4;
    Sleep(300);
    CxLog::GetInstance()->Flush(std::chrono::milliseconds(500));
    ExitProcess(0);
}
