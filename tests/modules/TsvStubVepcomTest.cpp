// The blood-pressure module over stand-ins for the monitor library: libraries that lack
// an export, no library at all, and one whose answers make each download fail its own way.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CurrentFolder.h"
#include "Hooks.h"
#include "TempDir.h"
#include "TsvModule.h"

namespace {

std::filesystem::path Stub(const std::string& variant) {
    return std::filesystem::path(TSV_STUB_VEPCOM_DIR) / ("stubvep_" + variant + ".so");
}

class TsvStubVepcomTest : public ::testing::Test {
protected:
    // The calls the stand-in logged since the last look.
    std::vector<std::string> NewCalls() {
        std::istringstream log(ReadFileBytes(dir_ / "stubvep.log"));
        std::vector<std::string> calls;
        for (std::string line; std::getline(log, line);) calls.push_back(line);
        std::vector<std::string> fresh(calls.begin() + static_cast<std::ptrdiff_t>(std::min(seen_, calls.size())),
                                       calls.end());
        seen_ = calls.size();
        return fresh;
    }
    std::vector<TsvReport> Reports() const { return TsvReports::Instance().All(); }
    // Jobs in the stand-in's mode that modeFile (holding text) names, on a clock that each
    // look moves on by step; the polls do not wait.
    void StubJobsOnClock(const char* modeFile, DWORD step, const char* text = "") {
        std::ofstream(modeFile) << text;
        Hooks().tickCount = [this, step] { return now_ += step; };
        Hooks().devicePause = [](DWORD) {};
    }

    TempDir dir_;
    CurrentFolder folder_{dir_.Path()};
    std::size_t seen_ = 0;
    HookScope hooks_;
    std::atomic<DWORD> now_{0};
};

TEST_F(TsvStubVepcomTest, AMissingExportOrLibraryFailsInitialisingWithItsCode) {
    const struct {
        const char* variant;
        int code;
    } cases[] = {{"noinit", -101}, {"noweekbp", -122}, {"", -2}};
    for (const auto& c : cases) {
        TempDir program;
        TsvModule module(program.Path(), *c.variant != '\0' ? Stub(c.variant) : std::filesystem::path());
        CurrentFolder inside(program.Path());
        ASSERT_TRUE(module.Loaded()) << LastLibraryError();
        EXPECT_EQ(module.Fn().InitModule(), c.code) << c.variant;
        EXPECT_EQ(module.Fn().GetModuleState(), 0) << c.variant;
        EXPECT_EQ(module.Fn().ReadModuleOrigData(), -1) << c.variant;
        EXPECT_EQ(Reports(), std::vector<TsvReport>({Rep("2", L"系统错误(NULL)!", "0")})) << c.variant;
        if (*c.variant != '\0') continue;
        // The library put in place later is bound by the next attempt.
        TsvModule::PlaceVepcom(program.Path(), Stub("full"), true);
        EXPECT_EQ(module.Fn().InitModule(), 0);
        EXPECT_EQ(module.Fn().GetModuleState(), 9);
    }
}

TEST_F(TsvStubVepcomTest, EveryFailureEndsTheSessionAndKeepsThePreviousReadings) {
    TsvModule module(dir_.Path(), Stub("full"), true);
    const StridexExports& fn = module.Fn();
    ASSERT_EQ(fn.InitModule(), 0);
    NewCalls();

    ASSERT_EQ(fn.ReadModuleOrigData(), 0);
    auto readings = module.Readings();
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(readings[1].systolic, 111);
    EXPECT_EQ(NewCalls(), std::vector<std::string>({"Vep_Init", "Vep_OpenDevice", "Vep_StartDownload", "Vep_GetStatus",
                                                    "Vep_GetDownloadStatus", "Vep_GetStatus", "Vep_GetDownloadStatus",
                                                    "Vep_GetStatus", "Vep_GetDownloadStatus", "Vep_GetDataCnt",
                                                    "Vep_SetDataCurrent", "Vep_GetBpData", "Vep_SetDataCurrent",
                                                    "Vep_GetBpData", "Vep_End"}));
    // Progress is reported when it changes, not at every poll.
    EXPECT_EQ(Reports(), std::vector<TsvReport>({Rep("1", L"正在读取设备数据...", "0"),
                                                 Rep("1", L"StartDownload...", "0"),
                                                 Rep("1", L"StartDownload......", "1"),
                                                 Rep("1", L"正在读取设备数据...", "50"),
                                                 Rep("1", L"正在读取设备数据...", "100"),
                                                 Rep("1", L"全部下载成功.", "100"),
                                                 Rep("3", L"正在读取设备数据...", "100")}));

    // The third reading fails: the two read before it are not handed out.
    TsvReports::Instance().Clear();
    EXPECT_EQ(fn.ReadModuleOrigData(), 9);
    EXPECT_EQ(NewCalls().back(), "Vep_End");
    EXPECT_EQ(Reports().back(), Rep("2", L"读取设备数据失败!", "0"));
    readings = module.Readings();
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(readings[0].systolic, 110);
    EXPECT_EQ(readings[1].systolic, 111);

    // The download does not start.
    TsvReports::Instance().Clear();
    EXPECT_EQ(fn.ReadModuleOrigData(), -4);
    EXPECT_EQ(NewCalls(), std::vector<std::string>({"Vep_Init", "Vep_OpenDevice", "Vep_StartDownload", "Vep_End"}));
    EXPECT_EQ(Reports(), std::vector<TsvReport>({Rep("1", L"正在读取设备数据...", "0"),
                                                 Rep("1", L"StartDownload...", "0"),
                                                 Rep("1", L"StartDownload......", "1"),
                                                 Rep("2", L"读取设备数据失败!", "0")}));
    EXPECT_EQ(module.Readings().size(), 2u);

    // A count above the store is cut to what it holds.
    EXPECT_EQ(fn.ReadModuleOrigData(), 0);
    char* data = nullptr;
    EXPECT_EQ(fn.GetModuleOrigData(&data), 700 * 72);
    EXPECT_EQ(module.Readings().back().systolic, 140 + 699);

    // A failed job without an error code still fails.
    TsvReports::Instance().Clear();
    EXPECT_EQ(fn.ReadModuleOrigData(), -1);
    EXPECT_EQ(Reports().back(), Rep("2", L"Vep_GetStatus失败.", "0"));
    EXPECT_EQ(NewCalls().back(), "Vep_End");
    EXPECT_EQ(module.Readings().size(), 700u);
}

// The stand-in's job moves a percent a poll for twenty polls, each look at the clock
// finding a minute gone (longer than a bound on the whole download would let it run),
// then stands still until it is aborted: it is aborted where it stood.
TEST_F(TsvStubVepcomTest, AJobWhoseProgressStandsStillIsAbortedAndFails) {
    TsvModule module(dir_.Path(), Stub("full"), true);
    ASSERT_EQ(module.Fn().InitModule(), 0);
    StubJobsOnClock("stubvep.endless", 60000);
    NewCalls();
    EXPECT_EQ(module.Fn().ReadModuleOrigData(), 11);
    const std::vector<std::string> calls = NewCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"Vep_Abort", "Vep_End"}));
    const std::vector<TsvReport> reports = Reports();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(std::vector<TsvReport>(reports.end() - 2, reports.end()),
              (std::vector<TsvReport>{Rep("1", L"正在读取设备数据...", "20"), Rep("2", L"读取设备数据失败!", "0")}));
    EXPECT_TRUE(module.Readings().empty());
}

