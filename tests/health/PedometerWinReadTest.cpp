#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PedometerWinFixture.h"
#include "Quorvix.h"

namespace {

using Calls = std::vector<std::string>;

constexpr const wchar_t* kUnchanged = L"0|0|0|0|0|0|0|0|0|0|0|0|0|";

class PedometerReadTest : public PedometerWinTest {
protected:
    PedometerReadTest() {
        SimPedometerValues values;
        values.days[0] = {5230, 45600};
        values.days[30] = {100, 0};
        values.referenceDuration = 3600;
        values.referenceEnergy = 91200;
        device_->SetValues(values);
    }
    // One arrival and the whole read it starts.
    void Arrive() {
        EXPECT_EQ(pedometer_->DevChangeProc(Source(), 1), 0);
        EXPECT_TRUE(ReadEnded());
    }
    // A device read's end shown to the page: "code message".
    std::wstring Outcome() const {
        const struUploadState s = State();
        EXPECT_FALSE(s.busy);
        return std::to_wstring(s.retCode) + L" " + s.message;
    }
    bool SettingsAsked(std::uint64_t after) {
        const Calls calls = PageCalls(after);
        return std::find(calls.begin(), calls.end(), "OpenSettingsWin 1") != calls.end();
    }
};

TEST_F(PedometerReadTest, AnArrivalReadsTheDeviceThroughItsModuleAndUploadsTheRawText) {
    StartPage();
    ASSERT_EQ(Source()->moduleInterface.load(), nullptr);
    Arrive();
    EXPECT_NE(Source()->moduleInterface.load(), nullptr);  // bound on the first read
    EXPECT_EQ(device_->Requests().size(), 36u);            // the ID and 35 blocks, once
    ASSERT_TRUE(server_.WaitForRequests(1));
    const std::vector<std::string> upload = Uploads().at(0);
    ASSERT_EQ(upload.size(), 7u);
    EXPECT_EQ(upload[0], std::to_string(userNo_));
    EXPECT_EQ(upload[1], "122");
    EXPECT_EQ(upload[2], kDeviceID);
    EXPECT_EQ(upload[3], kDeviceID);
    EXPECT_EQ(upload[4], "2024-03-01 09:30:00");
    EXPECT_EQ(upload[5], device_->RawText());
    EXPECT_EQ(upload[6], text::ToUtf8(kUnchanged));
    EXPECT_EQ(pedometer_->GetResponseType(), 0);
    const Calls calls = PageCalls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "DeviceData"), calls.end());
    EXPECT_EQ(pedometer_->GetDeviceBussData().recordCount, 2);  // today and day 30, converted
}

TEST_F(PedometerReadTest, ASecondArrivalDuringAReadStartsNoneAndARemovalWaitsForTheReadToEnd) {
    StartPage();
    ASSERT_GE(resources_.InitModuleInterface(Source()), 0);
    std::unique_lock held(Source()->moduleInterface.load()->callLock);  // the read waits at the module
    EXPECT_EQ(pedometer_->DevChangeProc(Source(), 1), 0);
    EXPECT_TRUE(pedometer_->IsReadBusy());
    EXPECT_EQ(pedometer_->DevChangeProc(Source(), 1), 0);

    std::atomic<bool> removed{false};
    std::thread removal([this, &removed] {
        pedometer_->DevChangeProc(Source(), 0);
        removed = true;
    });
    EXPECT_FALSE(WaitFor([&removed] { return removed.load(); }, std::chrono::milliseconds(50)));
    held.unlock();
    removal.join();
    EXPECT_FALSE(pedometer_->IsReadBusy());  // returned only once the read was over
    EXPECT_EQ(device_->Requests().size(), 36u);
    const struDeviceOrigData state = pedometer_->GetDeviceOrigData();
    EXPECT_EQ(state.userNo, 0);
    EXPECT_EQ(state.sourceNo, 0);
    EXPECT_TRUE(state.deviceID.empty());
    EXPECT_TRUE(state.origData.empty());
    EXPECT_TRUE(state.readTime.empty());
}

