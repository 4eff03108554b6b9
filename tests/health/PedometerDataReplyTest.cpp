// The pedometer's step target, its upload and the server's reply to it, and the device
// settings the reply may write.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "LogReader.h"
#include "PedometerFixture.h"
#include "ReplyFields.h"
#include "SimPedometer.h"
#include "WaitFor.h"
#include "stridex-4473/PedoBcd.h"

namespace {

// sex, birthday, height, weight, step length, then the target's 18 figures.
constexpr const wchar_t* kInfo =
    L"1|19800315|172|655|70|7|20240301|8000|-1|-1|30|20240301|20240307|56000|-1|-1|-1|7|14|0|-1|25|40|";
const std::vector<std::wstring> kRank{L"11", L"12", L"13", L"14", L"15", L"16",
                                      L"17", L"18", L"19", L"20", L"21", L"22"};

// A module that only takes device settings.
struct FakeOptionModule {
    static inline std::string lastOption;
    static std::int32_t SetOption(const char* option) {
        lastOption = option;
        return 0;
    }
};

class PedometerReplyTest : public PedometerTest {
protected:
    PedometerReplyTest() {
        FakeOptionModule::lastOption.clear();
        fake_.SetModuleDevOption = &FakeOptionModule::SetOption;
    }
    ~PedometerReplyTest() override { sources_.GetSourceType(kSource)->moduleInterface = nullptr; }

    void UseFakeModule() { sources_.GetSourceType(kSource)->moduleInterface = &fake_; }
    // A read of source 122 with today's 5230 steps and 45600 energy, converted.
    void ReadDevice() {
        SimPedometerValues values;
        values.referenceDuration = 3600;
        values.referenceEnergy = 91200;
        values.days[0] = {5230, 45600};
        values.days[3] = {800, 0};
        SimPedometer device;
        device.SetValues(values);
        pedometer_->WithData([&](struDeviceOrigData& orig, auto&, auto&, auto&) {
            orig = {userNo_, kSource, L"123456789A", L"123456789A", text::FromUtf8(device.RawText()),
                    L"2024-03-01 09:30:00", L""};
        });
        ASSERT_EQ(pedometer_->OrigDataToBussData(), 2);
    }
    static std::wstring Reply(const std::wstring& code, const std::wstring& sourceNo, const std::wstring& info,
                              const std::wstring& deviceID = L"123456789A") {
        std::vector<std::wstring> fields{code, L"ok", L"0", sourceNo, deviceID, L"0", info, L""};
        fields.insert(fields.end(), kRank.begin(), kRank.end());
        return JoinFields(fields);
    }
    struUploadState State() const { return pedometer_->m_uploadState.Get(); }
    std::wstring UserExp() {
        return FirstValue(L"select userSex || ',' || userBirthday || ',' || userHeight || ',' || userWeight from "
                          L"tUserExp");
    }
    std::wstring Device(int sourceNo) {
        return Column(L"tUserDevice", L"deviceID", L" where sourceNo=" + std::to_wstring(sourceNo));
    }
    int Count(const wchar_t* table) { return std::stoi(FirstValue(std::wstring(L"select count(*) from ") + table)); }
    static bool Has(const std::vector<std::wstring>& list, const std::wstring& entry) {
        return std::find(list.begin(), list.end(), entry) != list.end();
    }
    void SetTarget(int targetStep, int targetDistance, int targetEnergy, int dateDuration, int stepLong,
                   int weight) {
        pedometer_->WithData([&](auto&, auto&, struPedoDeviceValues& values, struPedoTarget& target) {
            target.targetStep = targetStep;
            target.targetDistance = targetDistance;
            target.targetEnergy = targetEnergy;
            target.dateDuration = dateDuration;
            target.targetDuration = 30;
            values.pedoStepLong = stepLong;
            values.pedoWeight = weight;
        });
    }

