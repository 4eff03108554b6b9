// From the monitor to the table: the module bound from the program folder, a download
// from the simulated monitor, the page's choice uploaded to the loopback server, and the
// server's reply stored, the device registered and the elements updated.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "BloodPressureWinFixture.h"
#include "Quorvix.h"

namespace {

using uie::value;
namespace test = uie::test;

constexpr const char* kServerDeviceID = "TSV-SIM-01";

// The server's answer to a packet: its source, our device and the packet's number back.
PacketReply Stored(const PacketRequest& r) {
    return PacketReply::Fields({"0", "ok", "1", r.fields.at(1), kServerDeviceID, "0", r.fields.at(5), "0", "0"});
}

class BloodPressureMainRoadTest : public BloodPressureWinTest {
protected:
    BloodPressureMainRoadTest() { RegisterScriptObjects(vm_); }

    value Call(const char* method, std::vector<value> args = {}) {
        const test::CallResult r = test::CallNative(vm_, "bloodPressure", method, std::move(args));
        EXPECT_TRUE(r.ok) << method << " " << text::ToUtf8(r.error);
        return r.result;
    }
    static value Choice(int save, const wchar_t* summary) {
        value m = value::make_map();
        m.set_item(value(L"save"), value(save));
        m.set_item(value(L"summary"), value(summary));
        return m;
    }
    std::vector<PacketRequest> Uploads() const {
        std::vector<PacketRequest> out;
        for (const PacketRequest& r : server_.Requests())
            if (r.commandId == 0x1171) out.push_back(r);
        return out;
    }
};

TEST_F(BloodPressureMainRoadTest, ADownloadChosenOnThePageIsUploadedStoredRegisteredAndShown) {
    StartPage();
    server_.OnCommand(0x1171, Stored);
    const std::uint64_t before = test::PageHost::LastSeq();
    EXPECT_EQ(bp_->DevChangeProc(Source(), 1), 0);
    ASSERT_TRUE(ReadEnded());
    ASSERT_EQ(Call("ReadDevData").length(), 2);

    EXPECT_EQ(Call("ChooseDevData", {value::make_array({Choice(1, L"早上"), Choice(1, L"晚上 'late'")})}).get_int(), 0);
    ASSERT_TRUE(server_.WaitForRequests(1));
    ASSERT_TRUE(PumpUntil([this] { return !State().busy; }));
    EXPECT_EQ(Outcome(), L"0 处理成功.");
    const std::vector<PacketRequest> uploads = Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].fields.at(0), std::to_string(userNo_));
    EXPECT_EQ(uploads[0].fields.at(1), "1002");
    EXPECT_EQ(uploads[0].fields.at(5), "1");  // the first packet

    EXPECT_EQ(StoredRows(), 2);
    EXPECT_EQ(StoredRows(L" where recTime='2013-03-04 21:30:05' and systolic=131 and summary='晚上 ''late'''"), 1);
    EXPECT_EQ(StoredRows(L" where recTime='2013-03-04 07:15:00' and diastolic=82 and pulse=70"), 1);
    EXPECT_EQ(FirstValue(L"select deviceID from tUserDevice where sourceNo=1002"), text::FromUtf8(kServerDeviceID));
    for (const wchar_t* table : {L"tAlertConfig", L"tAlertConfigDetail", L"tAlertConfigItem"}) {
        EXPECT_EQ(FirstValue(std::wstring(L"select count(*) from ") + table +
                             L" where alertNo in (16, 17, 18) and status<>'1'"),
                  L"0")
            << text::ToUtf8(table);
        EXPECT_NE(FirstValue(std::wstring(L"select count(*) from ") + table + L" where alertNo in (16, 17, 18)"), L"0");
    }
    // The last reading is the current value of the three elements.
    EXPECT_EQ(Element(L"systolicBloodPressure").valueNo, 131);
    EXPECT_EQ(Element(L"diastolicBloodPressure").valueNo, 85);
    EXPECT_EQ(Element(L"quietPulse").valueNo, 66);
    EXPECT_EQ(Db(L"value", L"quietPulse"), L"66");
    ASSERT_TRUE(PumpUntil([&] {
        const auto calls = PageCalls(before);
        return !calls.empty() && calls.back() == "RefreshBpData 1";
    }));
}

}  // namespace
