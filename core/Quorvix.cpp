#include "Quorvix.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "Alert.h"
#include "Communication.h"
#include "Config.h"
#include "CxLog.h"
#include "DynamicLibrary.h"
#include "HealthElementSource.h"
#include "HealthElementSourceType.h"
#include "HealthElementType.h"
#include "HealthResources.h"
#include "Hooks.h"
#include "LoginWin.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "NamedMutex.h"
#include "LastError.h"
#include "PageCalls.h"
#include "ProgramEnd.h"
#include "Signals.h"
#include "SystemInfo.h"
#include "Testing.h"
#include "Text.h"
#include "ThreadWait.h"
#include "UiThreadManager.h"
#include "UserOperation.h"
#include "article.h"
#include "assessInfo.h"
#include "bloodPressureWin.h"
#include "deviceManager.h"
#include "focusArticle.h"
#include "funcOp.h"
#include "global.h"
#include "healthNote.h"
#include "lifeIndex.h"
#include "parameter.h"
#include "pedometerWin.h"
#include "publicMess.h"
#include "realWeather.h"
#include "share.h"
#include "userAction.h"
#include "userEnvironment.h"
#include "userExInfo.h"
#include "userGroupMess.h"
#include "userInfo.h"
#include "userMess.h"
#include "userTypeMess.h"
#include "weatherForecast.h"

std::atomic<int> g_nRunState{1};
std::atomic<int> g_nRunMode{0};
std::atomic<int> g_nOsVersion{0};
std::atomic<bool> g_bAllDataLoaded{false};

namespace {

constexpr int kSocketTimeoutMs = 30000;
constexpr int kSoundResource = 134;
constexpr UINT kWarningBox = 0x40030;
constexpr int kLoadingFailed = -1;

// The log file and time offset the crash filter writes with: nothing may be looked up
// inside a signal handler.
std::string g_crashLogFile;
long g_crashUtcOffset = 0;

template <class T>
bool Make(T*& global) {
    if (global == nullptr) global = new (std::nothrow) T();
    return global != nullptr;
}

// False when the window failed: it could not start, or its thread ended before its
// page was ready. Run state 4 ends the wait too: the exit is already under way.
bool WaitUntilReady(const CSciterWindow& window, int started) {
    if (started < 0) return false;
    while (window.GetState() != CSciterWindow::kStateReady && g_nRunState != 4) {
        const HANDLE thread = window.m_cs.hThread;
        if (thread == nullptr) {
            Sleep(10);
        } else if (g_UiThreads.WaitThread(thread, 10)) {
            return window.GetState() == CSciterWindow::kStateReady;
        }
    }
    return true;
}

void CreateCommunication() {
    if (g_pCommunication != nullptr) return;
    g_pCommunication = new (std::nothrow) CCommunication();
    if (g_pCommunication == nullptr) return;
    const struConfig& c = g_Config.m_config;
    g_pCommunication->SetSocketThreadCount(3);
    g_pCommunication->SetServer(c.LoginURL, c.LoginPort, c.socketType, kSocketTimeoutMs);
    g_pCommunication->SetServerBak(c.LoginURLBak, c.LoginPortBak, c.socketTypeBak, kSocketTimeoutMs);
}

}  // namespace

bool CanLoginAutomatically(const struConfig& c) {
    return (g_nRunMode > 0 || c.AutoLoginWhenRun) && !c.LoginAccount.empty() && !c.LoginPassword.empty() &&
           !c.UserID.empty() && c.UserNo > 0;
}

int RunModeFromCommandLine(const std::wstring& cmdLine) {
    if (cmdLine.find(L"autoRun") != std::wstring::npos) return 1;
    if (cmdLine.find(L"dataSync") != std::wstring::npos) return 2;
    return 0;
}

int WindowsVersionCode(DWORD platformId, DWORD major, DWORD minor, DWORD build) {
    if (platformId != VER_PLATFORM_WIN32_NT) return 1;
    if (major == 5) return minor == 0 ? 2 : minor == 1 ? 3 : minor == 2 ? 4 : 1;
    if (major == 6) {
        if (build < 7000) return 5;
        return minor == 2 ? 7 : 6;
    }
    if (major > 6 && minor == 0) return 7;
    return 1;
}