    struModuleInterface fake_;
};

TEST_F(PedometerReplyTest, TargetStartsAsStoredAndItsLeadPercentIsTheFirstPositive) {
    EXPECT_EQ(CPedometerWin::LeadPercentOf(struPedoTarget{}), -1);
    const struPedoTarget seeded = pedometer_->GetPedoTarget();
    EXPECT_EQ(seeded.targetStep, -1);
    EXPECT_EQ(seeded.periodDateDuration, 0);
    EXPECT_EQ(seeded.status, L"1");
    EXPECT_EQ(pedometer_->GetPeriodLeadPercent(), -1);

    Exec(L"update tPedoTarget set userNo=99, targetStep=9000, periodDatePercent=40, periodStepPercent=0, "
         L"periodDistancePercent=33, periodEnergyPercent=20, note='it''s'");
    EXPECT_TRUE(pedometer_->ReadPedoTargetFromDB());
    const struPedoTarget read = pedometer_->GetPedoTarget();
    EXPECT_EQ(read.userNo, 0);  // left as it was
    EXPECT_EQ(read.targetStep, 9000);
    EXPECT_EQ(read.note, L"it's");
    EXPECT_EQ(pedometer_->GetPeriodDatePercent(), 40);
    EXPECT_EQ(pedometer_->GetPeriodLeadPercent(), 33);

    Exec(L"drop table tPedoTarget");
    EXPECT_FALSE(pedometer_->ReadPedoTargetFromDB());
    EXPECT_EQ(pedometer_->GetPedoTarget().targetStep, 9000);
}

TEST_F(PedometerReplyTest, TargetAndUserStatementsAreExactAndRefuseShortInfo) {
    std::vector<std::wstring> list;
    struPedoInfoReply info;
    pedometer_->WithData([](auto&, struDeviceBussData& buss, auto&, auto&) { buss.userNo = 5; });
    EXPECT_EQ(pedometer_->BussDataProc_OrigData_Info_122(list, kInfo, info), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0],
              L"update tUserExp set userSex = '1', userBirthday = 19800315, userHeight = 172, userWeight = 655 ;");
    info.target.userID = L"u'1";
    EXPECT_EQ(pedometer_->PedoTargetSave(list, info.target), 0);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1],
              L"update tPedoTarget set userNo=5, dateDuration=7,     \tstartDate=20240301, targetStep=8000, targetDi"
              L"stance=-1, targetEnergy=-1,        targetDuration=30,periodStartDate=20240301,periodEndDate=20240307"
              L",periodStep=56000,        periodDistance=-1,periodEnergy=-1,periodDuration=-1 ,        periodDateDur"
              L"ation=7,periodDatePercent=14,periodStepPercent=0,        periodDistancePercent=-1,periodEnergyPercen"
              L"t=25,periodDurationPercent=40,        userID='u''1',status='1',note='';");
    ASSERT_EQ(db_.ExecSQLSet(list, true), 0);
    EXPECT_EQ(Column(L"tPedoTarget", L"userID"), L"u'1");

    // Twenty-two fields, or one that is not a number: nothing is appended.
    const std::wstring full = kInfo;
    for (const std::wstring& bad : {full.substr(0, full.size() - 3), std::wstring(L"1|19800315|"), std::wstring(),
                                    L"x" + full}) {
        std::vector<std::wstring> none;
        EXPECT_LT(pedometer_->BussDataProc_OrigData_Info_122(none, bad, info), 0) << text::ToUtf8(bad);
        EXPECT_TRUE(none.empty());
    }
}

TEST_F(PedometerReplyTest, UploadCarriesTheReadStateAndItsReplyIsStored) {
    StartWindow();
    ReadDevice();
    pedometer_->WithData([](struDeviceOrigData& orig, auto&, auto&, auto&) { orig.devOption = L"0|0|"; });
    server_.OnCommand(0x1170, [](const PacketRequest&) {
        return PacketReply::Fields({"0", "ok", "0", "122", "123456789A", "0", text::ToUtf8(kInfo), ""});
    });
    EXPECT_EQ(pedometer_->UploadOrigData(kSource), 0);
    ASSERT_TRUE(server_.WaitForRequests(1));
    const std::vector<std::string> fields = server_.Requests()[0].fields;
    ASSERT_EQ(fields.size(), 7u);
    EXPECT_EQ(fields[0], std::to_string(userNo_));
    EXPECT_EQ(fields[1], "122");
    EXPECT_EQ(fields[3], "123456789A");
    EXPECT_EQ(fields[4], "2024-03-01 09:30:00");
    EXPECT_EQ(fields[5].size(), 350u);
    EXPECT_EQ(fields[6], "0|0|");
    ASSERT_TRUE(WaitFor([this] { return State().message == L"处理成功."; }));
    EXPECT_EQ(Count(L"tDeviceDataList_122"), 2);
    EXPECT_EQ(Device(122), L"123456789A");
}

