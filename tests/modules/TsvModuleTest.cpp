// The blood-pressure module over the built monitor library and the simulated monitor:
// the platform is one shared library, so the monitor the test puts in the transport hook
// is the one the library inside the module talks to.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "TsvModule.h"
#include "VepFixture.h"
#include "VepRun.h"
#include "WaitFor.h"

namespace {

// n readings (at most a day's minutes), the newest first as the monitor keeps them, each
// one different and a minute before the one ahead of it.
std::vector<SimReading> Readings(int n) {
    std::vector<SimReading> readings{{2013, 1, 1, 0, 0, 0, 100, 60, 50}};
    for (int i = 1; i < n; ++i) {
        const int before = i - 1;
        readings.push_back({2012, 12, 31, 23 - before / 60, 59 - before % 60, (7 * i) % 60, 100 + i % 90,
                            60 + i % 40, 50 + i % 70});
    }
    return readings;
}

class TsvModuleTest : public VepFixture {
protected:
    TsvModuleTest() { Use(SimModel(), Readings(2)); }

    void Use(const ModelParams& model, const std::vector<SimReading>& readings) {
        WriteModels(ModelXml("SIMBP3", model));
        SimMonitorState state = monitor_->State();
        state.readings = readings;
        monitor_->SetState(state);
    }
    std::vector<TsvReport> Reports() const { return TsvReports::Instance().All(); }
    // Runs a download on a thread of its own, as the window's read thread does.
    std::thread Download(int& result) {
        return std::thread([this, &result] { result = fn_.ReadModuleOrigData(); });
    }

    TsvModule module_{dir_.Path(), VEPCOM_LIBRARY};
    const StridexExports& fn_ = module_.Fn();
};

TEST_F(TsvModuleTest, EighteenExportsAnswerAsTheInterfaceFixes) {
    ASSERT_TRUE(module_.Loaded()) << LastLibraryError();
    for (const char* name : kModuleExportNames) EXPECT_NE(module_.Find(name), nullptr) << name;
    EXPECT_EQ(module_.Find("LoadVepLibrary"), nullptr);
    EXPECT_EQ(module_.Find("Vep_Init"), nullptr);

    EXPECT_EQ(fn_.GetModuleState(), 0);
    EXPECT_TRUE(module_.Readings().empty());
    // Before the library is bound the download refuses, whatever it is asked.
    EXPECT_EQ(fn_.ReadModuleOrigData(), -1);
    EXPECT_EQ(Reports(), std::vector<TsvReport>({Rep("2", L"系统错误(NULL)!", "0")}));

    int first = -100;
    int second = -100;
    std::thread a([&] { first = fn_.InitModule(); });
    std::thread b([&] { second = fn_.InitModule(); });
    a.join();
    b.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(fn_.GetModuleState(), 9);

    char out[16] = "untouched";
    EXPECT_EQ(fn_.GetElementAttribute("systolicBloodPressure", 2, out), 0);
    EXPECT_STREQ(out, "1000");
    EXPECT_EQ(fn_.GetElementAttribute("quietPulse", 3, out), 0);
    EXPECT_STREQ(out, "100");
    std::strcpy(out, "untouched");
    EXPECT_EQ(fn_.GetElementAttribute("pedoValidTime", 2, out), -1);
    EXPECT_EQ(fn_.GetElementAttribute("diastolicBloodPressure", 6, out), -1);
    EXPECT_STREQ(out, "untouched");

    char* id = nullptr;
    EXPECT_EQ(fn_.GetModuleID(&id), 0);
    EXPECT_STREQ(id, "");
    EXPECT_EQ(fn_.CloseModule(), 0);
    EXPECT_EQ(monitor_->Frames().size(), 0u) << "nothing but a download talks to the monitor";
}

TEST_F(TsvModuleTest, TwoReadingsReportEveryStepWithProgressZeroFiftyHundred) {
    ASSERT_EQ(fn_.InitModule(), 0);
    // Each reading's reply waits until the module has reported the progress before it.
    monitor_->SetFault("GME", SimMonitorFault::Hold, 2);
    int result = -100;
    std::thread download = Download(result);
    const bool zero = WaitFor([this] { return monitor_->Holding() && TsvReports::Instance().Size() >= 4; });
    monitor_->Release();
    const bool fifty = WaitFor([this] { return monitor_->Holding() && TsvReports::Instance().Size() >= 5; });
    monitor_->Release();
    download.join();
    EXPECT_TRUE(zero);
    EXPECT_TRUE(fifty);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(Reports(), std::vector<TsvReport>({Rep("1", L"正在读取设备数据...", "0"),
                                                 Rep("1", L"StartDownload...", "0"),
                                                 Rep("1", L"StartDownload......", "1"),
                                                 Rep("1", L"正在读取设备数据...", "0"),
                                                 Rep("1", L"正在读取设备数据...", "50"),
                                                 Rep("1", L"正在读取设备数据...", "100"),
                                                 Rep("1", L"全部下载成功.", "100"),
                                                 Rep("3", L"正在读取设备数据...", "100")}));
    // The texts arrive in GBK, not in the source's UTF-8.
    EXPECT_EQ(Reports()[6].rawMessage, "\xC8\xAB\xB2\xBF\xCF\xC2\xD4\xD8\xB3\xC9\xB9\xA6.");

    const auto readings = module_.Readings();
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(readings[0].systolic, 101);  // the oldest first
    EXPECT_EQ(readings[1].systolic, 100);
    EXPECT_STREQ(readings[1].date, "2013/01/01");
    EXPECT_FALSE(std::filesystem::exists("down.dat")) << "the session was ended";
}

TEST_F(TsvModuleTest, ThreeHundredReadingsOfATypeOneModelAreHandedOutByteExact) {
    Use(SimModel(1), Readings(300));
    ASSERT_EQ(fn_.InitModule(), 0);
    // What the library the module bound hands out to a caller of its own.
    const HMODULE vepcom = LoadLibraryW((dir_.Path() / "interface" / "Vepcom.dll").wstring().c_str());
    ASSERT_NE(vepcom, nullptr) << LastLibraryError();
    const VepRunResult library = RunDownload(VepExports::From(vepcom));
    FreeLibrary(vepcom);
    ASSERT_EQ(fn_.ReadModuleOrigData(), 0);

    char* data = nullptr;
    ASSERT_EQ(fn_.GetModuleOrigData(&data), 300 * 72);
    ASSERT_EQ(library.readings.size(), 300u);
    EXPECT_EQ(std::memcmp(data, library.readings.data(), 300 * 72), 0);
    const auto readings = module_.Readings();
    EXPECT_EQ(readings.front().systolic, 100 + 299 % 90);
    EXPECT_EQ(readings.back().pulse, 50);
    EXPECT_EQ(monitor_->CountOf("MES"), 600);
    EXPECT_EQ(Reports().back(), Rep("3", L"正在读取设备数据...", "100"));
}

TEST_F(TsvModuleTest, ASecondDownloadWhileOneRunsIsRefusedAndTheFirstGoesOn) {
    ASSERT_EQ(fn_.InitModule(), 0);
    monitor_->SetFault("GME", SimMonitorFault::Hold, 1);
    int result = -100;
    std::thread download = Download(result);
    const bool held = WaitFor([this] { return monitor_->Holding(); });
    const std::size_t framesBefore = monitor_->Frames().size();
    const int second = fn_.ReadModuleOrigData();
    const std::size_t framesAfter = monitor_->Frames().size();
    const auto reportsAtRefusal = Reports();
    monitor_->Release();
    download.join();
    ASSERT_TRUE(held);

    EXPECT_EQ(second, -3);
    ASSERT_FALSE(reportsAtRefusal.empty());
    EXPECT_EQ(reportsAtRefusal.back(), Rep("2", L"设备忙.", "0"));
    EXPECT_EQ(reportsAtRefusal.back().rawMessage, "\xC9\xE8\xB1\xB8\xC3\xA6.");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Reports().back(), Rep("3", L"正在读取设备数据...", "100"));
    EXPECT_EQ(module_.Readings().size(), 2u);
    EXPECT_EQ(framesAfter, framesBefore) << "the refused download never reached the monitor";
    EXPECT_EQ(monitor_->CountOf("GDC"), 1);
    // The flag was cleared: the next download runs.
    EXPECT_EQ(fn_.ReadModuleOrigData(), 0);
}

