#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "BloodPressureWinFixture.h"
#include "LogReader.h"
#include "Quorvix.h"

namespace {

using Calls = std::vector<std::string>;

int Count(const Calls& calls, const std::string& call) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

// The window's command handler reached without a page, as a command that arrives first.
class UnloadedWindow : public CBloodPressureWin {
public:
    LRESULT Command(WORD id, LPARAM lParam) { return OnCommand(WM_COMMAND, id, lParam, nullptr); }
};

TEST_F(BloodPressureWinTest, IsARoundedPopUpTitledForBloodPressureWithItsChart) {
    EXPECT_EQ(bp_->m_cs.style, 0x90080000u);
    EXPECT_EQ(bp_->GetPendingSourceNo(), -1);  // no download announced yet

    StartPage();
    wchar_t title[64] = {};
    GetWindowTextW(hwnd_, title, 64);
    EXPECT_STREQ(title, L"血压管理");
    HRGN__ region{};
    ASSERT_TRUE(GetWindowRegion(hwnd_, &region));
    EXPECT_EQ(region.ellipseWidth, 6);
    EXPECT_EQ(PageCalls(), Calls{});  // no download to announce
    const std::string xml = bp_->GenBloodPressureGraphData(uie::value::make_array({}), uie::value::make_array({}));
    EXPECT_EQ(xml.rfind("<chart", 0), 0u) << xml;
}

TEST_F(BloodPressureWinTest, CommandsCallTheirPageFunctionsAndWithoutARootAreLoggedAndDropped) {
    StartPage();
    bp_->SetLoadStatus({1, L"正在读取设备数据...", -1, -1, 50});
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_BP_REFRESH, 1);
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_BP_LOADPROGRESS, 0);
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_BP_DEVDATALOAD, 1002);
    PostMessageW(hwnd_, WM_COMMAND, 0x808F, 0);  // not the window's: the base, which ignores it
    EXPECT_EQ(PageCalls(), (Calls{"RefreshBpData 1",
                                  "DataLoadSet {\"state\":1,\"msg\":\"正在读取设备数据...\",\"total\":-1,"
                                  "\"processed\":-1,\"precent\":50}",
                                  "DevDataLoad 1002"}));

    const int before = CountLogLines(L"default_root is null.");
    UnloadedWindow unloaded;
    EXPECT_EQ(unloaded.Command(ID_CMD_BP_REFRESH, 1), 0);
    EXPECT_EQ(unloaded.Command(ID_CMD_BP_LOADPROGRESS, 0), 0);
    EXPECT_EQ(unloaded.Command(ID_CMD_BP_DEVDATALOAD, 1002), 0);
    EXPECT_EQ(CountLogLines(L"default_root is null."), before + 3);
    EXPECT_EQ(PageCalls().size(), 3u);  // nothing reached any page
}

TEST_F(BloodPressureWinTest, AnArrivalDownloadsTheMonitorThroughItsModuleAndConvertsTheReadings) {
    StartPage();
    ASSERT_EQ(Source()->moduleInterface.load(), nullptr);
    EXPECT_EQ(bp_->DevChangeProc(Source(), 1), 0);
    ASSERT_TRUE(ReadEnded());
    EXPECT_NE(Source()->moduleInterface.load(), nullptr);  // bound on the first read
    EXPECT_EQ(Load(), L"3 下载设备数据完成。 -1 -1 100");
    EXPECT_EQ(bp_->GetPendingSourceNo(), kSource);
    EXPECT_EQ(Count(PageCalls(), "DevDataLoad 1002"), 1);

    const struBpDeviceReadState read = bp_->GetReadState();
    EXPECT_EQ(read.userNo, userNo_);
    EXPECT_EQ(read.sourceNo, kSource);
    EXPECT_EQ(read.recordCount, 2);
    EXPECT_EQ(read.readTime, L"2024-06-15 09:00:00");
    const struBpDeviceBussData batch = bp_->GetDeviceBussData();
    ASSERT_EQ(batch.count, 2);
    EXPECT_EQ(batch.pDeviceDataList[0].systolic, 125);  // the oldest first
    EXPECT_EQ(batch.pDeviceDataList[1].recTime, L"2013-03-04 21:30:05");
    EXPECT_EQ(monitor_->CountOf("GDC"), 1);
}

TEST_F(BloodPressureWinTest, TwoQuickArrivalsStartOneReadAndARemovalWaitsForItThenClearsTheReadState) {
    StartPage();
    HoldDownload();
    EXPECT_EQ(bp_->DevChangeProc(Source(), 1), 0);
    EXPECT_EQ(bp_->DevChangeProc(Source(), 1), 0);
    ASSERT_TRUE(DownloadHeld());
    EXPECT_TRUE(bp_->IsReadBusy());
    EXPECT_EQ(Load().substr(0, 2), L"1 ");  // the module reports its progress meanwhile

    std::atomic<bool> removed{false};
    std::thread removal([this, &removed] {
        bp_->DevChangeProc(Source(), 0);
        removed = true;
    });
    EXPECT_FALSE(WaitFor([&removed] { return removed.load(); }, std::chrono::milliseconds(50)));
    monitor_->Release();
    removal.join();
    EXPECT_FALSE(bp_->IsReadBusy());  // returned only once the read was over
    EXPECT_EQ(monitor_->CountOf("GDC"), 1);
    const struBpDeviceReadState read = bp_->GetReadState();
    EXPECT_EQ(read.userNo, 0);
    EXPECT_EQ(read.sourceNo, 0);
    EXPECT_EQ(read.recordCount, 0);
    EXPECT_TRUE(read.origData.empty());
    EXPECT_TRUE(read.readTime.empty());
    EXPECT_EQ(Count(PageCalls(), "DevDataLoad 1002"), 1);
}

