// Readings uploaded in packets to the loopback server, the replies to them, manual entry
// and the page's choice of device readings.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "BloodPressureFixture.h"
#include "WaitFor.h"

namespace {

// Request fields of the upload: userNo, sourceNo, regDeviceID, deviceID, readTime,
// packetNo, recordCount, keptCount, keptData, discardedCount, discardedData, note, "".
enum Field {
    kSourceNo = 1,
    kDeviceID = 3,
    kPacketNo = 5,
    kRecordCount,
    kKeptCount,
    kKept,
    kDiscardedCount,
    kDiscarded,
};

class BloodPressureDataUploadTest : public BloodPressureTest {
protected:
    BloodPressureDataUploadTest() {
        // A held reply must not outlast the client's wait, however busy the machine.
        comm_->SetServer(L"127.0.0.1", server_.PortText(), 1, 5000);
        // Every reply echoes its packet; the one to request number holdAt_ waits for release_.
        server_.OnCommand(0x1171, [this](const PacketRequest& r) {
            if (++answered_ == holdAt_) WaitFor([this] { return release_.load(); }, std::chrono::milliseconds(4000));
            return PacketReply::Fields({"0", "ok", "0", r.fields.at(kSourceNo), r.fields.at(kDeviceID), "0",
                                        r.fields.at(kPacketNo), "0", "0"});
        });
    }
    ~BloodPressureDataUploadTest() override { release_ = true; }

    static std::wstring Manual(const std::wstring& recTime, int systolic, int save, const std::wstring& summary = L"") {
        return L"{\"recTime\":\"" + recTime + L"\",\"systolic\":" + std::to_wstring(systolic) +
               L",\"diastolic\":80,\"pulse\":66,\"bpKbn\":1,\"bpLevel\":2,\"save\":" + std::to_wstring(save) +
               L",\"summary\":\"" + summary + L"\"}";
    }
    static uie::value Array(const std::vector<std::wstring>& items) {
        std::wstring json = L"[";
        for (const std::wstring& item : items) json += (json.size() > 1 ? L"," : L"") + item;
        return *uie::value::from_json(json + L"]");
    }
    std::vector<int> PacketTags() {
        std::vector<int> tags;
        for (const struDeviceDataList_1002W& r : bp_->GetDeviceBussData().pDeviceDataList) tags.push_back(r.packet);
        return tags;
    }
    bool Ended() { return WaitFor([this] { return !State().busy; }); }
    // The upload's requests; the element values that follow it go out as requests too.
    std::vector<PacketRequest> Uploads() const {
        std::vector<PacketRequest> out;
        for (PacketRequest& r : server_.Requests()) {
            if (r.commandId == 0x1171) out.push_back(std::move(r));
        }
        return out;
    }

