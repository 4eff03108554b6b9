#include "Quorvix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Alert.h"
#include "Communication.h"
#include "Config.h"
#include "DefaultDatabase.h"
#include "DemoServerProcess.h"
#include "EngineTest.h"
#include "Hooks.h"
#include "LogReader.h"
#include "LoginWin.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "ProgramCopy.h"
#include "ScriptVM.h"
#include "TempDir.h"
#include "Text.h"
#include "UiThreadManager.h"
#include "WaitFor.h"
#include "Window.h"
#include "userInfo.h"

namespace {

std::wstring W(const std::filesystem::path& p) { return text::FromUtf8(p.string()); }

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

TEST(StartupTest, RunModeAndAutomaticLogin) {
    EXPECT_EQ(RunModeFromCommandLine(L"\"/opt/q/quorvix\" /autoRun"), 1);
    EXPECT_EQ(RunModeFromCommandLine(L"dataSync"), 2);
    EXPECT_EQ(RunModeFromCommandLine(L"dataSync autoRun"), 1);
    EXPECT_EQ(RunModeFromCommandLine(L"AutoRun"), 0);
    EXPECT_EQ(RunModeFromCommandLine(L""), 0);

    struConfig c;
    c.LoginAccount = L"demo";
    c.LoginPassword = L"pw";
    c.UserID = L"u1";
    c.UserNo = 7;
    g_nRunMode = 1;
    EXPECT_TRUE(CanLoginAutomatically(c));
    for (int userNo : {0, -1}) {
        c.UserNo = userNo;
        EXPECT_FALSE(CanLoginAutomatically(c)) << userNo;
    }
    c.UserNo = 7;
    c.UserID.clear();
    EXPECT_FALSE(CanLoginAutomatically(c));
    c.UserID = L"u1";
    g_nRunMode = 0;
    EXPECT_FALSE(CanLoginAutomatically(c));
    c.AutoLoginWhenRun = true;
    EXPECT_TRUE(CanLoginAutomatically(c));
}

TEST(StartupTest, WindowsVersionCodes) {
    EXPECT_EQ(WindowsVersionCode(2, 6, 1, 7600), 6);
    EXPECT_EQ(WindowsVersionCode(2, 6, 2, 9200), 7);
    EXPECT_EQ(WindowsVersionCode(2, 6, 0, 6000), 5);
    EXPECT_EQ(WindowsVersionCode(2, 5, 1, 2600), 3);
    EXPECT_EQ(WindowsVersionCode(1, 4, 10, 2222), 1);
    EXPECT_EQ(WindowsVersionCode(2, 10, 0, 19041), 7);
    GetWindowsVersion();
    EXPECT_EQ(g_nOsVersion, 7);
}

TEST(StartupTest, ScriptObjectsAreRegisteredInOrderAndOnlyWhenTheyExist) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"StartupTestWindow";
    RegisterClassExW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    CAlert alert;
    CUserInfo user;
    g_pAlert = &alert;
    g_pUserInfo = &user;
    RegisterScriptObjects(SciterGetVM(hwnd));
    EXPECT_EQ(uie::NativeNames(SciterGetVM(hwnd)), (std::vector<std::string>{"share", "user", "alert"}));
    g_pAlert = nullptr;
    g_pUserInfo = nullptr;
    DestroyWindow(hwnd);
}

// Start-up objects on a fresh program folder, with the login window on its own thread.
class LoadAllDataTest : public ::testing::Test {
protected:
    LoadAllDataTest() {
        Hooks().longSleep = [](DWORD) {};
        Hooks().exitProcess = [](int) {};
        MakeDefaultDatabase(dir_ / "user.db");
        std::ofstream(dir_ / "login.htm") << "<html><body><div id=\"window-close\"></div></body></html>";
        g_Config.m_config.userDBName = W(dir_ / "user.db");
        g_Config.m_config.loginPage = W(dir_ / "login.htm");
        g_bAllDataLoaded = false;
        uie::test::PageHost::Reset();
        uie::test::PageHost::RegisterForPage(L"/login.htm", "UpdateLoginStatusInfo",
                                             [](const uie::test::PageCall&) { return uie::value(); });
        g_pCommunication = new CCommunication();
        g_pMyDatabase = new CMyDatabase();
        g_pLoginWin = new CLoginWin();
        g_pLoginWin->Start();
        EXPECT_TRUE(WaitFor([] { return g_pLoginWin->GetState() == CSciterWindow::kStateReady; }));
    }
    ~LoadAllDataTest() override {
        g_UiThreads.QuitAll();
        while (g_UiThreads.GetCount() > 0) {
            g_UiThreads.WaitThread(g_UiThreads.GetThread(0), 2000);
            g_UiThreads.RemoveThread(0);
        }
        delete std::exchange(g_pLoginWin, nullptr);
        delete std::exchange(g_pMainFrame, nullptr);
        delete std::exchange(g_pCommunication, nullptr);
        delete std::exchange(g_pMyDatabase, nullptr);
        g_nRunState = 1;
    }