void GetWindowsVersion() {
    g_nOsVersion = 1;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (GetVersionExW(&info)) {
        g_nOsVersion = WindowsVersionCode(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion,
                                          info.dwBuildNumber);
    }
}

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

void PrepareCrashLog() {
    g_crashLogFile = CxLog::GetInstance()->FileName().string();
    g_crashUtcOffset = LocalUtcOffset();
}

void CustomUnhandledExceptionFilter(int) {
    char state[12];
    char text[48] = "g_nRunState[";
    std::strncat(text, FormatIntSafe(g_nRunState.load(), state), sizeof text - std::strlen(text) - 1);
    std::strncat(text, "],carsh!", sizeof text - std::strlen(text) - 1);
    AppendLogLineSafe(g_crashLogFile.c_str(), "Message", "Quorvix.cpp", "CustomUnhandledExceptionFilter", __LINE__,
                      text, g_crashUtcOffset);
    // The pages' call lines gathered for writing would be lost with the process.
    uie::FlushPageCallLines();
}

int InitMainObject() {
    const bool made = Make(g_pUserInfo) && Make(g_pUserExInfo) && Make(g_pUserOperation) &&
                      Make(g_pWeatherForecast) && Make(g_pRealWeather) && Make(g_pLifeIndex) && Make(g_pPublicMess) &&
                      Make(g_pUserTypeMess) && Make(g_pUserGroupMess) && Make(g_pUserMess) &&
                      Make(g_pUserEnvironment) && Make(g_pAssessInfo) && Make(g_pFocusArticle) && Make(g_pArticle) &&
                      Make(g_pParameter) && Make(g_pFuncOp) && Make(g_pUserAction) && Make(g_pHealthNote) &&
                      Make(g_pAlert) && Make(g_pTesting) && Make(g_pHealthElementSourceType) &&
                      Make(g_pHealthElementSource) && Make(g_pHealthElementType) && Make(g_pHealthResources) &&
                      Make(g_pDeviceManager);
    if (!made) return -1;
    if (g_pMainFrame != nullptr) return 0;
    if (!Make(g_pMainFrame)) ExitNow(-1);
    return 0;
}

void ShowLoadingStep(std::wstring label) {
    LOGF(LOG_MESSAGE, L"ShowLoadingStep", L"%s...", label.c_str());
    if (g_pCommunication != nullptr) g_pCommunication->SetStatusText(label + L"...");
    if (g_pLoginWin != nullptr) g_pLoginWin->PostUpdateLoginStatus();
}