TEST_F(TsvModuleTest, NoReadingsFinishWithCountZero) {
    ASSERT_EQ(fn_.InitModule(), 0);
    ASSERT_EQ(fn_.ReadModuleOrigData(), 0);
    ASSERT_EQ(module_.Readings().size(), 2u);
    Use(SimModel(), {});
    TsvReports::Instance().Clear();
    EXPECT_EQ(fn_.ReadModuleOrigData(), 0);
    char* data = nullptr;
    EXPECT_EQ(fn_.GetModuleOrigData(&data), 0);
    EXPECT_EQ(Reports().back(), Rep("3", L"正在读取设备数据...", "100"));
    char buffer[8] = {};
    EXPECT_EQ(fn_.ReadModuleOrigDataToBuf(buffer, sizeof(buffer)), 0);
}

TEST_F(TsvModuleTest, AFailingMonitorGivesItsCodeAfterEndingTheSessionAndKeepsTheReadings) {
    ASSERT_EQ(fn_.InitModule(), 0);
    ASSERT_EQ(fn_.ReadModuleOrigData(), 0);
    const auto before = module_.Readings();

    monitor_->SetFault("GDC", SimMonitorFault::Ng);
    TsvReports::Instance().Clear();
    EXPECT_EQ(fn_.ReadModuleOrigData(), 5);
    EXPECT_EQ(Reports().back(), Rep("2", L"Vep_GetStatus失败.", "0"));
    EXPECT_FALSE(std::filesystem::exists("down.dat")) << "the session was ended";
    char buffer[8] = {};
    EXPECT_EQ(fn_.ReadModuleOrigDataToBuf(buffer, sizeof(buffer)), -5);
    const auto after = module_.Readings();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(std::memcmp(after.data(), before.data(), after.size() * sizeof(str_bp_retdata)), 0);

    // An unplugged monitor cannot be opened.
    monitor_->SetPlugged(false);
    TsvReports::Instance().Clear();
    EXPECT_EQ(fn_.ReadModuleOrigDataToBuf(buffer, sizeof(buffer)), -3);
    EXPECT_EQ(Reports().back(), Rep("2", L"打开设备失败!", "0"));
    EXPECT_EQ(module_.Readings().size(), 2u);
}

}  // namespace
