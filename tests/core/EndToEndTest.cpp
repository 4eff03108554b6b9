// The built program against the demo server, each on a port and in a folder of its own:
// the automatic login, the loading of all data, the main page, and the orderly end on Ctrl-C.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "CSqliteDB.h"
#include "DemoServerProcess.h"
#include "Hooks.h"
#include "LogReader.h"
#include "ProgramCopy.h"
#include "TempDir.h"
#include "Text.h"
#include "WaitFor.h"

namespace {

// The needles occur in text in this order.
::testing::AssertionResult InOrder(const std::wstring& text, std::initializer_list<std::wstring> needles) {
    std::size_t from = 0;
    for (const std::wstring& needle : needles) {
        from = text.find(needle, from);
        if (from == std::wstring::npos)
            return ::testing::AssertionFailure() << "no \"" << text::ToUtf8(needle) << "\" in its place in:\n"
                                                 << text::ToUtf8(text);
    }
    return ::testing::AssertionSuccess();
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Both ends are on 127.0.0.1, but the program sends nothing while it thinks itself offline.
        if (!InternetGetConnectedState(nullptr, 0)) GTEST_SKIP() << "no network interface is up";
        const std::uint16_t port = server_.Port();
        ASSERT_NE(port, 0) << server_.Output();
        UseDemoAccount(program_, port);
    }

    // Runs the program until the main page has shown its panels, then ends it with
    // SIGINT, as Ctrl-C does; its exit status.
    std::optional<int> RunToTheMainPageThenInterrupt() {
        const auto run = program_.Start({"/autoRun"});
        // The last panel the main window's start refreshes: every loading step has passed.
        if (!WaitFor([&] { return Output().find("HomePageArticleToday()") != std::string::npos; },
                     ProgramCopy::kTimeout)) {
            ADD_FAILURE() << "the main page was not shown\n" << Trace();
            return std::nullopt;
        }
        run->Signal(SIGINT);
        return run->Wait(ProgramCopy::kTimeout);
    }

    // The demo user's database, damaged before the start, is kept aside byte for byte and
    // replaced by the template: the program reaches its main page instead of stopping at
    // the loading.
    void ExpectDamagedUserDatabaseSetAside(const std::function<void(const std::filesystem::path& db)>& damage) {
        const std::filesystem::path folder = program_.Folder() / "quorv_demo01";
        const std::filesystem::path db = folder / "Quorv10_demo01.db";
        std::filesystem::create_directories(folder);
        damage(db);
        const std::string damaged = ReadFileBytes(db);
        EXPECT_EQ(RunToTheMainPageThenInterrupt(), 0) << Trace();
        std::vector<std::filesystem::path> backups;
        // The database's own log and index may stay beside it when the end comes before its
        // last connection closes; they are not backups.
        const auto own = [&db](const std::filesystem::path& p) {
            return p == db || p.string() == db.string() + "-wal" || p.string() == db.string() + "-shm";
        };
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (!own(entry.path())) backups.push_back(entry.path());
        ASSERT_EQ(backups.size(), 1u);
        EXPECT_EQ(ReadFileBytes(backups.front()), damaged);
        EXPECT_GT(std::filesystem::file_size(db), 0u);
        EXPECT_NE(program_.Log().find(L"unreadable or incomplete: it is set aside"), std::wstring::npos);
    }

    // What the program wrote on standard output and standard error: its pages' calls.
    std::string Output() const { return ReadFileBytes(program_.Dir() / "program.out"); }
    std::string Trace() const { return server_.Output() + Output() + text::ToUtf8(program_.Log()); }

    ProgramCopy program_{QUORV_DIST_DIR};
    DemoServerProcess server_{QUORV_DEMO_SERVER, program_.Dir()};
};