namespace {

// The loading steps in order, each shown before it runs; the label of a step that
// failed in a way the loading cannot go past, else nullptr.
const wchar_t* RunLoadingSteps() {
    const int areaCodeNo = g_pCommunication != nullptr ? g_pCommunication->m_nAreaCodeNo.load() : -1;
    const wchar_t* step = nullptr;
    const auto show = [&step](const wchar_t* label) {
        step = label;
        ShowLoadingStep(label);
    };

    show(L"加载用户基本信息");
    if (g_pUserInfo != nullptr && g_pUserInfo->ReadUserFromDB() == 0) return step;
    show(L"加载用户扩展信息");
    if (g_pUserExInfo != nullptr && g_pUserExInfo->ReadUserExFromDB() == 0) return step;
    show(L"加载健康来源类型信息");
    if (g_pHealthElementSourceType != nullptr) g_pHealthElementSourceType->LoadFromDB();
    show(L"加载健康来源信息");
    if (g_pHealthElementSource != nullptr) g_pHealthElementSource->LoadFromDB();
    show(L"加载健康元素类型信息");
    if (g_pHealthElementType != nullptr) g_pHealthElementType->LoadFromDB();
    show(L"加载健康元素信息");
    if (g_pHealthResources != nullptr) g_pHealthResources->LoadFromDB();
    show(L"加载用户操作信息");
    if (g_pUserOperation != nullptr && g_pUserOperation->StartWork() < 0) return step;
    show(L"加载天气预报信息");
    if (g_pWeatherForecast != nullptr) g_pWeatherForecast->LoadFromDB(areaCodeNo);
    show(L"加载天气实况信息");
    if (g_pRealWeather != nullptr) g_pRealWeather->LoadFromDB(areaCodeNo);
    show(L"加载生活指数信息");
    if (g_pLifeIndex != nullptr) g_pLifeIndex->LoadFromDB(areaCodeNo);
    show(L"加载公共消息");
    if (g_pPublicMess != nullptr) g_pPublicMess->LoadFromDB();
    show(L"加载用户分类消息");
    if (g_pUserTypeMess != nullptr) g_pUserTypeMess->LoadFromDB();
    show(L"加载用户组消息");
    if (g_pUserGroupMess != nullptr) g_pUserGroupMess->LoadFromDB();
    show(L"加载用户消息");
    if (g_pUserMess != nullptr) g_pUserMess->LoadFromDB();
    show(L"加载提醒信息");
    if (g_pAlert != nullptr && g_pAlert->StartWork() == 0) return step;
    show(L"加载提醒信息");
    if (g_pTesting != nullptr && g_pTesting->StartWork() == 0) return step;
    show(L"加载用户环境信息");
    if (g_pUserEnvironment != nullptr && g_pUserEnvironment->LoadFromDB() < 0) return step;
    show(L"加载评估信息");
    if (g_pAssessInfo != nullptr && g_pAssessInfo->LoadFromDB() == 0) return step;
    show(L"加载今日资讯信息");
    if (g_pFocusArticle != nullptr) g_pFocusArticle->LoadFromDB();
    show(L"加载资讯订阅信息");
    if (g_pArticle != nullptr) g_pArticle->LoadFromDB();
    show(L"加载系统参数信息");
    if (g_pParameter != nullptr && g_pParameter->ReadParameterFromDB() == 0) return step;
    if (g_pFuncOp != nullptr) g_pFuncOp->ReadFuncOpFromDB();
    show(L"加载用户活动信息");
    if (g_pUserAction != nullptr) g_pUserAction->LoadFromDB();
    if (g_pDeviceManager != nullptr) g_pDeviceManager->LoadFromDB();
    show(L"加载健康笔记信息");
    if (g_pHealthNote != nullptr) g_pHealthNote->LoadFromDB();
    show(L"加载主界面框架");
    if (g_pMainFrame != nullptr) g_pMainFrame->Start();
    return nullptr;
}

}  // namespace

int LoadAllData() {
    if (g_bAllDataLoaded.exchange(true)) return 0;
    if (g_pMyDatabase != nullptr) g_pMyDatabase->Init();
    const wchar_t* failed = RunLoadingSteps();
    if (failed == nullptr) return 0;
    // Without the main window nothing is left to use: a login page stuck at a step would
    // only hold the single-instance lock.
    LOGF(LOG_ERROR, L"LoadAllData", L"[%s] failed, program ends", failed);
    MessageBoxW(nullptr, L"用户数据加载失败，请重新启动软件再试，或者重新安装软件。", L"提示", kWarningBox);
    EndProgram(kLoadingFailed);
    return -1;
}

int RegisterScriptObjects(HVM vm) {
    RegisterShareScriptObject(vm);  // on every page, first; then every singleton in this order
    if (g_pUserOperation != nullptr) g_pUserOperation->RegisterScriptObject(vm);
    if (g_pUserInfo != nullptr) g_pUserInfo->RegisterScriptObject(vm);
    if (g_pUserExInfo != nullptr) g_pUserExInfo->RegisterScriptObject(vm);
    if (g_pUserEnvironment != nullptr) g_pUserEnvironment->RegisterScriptObject(vm);
    if (g_pAssessInfo != nullptr) g_pAssessInfo->RegisterScriptObject(vm);
    if (g_pWeatherForecast != nullptr) g_pWeatherForecast->RegisterScriptObject(vm);
    if (g_pRealWeather != nullptr) g_pRealWeather->RegisterScriptObject(vm);
    if (g_pLifeIndex != nullptr) g_pLifeIndex->RegisterScriptObject(vm);
    if (g_pAlert != nullptr) g_pAlert->RegisterScriptObject(vm);
    if (g_pTesting != nullptr) g_pTesting->RegisterScriptObject(vm);
    if (g_pArticle != nullptr) g_pArticle->RegisterScriptObject(vm);
    if (g_pFocusArticle != nullptr) g_pFocusArticle->RegisterScriptObject(vm);
    if (g_pPublicMess != nullptr) g_pPublicMess->RegisterScriptObject(vm);
    if (g_pUserMess != nullptr) g_pUserMess->RegisterScriptObject(vm);
    if (g_pUserTypeMess != nullptr) g_pUserTypeMess->RegisterScriptObject(vm);
    if (g_pUserGroupMess != nullptr) g_pUserGroupMess->RegisterScriptObject(vm);
    if (g_pHealthElementSourceType != nullptr) g_pHealthElementSourceType->RegisterScriptObject(vm);
    if (g_pHealthElementSource != nullptr) g_pHealthElementSource->RegisterScriptObject(vm);
    if (g_pHealthElementType != nullptr) g_pHealthElementType->RegisterScriptObject(vm);
    if (g_pHealthResources != nullptr) g_pHealthResources->RegisterScriptObject(vm);
    if (g_pDeviceManager != nullptr) g_pDeviceManager->RegisterScriptObject(vm);
    if (g_pPedometer != nullptr) CPedometerWin::RegisterScriptObject(vm);
    if (g_pBloodPressure != nullptr) CBloodPressureWin::RegisterScriptObject(vm);
    return 1;
}

