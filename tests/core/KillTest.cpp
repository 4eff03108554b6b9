// The built program killed with SIGKILL at points spread over its login, the loading of its
// data and its first keep-alive, as a power cut or a killed session would end it. After each
// kill both databases pass SQLite's integrity check, the settings file still holds its
// [Login] section, and the next start logs in normally.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "CSqliteDB.h"
#include "CSqliteException.h"
#include "ChildProcess.h"
#include "DemoServerProcess.h"
#include "Hooks.h"
#include "LogReader.h"
#include "Profile.h"
#include "ProgramCopy.h"
#include "Text.h"
#include "WaitFor.h"

namespace {

namespace fs = std::filesystem;

// What the program's folder holds when the killed run starts.
enum class Before {
    FirstLogin,               // no user folder: the login copies the template database
    FirstLoginLargeTemplate,  // the same, with a template large enough for a kill to land inside the copy
    ReturningUser,            // one normal run before: the user database exists
    SettingsToRewrite,        // returning, with settings the login writes back
};

// What the program has done when the kill is due.
enum class After {
    Spawn,            // nothing yet
    LogLine,          // text appeared once more in its log
    ServerLine,       // the server logged text once more
    UserFolderEntry,  // a file appeared in the new user folder: the template's copy has begun
    SettingsChange,   // the settings file or its folder changed: a write is under way or done
};

struct KillPoint {
    const char* name;
    Before before;
    After after;
    const wchar_t* text;  // the log or server line; unused by the other conditions
    int delayMs;  // after the condition, so that neighbouring points land apart
};

std::ostream& operator<<(std::ostream& out, const KillPoint& point) { return out << point.name; }

// Spread from the first instant to the first keep-alive's reply.
const KillPoint kPoints[] = {
    {"AtTheStart", Before::FirstLogin, After::Spawn, L"", 0},
    {"AfterStartLine", Before::ReturningUser, After::LogLine, L"Start...", 0},
    {"ReadingSettings", Before::ReturningUser, After::LogLine, L"InitConfig", 0},
    {"MakingMainObjects", Before::ReturningUser, After::LogLine, L"InitMainObiect", 0},
    {"LoginSent", Before::FirstLogin, After::LogLine, L"自动登录-异步登录", 0},
    {"LoginAnswered", Before::FirstLogin, After::ServerLine, L"login [demo]", 0},
    {"AsTheUserDatabaseCopyBegins", Before::FirstLoginLargeTemplate, After::UserFolderEntry, L"", 0},
    {"InTheUserDatabaseCopy", Before::FirstLoginLargeTemplate, After::UserFolderEntry, L"", 2},
    {"LateInTheUserDatabaseCopy", Before::FirstLoginLargeTemplate, After::UserFolderEntry, L"", 6},
    {"InTheFirstSettingsWrite", Before::SettingsToRewrite, After::SettingsChange, L"", 0},
    {"InALaterSettingsWrite", Before::SettingsToRewrite, After::SettingsChange, L"", 3},
    {"LoadingTheUser", Before::FirstLogin, After::LogLine, L"加载用户基本信息...", 0},
    {"LoadingHealthElements", Before::ReturningUser, After::LogLine, L"加载健康元素信息...", 0},
    {"LoadingUserOperations", Before::ReturningUser, After::LogLine, L"加载用户操作信息...", 1},
    {"LoadingAlerts", Before::FirstLogin, After::LogLine, L"加载提醒信息...", 0},
    {"LoadingTheAssessment", Before::ReturningUser, After::LogLine, L"加载评估信息...", 0},
    {"LoadingParameters", Before::FirstLogin, After::LogLine, L"加载系统参数信息...", 0},
    {"LoadingTheMainFrame", Before::FirstLogin, After::LogLine, L"加载主界面框架...", 2},
    {"AtTheFirstKeepAlive", Before::ReturningUser, After::ServerLine, L"keep-alive", 0},
    {"WhileTheFirstKeepAliveIsAnswered", Before::FirstLogin, After::ServerLine, L"keep-alive", 3},
};

// The rows of PRAGMA integrity_check, one a line; "ok\n" for a whole database.
::testing::AssertionResult PassesIntegrityCheck(const fs::path& file) {
    std::wstring rows;
    try {
        CSqliteDB db;
        // Read-write, as the program opens it: a journal a kill left is rolled back first.
        db.open(text::FromUtf8(file.string()));
        CSqliteQuery query = db.execQuery(L"PRAGMA integrity_check;");
        for (; !query.eof(); query.nextRow()) rows += query.getStringField(0) + L"\n";
    } catch (const CSqliteException& e) {
        return ::testing::AssertionFailure() << file << ": [" << e.errorCode() << "] "
                                             << text::ToUtf8(e.errorMessage());
    }
    if (rows == L"ok\n") return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << file << ":\n" << text::ToUtf8(rows);
}

// The names a profile list holds: sections when section is null, else the section's keys.
std::set<std::wstring> ProfileNames(const fs::path& ini, const wchar_t* section) {
    std::vector<wchar_t> buffer(16384);
    const DWORD length = GetPrivateProfileStringW(section, nullptr, L"", buffer.data(),
                                                  static_cast<DWORD>(buffer.size()),
                                                  text::FromUtf8(ini.string()).c_str());
    std::set<std::wstring> names;
    for (DWORD at = 0; at < length;) {
        const std::wstring name(buffer.data() + at);
        names.insert(name);
        at += static_cast<DWORD>(name.size()) + 1;
    }
    return names;
}

// WaitFor polls too seldom for a copy or a settings write of a few milliseconds.
bool PollUntil(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + ProgramCopy::kTimeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

std::set<std::string> EntryNames(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) names.insert(entry.path().filename().string());
    return names;
}

class KillTest : public ::testing::TestWithParam<KillPoint> {
protected:
    void SetUp() override {
        // Both ends are on 127.0.0.1, but the program sends nothing while it thinks itself offline.
        if (!InternetGetConnectedState(nullptr, 0)) GTEST_SKIP() << "no network interface is up";
        port_ = server_.Port();
        ASSERT_NE(port_, 0) << server_.Output();
        UseDemoAccount(program_, port_);
        ASSERT_NO_FATAL_FAILURE(Prepare(GetParam().before));
        loginKeys_ = ProfileNames(Ini(), L"Login");
    }