TEST_F(PedometerReadTest, ARemovalStopsWaitingWhenTheProgramEnds) {
    ASSERT_GE(resources_.InitModuleInterface(Source()), 0);
    {
        std::lock_guard held(Source()->moduleInterface.load()->callLock);
        EXPECT_EQ(pedometer_->DevChangeProc(Source(), 1), 0);
        g_nRunState = 4;
        EXPECT_EQ(pedometer_->DevChangeProc(Source(), 0), 0);
        g_nRunState = 1;
        EXPECT_TRUE(pedometer_->IsReadBusy());
    }
    EXPECT_TRUE(WaitFor([this] { return !pedometer_->IsReadBusy(); }));
}

TEST_F(PedometerReadTest, WithTheSettingsPanelOpenTheRawTextIsKeptAndNothingUploaded) {
    StartPage();
    pedometer_->SetSettingWinState(1);
    Arrive();
    EXPECT_EQ(Outcome(), L"0 ");
    EXPECT_EQ(pedometer_->GetDeviceOrigData().origData, text::FromUtf8(device_->RawText()));

    pedometer_->SetSettingWinState(0);
    Arrive();  // the control: this one uploads
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_FALSE(server_.WaitForRequests(2, std::chrono::milliseconds(50)));
}

TEST_F(PedometerReadTest, ADeviceThatDiffersFromTheUsersOpensTheSettingsInsteadOfUploading) {
    StartPage();
    struct Case {
        const char* what;
        int weight;
        int stepLength;
        bool uploads;
    };
    const Case cases[] = {
        {"weight 1.0 kg lower", kWeight - 10, kStepLength, false},
        {"weight 0.9 kg higher", kWeight + 9, kStepLength, true},
        {"metric step length 1 cm off", kWeight, kStepLength + 1, false},
        {"no weight at all", CHealthResources::kNoValue, kStepLength, false},
    };
    std::size_t uploads = 0;
    for (const Case& c : cases) {
        Change(L"weight", [&c](struHealthElementW& e) { e.valueNo = c.weight; });
        Change(L"pedoStepLength", [&c](struHealthElementW& e) { e.valueNo = c.stepLength; });
        const std::uint64_t after = uie::test::PageHost::LastSeq();
        Arrive();
        EXPECT_EQ(SettingsAsked(after), !c.uploads) << c.what;
        if (!c.uploads) {
            EXPECT_EQ(Outcome(), L"0 ") << c.what;
        }
        uploads += c.uploads ? 1 : 0;
    }
    ASSERT_TRUE(server_.WaitForRequests(uploads));
    EXPECT_EQ(Uploads().size(), uploads);

    // Another device than the registered one.
    Change(L"weight", [](struHealthElementW& e) { e.valueNo = kWeight; });
    Change(L"pedoStepLength", [](struHealthElementW& e) { e.valueNo = kStepLength; });
    EXPECT_EQ(devices_.UserDeviceProc(nullptr, kSource, L"0000000001"), 0);
    const std::uint64_t after = uie::test::PageHost::LastSeq();
    Arrive();
    EXPECT_TRUE(SettingsAsked(after));
    EXPECT_EQ(pedometer_->GetDeviceOrigData().regDeviceID, L"0000000001");
}

TEST_F(PedometerReadTest, AnImperialStepLengthMayBeOneCentimetreOff) {
    StartPage();
    SimPedometerValues values = device_->Values();
    values.metric = false;
    values.stepLengthCm = 30;  // inches: 76 cm
    values.weightKg = 143;     // pounds: 649 tenths of a kilogram
    device_->SetValues(values);
    for (const int stepLength : {77, 75, 78}) {
        Change(L"pedoStepLength", [stepLength](struHealthElementW& e) { e.valueNo = stepLength; });
        const std::uint64_t after = uie::test::PageHost::LastSeq();
        Arrive();
        EXPECT_EQ(SettingsAsked(after), stepLength == 78) << stepLength;
    }
    EXPECT_EQ(pedometer_->GetDeviceValues().pedoStepLong, 76);
    ASSERT_TRUE(server_.WaitForRequests(2));
}

