// The run command's set-up end to end (scripts/demo_run.sh): the built program, the demo
// server and both simulated devices, each on ports and in folders of the test's own, run
// until the demo has shown what it shows, then ended with SIGINT as Ctrl-C does.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "LogReader.h"
#include "Hooks.h"
#include "ProgramCopy.h"
#include "TempDir.h"
#include "Text.h"
#include "WaitFor.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The count a query gives on the database; -1 when it cannot be read.
int Count(const fs::path& database, const std::string& sql) {
    sqlite3* db = nullptr;
    int count = -1;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return count;
}

// Ended: no such process, or one whose end nobody has collected yet.
bool Gone(int pid) {
    if (kill(pid, 0) != 0) return errno == ESRCH;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && line.compare(close, 3, ") Z") == 0;
}

class DemoRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Both ends are on 127.0.0.1, but the program sends nothing while it thinks itself offline.
        if (!InternetGetConnectedState(nullptr, 0)) GTEST_SKIP() << "no network interface is up";
        fs::create_directories(Temp());
    }

    void Start(std::vector<std::string> extra = {}) {
        const std::string home = program_.Dir().Path().string();
        std::vector<std::string> args{QUORV_DEMO_RUN, "--bin",  QUORV_DEMO_BIN, "--program", program_.Folder().string(),
                                      "--port",       "0",      "--tree",       Tree().string()};
        args.insert(args.end(), extra.begin(), extra.end());
        // The demo's own device variables, whatever the machine running the test has set.
        run_ = std::make_unique<ChildProcess>(
            "/bin/bash", args, program_.Dir() / "run.out",
            std::vector<std::string>{"HOME=" + home, "XDG_RUNTIME_DIR=" + home, "XDG_CONFIG_HOME=" + home + "/.config",
                                     "TMPDIR=" + Temp().string(), "QUORV_SYSFS_ROOT=", "QUORV_DEV_ROOT=",
                                     "QUORV_COMPORTS="});
        ASSERT_TRUE(run_->Started());
    }
    // Waits for the condition, then ends the demo as Ctrl-C does; the script's exit status.
    // The demo may take what the case's bound leaves but what the exit keeps.
    std::optional<int> RunUntilThenInterrupt(const std::function<bool()>& shown) {
        const bool reached = WaitFor(shown, budget_.Left(ProgramCopy::kTimeout));
        EXPECT_TRUE(reached) << "the demo did not get there\n" << Trace();
        run_->Signal(SIGINT);
        return run_->Wait(budget_.Left());
    }

    const fs::path& Tree() const { return tree_; }
    fs::path Temp() const { return program_.Dir() / "tmp"; }
    fs::path UserDatabase() const { return program_.Folder() / "quorv_demo01" / "Quorv10_demo01.db"; }
    std::string Output() const { return ReadFileBytes(program_.Dir() / "run.out"); }
    std::wstring Log() const { return program_.Log(); }
    std::string Trace() const { return Output() + text::ToUtf8(Log()); }
    int Rows(const std::string& sql) const { return Count(UserDatabase(), sql); }

    // The server's lines of one request each (between its start and its summary).
    std::vector<std::string> RequestLines() const {
        std::vector<std::string> requests;
        bool started = false;
        for (const std::string& line : Lines(Output())) {
            if (line.rfind("demo server: ", 0) != 0) continue;
            const std::string said = line.substr(13);
            if (said.rfind("article synchronisation on", 0) == 0) started = true;
            else if (std::regex_match(said, std::regex(R"(\d+ requests: .*)"))) break;
            else if (started && said.rfind("article sync [", 0) != 0) requests.push_back(said);
        }
        return requests;
    }
    // The pids the script named: server, devices and program, as far as it started them.
    std::vector<int> Pids() const {
        std::vector<int> pids;
        const std::string out = Output();
        for (const char* pattern : {R"(demo: server (\d+))", R"(demo: monitor (\d+))", R"(demo: program (\d+))",
                                    R"(demo: pedometer (\d+))"}) {
            std::smatch m;
            if (!std::regex_search(out, m, std::regex(pattern))) continue;
            for (std::size_t i = 1; i < m.size(); ++i) pids.push_back(std::stoi(m[i].str()));
        }
        return pids;
    }
    std::vector<std::wstring> ErrorLines() const {
        std::vector<std::wstring> errors;
        std::wistringstream in(Log());
        for (std::wstring line; std::getline(in, line);)
            if (line.find(L" Error ") == 23) errors.push_back(line);
        return errors;
    }
    void ExpectEverythingEnded(std::size_t processes) const {
        const std::vector<int> pids = Pids();
        EXPECT_EQ(pids.size(), processes) << Output();
        for (const int pid : pids) EXPECT_TRUE(Gone(pid)) << pid;
        EXPECT_FALSE(fs::exists(Tree()));
        EXPECT_TRUE(fs::is_empty(Temp())) << "the script's own folder is left";
        EXPECT_FALSE(fs::exists(program_.Folder() / "System")) << "the simulated monitor's model is left";
    }

    ProgramCopy program_{QUORV_DIST_DIR};
    fs::path tree_ = program_.Dir() / "devices";
    std::unique_ptr<ChildProcess> run_;
    // Long enough for the third keep-alive (30 s after the main window), which brings the
    // articles, on a loaded machine.
    const WaitBudget budget_{ProgramCopy::kCaseBound};
};