    void Prepare(Before before) {
        if (before == Before::FirstLoginLargeTemplate) GrowTemplate();
        if (before != Before::ReturningUser && before != Before::SettingsToRewrite) return;
        ASSERT_TRUE(LogsInNormally("before.out"));
        if (before != Before::SettingsToRewrite) return;
        // Values the login writes back in its own form, one settings write each: the password
        // stored plain, the user's ID and number as a user may have typed them.
        program_.SetLoginSetting(L"LoginPassword", L"demo123");
        program_.SetLoginSetting(L"UserID", L"Demo01");
        program_.SetLoginSetting(L"UserNo", L"01001");
    }

    // Some megabytes in a table of its own, so that copying the template takes a while.
    void GrowTemplate() const {
        CSqliteDB db;
        db.open(text::FromUtf8(DefaultDatabase().string()));
        db.execDML(L"create table tKillTestFiller(data blob);");
        db.execDML(L"insert into tKillTestFiller values (zeroblob(16777216));");
    }

    // Starts the program and kills it at the point; false, with the reason, when the point
    // was never reached or the program had ended before the kill.
    ::testing::AssertionResult RunAndKill(const KillPoint& point) {
        const Baseline baseline = TakeBaseline();
        const auto run = program_.Start({"/autoRun"}, "killed.out");
        if (!PollUntil([&] { return Reached(point, baseline); }))
            return ::testing::AssertionFailure() << "the point was never reached\n" << Trace("killed.out");
        std::this_thread::sleep_for(std::chrono::milliseconds(point.delayMs));
        run->Signal(SIGKILL);
        const std::optional<int> status = run->Wait(ProgramCopy::kTimeout);
        if (status != 128 + SIGKILL)
            return ::testing::AssertionFailure() << "ended with " << status.value_or(-1) << " before the kill\n"
                                                 << Trace("killed.out");
        return ::testing::AssertionSuccess();
    }

    // What the conditions are counted from: earlier runs left lines and files behind.
    struct Baseline {
        int logLines = 0;
        int serverLines = 0;
        std::set<std::string> folder;
        std::string settings;
    };
    Baseline TakeBaseline() const {
        const KillPoint& point = GetParam();
        Baseline baseline{0, 0, EntryNames(program_.Folder()), ReadFileBytes(Ini())};
        if (point.after == After::LogLine) baseline.logLines = CountOf(program_.Log(), point.text);
        if (point.after == After::ServerLine) baseline.serverLines = server_.Count(text::ToUtf8(point.text));
        return baseline;
    }