namespace {

// The orderly end in all may take the logout's own bound and a few seconds more.
constexpr std::chrono::seconds kExitBound = CMainFrame::kExitEndBound;
// The status of an end that the orderly one did not reach in time.
constexpr UINT kExitHeld = 3;
constexpr std::chrono::milliseconds kLogFlush{500};

// What the log and standard error still hold is written out before the process ends. The
// bound's end and the orderly one never both do: a second waits here, and in the program
// never gets past, as the first ends the process.
void EndProcess(UINT exitCode) {
    static std::mutex ending;
    const std::lock_guard lock(ending);
    CxLog::GetInstance()->Flush(kLogFlush);
    uie::FlushPageCallLines();
    ExitProcess(exitCode);
}

// Ends the process when the orderly end is not over within kExitBound: a page script that
// never ends (there is no time limit on one) would otherwise hold it for ever. The log
// names the windows whose threads are still there and what their pages run.
class ExitBound {
public:
    ExitBound() {
        try {
            watcher_ = std::thread([this] { Watch(); });
        } catch (const std::system_error&) {  // no thread to spare: the end is not bounded
        }
    }
    // Only when a test's exit hook returned.
    ~ExitBound() {
        {
            std::lock_guard lock(mutex_);
            over_ = true;
        }
        changed_.notify_all();
        threadwait::Join(watcher_);
    }
    ExitBound(const ExitBound&) = delete;
    ExitBound& operator=(const ExitBound&) = delete;

private:
    void Watch() {
        {
            std::unique_lock lock(mutex_);
            if (threadwait::WaitFor(changed_, lock, kExitBound, [this] { return over_; })) return;
        }
        for (const auto& [name, hwnd] : g_UiThreads.Running()) {
            const std::wstring running = uie::RunningScript(hwnd);
            LOGF(LOG_ERROR, L"AppExit", L"window [%s]: its thread has not ended, its page runs %s", name.c_str(),
                 running.empty() ? L"nothing" : running.c_str());
        }
        LOGF(LOG_ERROR, L"AppExit", L"the orderly end took over %d s, the program ends now",
             static_cast<int>(kExitBound.count()));
        EndProcess(kExitHeld);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool over_ = false;
    std::thread watcher_;
};

ProgramEnd g_programEnd;

// The end's steps, when no other end has begun; else the wait for that one.
template <typename Steps>
void EndOnce(Steps steps) {
    if (!g_programEnd.Begin()) return;
    steps();
    g_programEnd.Over();
}

// A wait made where only one that serves the thread's windows may be (ThreadWait.h).
void LogRefusedWait(const std::wstring& what) { LOGF(LOG_ERROR, L"threadwait", L"%s", what.c_str()); }

// The login's thread is over long before an end, unless the end came during a login: it is
// joined, so the process leaves no thread of its own that nobody waited for.
void JoinLogin() {
    constexpr std::chrono::seconds kLoginJoin{1};
    if (CCommunication* comm = g_pCommunication) comm->JoinLoginAtExit(kLoginJoin);
}

void OrderlyEnd(int exitCode) {
    LOGF(LOG_MESSAGE, L"AppExit", L"AppExit...");
    const ExitBound bound;
    if (g_pMainFrame != nullptr) g_pMainFrame->Exit();
    g_nRunState = 4;
    Sleep(300);
    JoinLogin();
    EndProcess(static_cast<UINT>(exitCode));
}

}  // namespace

void AppExit(int exitCode) {
    EndOnce([exitCode] { OrderlyEnd(exitCode); });
}

void EndProgram(int exitCode) {
    EndOnce([exitCode] {
        g_nRunState = 4;
        OrderlyEnd(exitCode);
    });
}

void ForcedExit(int exitCode) {
    EndOnce([exitCode] {
        LOGF(LOG_MESSAGE, L"ForcedExit", L"ForcedExit...");
        const ExitBound bound;
        if (g_pMainFrame != nullptr) g_pMainFrame->Exit();
        g_UiThreads.QuitAll();
        JoinLogin();
        EndProcess(static_cast<UINT>(exitCode));
    });
}

void EndAtOnce(int signal) {
    // The call lines first: the log's flush may take its whole bound.
    uie::FlushPageCallLines();
    LOGF(LOG_WARNING, L"EndAtOnce", L"signal %d again: the program ends at once", signal);
    // A login that is over is joined, without waiting for one that still runs.
    if (CCommunication* comm = g_pCommunication) comm->JoinLoginAtExit(std::chrono::milliseconds{0});
    CxLog::GetInstance()->Flush(kLogFlush);
}

int wWinMain(const std::wstring& cmdLine) {
    InstallCrashHandler(CustomUnhandledExceptionFilter);
    CreateMutexW(nullptr, FALSE, L"quorvix.exe");  // held for the life of the process
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        MessageBoxW(nullptr, L"Quorvix客户端正在运行或尚未结束, 不允许重复运行。", L"警示", kWarningBox);
        return 0;
    }
    if (SetCurDir() == 0) return 0;
    LOGF(LOG_MESSAGE, L"wWinMain", L"Start...");
    threadwait::SetRefusedReport(LogRefusedWait);
    PrepareCrashLog();
    if (g_nOsVersion == 0) GetWindowsVersion();
    SetNotificationSound(kSoundResource, GetModuleHandleW(nullptr), 0, FALSE);