TEST_F(BloodPressureWinTest, ARemovalStopsWaitingWhenTheProgramEnds) {
    HoldDownload();
    EXPECT_EQ(bp_->DevChangeProc(Source(), 1), 0);
    ASSERT_TRUE(DownloadHeld());
    g_nRunState = 4;
    EXPECT_EQ(bp_->DevChangeProc(Source(), 0), 0);
    g_nRunState = 1;
    EXPECT_TRUE(bp_->IsReadBusy());
}

TEST_F(BloodPressureWinTest, APageOpenedDuringADownloadHearsOfItOnceWhenLoaded) {
    HoldDownload();
    EXPECT_EQ(bp_->DevChangeProc(Source(), 1), 0);  // no window yet: nothing to post to
    ASSERT_TRUE(DownloadHeld());
    StartPage();  // the loaded page hears of the running download from the window itself
    EXPECT_EQ(PageCalls(), Calls{"DevDataLoad 1002"});
    EXPECT_TRUE(bp_->PostDevDataLoad(kSource));  // the download's own announcement, late
    EXPECT_EQ(PageCalls(), Calls{"DevDataLoad 1002"});
    monitor_->Release();
    ASSERT_TRUE(ReadEnded());
    EXPECT_EQ(PageCalls(), Calls{"DevDataLoad 1002"});

    // The next download is announced again.
    EXPECT_EQ(bp_->DevChangeProc(Source(), 1), 0);
    ASSERT_TRUE(ReadEnded());
    EXPECT_EQ(Count(PageCalls(), "DevDataLoad 1002"), 2);
}

TEST_F(BloodPressureWinTest, ASourceWithNeitherModuleNorModuleFileFailsInsteadOfRunningForEver) {
    Source()->interfaceName.clear();
    EXPECT_EQ(bp_->DevDataLoadProc(Source()), -1);
    EXPECT_EQ(Load(), L"2 初始化设备失败! -1 -1 -1");
    EXPECT_EQ(Outcome(), L"-1 设备数据处理失败。");

    Source()->interfaceName = L"absent.dll";
    EXPECT_EQ(bp_->ReadModuleOrigData(Source()), -1);
    EXPECT_EQ(Load(), L"2 初始化设备失败! -1 -1 -1");
    EXPECT_EQ(Outcome(), L"-1 初始化设备失败! ");

    EXPECT_EQ(bp_->DevDataLoadProc(nullptr), -4);
    EXPECT_EQ(Load(), L"2 系统错误 -1 -1 -1");
    EXPECT_EQ(Outcome(), L"-4 设备数据处理失败。");
}

TEST_F(BloodPressureWinTest, AFailingMonitorsCodeIsNegativeAndTheLastReadingsStay) {
    ASSERT_GT(bp_->DevDataLoadProc(Source()), 0);
    monitor_->SetFault("GDC", SimMonitorFault::Ng);
    EXPECT_EQ(bp_->DevDataLoadProc(Source()), -5);  // the library's 5, never a byte count
    EXPECT_EQ(Load(), L"2 读设备数据失败! -1 -1 -1");
    EXPECT_EQ(Outcome(), L"-5 设备数据处理失败。");
    EXPECT_EQ(bp_->GetDeviceBussData().count, 2);
    EXPECT_EQ(bp_->ReadModuleOrigData(Source()), -5);
    EXPECT_EQ(Outcome(), L"-5 读设备数据失败! ");
}

TEST_F(BloodPressureWinTest, TheStatusCallbackTakesTheModulesTextsIntoTheLoadStatus) {
    // "正在读取设备数据..." in the system code page, as the module sends it.
    const std::string message = text::ToAnsi(L"正在读取设备数据...");
    ASSERT_NE(message, text::ToUtf8(L"正在读取设备数据..."));
    CBloodPressureWin::BpDataProcStatusCallBack("1", message.c_str(), "120", "37", "45");
    EXPECT_EQ(Load(), L"1 正在读取设备数据... 120 37 45");
    CBloodPressureWin::BpDataProcStatusCallBack("3x", "", "a", nullptr, "100");
    EXPECT_EQ(Load(), L"3  0 0 100");

    CBloodPressureWin* window = g_pBloodPressure.exchange(nullptr);
    CBloodPressureWin::BpDataProcStatusCallBack("2", "late", "-1", "-1", "0");  // no window: dropped
    g_pBloodPressure = window;
    EXPECT_EQ(Load(), L"3  0 0 100");
}

}  // namespace