    bool Reached(const KillPoint& point, const Baseline& baseline) const {
        switch (point.after) {
        case After::Spawn: return true;
        case After::LogLine: return CountOf(program_.Log(), point.text) > baseline.logLines;
        case After::ServerLine: return server_.Count(text::ToUtf8(point.text)) > baseline.serverLines;
        case After::UserFolderEntry: return !EntryNames(UserFolder()).empty();
        case After::SettingsChange:
            return EntryNames(program_.Folder()) != baseline.folder || ReadFileBytes(Ini()) != baseline.settings;
        }
        return false;
    }

    // Starts the program, waits for the main page's last panel (every loading step has
    // passed), then ends it with SIGINT; true when it logged in and ended in order.
    ::testing::AssertionResult LogsInNormally(const std::string& outputName) {
        const int logins = server_.Count("login [demo]");
        const auto run = program_.Start({"/autoRun"}, outputName);
        const auto output = program_.Dir() / outputName;
        const bool shown = WaitFor(
            [&] { return ReadFileBytes(output).find("HomePageArticleToday()") != std::string::npos; },
            ProgramCopy::kTimeout);
        run->Signal(SIGINT);
        const std::optional<int> status = run->Wait(ProgramCopy::kTimeout);
        // At least one: a login the killed run had under way may reach the server only now.
        if (shown && status == 0 && server_.Count("login [demo]") > logins) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << (shown ? "" : "the main page was not shown; ") << "exit status "
                                             << status.value_or(-1) << "\n" << Trace(outputName);
    }

    // The [Login] section keeps every key it had and the values the login never changes.
    ::testing::AssertionResult SettingsWhole() const {
        if (ProfileNames(Ini(), nullptr).count(L"Login") == 0)
            return ::testing::AssertionFailure() << "no [Login] section in:\n" << ReadFileBytes(Ini());
        if (ProfileNames(Ini(), L"Login") != loginKeys_)
            return ::testing::AssertionFailure() << "[Login] lost or gained keys:\n" << ReadFileBytes(Ini());
        if (program_.LoginSetting(L"LoginAccount") != L"demo" ||
            program_.LoginSetting(L"LoginPort") != std::to_wstring(port_))
            return ::testing::AssertionFailure() << "[Login] values changed:\n" << ReadFileBytes(Ini());
        return ::testing::AssertionSuccess();
    }

    fs::path Ini() const { return program_.Folder() / "Quorv10.ini"; }
    fs::path DefaultDatabase() const { return program_.Folder() / "Quorv10.db"; }
    fs::path UserFolder() const { return program_.Folder() / "quorv_demo01"; }
    fs::path UserDatabase() const { return UserFolder() / "Quorv10_demo01.db"; }

    std::string Trace(const std::string& outputName) const {
        return server_.Output() + ReadFileBytes(program_.Dir() / outputName) + text::ToUtf8(program_.Log());
    }

    ProgramCopy program_{QUORV_DIST_DIR};
    DemoServerProcess server_{QUORV_DEMO_SERVER, program_.Dir()};
    std::uint16_t port_ = 0;
    std::set<std::wstring> loginKeys_;
};

TEST_P(KillTest, LeavesItsFilesWholeAndTheNextStartLogsIn) {
    ASSERT_TRUE(RunAndKill(GetParam()));
    std::error_code ec;
    if (fs::exists(UserDatabase(), ec)) {
        EXPECT_TRUE(PassesIntegrityCheck(UserDatabase()));
    }
    EXPECT_TRUE(PassesIntegrityCheck(DefaultDatabase()));
    EXPECT_TRUE(SettingsWhole());
    EXPECT_TRUE(LogsInNormally("after.out"));
    EXPECT_TRUE(PassesIntegrityCheck(UserDatabase()));
}

INSTANTIATE_TEST_SUITE_P(SpreadOverLoginLoadingAndKeepAlive, KillTest, ::testing::ValuesIn(kPoints),
                         [](const ::testing::TestParamInfo<KillPoint>& info) { return std::string(info.param.name); });

}  // namespace