TEST_F(PedometerReadTest, ReadFailuresTellThePageWhyAndUploadNothing) {
    StartPage();
    EXPECT_EQ(pedometer_->ReadModuleOrigData(nullptr), -4);
    EXPECT_EQ(Outcome(), L"0 读取设备失败! ");

    device_->SetPlugged(false);
    EXPECT_EQ(pedometer_->ReadModuleOrigData(Source()), -3);
    EXPECT_EQ(Outcome(), L"-3 读取设备数据失败，请重新拔插设备再试。");
    Arrive();  // the device read tells the page its own text
    EXPECT_EQ(Outcome(), L"-3 设备数据处理失败。");
    EXPECT_TRUE(pedometer_->GetDeviceOrigData().origData.empty());
    device_->SetPlugged(true);
    device_->FaultAt(device_->Requests().size() + 10, SimFault::Unplug);  // pulled out at block 9
    EXPECT_EQ(pedometer_->ReadModuleOrigData(Source()), -4);
    EXPECT_EQ(Outcome(), L"-4 读取设备数据失败，请重新拔插设备再试。");
    EXPECT_TRUE(pedometer_->GetDeviceOrigData().origData.empty());  // nothing of it kept
    EXPECT_EQ(pedometer_->GetDeviceBussData().recordCount, 0);

    Source()->moduleInterface = nullptr;  // as before any binding, with a module file that is not there
    Source()->interfaceName = L"missing-4473.dll";
    EXPECT_EQ(pedometer_->ReadModuleOrigData(Source()), -1);
    EXPECT_EQ(Outcome(), L"-1 加载设备接口或初始化设备失败。");
    EXPECT_EQ(Source()->moduleInterface.load(), nullptr);

    Source()->interfaceName.clear();  // no module and nothing to bind
    EXPECT_EQ(pedometer_->ReadModuleOrigData(Source()), 0);
    EXPECT_EQ(Outcome(), L"0 设备数据处理失败。");
    EXPECT_FALSE(server_.WaitForRequests(1, std::chrono::milliseconds(50)));
}

// A module whose answers the test sets, for what the simulated device cannot do.
struct FakeModule {
    static inline int readResult = 0;
    static inline int idLength = 0;
    static inline int rawLength = 0;
    static inline const char* idText = "";
    static inline const char* rawText = "";

    FakeModule() {
        module.ReadModuleOrigData = [] { return readResult; };
        module.GetModuleID = [](char** out) {
            *out = const_cast<char*>(idText);
            return idLength;
        };
        module.GetModuleOrigData = [](char** out) {
            *out = const_cast<char*>(rawText);
            return rawLength;
        };
    }
    struModuleInterface module;
};

TEST_F(PedometerReadTest, ModuleTextsAreCopiedByTheirLengthAndAnEmptyRawTextIsAFailure) {
    StartPage();
    FakeModule fake;
    Source()->moduleInterface = &fake.module;
    FakeModule::readResult = 0;
    FakeModule::idText = "ABCDEFGHIJKLMNOP";  // longer than it says
    FakeModule::idLength = 10;
    FakeModule::rawText = "0123";
    FakeModule::rawLength = 0;
    Arrive();
    EXPECT_EQ(Outcome(), L"0 设备数据处理失败。");
    EXPECT_EQ(pedometer_->GetDeviceOrigData().deviceID, L"ABCDEFGHIJ");
    EXPECT_TRUE(pedometer_->GetDeviceOrigData().origData.empty());
    EXPECT_FALSE(server_.WaitForRequests(1, std::chrono::milliseconds(50)));

    FakeModule::rawLength = 1 << 30;  // past its end: the text stops at its NUL
    FakeModule::idLength = -2;        // no ID: the last one stays
    EXPECT_EQ(pedometer_->ReadModuleOrigData(Source()), 1 << 30);
    EXPECT_EQ(pedometer_->GetDeviceOrigData().origData, L"0123");
    EXPECT_EQ(pedometer_->GetDeviceOrigData().deviceID, L"ABCDEFGHIJ");
    Source()->moduleInterface = nullptr;
}