TEST_F(DemoRunTest, ShowsTheServersDataAndTheDevicesThenEndsEverythingOnCtrlC) {
    Start();
    EXPECT_EQ(RunUntilThenInterrupt([&] {
                  const std::wstring log = Log();
                  return log.find(L"ParseHttpSyncXmlData[syndata_article]=0") != std::wstring::npos &&
                         log.find(L"ParseHttpSyncXmlData[syndata_focusArticle]=0") != std::wstring::npos &&
                         Rows("select count(*) from tDeviceDataList_122") > 0 &&
                         Rows("select count(*) from tDeviceDataList_1002") > 0;
              }),
              0)
        << Trace();

    // Every request answered from the data file, or refused with a negative result.
    const std::vector<std::string> requests = RequestLines();
    std::smatch summary;
    const std::string out = Output();
    ASSERT_TRUE(std::regex_search(out, summary, std::regex(R"(demo server: (\d+) requests: (\d+) answered, (\d+) refused)")))
        << out;
    EXPECT_EQ(requests.size(), std::stoul(summary[1].str())) << out;
    int refused = 0;
    for (const std::string& request : requests) {
        EXPECT_EQ(request.rfind("unknown 0x", 0), std::string::npos) << request;
        refused += request.ends_with(" refused") ? 1 : 0;
    }
    EXPECT_EQ(refused, std::stoi(summary[3].str()));
    for (const char* shown : {"login [demo]", "keep-alive", "extended profile", "weather forecast",
                              "live weather", "life index", "public message after 0", "public message after 1",
                              "user message after 0", "user message after 1", "user-type message after 0",
                              "user-group message after 0", "parameter 1", "logout [1001]"})
        EXPECT_NE(std::find(requests.begin(), requests.end(), shown), requests.end()) << shown << "\n" << out;

    // What the replies stored.
    EXPECT_EQ(Rows("select count(*) from tPublicMess"), 2);
    EXPECT_EQ(Rows("select count(*) from tUserTypeMess"), 1);
    EXPECT_EQ(Rows("select count(*) from tUserMess where userNo=1001"), 2);
    EXPECT_EQ(Rows("select count(*) from tUserGroupMess"), 1);
    EXPECT_EQ(Rows("select count(*) from tRealWeather where areaCodeNo=101 and realMessNo=7"), 1);
    EXPECT_EQ(Rows("select count(*) from tWeatherForecast where areaCodeNo=101 and forecastMessNo=5"), 6);
    EXPECT_EQ(Rows("select count(*) from tLiveIndex where areaCodeNo=101 and liveIndexMessNo=3"), 6);
    EXPECT_EQ(Rows("select count(*) from tFocusArticle"), 3);
    EXPECT_EQ(Rows("select count(*) from tArticle"), 4);
    EXPECT_EQ(Rows("select syncNo from tUser where userNo=1001"), 2);
    // The login's own record fills the fresh database's profile: the feeds ask for its type and group.
    EXPECT_EQ(Rows("select areaCodeNo from tUser where userNo=1001"), 101);
    EXPECT_EQ(Rows("select userGroupNo from tUser where userNo=1001"), 1);
    EXPECT_EQ(Rows("select syncNo from tUserExp where userNo=1001"), 1);
    EXPECT_EQ(Rows("select syncNo from tParameter where parameterNo=1"), 1);

    // The main page reports its element panel once loaded: the device watch starts after the
    // main window shows (it fills the page's element list), and the computer-use monitor.
    const std::size_t shown = out.find("[quorvix.htm] QuorvixBottomUserInfo()");
    ASSERT_NE(shown, std::string::npos) << out;
    EXPECT_NE(out.find("RefashElementList(", shown), std::string::npos) << out;
    EXPECT_NE(Log().find(L"CUserOperation::WorkThread start..."), std::wstring::npos);

    // The monitor, there from the start, is found by its adapter's USB ids and read; its page
    // keeps every reading, which are uploaded and stored.
    EXPECT_NE(out.find("simulated monitor: plugged in"), std::string::npos);
    EXPECT_NE(Log().find(L"DevChangeProc:[1002][1]"), std::wstring::npos);
    std::smatch frames;
    ASSERT_TRUE(std::regex_search(out, frames, std::regex(R"(simulated monitor: stopped after (\d+) frames)")));
    EXPECT_GT(std::stoi(frames[1].str()), 0);
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(),
                            [](const std::string& r) { return r.rfind("blood-pressure upload [", 0) == 0; }))
        << out;

    // The pedometer, plugged in after the main window, is seen by the device watch and read; a
    // new user's read asks the page for the settings, which it confirms, and the week's days
    // are uploaded and stored.
    EXPECT_LT(out.find("RefashElementList("), out.find("simulated pedometer: plugged in")) << out;
    EXPECT_NE(Log().find(L"DevChangeProc:[122][1]"), std::wstring::npos);
    EXPECT_NE(Log().find(L"PedoDataProc:[122]"), std::wstring::npos);
    EXPECT_NE(out.find("[default.htm] OpenSettingsWin(1)"), std::string::npos) << out;
    std::smatch reports;
    ASSERT_TRUE(std::regex_search(out, reports, std::regex(R"(simulated pedometer: stopped after (\d+) reports)")));
    EXPECT_GT(std::stoi(reports[1].str()), 0);
    EXPECT_EQ(Rows("select count(*) from tDeviceDataList_122 where userNo=1001"), 7);

    EXPECT_EQ(ErrorLines(), std::vector<std::wstring>()) << Trace();
    ExpectEverythingEnded(4);
}