TEST_F(EndToEndTest, LogsInLoadsAllDataShowsTheMainPageAndLogsOutOnCtrlC) {
    EXPECT_EQ(RunToTheMainPageThenInterrupt(), 0) << Trace();
    EXPECT_TRUE(server_.Saw("login [demo]"));
    EXPECT_TRUE(server_.Saw("logout [1001]")) << Trace();
    EXPECT_TRUE(std::filesystem::is_regular_file(program_.Folder() / "quorv_demo01" / "Quorv10_demo01.db"));
    const std::wstring log = program_.Log();
    EXPECT_TRUE(InOrder(log, {L"Start...", L"InitConfig", L"InitMainObiect", L"自动登录-异步登录",
                              L"加载用户基本信息...", L"加载用户扩展信息...", L"加载系统参数信息...",
                              L"加载主界面框架...", L"加载完成...", L"AppExit...", L"RunThread[Main] exit over."}));
    EXPECT_EQ(CountOf(log, L"ShowLoadingStep"), 25) << text::ToUtf8(log);
    // Every page function the program calls is one its pages have.
    EXPECT_EQ(CountOf(log, L"call_function"), 0) << text::ToUtf8(log);
    // The login page shows the loading steps (each notice shows the step of its moment, so
    // which steps it catches varies), then the main page its panels.
    EXPECT_TRUE(InOrder(text::FromUtf8(Output()),
                        {L"[default.htm] UpdateLoginStatusInfo(\"加载", L"[quorvix.htm] QuorvixBottomUserInfo()", L"[default.htm] HomePageLastAssess()",
                         L"[default.htm] HomePageUserInfo()", L"[default.htm] HomePageRealWeather()",
                         L"[default.htm] HomePageLifeIndex()", L"[default.htm] HomePageUserEnv()",
                         L"[default.htm] HomePageUserOpData()", L"[default.htm] HomePageAlertToday()",
                         L"[default.htm] HomePageArticleToday()"}));
}

// A user database that cannot be opened at all, not even set aside: the loading stops, the
// user is told, and the program ends once, with an error status, though the login window's
// end then lets the start-up's own end come too.
TEST_F(EndToEndTest, AUserDatabaseThatIsAFolderEndsTheProgramOnceWithAnErrorStatus) {
    std::filesystem::create_directories(program_.Folder() / "quorv_demo01" / "Quorv10_demo01.db");
    const auto run = program_.Start({"/autoRun"});
    const std::optional<int> code = run->Wait(ProgramCopy::kTimeout);
    ASSERT_TRUE(code.has_value()) << "still running\n" << Trace();
    EXPECT_NE(*code, 0) << Trace();
    EXPECT_NE(Output().find("用户数据加载失败"), std::string::npos) << Trace();
    EXPECT_EQ(CountOf(program_.Log(), L"AppExit..."), 1) << Trace();
}

// A file-size limit below the template's size: the copy of the user database fails as on a
// full disk, the login page says so and waits, and SIGTERM ends the program in order.
TEST_F(EndToEndTest, AFileSizeLimitBelowTheDatabaseFailsTheLoginInsteadOfKillingTheProgram) {
    const std::string home = program_.Dir().Path().string();
    ChildProcess run("/bin/sh", {"-c", "ulimit -f 100 && exec \"$0\" /autoRun", (program_.Folder() / "quorvix").string()},
                     program_.Dir() / "program.out",
                     {"XDG_RUNTIME_DIR=" + home, "HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config"});
    const auto told = [&] { return Output().find("登录失败---无法建立用户数据。") != std::string::npos; };
    WaitFor([&] { return told() || run.Wait(std::chrono::milliseconds(0)).has_value(); }, ProgramCopy::kTimeout);
    ASSERT_TRUE(run.Signal(SIGTERM)) << "ended by itself with " << run.Wait(std::chrono::milliseconds(0)).value_or(-1)
                                     << "\n" << Trace();
    EXPECT_TRUE(told()) << Trace();
    EXPECT_EQ(run.Wait(ProgramCopy::kTimeout), 0) << Trace();
}

// Left empty by a full disk or a crash.
TEST_F(EndToEndTest, AnEmptyUserDatabaseIsSetAsideAndTheMainPageIsReached) {
    ExpectDamagedUserDatabaseSetAside([](const std::filesystem::path& db) { std::ofstream(db).flush(); });
}

// The profile's one row gone: the login's update finds nothing to write and the profile
// nothing to load.
TEST_F(EndToEndTest, AUserDatabaseWithAnEmptiedTUserIsSetAsideAndTheMainPageIsReached) {
    ExpectDamagedUserDatabaseSetAside([this](const std::filesystem::path& db) {
        std::filesystem::copy_file(program_.Folder() / "Quorv10.db", db);
        CSqliteDB sql;
        sql.open(text::FromUtf8(db.string()));
        sql.execDML(L"delete from tUser;");
    });
}

}  // namespace