class PedometerSettingsTest : public PedometerReadTest {
protected:
    static uie::value Settings(const wchar_t* responseType) {
        uie::value s = uie::value::make_map();
        s.set_item(uie::value(L"responseType"), uie::value(responseType));
        s.set_item(uie::value(L"sex"), uie::value(L"1"));
        const std::pair<const wchar_t*, int> numbers[] = {{L"age", 30},          {L"height", 175},
                                                          {L"weight", 650},      {L"pedoStepLength", 75},
                                                          {L"dateDuration", 0},  {L"startDate", 20240301},
                                                          {L"targetStep", 8000}, {L"targetDuration", 60}};
        for (const auto& [key, number] : numbers) s.set_item(uie::value(key), uie::value(number));
        return s;  // no distance or energy target
    }
};

TEST_F(PedometerSettingsTest, TheSettingsGoUpWithTheRawTextReadFirstWhenThereIsNone) {
    StartPage();
    Pump();
    const std::uint64_t after = uie::test::PageHost::LastSeq();
    EXPECT_EQ(pedometer_->PedoSettingsProc(Settings(L"1")), 0);
    EXPECT_FALSE(pedometer_->IsReadBusy());
    EXPECT_EQ(device_->Requests().size(), 36u);
    EXPECT_EQ(pedometer_->GetResponseType(), 1);
    EXPECT_EQ(PageCalls(after), Calls{"DeviceData"});
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(Uploads().at(0).at(6), "1|1|30|175|650|75|1|0|20240301|8000|-1|-1|60|");
    EXPECT_EQ(Uploads().at(0).at(5), device_->RawText());

    EXPECT_EQ(pedometer_->PedoSettingsProc(Settings(L"0")), 0);  // the raw text is there: no read
    EXPECT_EQ(device_->Requests().size(), 36u);
    EXPECT_EQ(pedometer_->GetResponseType(), 0);
    ASSERT_TRUE(server_.WaitForRequests(2));
    EXPECT_EQ(Uploads().at(1).at(6), text::ToUtf8(kUnchanged));
}

TEST_F(PedometerSettingsTest, ARequestIsRefusedWithoutItsSourceItsDeviceOrItsReadOrWhileAReadRuns) {
    StartPage();
    Change(L"pedoNumberOfSteps", [](struHealthElementW& e) { e.sourceNo = 1002; });
    EXPECT_EQ(pedometer_->PedoSettingsProc(Settings(L"1")), -3);
    Change(L"pedoNumberOfSteps", [](struHealthElementW& e) { e.sourceNo = 125; });
    EXPECT_EQ(pedometer_->PedoSettingsProc(Settings(L"1")), -2);
    Change(L"pedoNumberOfSteps", [](struHealthElementW& e) { e.sourceNo = kSource; });

    ASSERT_GE(resources_.InitModuleInterface(Source()), 0);
    {
        std::lock_guard held(Source()->moduleInterface.load()->callLock);
        EXPECT_EQ(pedometer_->DevChangeProc(Source(), 1), 0);
        EXPECT_EQ(pedometer_->PedoSettingsProc(Settings(L"1")), -3);
    }
    EXPECT_TRUE(ReadEnded());

    EXPECT_EQ(pedometer_->DevChangeProc(Source(), 0), 0);  // gone: no raw text left
    device_->SetPlugged(false);                            // still listed, but it answers nothing
    EXPECT_EQ(pedometer_->PedoSettingsProc(Settings(L"1")), -4);
    EXPECT_FALSE(pedometer_->IsReadBusy());
    usb_.RemoveDevice("1-1");
    EXPECT_EQ(pedometer_->PedoSettingsProc(Settings(L"1")), -4);
    EXPECT_FALSE(pedometer_->IsReadBusy());
}

}  // namespace