    std::vector<std::wstring> ShownSteps() {
        std::vector<std::wstring> steps;
        for (const auto& call : uie::test::PageHost::Calls()) {
            if (call.name == "UpdateLoginStatusInfo" && !call.args.empty()) steps.push_back(call.args[0].get_string());
        }
        return steps;
    }

    HookScope hooks_;
    TempDir dir_;
};

TEST_F(LoadAllDataTest, StepsReachTheLoginWindowInOrderOnce) {
    CUserInfo user;
    g_pUserInfo = &user;
    g_pMainFrame = new CMainFrame();
    EXPECT_EQ(LoadAllData(), 0);
    ASSERT_TRUE(WaitFor([&] { return ShownSteps().size() >= 24; }));
    // Each post shows the status text of its moment: what is shown never goes back.
    const std::vector<std::wstring> labels = {
        L"加载用户基本信息", L"加载用户扩展信息", L"加载健康来源类型信息", L"加载健康来源信息",
        L"加载健康元素类型信息", L"加载健康元素信息", L"加载用户操作信息", L"加载天气预报信息",
        L"加载天气实况信息", L"加载生活指数信息", L"加载公共消息", L"加载用户分类消息",
        L"加载用户组消息", L"加载用户消息", L"加载提醒信息", L"加载提醒信息",
        L"加载用户环境信息", L"加载评估信息", L"加载今日资讯信息", L"加载资讯订阅信息",
        L"加载系统参数信息", L"加载用户活动信息", L"加载健康笔记信息", L"加载主界面框架"};
    const auto steps = ShownSteps();
    EXPECT_EQ(steps.size(), 24u);
    std::size_t at = 0;
    for (const auto& step : steps) {
        while (at < labels.size() && labels[at] + L"..." != step) ++at;
        EXPECT_LT(at, labels.size()) << text::ToUtf8(step) << " out of order";
    }
    EXPECT_EQ(steps.back(), L"加载主界面框架...");
    EXPECT_NE(g_pMainFrame->GetState(), CSciterWindow::kStateConstructed);

    uie::test::PageHost::Reset();
    EXPECT_EQ(LoadAllData(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(ShownSteps().empty());
    g_pUserInfo = nullptr;
}

// A step that must succeed fails: no later step runs, and the user is told and the
// program ends rather than leave the login page standing at that step.
TEST_F(LoadAllDataTest, FailedProfileStopsTheSequenceTellsTheUserAndEnds) {
    std::vector<std::wstring> boxes;
    std::vector<int> exitCodes;
    Hooks().messageBox = [&boxes](const std::wstring& text, const std::wstring& caption, UINT) {
        boxes.push_back(caption + L":" + text);
        return IDOK;
    };
    Hooks().exitProcess = [&exitCodes](int code) { exitCodes.push_back(code); };
    CUserInfo user;
    g_pUserInfo = &user;
    g_pMainFrame = new CMainFrame();
    g_Config.m_config.userDBName = W(dir_ / "missing.db");
    EXPECT_EQ(LoadAllData(), -1);
    EXPECT_EQ(boxes, std::vector<std::wstring>{L"提示:用户数据加载失败，请重新启动软件再试，或者重新安装软件。"});
    EXPECT_EQ(exitCodes, std::vector<int>{-1});
    EXPECT_EQ(g_nRunState, 4);
    ASSERT_TRUE(WaitFor([&] { return !ShownSteps().empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ShownSteps(), std::vector<std::wstring>{L"加载用户基本信息..."});
    EXPECT_EQ(g_pMainFrame->GetState(), CSciterWindow::kStateConstructed);
    g_pUserInfo = nullptr;
}

TEST(StartupProcessTest, LastUiThreadEndingExitsTheProcessWithZero) {
    TempDir dir;
    const std::string command = "cd '" + dir.Path().string() + "' && '" + STARTUP_PROBE + "'";
    EXPECT_EQ(ExitCode(std::system(command.c_str())), 0);
    EXPECT_NE(ReadProgramLog(dir.Path()).find(L"AppExit..."), std::wstring::npos);
}

TEST(StartupProcessTest, CrashFilterWritesItsLineAndExitsNonZero) {
    TempDir dir;
    const std::string command = "cd '" + dir.Path().string() + "' && '" + STARTUP_PROBE + "' crash 2>/dev/null";
    EXPECT_NE(ExitCode(std::system(command.c_str())), 0);
    const std::wstring lines = ReadProgramLog(dir.Path());
    EXPECT_NE(lines.find(L" Message Quorvix.cpp(CustomUnhandledExceptionFilter, "), std::wstring::npos) << text::ToUtf8(lines);
    EXPECT_NE(lines.find(L"): g_nRunState[1],carsh!\r\n"), std::wstring::npos);
}

// The ends at once, a crash and a second signal to end, write out the pages' call lines still
// gathered for writing: the last of a burst of calls comes out. (The signal's end comes a
// moment after the burst, when the lines' own writer may have written them: it runs thrice.)
TEST(StartupProcessTest, TheEndsAtOnceWriteOutThePagesCallLinesStillGathered) {
    const std::pair<const char*, int> runs[] = {
        {"crash", 128 + SIGSEGV}, {"again", 128 + SIGTERM}, {"again", 128 + SIGTERM}, {"again", 128 + SIGTERM}};
    for (const auto& [mode, status] : runs) {
        TempDir dir;
        const std::string command = "cd '" + dir.Path().string() + "' && timeout 10 '" + STARTUP_PROBE + "' " + mode +
                                    " > probe.out 2>&1";
        EXPECT_EQ(ExitCode(std::system(command.c_str())), status) << mode;
        EXPECT_NE(ReadFileBytes(dir / "probe.out").find("[probe.htm] Note(799)\n"), std::string::npos) << mode;
    }
}

// The built program in a copy of its folder: a second start is refused, and SIGTERM
// ends the first through the orderly exit.
TEST(StartupProcessTest, BuiltProgramRefusesASecondStartAndEndsOnSigterm) {
    const ProgramCopy program(QUORV_DIST_DIR);
    const auto first = program.Start({}, "first.out");
    ASSERT_TRUE(WaitFor([&] { return program.Log().find(L"Login window shown") != std::wstring::npos; },
                        ProgramCopy::kTimeout));
    const auto second = program.Start({}, "second.out");
    EXPECT_EQ(second->Wait(ProgramCopy::kTimeout), 0);
    EXPECT_NE(ReadFileBytes(program.Dir() / "second.out").find("Quorvix客户端正在运行或尚未结束, 不允许重复运行。"),
              std::string::npos);
    ASSERT_TRUE(first->Signal(SIGTERM));
    EXPECT_EQ(first->Wait(ProgramCopy::kTimeout), 0);
    const std::wstring lines = program.Log();
    EXPECT_EQ(CountOf(lines, L"Start..."), 1);  // the second read nothing
    EXPECT_NE(lines.find(L"AppExit..."), std::wstring::npos);
}

// A page script that never ends holds no exit: one SIGTERM ends the program within the
// exit's bound, with an error status and a line naming the window whose thread did not end
// and what its page was running.
TEST(StartupProcessTest, APageRunningForEverHoldsTheExitNoLongerThanItsBound) {
    if (!InternetGetConnectedState(nullptr, 0)) GTEST_SKIP() << "no network interface is up";
    const ProgramCopy program(QUORV_DIST_DIR);
    const DemoServerProcess server(QUORV_DEMO_SERVER, program.Dir());
    const std::uint16_t port = server.Port();
    ASSERT_NE(port, 0) << server.Output();
    UseDemoAccount(program, port);
    // The main page, stored plain: its timer leaves a line in the log, then never ends.
    std::filesystem::remove(program.Folder() / "content/quorvix.uih");
    std::ofstream(program.Folder() / "content/quorvix.htm") << R"(<html><body><script>
setTimeout(function () {
  share.RemoteCall([{ rootID: "quorvix_looping", funcName: "Loop", funcParaFlag: 0 }]);
  for (;;) {}
}, 0);
</script></body></html>)";
    const auto run = program.Start({"/autoRun"});
    ASSERT_TRUE(WaitFor([&] { return program.Log().find(L"rootID=[quorvix_looping]") != std::wstring::npos; },
                        ProgramCopy::kTimeout))
        << text::ToUtf8(program.Log());
    ASSERT_TRUE(run->Signal(SIGTERM));
    const std::optional<int> code = run->Wait(ProgramCopy::kTimeout);
    ASSERT_TRUE(code.has_value()) << "still running: the page holds the exit";
    EXPECT_EQ(*code, 3);  // the status of an end that its bound ended
    const std::wstring log = program.Log();
    EXPECT_NE(log.find(L"window [Main]: its thread has not ended, its page runs a timer of [quorvix.htm]"), std::wstring::npos)
        << text::ToUtf8(log);
}

bool IsElf(const std::filesystem::path& file) {
    char magic[4] = {};
    std::ifstream(file, std::ios::binary).read(magic, sizeof magic);
    return std::string_view(magic, sizeof magic) == "\177ELF";
}

// The run paths (RUNPATH and RPATH) that readelf lists for an ELF file; none for another file.
std::vector<std::string> RunPaths(const std::filesystem::path& file, const std::filesystem::path& scratch) {
    if (!IsElf(file)) return {};
    const std::filesystem::path out = scratch / "readelf.out";
    const std::string command = "LC_ALL=C readelf -d '" + file.string() + "' > '" + out.string() + "'";
    EXPECT_EQ(ExitCode(std::system(command.c_str())), 0) << command;
    std::vector<std::string> paths;
    std::istringstream lines(ReadFileBytes(out));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t open = line.find('[');
        if ((line.find("(RUNPATH)") == std::string::npos && line.find("(RPATH)") == std::string::npos) ||
            open == std::string::npos)
            continue;
        std::istringstream entries(line.substr(open + 1, line.rfind(']') - open - 1));
        for (std::string entry; std::getline(entries, entry, ':');) paths.push_back(entry);
    }
    return paths;
}

// Whether a run path of file reaches a folder of the program folder, from file's own folder.
bool InsideProgramFolder(const std::string& path, const std::filesystem::path& file,
                         const std::filesystem::path& folder) {
    const std::string origin = "$ORIGIN";
    if (!path.starts_with(origin)) return false;
    const std::filesystem::path reached = file.parent_path().string() + path.substr(origin.size());
    return !reached.lexically_normal().lexically_relative(folder).string().starts_with("..");
}

// A copy of the program folder looks for its libraries only inside itself, never in the
// build folder it came from, and starts there to its login window.
TEST(StartupProcessTest, CopiedProgramFolderFindsItsLibrariesOnlyInItselfAndStarts) {
    const ProgramCopy program(QUORV_DIST_DIR);
    std::vector<std::string> outside;
    std::vector<std::string> withRunPaths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(program.Folder())) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().lexically_relative(program.Folder()).string();
        const std::vector<std::string> paths = RunPaths(entry.path(), program.Dir().Path());
        if (!paths.empty()) withRunPaths.push_back(name);
        for (const std::string& path : paths)
            if (!InsideProgramFolder(path, entry.path(), program.Folder())) outside.push_back(name + ": " + path);
    }
    EXPECT_EQ(outside, std::vector<std::string>{});
    // The program and the plug-ins find the platform library through their run paths.
    EXPECT_NE(std::find(withRunPaths.begin(), withRunPaths.end(), "quorvix"), withRunPaths.end());
    EXPECT_NE(std::find(withRunPaths.begin(), withRunPaths.end(), "interface/stridex-4473.so"), withRunPaths.end());

    const auto run = program.Start({});
    ASSERT_TRUE(WaitFor([&] { return program.Log().find(L"Login window shown") != std::wstring::npos; },
                        ProgramCopy::kTimeout));
    ASSERT_TRUE(run->Signal(SIGTERM));
    EXPECT_EQ(run->Wait(ProgramCopy::kTimeout), 0);
}