// 700 readings at 400 ms each take 280 s, longer than a bound on the whole download would
// let them: a monitor that slow is still honest, and its download ends with its readings.
// A poll is 4 s of the job, and the job ends by itself after 70 polls, whatever pause a
// poll makes.
TEST_F(TsvStubVepcomTest, ASlowButHonestMonitorDownloadsAllItsReadings) {
    TsvModule module(dir_.Path(), Stub("full"), true);
    ASSERT_EQ(module.Fn().InitModule(), 0);
    StubJobsOnClock("stubvep.slow", 4000, "400 4000 0");
    EXPECT_EQ(module.Fn().ReadModuleOrigData(), 0);
    EXPECT_GE(now_.load(), 280000u);
    EXPECT_EQ(Reports().back(), Rep("3", L"正在读取设备数据...", "100"));
}

// Readings at 2.7 s and the 100 ms pause before each, within what a link allows; in one
// percent step two of them time out once and succeed on their retry, each taking 9.1 s
// more (the failed attempt and the waits for its late answer before and after the retry).
TEST_F(TsvStubVepcomTest, AReadingWhoseRetrySucceedsIsProgress) {
    TsvModule module(dir_.Path(), Stub("full"), true);
    ASSERT_EQ(module.Fn().InitModule(), 0);
    StubJobsOnClock("stubvep.slow", 1000, "2800 1000 9100");
    EXPECT_EQ(module.Fn().ReadModuleOrigData(), 0);
    EXPECT_EQ(Reports().back(), Rep("3", L"正在读取设备数据...", "100"));
}

}  // namespace