    std::atomic<int> answered_{0};
    std::atomic<int> holdAt_{-1};
    std::atomic<bool> release_{false};
};

TEST_F(BloodPressureDataUploadTest, NothingToSendEndsAtOnce) {
    EXPECT_EQ(bp_->BpDataUpload(), 0);
    EXPECT_FALSE(State().busy);
    EXPECT_EQ(State().retCode, 0);
    EXPECT_EQ(State().message, L"处理成功.");
    // Readings with neither save value travel in no packet either.
    EXPECT_EQ(bp_->UserInputData(1002, L"BP-0001", Array({Manual(L"2024-06-15 08:00:00", 120, 5)})), 0);
    EXPECT_FALSE(State().busy);
    EXPECT_EQ(State().message, L"处理成功.");
    EXPECT_EQ(bp_->GetDeviceBussData().packets, 0);
    EXPECT_EQ(bp_->UserInputData(1002, L"BP-0001", uie::value(L"[]")), -1);
    EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(BloodPressureDataUploadTest, PacketsSplitAt1500AndTheLastReplyRefreshesOnce) {
    StartWindow();
    const std::wstring long600(600, L's');
    holdAt_ = 4;
    ASSERT_EQ(bp_->UserInputData(1002, L"BP-0001",
                                 Array({Manual(L"2024-06-15 07:00:00", 120, 1, std::wstring(1600, L'x')),
                                        Manual(L"2024-06-15 08:00:00", 121, 1, long600),
                                        Manual(L"2024-06-15 08:01:00", 122, 1, long600),
                                        Manual(L"2024-06-15 08:02:00", 123, 0, long600),
                                        Manual(L"2024-06-15 08:03:00", 124, 1, long600),
                                        Manual(L"2024-06-15 08:04:00", 125, 1, long600),
                                        Manual(L"2024-06-15 08:05:00", 126, 0),
                                        Manual(L"2024-06-15 08:06:00", 127, 1, long600)})),
              0);
    ASSERT_TRUE(server_.WaitForRequests(4));
    // The over-long first reading travels alone, never after an empty packet. Two kept
    // readings (about 1330 characters) leave room for a discarded one, which travels as
    // its time only, but not for a third kept one.
    EXPECT_EQ(PacketTags(), (std::vector<int>{1, 2, 2, 2, 3, 3, 3, 4}));
    const std::vector<PacketRequest> requests = Uploads();
    ASSERT_EQ(requests.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        const std::vector<std::string>& f = requests[static_cast<std::size_t>(i)].fields;
        EXPECT_EQ(f.at(kPacketNo), std::to_string(i + 1));
        EXPECT_EQ(f.at(kRecordCount), "8");
        if (i > 0) {
            EXPECT_LE(f.at(kKept).size() + f.at(kDiscarded).size(), CBloodPressureWin::kPacketChars);
        }
    }
    EXPECT_EQ(requests[0].fields.at(kKeptCount), "1");
    EXPECT_EQ(requests[2].fields.at(kKeptCount), "2");
    EXPECT_EQ(requests[2].fields.at(kDiscardedCount), "1");
    EXPECT_EQ(requests[2].fields.at(kDiscarded), "2024-06-15 08:05:00|");
    EXPECT_EQ(requests[3].fields.at(kKeptCount), "1");
    EXPECT_EQ(requests[3].fields.at(kDiscardedCount), "0");

    // Until the last reply the upload runs and nothing reaches the page or the elements.
    ASSERT_TRUE(WaitFor([this] { return StoredRows() == 5; }));
    EXPECT_TRUE(State().busy);
    EXPECT_TRUE(WindowCommands().empty());
    EXPECT_EQ(HistoryRows(L"systolicBloodPressure"), 0);
    release_ = true;
    ASSERT_TRUE(Ended());
    EXPECT_EQ(State().message, L"处理成功.");
    EXPECT_EQ(StoredRows(), 6);
    EXPECT_EQ(WindowCommands(), std::vector<std::wstring>{L"8090:1"});
    EXPECT_EQ(HistoryRows(L"systolicBloodPressure"), 1);
    EXPECT_EQ(Element(L"systolicBloodPressure").valueNo, 127);
}

TEST_F(BloodPressureDataUploadTest, RefusedSendEndsTheUploadAndLateRepliesStoreNothing) {
    // Over the 4096-byte payload: the request builder refuses it.
    ASSERT_EQ(bp_->UserInputData(1002, L"BP-0001",
                                 Array({Manual(L"2024-06-15 08:00:00", 121, 1, std::wstring(5000, L'x'))})),
              -1);
    EXPECT_FALSE(State().busy);
    EXPECT_EQ(State().retCode, -1);
    EXPECT_EQ(State().message, L"通讯错误");
    EXPECT_EQ(server_.RequestCount(), 0u);
    // A reply to the packet that was never sent is ignored.
    EXPECT_EQ(bp_->BussDataProc_1002(L"0\x02ok\x02" L"0\x02" L"1002\x02" L"BP-0001\x02" L"0\x02" L"1\x02"), 0);
    EXPECT_EQ(StoredRows(), 0);
}

TEST_F(BloodPressureDataUploadTest, FreeTextsTravelWithoutSeparatorsAndAreStoredIntact) {
    ASSERT_EQ(bp_->UserInputData(1002, L"BP-0001",
                                 Array({L"{\"recTime\":\"2024-06-15 08:00:00\",\"systolic\":125,\"diastolic\":82,"
                                        L"\"pulse\":70,\"bpKbn\":1,\"bpLevel\":2,\"save\":1,\"summary\":\"it's a|b\","
                                        L"\"bpAssessNote\":\"x\\u0001y\\u0003z\"}"})),
              0);
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(Uploads().at(0).fields.at(kKept),
              "2024-06-15 08:00:00|125|82|70|-1|-1|-1|-1|-1|-1|1|-1|-1|-1|it's a b|2|x y z|");
    ASSERT_TRUE(Ended());
    EXPECT_EQ(State().message, L"处理成功.");
    EXPECT_EQ(Column(L"tDeviceDataList_1002", L"summary"), L"it's a|b");
    EXPECT_EQ(Column(L"tDeviceDataList_1002", L"bpAssessNote"), L"x\x01y\x03z");
    EXPECT_EQ(Column(L"tDeviceDataList_1002", L"memoFlag"), L"-1");  // manual entry has no memo
}

TEST_F(BloodPressureDataUploadTest, ChoicesKeepWhatTheyLeaveOutAndStopAtTheDeviceRecords) {
    ASSERT_EQ(ReadRecords({Record("2012/03/05", "08:05:00", 130, 85, 70), Record("2012/03/05", "12:00:00", 131, 85, 70),
                           Record("2012/03/05", "20:00:00", 132, 85, 70)}),
              3);
    EXPECT_EQ(bp_->ChooseDevDataProc(uie::value(7)), -1);
    const uie::value choices = *uie::value::from_json(
        LR"([{"save":0},{"summary":"kept","bpAssessNote":"note"},{"save":1,"bpLevel":4},{"save":0}])");
    EXPECT_EQ(bp_->ChooseDevDataProc(choices), 0);
    const std::vector<struDeviceDataList_1002W> readings = bp_->GetDeviceBussData().pDeviceDataList;
    ASSERT_EQ(readings.size(), 3u);
    EXPECT_EQ(readings[0].save, 0);
    EXPECT_EQ(readings[1].save, 1);  // no "save": still kept
    EXPECT_EQ(readings[1].summary, L"kept");
    EXPECT_EQ(readings[1].bpAssessNote, L"note");
    EXPECT_EQ(readings[1].bpLevel, 2);
    EXPECT_EQ(readings[2].bpLevel, 4);
    ASSERT_TRUE(server_.WaitForRequests(1));
    const PacketRequest request = Uploads().at(0);
    EXPECT_EQ(request.fields.at(kDeviceID), "BP-0001");
    EXPECT_EQ(request.fields.at(kKeptCount), "2");
    EXPECT_EQ(request.fields.at(kDiscarded), "2012-03-05 08:05:00|");
    ASSERT_TRUE(Ended());
    EXPECT_EQ(StoredRows(), 2);
    EXPECT_EQ(Column(L"tDeviceDataList_1002", L"generatedTime"), L"2024-06-15 09:00:00");
}

// A monitor without a clock: its library dates every reading with the download's time,
// so each download brings the same readings under a new time.
TEST_F(BloodPressureDataUploadTest, AMonitorWithoutAClockIsStoredOnceOverThreeDownloads) {
    for (const char* at : {"09:00:00", "09:10:00", "09:20:00"}) {
        std::vector<str_bp_retdata> records;
        for (int i = 0; i < 54; ++i) records.push_back(Record("2024/06/15", at, 110 + i, 70 + i % 20, 60 + i % 30));
        ASSERT_EQ(ReadRecords(records, kSource, L"", L"2024-06-15 " + text::FromAnsi(at)), 54);
        ASSERT_EQ(bp_->BpDataUpload(), 0);
        ASSERT_TRUE(Ended());
        EXPECT_EQ(State().message, L"处理成功.");
    }
    EXPECT_EQ(StoredRows(), 54);
    EXPECT_EQ(StoredRows(L" where recTime='2024-06-15 09:00:00'"), 54);
}

}  // namespace