TEST_F(PedometerReplyTest, SuccessStoresUserTargetDaysAndElementsThenTellsBothPages) {
    StartWindow();
    WindowCommands();
    Posted();
    ReadDevice();
    EXPECT_EQ(pedometer_->BussDataProc_OrigData(Reply(L"0", L"122", kInfo)), 0);
    EXPECT_EQ(State().retCode, 0);
    EXPECT_EQ(State().message, L"处理成功.");
    EXPECT_FALSE(State().busy);
    EXPECT_TRUE(Has(Posted(), L"8022"));
    EXPECT_EQ(WindowCommands(), std::vector<std::wstring>{L"8081:1"});

    EXPECT_EQ(UserExp(), L"1,19800315,172,655");
    EXPECT_EQ(Device(122), L"123456789A");
    EXPECT_EQ(Column(L"tPedoTarget", L"targetStep"), L"8000");
    EXPECT_EQ(Column(L"tPedoTarget", L"userNo"), std::to_wstring(userNo_));
    EXPECT_EQ(FirstValue(L"select group_concat(recDate || ':' || step || ':' || duration, ' ') from "
                         L"(select * from tDeviceDataList_122 order by recDate)"),
              L"20240227:800:0 20240301:5230:1800");
    const std::vector<std::pair<const wchar_t*, int>> elements{
        {L"sex", 1},           {L"age", 19800315},           {L"height", 172},
        {L"weight", 655},      {L"pedoStepLength", 70},      {L"pedoNumberOfSteps", 5230},
        {L"pedoDistance", 3923}, {L"pedoCalorieExpenditure", 45600}, {L"pedoValidTime", 1800}};
    for (const auto& [id, valueNo] : elements) {
        EXPECT_EQ(Element(id).valueNo, valueNo) << text::ToUtf8(id);
        EXPECT_EQ(Db(L"valueNo", id), std::to_wstring(valueNo)) << text::ToUtf8(id);
    }

    const struPedoDeviceValues values = pedometer_->GetDeviceValues();
    EXPECT_EQ(values.pedoWeight, 655);
    EXPECT_EQ(values.pedoStepLong, 70);
    EXPECT_EQ(pedometer_->GetPedoTarget().targetStep, 8000);
    EXPECT_EQ(pedometer_->GetPeriodDatePercent(), 14);
    EXPECT_EQ(pedometer_->GetPeriodLeadPercent(), 25);
    const struPedoRank rank = pedometer_->GetPedoRank();
    EXPECT_EQ(std::vector<int>({rank.all_rank, rank.avg_rank, rank.diff_all_rank, rank.diff_avg_rankRate}),
              std::vector<int>({11, 15, 19, 22}));
}

TEST_F(PedometerReplyTest, FailedOrGarbledResultChangesNothing) {
    ReadDevice();
    for (const wchar_t* code : {L"-3", L"abc", L""}) {
        const std::wstring reply = JoinFields({code, L"服务忙", L"0", L"122", L"123456789A", L"0", kInfo});
        EXPECT_EQ(pedometer_->BussDataProc_OrigData(reply), 0);
        EXPECT_EQ(State().retCode, std::wstring(code) == L"-3" ? -3 : -1) << text::ToUtf8(code);
        EXPECT_EQ(State().message, L"服务忙");
    }
    EXPECT_EQ(Count(L"tUserDevice"), 0);
    EXPECT_EQ(Count(L"tDeviceDataList_122"), 0);
    EXPECT_EQ(Column(L"tPedoTarget", L"targetStep"), L"-1");
    EXPECT_EQ(pedometer_->GetPedoRank().all_rank, -1);
}

TEST_F(PedometerReplyTest, ASuccessCutShortOfTheUserTextChangesNothing) {
    ReadDevice();
    const std::vector<std::wstring> whole{L"0", L"ok", L"0", L"122", L"123456789A", L"0", kInfo};
    for (std::size_t sent = 4; sent < whole.size(); ++sent) {
        const std::wstring reply = JoinFields({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(sent)});
        EXPECT_EQ(pedometer_->BussDataProc_OrigData(reply), 0);
        EXPECT_EQ(State().retCode, -1) << sent;
    }
    EXPECT_EQ(Count(L"tUserDevice"), 0);
    EXPECT_EQ(Column(L"tPedoTarget", L"targetStep"), L"-1");
}

TEST_F(PedometerReplyTest, OtherPedometerRegistersAndSavesTheTargetButNoDaysOrElements) {
    StartWindow();
    WindowCommands();
    Posted();
    ReadDevice();
    SetTarget(6000, -1, -1, 1, 75, 650);
    EXPECT_EQ(pedometer_->BussDataProc_OrigData(Reply(L"0", L"120", kInfo, L"DEV'120")), 0);
    EXPECT_EQ(State().message, L"处理成功.");
    EXPECT_EQ(Device(120), L"DEV'120");
    EXPECT_EQ(Column(L"tPedoTarget", L"targetStep"), L"6000");
    EXPECT_EQ(Count(L"tDeviceDataList_122"), 0);
    EXPECT_EQ(UserExp(), L"0,0,0,0");
    EXPECT_EQ(Element(L"sex").valueNo, CHealthResources::kNoValue);
    EXPECT_EQ(Element(L"pedoNumberOfSteps").valueNo, CHealthResources::kNoValue);
    EXPECT_EQ(WindowCommands(), std::vector<std::wstring>{L"8081:1"});
}

