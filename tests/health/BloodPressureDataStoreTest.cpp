// The statements that store a batch's readings, the page's demo readings, and the
// server's reply to one upload packet: what it stores and how each ending reads.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "BloodPressureFixture.h"
#include "LogReader.h"
#include "ReplyFields.h"

namespace {

class BloodPressureDataStoreTest : public BloodPressureTest {
protected:
    static struDeviceDataList_1002W Reading(const std::wstring& recTime, int systolic, int save, int packet) {
        struDeviceDataList_1002W r;
        r.recTime = recTime;
        r.recDate = 20240615;
        r.systolic = systolic;
        r.diastolic = 80;
        r.pulse = 66;
        r.bpKbn = 1;
        r.bpLevel = 2;
        r.save = save;
        r.packet = packet;
        r.valid = true;
        return r;
    }
    // A batch as a two-packet upload left it, its packets waiting for their replies.
    void SetBatch(std::vector<struDeviceDataList_1002W> readings, int packets = 2) {
        bp_->WithBussData([&](struBpDeviceBussData& buss) {
            buss = {};
            buss.userNo = userNo_;
            buss.sourceNo = kSource;
            buss.deviceID = L"BP-0001";
            buss.readTime = L"2024-06-15 09:00:00";
            buss.count = static_cast<int>(readings.size());
            buss.recordCount = buss.count;
            buss.packets = packets;
            buss.packetStates.assign(static_cast<std::size_t>(packets), BpPacketState::Waiting);
            buss.awaitedReplies = packets;
            buss.pDeviceDataList = std::move(readings);
        });
    }
    static std::wstring Reply(const std::wstring& code, const std::wstring& packet,
                              const std::wstring& sourceNo = L"1002") {
        return JoinFields({code, L"server says", L"0", sourceNo, L"BP-0001", L"0", packet, L"0", L"0"});
    }
    void ExpectEnding(int retCode, const std::wstring& message) {
        const struUploadState s = State();
        EXPECT_FALSE(s.busy);
        EXPECT_EQ(s.retCode, retCode);
        EXPECT_EQ(s.message, message);
    }
    std::wstring StoredTimes() {
        return FirstValue(L"select group_concat(recTime, ',') from (select recTime from tDeviceDataList_1002 order "
                          L"by recTime)");
    }
    void Busy() { bp_->m_uploadState.Set({true, 0, L"正在处理数据，请稍后..."}); }
    // The batch's download time as a text of this test's own, for the shared log.
    std::wstring UniqueReadTime() {
        const std::wstring readTime = L"upload of user " + std::to_wstring(userNo_);
        bp_->WithBussData([&](struBpDeviceBussData& buss) { buss.readTime = readTime; });
        return readTime;
    }
    std::wstring StoredReadings() {
        return FirstValue(L"select group_concat(r, ',') from (select deviceID || '/' || systolic as r from "
                          L"tDeviceDataList_1002 order by r)");
    }
};

TEST_F(BloodPressureDataStoreTest, PacketStatementsDeleteTheirTimesAndDemoRowsThenInsertKeptOnes) {
    std::vector<struDeviceDataList_1002W> readings{Reading(L"2024-06-15 08:00:00", 131, 1, 1),
                                                   Reading(L"2024-06-15 08:10:00", 132, 0, 1),
                                                   Reading(L"2024-06-15 08:20:00", 133, 1, 2)};
    readings[0].summary = L"it's";
    readings[0].note = L"n";
    SetBatch(readings);
    std::vector<std::wstring> list{L"earlier"};
    EXPECT_EQ(bp_->BpDataListSave_1002(&list, 1), 0);
    const std::vector<std::wstring> expected{
        L"earlier",
        L"delete from tDeviceDataList_1002 where recTime='2024-06-15 08:00:00' and systolic=131 and diastolic=80 and "
        L"pulse=66 and deviceID='BP-0001'",
        L"delete from tDeviceDataList_1002 where recTime='2024-06-15 08:10:00' and systolic=132 and diastolic=80 and "
        L"pulse=66 and deviceID='BP-0001'",
        L"delete from tDeviceDataList_1002 where deviceID='VirtualData' ",
        L"insert into tDeviceDataList_1002 (userNo, recTime, systolic, diastolic, pulse, msNumber,msCount, "
        L"msSetCount, memoFlag, moveFlag, fPulseFlag, bpKbn, serial, userKbn, outFlag, generatedTime, "
        L"deviceID,userID, summary, bpLevel, bpAssessNote, recDate, secondPassed, status, note) values(" +
            std::to_wstring(userNo_) +
            L",'2024-06-15 08:00:00',131,80,66,-1,-1,-1,-1,-1,-1,1,-1,-1,-1,'2024-06-15 09:00:00','BP-0001','',"
            L"'it''s',2,'',20240615,0,'','n')"};
    EXPECT_EQ(list, expected);

    std::vector<std::wstring> all;
    EXPECT_EQ(bp_->BpDataListSave_1002(&all, -1), 0);
    EXPECT_EQ(all.size(), 6u);  // three readings deleted, demo rows, two inserts
    std::vector<std::wstring> none;
    EXPECT_EQ(bp_->BpDataListSave_1002(&none, 3), 0);
    EXPECT_EQ(none, std::vector<std::wstring>{L"delete from tDeviceDataList_1002 where deviceID='VirtualData' "});
    EXPECT_EQ(bp_->BpDataListSave_1002(nullptr, 1), 0);
    SetBatch({});
    EXPECT_EQ(bp_->BpDataListSave_1002(&none, -1), 0);
    EXPECT_EQ(none.size(), 1u);
}

TEST_F(BloodPressureDataStoreTest, DemoReadingsAreStoredAtOnceAndReplaceEarlierDemoRows) {
    StartWindow();
    Exec(L"insert into tDeviceDataList_1002 (recTime, deviceID) values ('2000-01-01 00:00:00', 'VirtualData')");
    const uie::value readings = *uie::value::from_json(
        LR"([{"recTime":"2024-06-01 07:00:00","recDate":20240601,"systolic":125,"diastolic":82,"pulse":70,)"
        LR"("bpKbn":1,"bpLevel":2,"summary":"o'k","save":1,"memoFlag":3},)"
        LR"({"recTime":"2024-06-02 07:00:00","save":0}, 7])");
    EXPECT_EQ(bp_->GenVirtualData(1002, L"VirtualData", readings), 0);
    ExpectEnding(0, L"处理成功.");
    EXPECT_EQ(WindowCommands(), std::vector<std::wstring>{L"8090:1"});
    EXPECT_EQ(StoredTimes(), L"2024-06-01 07:00:00");
    EXPECT_EQ(Column(L"tDeviceDataList_1002", L"summary || '/' || memoFlag || '/' || msCount || '/' || deviceID"),
              L"o'k/3/-1/VirtualData");
    EXPECT_EQ(server_.RequestCount(), 0u);  // demo data is not uploaded
    const struBpDeviceBussData buss = bp_->GetDeviceBussData();
    EXPECT_EQ(buss.count, 2);  // the element that is no object is left out
    EXPECT_EQ(buss.userNo, userNo_);
    EXPECT_EQ(buss.readTime, L"2024-06-15 09:00:00");
    EXPECT_EQ(buss.pDeviceDataList[1].systolic, -1);
    EXPECT_EQ(bp_->GenVirtualData(1002, L"VirtualData", uie::value(5)), -1);

    Exec(L"drop table tDeviceDataList_1002");
    EXPECT_LT(bp_->GenVirtualData(1002, L"VirtualData", readings), 0);
    ExpectEnding(State().retCode, L"处理数据失败：ExecSQLSet。");
    EXPECT_LT(State().retCode, 0);
}

TEST_F(BloodPressureDataStoreTest, ReplyStoresItsPacketAndRegistersTheDevice) {
    StartWindow();
    Exec(L"insert into tDeviceDataList_1002 (recTime, systolic, diastolic, pulse, deviceID) values "
         L"('2024-06-15 08:10:00', 132, 80, 66, 'BP-0001')");
    SetBatch({Reading(L"2024-06-15 08:00:00", 131, 1, 1), Reading(L"2024-06-15 08:10:00", 132, 0, 1),
              Reading(L"2024-06-15 08:20:00", 133, 1, 2), Reading(L"2024-06-15 08:30:00", 190, 0, 2)});
    Busy();
    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", L"1")), 0);
    // The discarded reading's stored row is gone and it is not inserted again.
    EXPECT_EQ(StoredTimes(), L"2024-06-15 08:00:00");
    EXPECT_EQ(Column(L"tUserDevice", L"deviceID", L" where sourceNo=1002"), L"BP-0001");
    EXPECT_EQ(FirstValue(L"select count(*) from tAlertConfig where alertNo in (16,17,18) and status='1'"), L"3");
    EXPECT_TRUE(State().busy);  // one packet still to come
    EXPECT_TRUE(WindowCommands().empty());
    EXPECT_EQ(HistoryRows(L"systolicBloodPressure"), 0);

    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", L"2")), 0);
    ExpectEnding(0, L"处理成功.");
    EXPECT_EQ(StoredTimes(), L"2024-06-15 08:00:00,2024-06-15 08:20:00");
    EXPECT_EQ(WindowCommands(), std::vector<std::wstring>{L"8090:1"});
    // The last kept reading, not the discarded one after it, is the current value.
    EXPECT_EQ(Element(L"systolicBloodPressure").valueNo, 133);
    EXPECT_EQ(Element(L"diastolicBloodPressure").valueNo, 80);
    EXPECT_EQ(Element(L"quietPulse").valueNo, 66);
    EXPECT_EQ(Db(L"valueNo", L"systolicBloodPressure"), L"133");
    EXPECT_EQ(HistoryRows(L"systolicBloodPressure"), 1);
    EXPECT_EQ(Column(L"tUserDevice", L"useTimes", L" where sourceNo=1002"), L"2");
}

// A monitor without a clock dates every reading alike: the later packet must not delete
// what the earlier one stored, only the row an earlier upload left of the same reading.
TEST_F(BloodPressureDataStoreTest, ReadingsOfOneTimeInTwoPacketsAreAllStored) {
    StartWindow();
    const std::wstring now = L"2024-06-15 09:00:00";
    Exec(L"insert into tDeviceDataList_1002 (recTime, systolic, diastolic, pulse, deviceID) values ('" + now +
         L"', 133, 80, 66, 'BP-0001')");
    SetBatch({Reading(now, 131, 1, 1), Reading(now, 132, 1, 1), Reading(now, 133, 1, 2)});
    Busy();
    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", L"1")), 0);
    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", L"2")), 0);
    ExpectEnding(0, L"处理成功.");
    EXPECT_EQ(FirstValue(L"select group_concat(systolic) from (select systolic from tDeviceDataList_1002 order by "
                         L"systolic)"),
              L"131,132,133");
}

// A reply that comes again for a packet stored already (a server's repeat, or a late
// reply to an upload before) stores none of its readings a second time.
TEST_F(BloodPressureDataStoreTest, ASecondReplyToAStoredPacketStoresNothingMore) {
    StartWindow();
    const std::wstring now = L"2024-06-15 09:00:00";
    SetBatch({Reading(now, 131, 1, 1), Reading(now, 132, 1, 2)});
    Busy();
    for (const wchar_t* packet : {L"1", L"2", L"1"}) EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", packet)), 0);
    EXPECT_EQ(FirstValue(L"select group_concat(systolic) from (select systolic from tDeviceDataList_1002 order by "
                         L"systolic)"),
              L"131,132");
}

TEST_F(BloodPressureDataStoreTest, FailedRepliesEndTheUploadAndStoreNothing) {
    StartWindow();
    const auto batch = [this] {
        SetBatch({Reading(L"2024-06-15 08:00:00", 131, 1, 1), Reading(L"2024-06-15 08:20:00", 133, 1, 2)});
        Busy();
    };
    struct Case {
        std::wstring reply;
        int result;
        int retCode;
        std::wstring message;
    };
    const std::vector<Case> cases{
        {L"", 0, -1, L"通讯错误"},
        {Reply(L"-7", L"1"), 0, -7, L"server says"},
        {Reply(L"ok", L"1"), -1, -1, L"通讯错误"},   // no return code is no success
        {Reply(L"", L"1"), -1, -1, L"通讯错误"},
        {Reply(L"0", L"0"), -1, -1, L"通讯错误"},    // packet numbers run 1..packets
        {Reply(L"0", L"3"), -1, -1, L"通讯错误"},
        {Reply(L"0", L"-1"), -1, -1, L"通讯错误"},
        {Reply(L"0", L"x"), -1, -1, L"通讯错误"},
        {Reply(L"0", L"1", L"src"), -1, -1, L"通讯错误"},
        {JoinFields({L"0", L"ok"}), -1, -1, L"通讯错误"},
    };
    for (const Case& c : cases) {
        batch();
        EXPECT_EQ(bp_->BussDataProc_1002(c.reply), c.result) << text::ToUtf8(c.reply);
        ExpectEnding(c.retCode, c.message);
        EXPECT_EQ(bp_->GetDeviceBussData().replies, 0);
    }
    EXPECT_EQ(StoredRows(), 0);
    EXPECT_EQ(Column(L"tUserDevice", L"count(*)"), L"0");
    EXPECT_TRUE(WindowCommands().empty());

    // A stray packet number is logged (a number of this test's own: the log is shared).
    batch();
    const std::wstring stray = std::to_wstring(1000000 + userNo_);
    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", stray)), -1);
    EXPECT_EQ(CountLogLines(L"packet[" + stray + L"] of [2]"), 1);

    batch();
    g_pDeviceManager = nullptr;
    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", L"1")), -1);
    ExpectEnding(-1, L"设备注册处理失败!");
    g_pDeviceManager = &devices_;

    // A failed transaction keeps neither the readings nor the registration.
    batch();
    Exec(L"drop table tDeviceDataList_1002");
    const int failed = bp_->BussDataProc_1002(Reply(L"0", L"1"));
    EXPECT_LT(failed, 0);
    ExpectEnding(failed, L"处理数据失败：ExecSQLSet。");
    EXPECT_EQ(Column(L"tUserDevice", L"count(*)"), L"0");
    EXPECT_FALSE(devices_.GetUserDevice(1002).has_value());
    EXPECT_TRUE(WindowCommands().empty());
}

// Two measurements of one minute are two readings, and so is another monitor's of that
// time: a packet replaces only its own, such as when the monitor's newest 700 leave the
// older of the minute out.
TEST_F(BloodPressureDataStoreTest, APacketReplacesOnlyTheSameReadingsOfItsTimes) {
    StartWindow();
    const std::wstring minute = L"2024-06-15 08:00:00";
    for (const wchar_t* systolic : {L"131", L"128"})
        Exec(L"insert into tDeviceDataList_1002 (recTime, systolic, diastolic, pulse, deviceID) values ('" + minute +
             L"', " + systolic + L", 80, 66, 'BP-0001')");
    SetBatch({Reading(minute, 128, 1, 1)}, 1);
    Busy();
    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", L"1")), 0);
    EXPECT_EQ(StoredReadings(), L"BP-0001/128,BP-0001/131");

    SetBatch({Reading(minute, 131, 1, 1)}, 1);
    bp_->WithBussData([](struBpDeviceBussData& buss) { buss.deviceID = L"BP-0002"; });
    Busy();
    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", L"1")), 0);
    EXPECT_EQ(StoredReadings(), L"BP-0001/128,BP-0001/131,BP-0002/131");
}

// A reply naming another packet that waits is that packet's; its own then gets none, and
// once no reply is to come the upload ends and names it. An upload whose replies stay
// away ends when its time is up.
TEST_F(BloodPressureDataStoreTest, RepliesGoOnlyToWaitingPacketsAndAnUploadEndsWithoutThem) {
    StartWindow();
    SetBatch({Reading(L"2024-06-15 08:00:00", 131, 1, 1), Reading(L"2024-06-15 08:20:00", 132, 1, 2)});
    const std::wstring readTime = UniqueReadTime();
    Busy();
    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", L"2")), 0);  // packet 1's reply
    EXPECT_TRUE(State().busy);
    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", L"2")), 0);  // packet 2's own
    ExpectEnding(-1, L"通讯错误");
    EXPECT_EQ(StoredTimes(), L"2024-06-15 08:20:00");
    EXPECT_EQ(CountLogLines(L"packet[1] of [" + readTime + L"] not stored: no reply of its own"), 1);
    EXPECT_TRUE(WindowCommands().empty());

    std::atomic<DWORD> tick{0xFFFFF000u};  // the bound holds across the tick's wrap
    Hooks().tickCount = [&tick] { return tick.load(); };
    SetBatch({Reading(L"2024-06-15 08:40:00", 133, 1, 1)}, 1);
    UniqueReadTime();
    bp_->m_uploadState.Begin(L"正在处理数据，请稍后...", CBloodPressureWin::kReplyAllowanceMs);
    tick += CBloodPressureWin::kReplyAllowanceMs - 1;
    EXPECT_TRUE(State().busy);
    tick += 1;
    ExpectEnding(-1, L"通讯错误");
    EXPECT_EQ(CountLogLines(L"packet[1] of [" + readTime + L"] not stored: no reply in time"), 1);
    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", L"1")), 0);  // too late
    EXPECT_EQ(StoredTimes(), L"2024-06-15 08:20:00");
}

// The socket side gives up on a request (its reply lost, the requests queued behind it
// dropped) without saying which: every packet not stored is named, and the page told.
TEST_F(BloodPressureDataStoreTest, ARequestGivenUpNamesEveryPacketNotStored) {
    StartWindow();
    SetBatch({Reading(L"2024-06-15 08:00:00", 131, 1, 1), Reading(L"2024-06-15 08:20:00", 132, 1, 2),
              Reading(L"2024-06-15 08:40:00", 133, 1, 3)},
             3);
    const std::wstring readTime = UniqueReadTime();
    Busy();
    EXPECT_EQ(bp_->BussDataProc_1002(Reply(L"0", L"1")), 0);
    const std::wstring lost = L"请在网络通畅的情况下，使用设备管理功能。";
    for (int i = 0; i < 2; ++i) bp_->m_uploadState.Set({false, -1, lost});
    ExpectEnding(-1, lost);
    for (const wchar_t* packet : {L"2", L"3"})
        EXPECT_EQ(CountLogLines(L"packet[" + std::wstring(packet) + L"] of [" + readTime + L"] not stored"), 1);
    EXPECT_EQ(StoredTimes(), L"2024-06-15 08:00:00");
    EXPECT_TRUE(WindowCommands().empty());
}

}  // namespace
