#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeUsbTree.h"
#include "HealthElementSourceType.h"
#include "Hooks.h"
#include "LogReader.h"
#include "RecordsFixture.h"
#include "deviceManager.h"
#include "pedometerWin.h"

namespace {

class DeviceManagerTest : public RecordsTest {
protected:
    DeviceManagerTest() : usb_(dir_ / "sys") {
        comm_->m_nUserNo = 4321;
        Hooks().sysfsRoot = usb_.Root();
        Hooks().localTime = [this](SYSTEMTIME& st) { st = now_; };
        g_pHealthElementSourceType = &sources_;
        g_pDeviceManager = &devices_;
        sources_.LoadFromDB();
        devices_.LoadFromDB();
    }
    ~DeviceManagerTest() override {
        g_pDeviceManager = nullptr;
        g_pHealthElementSourceType = nullptr;
    }
    std::wstring Alerts() {
        std::wstring out;
        for (const wchar_t* table : {L"tAlertConfig", L"tAlertConfigDetail", L"tAlertConfigItem"})
            out += FirstValue(std::wstring(L"select group_concat(status, '') from ") + table +
                              L" where alertNo in (16, 17, 18)");
        return out;
    }
    std::wstring Device(const wchar_t* column, int sourceNo) {
        return Column(L"tUserDevice", column, L" where sourceNo=" + std::to_wstring(sourceNo));
    }

    HookScope hooks_;
    FakeUsbTree usb_;
    SYSTEMTIME now_{2024, 6, 0, 15, 9, 30, 5, 0};
    CHealthElementSourceType sources_;
    CDeviceManager devices_;
};

TEST_F(DeviceManagerTest, MonitorRegistersOnceWithItsRemindersThenCountsUses) {
    ASSERT_EQ(Alerts(), L"000000000");
    EXPECT_EQ(devices_.UserDeviceProc(nullptr, 1002, L"BP'01"), 0);
    EXPECT_EQ(FirstValue(L"select count(*) from tUserDevice"), L"1");
    EXPECT_EQ(Device(L"deviceID", 1002), L"BP'01");  // stored as sent
    EXPECT_EQ(Device(L"regTime", 1002), L"2024-06-15 09:30:05");
    EXPECT_EQ(Device(L"useTimes", 1002), L"1");
    EXPECT_EQ(Device(L"userNo", 1002), L"4321");
    EXPECT_EQ(Alerts(), L"111111111");

    now_.wDay = 16;
    EXPECT_EQ(devices_.UserDeviceProc(nullptr, 1002, L"BP02"), 0);
    EXPECT_EQ(FirstValue(L"select count(*) from tUserDevice"), L"1");
    EXPECT_EQ(Device(L"useTimes", 1002), L"2");
    EXPECT_EQ(Device(L"regTime", 1002), L"2024-06-15 09:30:05");
    EXPECT_EQ(Device(L"lastUseTime", 1002), L"2024-06-16 09:30:05");
    std::wstring id;
    EXPECT_EQ(devices_.GetRegDeviceID(1002, id), 0);
    EXPECT_EQ(id, L"BP02");
}

TEST_F(DeviceManagerTest, RegistrationAndRemindersShareOneTransaction) {
    Exec(L"drop table tAlertConfigItem");
    EXPECT_NE(devices_.UserDeviceProc(nullptr, 1002, L"BP01"), 0);
    EXPECT_EQ(FirstValue(L"select count(*) from tUserDevice"), L"0");
    EXPECT_EQ(FirstValue(L"select group_concat(status, '') from tAlertConfig where alertNo in (16, 17, 18)"), L"000");
    EXPECT_FALSE(devices_.GetUserDevice(1002).has_value());  // the next try inserts again
}

TEST_F(DeviceManagerTest, PedometerEnablesNoRemindersAndACallersListDecides) {
    std::vector<std::wstring> list;
    EXPECT_EQ(devices_.UserDeviceProc(&list, 122, L"0A1B2C3D4E"), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].find(L"insert into tUserDevice"), 0u);
    EXPECT_TRUE(devices_.HasPedometer());

    // The caller's transaction fails: after the reload the device is unknown again.
    list.push_back(L"insert into tNoSuchTable values (1)");
    EXPECT_NE(db_.ExecSQLSet(list, true), 0);
    EXPECT_EQ(devices_.ReadUserDeviceFromDB(), 0);
    EXPECT_FALSE(devices_.GetUserDevice(122).has_value());
    std::wstring id = L"kept";
    EXPECT_EQ(devices_.GetRegDeviceID(122, id), -1);
    EXPECT_EQ(id, L"kept");
    EXPECT_EQ(Alerts(), L"000000000");
}

TEST_F(DeviceManagerTest, AReloadThatCannotReadKeepsTheDevicesItKnew) {
    ASSERT_EQ(devices_.UserDeviceProc(nullptr, 122, L"0A1B2C3D4E"), 0);
    ASSERT_EQ(devices_.ReadUserDeviceFromDB(), 1);
    Exec(L"alter table tUserDevice rename to tUserDeviceAway");
    EXPECT_EQ(devices_.ReadUserDeviceFromDB(), 1);
    Exec(L"alter table tUserDeviceAway rename to tUserDevice");
    EXPECT_TRUE(devices_.HasPedometer());
    // The next reply of the device updates its row: an insert would be refused.
    std::vector<std::wstring> list;
    EXPECT_EQ(devices_.UserDeviceProc(&list, 122, L"0A1B2C3D4E"), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].find(L"update tUserDevice"), 0u);
}