TEST_F(PedometerReplyTest, ShortUserTextIsPassedOverAndTheRestStored) {
    ReadDevice();
    const int before = CountLogLines(L"BussDataProc_OrigData_Info_122:[1|19800315|]");
    EXPECT_EQ(pedometer_->BussDataProc_OrigData(Reply(L"0", L"122", L"1|19800315|")), 0);
    // At least: the log is shared with other test processes.
    EXPECT_EQ(CountLogLines(L"BussDataProc_OrigData_Info_122:[1|19800315|]") - before, 1);
    EXPECT_EQ(State().message, L"处理成功.");
    EXPECT_EQ(UserExp(), L"0,0,0,0");
    EXPECT_EQ(Column(L"tPedoTarget", L"targetStep"), L"-1");
    EXPECT_EQ(Element(L"age").valueNo, CHealthResources::kNoValue);
    EXPECT_EQ(Count(L"tDeviceDataList_122"), 2);
    EXPECT_EQ(pedometer_->GetDeviceValues().pedoStepLong, 75);  // the device's own
}

TEST_F(PedometerReplyTest, StoreOrRegistrationFailureIsReportedAndLeavesMemoryAsStored) {
    ReadDevice();
    Exec(L"drop table tDeviceDataList_122");
    EXPECT_LT(pedometer_->BussDataProc_OrigData(Reply(L"0", L"122", kInfo)), 0);
    EXPECT_EQ(State().retCode, 0);
    EXPECT_EQ(State().message, L"处理数据失败：ExecSQLSet。");
    EXPECT_EQ(Count(L"tUserDevice"), 0);
    EXPECT_FALSE(devices_.GetUserDevice(122).has_value());  // the map was read again
    EXPECT_EQ(UserExp(), L"0,0,0,0");
    EXPECT_EQ(pedometer_->GetPedoTarget().targetStep, -1);
    EXPECT_EQ(Element(L"weight").valueNo, CHealthResources::kNoValue);

    g_pDeviceManager = nullptr;
    EXPECT_EQ(pedometer_->BussDataProc_OrigData(Reply(L"0", L"122", kInfo)), -1);
    g_pDeviceManager = &devices_;
    EXPECT_EQ(State().retCode, -1);
    EXPECT_EQ(State().message, L"设备注册处理失败!");
}

TEST_F(PedometerReplyTest, DailyStepFigureFollowsTheFirstTargetThatIsSet) {
    EXPECT_EQ(pedometer_->SetDevOption_122(), -1);  // no module
    UseFakeModule();
    const struct {
        int step, distance, energy, days, stepLong, weight;
        const char* option;
    } cases[] = {
        {8000, 5000, 300, 0, 75, 650, "75|650|30|8000|"},
        {8000, -1, -1, 7, 75, 650, "75|650|30|1142|"},
        {-1, 5000, 300, 2, 75, 650, "75|650|30|333|"},
        {-1, 5000, -1, 2, 0, 650, "0|650|30|-1|"},
        {-1, -1, 300000, 1, 75, 650, "75|650|30|9230769|"},  // 300000 x 20000 passes 32 bits
        {-1, -1, 300, 0, 75, 650, "75|650|30|-1|"},
        {0, 0, 0, 0, 75, 650, "75|650|30|0|"},
    };
    for (const auto& c : cases) {
        SetTarget(c.step, c.distance, c.energy, c.days, c.stepLong, c.weight);
        EXPECT_EQ(pedometer_->SetDevOption_122(), 0);
        EXPECT_EQ(FakeOptionModule::lastOption, c.option);
    }
}

TEST_F(PedometerReplyTest, SettingsReachTheSimulatedPedometerInBothHalves) {
    const auto device = BindSimPedometer();
    ASSERT_NE(sources_.GetSourceType(kSource)->moduleInterface.load(), nullptr);
    ReadDevice();
    pedometer_->SetResponseType(1);
    EXPECT_EQ(pedometer_->BussDataProc_OrigData(Reply(L"0", L"122", kInfo)), 0);
    EXPECT_EQ(State().message, L"处理成功.");
    const auto settings = device->LastSettings();
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(pedo::RawStepLength(settings->data()), 70);
    EXPECT_EQ(pedo::RawWeight(settings->data()), 66);  // kilograms, rounded by the module

    // The raw data is read now: the next write is two requests, and the second is refused.
    const std::size_t sent = device->Requests().size();
    device->FaultAt(sent + 1, SimFault::WrongCode, '0');
    EXPECT_LT(pedometer_->BussDataProc_OrigData(Reply(L"0", L"122", kInfo)), 0);
    EXPECT_EQ(State().message, L"处理失败：拔插设备后重新再试。");
    EXPECT_EQ(device->Requests().size(), sent + 2);
}

}  // namespace