TEST_F(DemoRunTest, WithoutDevicesNothingIsPluggedIn) {
    Start({"--no-devices"});
    EXPECT_EQ(RunUntilThenInterrupt([&] { return Output().find("HomePageArticleToday()") != std::string::npos; }), 0)
        << Trace();
    const std::string out = Output();
    EXPECT_EQ(out.find("simulated "), std::string::npos) << out;
    EXPECT_EQ(out.find("demo: monitor"), std::string::npos) << out;
    EXPECT_EQ(out.find("demo: pedometer"), std::string::npos) << out;
    EXPECT_EQ(Log().find(L"DevChangeProc"), std::wstring::npos);
    EXPECT_NE(out.find("demo server: login [demo]"), std::string::npos) << out;
    EXPECT_EQ(ErrorLines(), std::vector<std::wstring>()) << Trace();
    ExpectEverythingEnded(2);
}

// A case that fails ends its run as the harness does: with the script killed, the server and
// the program it started in groups of their own end too.
TEST_F(DemoRunTest, ARunItsCaseAbandonsLeavesNothingRunning) {
    Start({"--no-devices"});
    ASSERT_TRUE(WaitFor([&] { return Pids().size() == 2; }, budget_.Left())) << Trace();
    const std::vector<int> pids = Pids();
    run_.reset();
    for (const int pid : pids) EXPECT_TRUE(WaitFor([pid] { return Gone(pid); })) << pid;
}

TEST_F(DemoRunTest, ADeviceThatCannotBeMadeStopsTheRunBeforeTheProgram) {
    // The devices' folder below a file: the simulated monitor, the first, cannot make its tree.
    std::ofstream(program_.Dir() / "file") << "x";
    tree_ = program_.Dir() / "file" / "devices";
    Start();
    EXPECT_EQ(run_->Wait(ProgramCopy::kTimeout), 1);
    const std::string out = Output();
    EXPECT_NE(out.find("simulated monitor: cannot make its device tree below " + tree_.string()), std::string::npos)
        << out;
    EXPECT_NE(out.find("demo: the simulated blood-pressure monitor could not be made; the program is not started"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("demo: program"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(program_.Folder() / "Log")) << "the program ran";
    EXPECT_NE(out.find("demo server: stopped"), std::string::npos) << out;
    ExpectEverythingEnded(1);
}

}  // namespace