TEST_F(DeviceManagerTest, AStatementThatDoesNotFitIsAFailure) {
    std::vector<std::wstring> list;
    EXPECT_EQ(devices_.UserDeviceProc(&list, 1002, std::wstring(600, L'x')), -1);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(devices_.GetUserDevice(1002).has_value());
}

TEST_F(DeviceManagerTest, LastDeviceIsPresentElseLastUsedElseTheDefault) {
    EXPECT_EQ(devices_.GetLastDeviceSourceNo(120), 122);
    EXPECT_EQ(devices_.GetLastDeviceSourceNo(1000), 1002);
    EXPECT_EQ(devices_.GetLastDeviceSourceNo(1002), 1002);
    EXPECT_EQ(devices_.GetLastDeviceSourceNo(5), -1);
    EXPECT_EQ(devices_.GetLastDeviceSourceNo(0), -1);

    Exec(L"insert into tUserDevice(userNo,sourceNo,lastUseTime,useTimes,deviceID) values"
         L"(4321,123,'2024-06-10 08:00:00',1,'a'),(4321,125,'2024-06-12 08:00:00',1,'b'),"
         L"(4321,126,'2024-06-12 08:00:00',1,'c'),(4321,1005,'2024-06-01 08:00:00',1,'d')");
    devices_.ReadUserDeviceFromDB();
    EXPECT_EQ(devices_.GetLastDeviceSourceNo(120), 125);  // the later use, the lower on a tie
    EXPECT_EQ(devices_.GetLastDeviceSourceNo(1000), 1005);
    usb_.AddDevice("1-1", "0c45", "70c1", "p1", {"usbhid"});
    EXPECT_EQ(devices_.GetLastDeviceSourceNo(120), 122);  // plugged in wins
}

TEST_F(DeviceManagerTest, PresentMeansAUsbInstanceWithBothIds) {
    usb_.AddDevice("1-2", "1234", "5678", "x", {"usbhid"});
    EXPECT_EQ(devices_.IsUsbDevicePresent(0x1234, 0x5678), 1);
    EXPECT_EQ(devices_.IsUsbDevicePresent(0x1234, 0x5679), 0);
    EXPECT_TRUE(CDeviceManager::IsUsbInstanceOf(L"USB\\VID_1234&PID_5678\\x", 0x1234, 0x5678));
    EXPECT_FALSE(CDeviceManager::IsUsbInstanceOf(L"HID\\VID_1234&PID_5678\\x", 0x1234, 0x5678));
    EXPECT_FALSE(CDeviceManager::IsUsbInstanceOf(L"USBSTOR\\DISK&VEN_1234", 0x1234, 0x5678));
    Hooks().sysfsRoot = dir_ / "none";
    EXPECT_EQ(devices_.IsUsbDevicePresent(0x1234, 0x5678), -1);
}

TEST_F(DeviceManagerTest, PagesAskThroughTheScriptObject) {
    namespace test = uie::test;
    ASSERT_EQ(devices_.RegisterScriptObject(vm_), 1);
    EXPECT_EQ(test::CallNative(vm_, "deviceManager", "GetLastDeviceSourceNo", {uie::value(120)}).result,
              uie::value(122));
    const test::CallResult wrong = test::CallNative(vm_, "deviceManager", "GetLastDeviceSourceNo", {uie::value(L"x")});
    EXPECT_EQ(wrong.result, uie::value(-1));
    EXPECT_FALSE(wrong.ok);
    EXPECT_EQ(test::GetProperty(vm_, "deviceManager", "updateUserDevice_State").result, uie::value(false));
    EXPECT_EQ(test::GetProperty(vm_, "deviceManager", "updateUserDevice_RetCode").result, uie::value(-1));
    EXPECT_EQ(test::GetProperty(vm_, "deviceManager", "updateUserDevice_RetMsg").result, uie::value(L""));
}

class ReplyPedometer : public CPedometerWin {
public:
    int BussDataProc_OrigData(const std::wstring& reply) override {
        replies.push_back(reply);
        return 122;
    }
    std::vector<std::wstring> replies;
};

TEST_F(DeviceManagerTest, UploadRepliesGoToTheirDevicesWindow) {
    const auto reply = [](const wchar_t* source) { return JoinFields({L"0", L"ok", L"1", source, L"x"}); };
    EXPECT_EQ(devices_.BussDataProc(reply(L"122")), 0);  // no window yet
    ReplyPedometer pedometer;
    g_pPedometer = &pedometer;
    EXPECT_EQ(devices_.BussDataProc(reply(L"122")), 122);
    EXPECT_EQ(devices_.BussDataProc(reply(L"1002")), 0);
    EXPECT_EQ(devices_.BussDataProc(reply(L"abc")), 0);
    g_pPedometer = nullptr;
    EXPECT_EQ(pedometer.replies, std::vector<std::wstring>{reply(L"122")});
}

}  // namespace