// Without its login page the program can neither log in nor be closed: it ends with an
// error instead of hanging on to the single-instance lock, so the next start runs.
TEST(StartupProcessTest, MissingLoginPageEndsTheProgramAndFreesTheNextStart) {
    const ProgramCopy program(QUORV_DIST_DIR);
    const auto page = program.Folder() / "content/user-login/default.uih";
    const auto kept = program.Dir() / "default.uih";
    std::filesystem::rename(page, kept);
    const auto first = program.Start({}, "first.out");
    const std::optional<int> code = first->Wait(ProgramCopy::kTimeout);
    ASSERT_TRUE(code.has_value()) << "still running without its login page";
    EXPECT_NE(*code, 0);
    EXPECT_NE(program.Log().find(L" Error Quorvix.cpp(wWinMain, "), std::wstring::npos) << text::ToUtf8(program.Log());

    std::filesystem::rename(kept, page);
    const auto second = program.Start({}, "second.out");
    ASSERT_TRUE(WaitFor([&] { return program.Log().find(L"Login window shown") != std::wstring::npos; },
                        ProgramCopy::kTimeout));
    ASSERT_TRUE(second->Signal(SIGTERM));
    EXPECT_EQ(second->Wait(ProgramCopy::kTimeout), 0);
}

}  // namespace
