#include "Hooks.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "EnvScope.h"
#include "HidTransport.h"
#include "TempDir.h"
#include "Text.h"
#include "WaitFor.h"

namespace {

TEST(HooksTest, CommandLineSplitsOnBlanksAndKeepsQuotedWords) {
    EXPECT_EQ(SplitCommandLine(L"\"C:\\Program Files\\q.exe\"  /autoRun x"),
              (std::vector<std::wstring>{L"C:\\Program Files\\q.exe", L"/autoRun", L"x"}));
    EXPECT_EQ(SplitCommandLine(L"a \"\" b"), (std::vector<std::wstring>{L"a", L"", L"b"}));
    EXPECT_TRUE(SplitCommandLine(L"   ").empty());
}

TEST(HooksTest, ProgramsStartWithArgumentsAndDocumentsOpen) {
    HookScope scope;
    std::vector<std::wstring> started;
    std::wstring opened;
    Hooks().startProgram = [&](const std::wstring& program, const std::vector<std::wstring>& args) {
        started = args;
        started.insert(started.begin(), program);
        return true;
    };
    Hooks().openDocument = [&](const std::wstring& target) {
        opened = target;
        return true;
    };
    EXPECT_GT(WinExec("Brevik.exe 1.2 \"a b\"", 1), 31u);
    EXPECT_EQ(started, (std::vector<std::wstring>{L"Brevik.exe", L"1.2", L"a b"}));
    EXPECT_GT(ShellExecuteW(nullptr, L"open", L"Halmor.exe", L"-u 7", nullptr, 1), 32);
    EXPECT_EQ(started, (std::vector<std::wstring>{L"Halmor.exe", L"-u", L"7"}));
    EXPECT_GT(ShellExecuteW(nullptr, L"open", L"http://127.0.0.1/x.htm", nullptr, nullptr, 1), 32);
    EXPECT_EQ(opened, L"http://127.0.0.1/x.htm");
    Hooks().openDocument = [](const std::wstring&) { return false; };
    EXPECT_LE(ShellExecuteW(nullptr, L"open", L"page.htm", nullptr, nullptr, 1), 32);
}

TEST(HooksTest, LongSleepsGoThroughTheHook) {
    HookScope scope;
    std::vector<DWORD> slept;
    Hooks().longSleep = [&](DWORD ms) { slept.push_back(ms); };
    Sleep(1);
    Sleep(60000);
    EXPECT_EQ(slept, (std::vector<DWORD>{60000}));
}

TEST(HooksTest, HeadlessMessageBoxAnswersTheDefaultButton) {
    EXPECT_EQ(MessageBoxW(nullptr, L"t", L"c", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxW(nullptr, L"t", L"c", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(MessageBoxW(nullptr, L"t", L"c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    HookScope scope;
    Hooks().messageBox = [](const std::wstring& text, const std::wstring& caption, UINT) {
        return text == L"Quorvix客户端正在运行" && caption == L"警示" ? IDCANCEL : IDOK;
    };
    EXPECT_EQ(MessageBoxW(nullptr, L"Quorvix客户端正在运行", L"警示", MB_OK), IDCANCEL);
}

TEST(HooksTest, DebugOutputDefaultsToOneLineOnStandardError) {
    HookScope scope;
    Hooks().debugOutput = DefaultHooks().debugOutput;
    testing::internal::CaptureStderr();
    OutputDebugStringW(L"hidraw node 7 not opened\r\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "hidraw node 7 not opened\n");
}

TEST(HooksTest, ScopeRestoresTheHooks) {
    const DWORD real = GetTickCount();
    {
        HookScope scope;
        Hooks().tickCount = [] { return DWORD{0xFFFFFFF0u}; };
        EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
    }
    EXPECT_LT(GetTickCount() - real, 60000u);  // unsigned difference survives a wrap
}

// The real defaults, each run against scripts in a temporary folder, so that nothing
// acts on the machine.
class DefaultHooksTest : public ::testing::Test {
protected:
    DefaultHooksTest() : oldCwd_(std::filesystem::current_path()) {}
    ~DefaultHooksTest() override { std::filesystem::current_path(oldCwd_); }

    void Script(const std::filesystem::path& file, const std::string& body) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    }

    TempDir dir_;
    HookScope hooks_;
    std::filesystem::path oldCwd_;
};

TEST_F(DefaultHooksTest, BareProgramNamesAreFoundInTheCurrentFolderThenInPath) {
    Hooks().startProgram = DefaultHooks().startProgram;
    Script(dir_ / "Halmor.exe", "echo \"$@\" > halmor.txt");
    Script(dir_ / "bin" / "Brevik.exe", "echo \"$@\" > brevik.txt");
    EnvScope path("PATH", (dir_ / "bin").c_str());
    std::filesystem::current_path(dir_.Path());

    EXPECT_GT(ShellExecuteW(nullptr, L"open", L"Halmor.exe", L"-u 7", nullptr, 1), 32);
    EXPECT_TRUE(WaitFor([&] { return ReadFileBytes(dir_ / "halmor.txt") == "-u 7\n"; }));
    EXPECT_GT(WinExec("Brevik.exe 1.2|x|", 1), 31u);
    EXPECT_TRUE(WaitFor([&] { return ReadFileBytes(dir_ / "brevik.txt") == "1.2|x|\n"; }));
    EXPECT_LE(ShellExecuteW(nullptr, L"open", L"Missing.exe", L"-u 7", nullptr, 1), 32);
}

// The program's threads hold SIGINT and SIGTERM for its own watcher; a program it starts
// (an updater, the desktop's handler of the update page) must still end on them.
TEST_F(DefaultHooksTest, AStartedProgramBlocksNoSignalsThoughItsStarterDoes) {
    Hooks().startProgram = DefaultHooks().startProgram;
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &ending, &before);
    const std::filesystem::path status = dir_ / "status.txt";
    const bool started = Hooks().startProgram(L"cp", {L"/proc/self/status", text::FromUtf8(status.string())});
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ASSERT_TRUE(started);
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(status).find("SigBlk:") != std::string::npos; }));
    EXPECT_NE(ReadFileBytes(status).find("SigBlk:\t0000000000000000\n"), std::string::npos) << ReadFileBytes(status);
}

TEST_F(DefaultHooksTest, SystemActionsSucceedOnlyWhenTheirCommandSucceeds) {
    Hooks().systemAction = DefaultHooks().systemAction;
    Script(dir_ / "loginctl", "exit 1");
    Script(dir_ / "xset", "[ \"$2\" = off ]");
    Script(dir_ / "systemctl", "exit 0");
    EnvScope path("PATH", dir_.Path().c_str());

    EXPECT_FALSE(RunSystemAction(SystemAction::LockWorkstation));
    EXPECT_TRUE(RunSystemAction(SystemAction::ScreenSaverOff));
    EXPECT_FALSE(RunSystemAction(SystemAction::ScreenSaverOn));
    EXPECT_TRUE(RunSystemAction(SystemAction::Shutdown));
    std::filesystem::remove(dir_ / "systemctl");
    EXPECT_FALSE(RunSystemAction(SystemAction::Reboot));  // no such command
}

TEST(ConfigFolderTest, FollowsXdgConfigHomeWhenItIsAnAbsolutePath) {
    EnvScope home("HOME", "/home/someone");
    {
        EnvScope xdg("XDG_CONFIG_HOME", "/srv/settings");
        EXPECT_EQ(DefaultHooks().configFolder, "/srv/settings");
    }
    {
        EnvScope xdg("XDG_CONFIG_HOME", "relative/settings");
        EXPECT_EQ(DefaultHooks().configFolder, "/home/someone/.config");
    }
    EnvScope xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(DefaultHooks().configFolder, "/home/someone/.config");
}

TEST(DeviceRootsTest, EnvironmentPointsTheProgramAtItsDevices) {
    {
        EnvScope sysfs("QUORV_SYSFS_ROOT", "/srv/fake-sys");
        EnvScope dev("QUORV_DEV_ROOT", "/srv/fake-dev");
        const PlatformHooks hooks = DefaultHooks();
        EXPECT_EQ(hooks.sysfsRoot, "/srv/fake-sys");
        EXPECT_EQ(hooks.devRoot, "/srv/fake-dev");
    }
    EnvScope sysfs("QUORV_SYSFS_ROOT", "");
    EnvScope dev("QUORV_DEV_ROOT", nullptr);
    const PlatformHooks hooks = DefaultHooks();
    EXPECT_EQ(hooks.sysfsRoot, "/sys");
    EXPECT_EQ(hooks.devRoot, "/dev");
    ASSERT_NE(hooks.hidTransport, nullptr);
}

}  // namespace