    LOGF(LOG_MESSAGE, L"wWinMain", L"InitConfig");
    if (g_Config.InitConfig() < 0) {
        LOGF(LOG_ERROR, L"wWinMain", L"g_Config.InitConfig() < 0 !!!");
        return -1;
    }
    g_nRunMode = RunModeFromCommandLine(cmdLine);
    g_Config.m_config.runMode = g_nRunMode;
    if (g_pMyDatabase == nullptr) g_pMyDatabase = new (std::nothrow) CMyDatabase();
    if (g_pMyDatabase == nullptr) {
        LOGF(LOG_ERROR, L"wWinMain", L"g_pMyDatabase == NULL!!!");
        return -1;
    }
    CreateCommunication();
    if (g_pCommunication == nullptr) {
        LOGF(LOG_ERROR, L"wWinMain", L"g_pCommunication == NULL!!!");
        return -1;
    }
    LOGF(LOG_MESSAGE, L"wWinMain", L"InitMainObiect");
    InitMainObject();

    if (g_pLoginWin == nullptr) {
        if (!Make(g_pLoginWin)) {
            LOGF(LOG_ERROR, L"wWinMain", L"g_pLoginWin == NULL!!!");
            return -1;
        }
        const struConfig& c = g_Config.m_config;
        const bool automatic = CanLoginAutomatically(c);
        g_pLoginWin->m_cs.showOnCreate = !automatic;
        if (!WaitUntilReady(*g_pLoginWin, g_pLoginWin->Start())) {
            // Without its page nobody can log in or close the program, which would
            // hold the single-instance lock for ever.
            LOGF(LOG_ERROR, L"wWinMain", L"login window [%s] failed to start, program ends",
                 g_pLoginWin->m_cs.page.c_str());
            AppExit(-1);
            return -1;
        }
        if (automatic) {
            g_pCommunication->UserLogin_asyn(c.LoginAccount, c.LoginPassword, c.RememberPassword, c.AutoLoginWhenRun);
            LOGF(LOG_MESSAGE, L"wWinMain", L"自动登录-异步登录");
        } else {
            LOGF(LOG_MESSAGE, L"wWinMain", L"Login window shown");
        }
    }
    g_UiThreads.Run();
    AppExit();
    return 0;
}
