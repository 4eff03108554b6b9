// Health-element values written to the user database: batches, single recorded values,
// values set by the main window, and the values the server sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Config.h"
#include "EngineTest.h"
#include "FloatBarWin.h"
#include "FloatBarScope.h"
#include "HealthResourcesFixture.h"
#include "Hooks.h"
#include "LogReader.h"
#include "UiThreadManager.h"
#include "WaitFor.h"

namespace test = uie::test;
using uie::value;

namespace {

constexpr wchar_t kNow[] = L"2024-06-15 09:00:00.000";
constexpr wchar_t kEarlier[] = L"2024-06-14 20:00:00.000";

class HealthElementValueTest : public HealthResourcesTest {
protected:
    HealthElementValueTest() { Hooks().localTime = FixClock; }

    static value Item(const wchar_t* id, int valueNo, const wchar_t* text) {
        return records::MakeObject(
            {{L"healthElementID", value(id)}, {L"valueNo", value(valueNo)}, {L"value", value(text)}});
    }
    static value With(value item, const wchar_t* key, value v) {
        item.set_item(value(key), std::move(v));
        return item;
    }
    static value List(std::vector<value> items) { return value::make_array(std::move(items)); }

    // The element ids of the value uploads in id order (the workers send them in any
    // order), once no more arrive for a moment.
    std::vector<std::string> Uploads(std::size_t expected) {
        EXPECT_TRUE(server_.WaitForRequests(expected));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<std::string> ids;
        for (const PacketRequest& r : server_.Requests()) {
            EXPECT_EQ(r.commandId, COMMAND_ELEMENTVALUE_UPLOAD);
            ids.push_back(r.fields.size() > 1 ? r.fields[1] : "<short>");
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    std::wstring Serial() { return FirstValue(L"select serialNo from tSerialNo where serialCode=5010"); }
    // One history row's columns joined by '|'.
    std::wstring History(const std::wstring& id, const wchar_t* columns) {
        return FirstValue(std::wstring(L"select ") + columns + L" from tHealthElementDataList where healthElementID='" +
                          id + L"' order by recNo desc");
    }
    std::wstring Message(const std::vector<std::vector<std::wstring>>& records) const {
        std::wstring out;
        for (const auto& fields : records) out += JoinFields(fields) + L'\x03';
        return out;
    }
    std::wstring User() const { return std::to_wstring(userNo_); }
};

// ---- the batch --------------------------------------------------------------------------------------

TEST_F(HealthElementValueTest, BatchStoresWhatItCanAndSkipsUnknownIdsAndSourcesInBothPasses) {
    test::Recording recording;
    Change(L"height", [](struHealthElementW& e) { e.refreshFunc = L"RefreshHeight"; });
    const std::uint64_t start = test::PageHost::LastSeq();
    const value items = List({
        With(Item(L"height", 172, L"172"), L"sourceNo", value(3)),
        Item(L"nope", 1, L"1"),
        With(Item(L"weight", 655, L"65.5"), L"sourceNo", value(999)),
        With(With(Item(L"pedoNumberOfSteps", 5000, L"5000"), L"sourceNo", value(0)), L"valueGeneratedTime",
             value(kEarlier)),
    });
    ASSERT_EQ(resources_.SetHealthElementValue_Batch(items), 0);

    EXPECT_EQ(Db(L"valueNo||'|'||value||'|'||sourceNo||'|'||valueGeneratedTime||'|'||syncNo", L"height"),
              L"172|172|3|" + std::wstring(kNow) + L"|1");
    EXPECT_EQ(Db(L"valueNo||'|'||sourceNo||'|'||valueGeneratedTime", L"pedoNumberOfSteps"),
              L"5000|122|" + std::wstring(kEarlier));
    EXPECT_EQ(Db(L"valueNo", L"weight"), L"-29999");
    EXPECT_EQ(Element(L"weight").valueNo, CHealthResources::kNoValue);
    EXPECT_EQ(Element(L"height").sourceNo, 3);
    EXPECT_EQ(Element(L"pedoNumberOfSteps").valueGeneratedTime, kEarlier);

    // Four items asked for a history row; the two stored ones took the first numbers.
    EXPECT_EQ(Serial(), L"5");
    EXPECT_EQ(History(L"height", L"userNo||'|'||recNo||'|'||recDate||'|'||valueNo||'|'||lastValueNo||'|'||value||'|'||"
                                 L"lastValue||'|'||sourceNo||'|'||sourceName||'|'||valueGeneratedTime||'|'||"
                                 L"lastRecNo||'|'||lastOpCode||'|'||status||'|'||note||'|'||"
                                 L"healthElementTypeName||'|'||(modifyTime is not null)"),
              User() + L"|1|20240615|172|-29999|172||3|天气服务|" + kNow + L"|-1|0|1|原sourceNo[1] |基本信息|1");
    EXPECT_EQ(History(L"pedoNumberOfSteps", L"recNo||'|'||sourceName||'|'||valueGeneratedTime||'|'||note"),
              L"2|计步器|" + std::wstring(kEarlier) + L"|");
    EXPECT_EQ(HistoryRows(L"weight"), 0);

    EXPECT_EQ(Uploads(2), (std::vector<std::string>{"height", "pedoNumberOfSteps"}) );
    const std::vector<PacketRequest> requests = server_.Requests();
    const auto upload = std::find_if(requests.begin(), requests.end(),
                                     [](const PacketRequest& r) { return r.fields.size() > 1 && r.fields[1] == "height"; });
    ASSERT_NE(upload, requests.end());
    EXPECT_EQ(upload->fields, (std::vector<std::string>{std::to_string(userNo_), "height", "172", "172", "3", "10", "0",
                                                       text::ToUtf8(kNow), "cm", ""}));
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"8020", L"803E", L"803E"}));
    EXPECT_TRUE(test::PageHost::WaitForCall("RefreshHeight", std::chrono::milliseconds(0), start).has_value());
    EXPECT_EQ(Lists().size(), 2u);
}

TEST_F(HealthElementValueTest, BatchWithoutRecordListsOnlyUpdatesAndUploadsNothing) {
    const value items = List({With(Item(L"height", 180, L"180"), L"recordDataList", value(0)),
                              With(Item(L"sex", 1, L"男"), L"recordDataList", value(0))});
    ASSERT_EQ(resources_.SetHealthElementValue_Batch(items), 0);
    EXPECT_EQ(Db(L"valueNo", L"height"), L"180");
    EXPECT_EQ(Db(L"value", L"sex"), L"男");
    EXPECT_EQ(Serial(), L"1");
    EXPECT_EQ(FirstValue(L"select count(*) from tHealthElementDataList"), L"0");
    EXPECT_TRUE(Uploads(0).empty());
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"803E", L"803E"}));
}

TEST_F(HealthElementValueTest, BatchKeepsNoHistoryAndUploadsNothingOfTypeFifty) {
    Change(L"computerUseSecond", [](struHealthElementW& e) { e.syncFlag = L"1"; });
    const value wrapped = records::MakeObject(
        {{L"recordDataList", List({Item(L"computerUseSecond", 3725, L"1"), Item(L"sex", 2, L"女")})}});
    ASSERT_EQ(resources_.SetHealthElementValue_Batch(wrapped), 0);
    EXPECT_EQ(Db(L"valueNo", L"computerUseSecond"), L"3725");
    EXPECT_EQ(HistoryRows(L"computerUseSecond"), 0);
    EXPECT_EQ(HistoryRows(L"sex"), 1);
    EXPECT_EQ(Uploads(1), (std::vector<std::string>{"sex"}));

    EXPECT_EQ(resources_.SetHealthElementValue_Batch(value(5)), -1);
    EXPECT_EQ(resources_.SetHealthElementValue_Batch(records::MakeObject({{L"rows", List({})}})), -1);
    EXPECT_EQ(resources_.SetHealthElementValue_Batch(List({})), 0);
}

TEST_F(HealthElementValueTest, ABatchTheDatabaseRefusesChangesNothing) {
    Exec(L"drop table tHealthElementDataList");
    const int logged = CountLogLines(L"批量写库失败:[");
    EXPECT_NE(resources_.SetHealthElementValue_Batch(List({Item(L"height", 172, L"172")})), 0);
    EXPECT_GT(CountLogLines(L"批量写库失败:["), logged);
    EXPECT_EQ(Db(L"valueNo", L"height"), L"-29999");  // the update went back with the insert
    EXPECT_EQ(Element(L"height").valueNo, CHealthResources::kNoValue);
    EXPECT_TRUE(Commands().empty());
    EXPECT_TRUE(Uploads(0).empty());
}

TEST_F(HealthElementValueTest, BatchWithoutSerialNumbersStoresValuesWithoutHistory) {
    Exec(L"drop table tSerialNo");
    const int logged = CountLogLines(L"MakeSerialNo[-997]");
    ASSERT_EQ(resources_.SetHealthElementValue_Batch(List({Item(L"height", 168, L"168")})), 0);
    EXPECT_GT(CountLogLines(L"MakeSerialNo[-997]"), logged);
    EXPECT_EQ(Db(L"valueNo", L"height"), L"168");
    EXPECT_EQ(HistoryRows(L"height"), 0);
    EXPECT_EQ(Element(L"height").valueNo, 168);
}

TEST_F(HealthElementValueTest, ApostrophesAreStoredAsTyped) {
    const value items = List({Item(L"height", 1, L"it's"), Item(L"o'clock", 1, L"x"),
                              With(Item(L"weight", 2, L"a''b"), L"valueGeneratedTime", value(L"'; drop table x;--"))});
    ASSERT_EQ(resources_.SetHealthElementValue_Batch(items), 0);
    EXPECT_EQ(Db(L"value", L"height"), L"it's");
    EXPECT_EQ(History(L"height", L"value"), L"it's");
    EXPECT_EQ(Db(L"value||'|'||valueGeneratedTime", L"weight"), L"a''b|'; drop table x;--");
    EXPECT_EQ(Element(L"height").value, L"it's");
}

// ---- one recorded value -----------------------------------------------------------------------------

TEST_F(HealthElementValueTest, RecordRefusesWhatItCannotStore) {
    struHealthElementW height = Element(L"height");
    EXPECT_EQ(resources_.RecordElementValueUpdate(nullptr, 1, L"1", 1, kNow, false), -1);
    EXPECT_EQ(resources_.RecordElementValue(nullptr, 1, kNow, false), -1);
    EXPECT_EQ(resources_.RecordElementValueUpdate(&height, 1, L"1", 999, kNow, false), -3);
    struHealthElementW strange = height;
    strange.healthElementType = 999;
    EXPECT_EQ(resources_.RecordElementValueUpdate(&strange, 1, L"1", 1, kNow, false), -2);
    EXPECT_EQ(resources_.RecordElementValue(&strange, 1, kNow, false), -1);
    strange = height;
    strange.sourceNo = 999;
    EXPECT_EQ(resources_.RecordElementValue(&strange, 1, kNow, false), -1);

    Exec(L"drop table tSerialNo");
    EXPECT_EQ(resources_.RecordElementValueUpdate(&height, 1, L"1", 1, kNow, false), -5);
    EXPECT_EQ(Db(L"valueNo", L"height"), L"-29999");  // no history row, no value
    EXPECT_EQ(Element(L"height").valueNo, CHealthResources::kNoValue);
}

TEST_F(HealthElementValueTest, RecordKeepsTheOldValueInHistoryAndUploadsASynchronisedElement) {
    struHealthElementW height = Element(L"height");
    ASSERT_EQ(resources_.RecordElementValueUpdate(&height, 170, L"170", 1, kEarlier, true), 0);
    height = Element(L"height");
    ASSERT_EQ(resources_.RecordElementValueUpdate(&height, 172, L"172", 1, kNow, true), 0);

    EXPECT_EQ(Db(L"valueNo||'|'||valueGeneratedTime||'|'||syncNo", L"height"), L"172|" + std::wstring(kNow) + L"|1");
    EXPECT_EQ(History(L"height", L"userNo||'|'||valueNo||'|'||lastValueNo||'|'||value||'|'||lastValue||'|'||"
                                 L"valueGeneratedTime||'|'||recNo"),
              User() + L"|172|170|172|170|" + kEarlier + L"|2");
    EXPECT_EQ(Element(L"height").valueGeneratedTime, kNow);
    EXPECT_EQ(Uploads(2), (std::vector<std::string>{"height", "height"}));
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"803E", L"803E"}));
}

TEST_F(HealthElementValueTest, TypeFiftyRecordedTwiceWithOneValueKeepsOneHistoryRow) {
    for (int i = 0; i < 2; ++i) {
        const struHealthElementW seconds = Element(L"computerUseSecond");
        EXPECT_EQ(resources_.RecordElementValue(&seconds, 60, kNow, false), 0);
    }
    EXPECT_EQ(HistoryRows(L"computerUseSecond"), 1);
    EXPECT_EQ(Db(L"value", L"computerUseSecond"), L"0&nbsp;:&nbsp;1&nbsp;:&nbsp;0");
    EXPECT_TRUE(Uploads(0).empty());  // not synchronised
}

TEST_F(HealthElementValueTest, ARecordTheDatabaseRefusesLogsBothStatementsExactly) {
    Exec(L"drop table tHealthElementDataList");
    Change(L"height", [](struHealthElementW& e) { e.valueGeneratedTime = kEarlier; });
    const struHealthElementW height = Element(L"height");
    const std::wstring update =
        L"SQL[-1][update tHealthElement set valueNo=172, value='1''72', sourceNo=3, valueGeneratedTime='" +
        std::wstring(kNow) + L"', syncNo=1, modifyTime=datetime('now','localtime') where healthElementID='height';]";
    const std::wstring insert =
        L"SQL[-1][insert into tHealthElementDataList (userNo,\t recNo, recDate, valueNo, lastValueNo, value, lastValue, "
        L"unitName, healthElementID, healthElementName,\t healthElementType, healthElementTypeName, sourceNo, "
        L"sourceName, valueGeneratedTime, lastRecNo, lastOpCode,\t status, note, modifyTime) values (" +
        User() + L", 1, 20240615, 172, -29999, '1''72', '', 'cm', 'height', '身高', 10, '基本信息', 3, '天气服务',\t '" +
        kEarlier + L"', -1, '0', '1', '原sourceNo[1] ', datetime('now','localtime'));]";
    const int updates = CountLogLines(update);
    const int inserts = CountLogLines(insert);
    EXPECT_EQ(resources_.RecordElementValueUpdate(&height, 172, L"1'72", 3, kNow, true), -1);
    EXPECT_GT(CountLogLines(update), updates);
    EXPECT_GT(CountLogLines(insert), inserts);
    EXPECT_EQ(Element(L"height").valueNo, CHealthResources::kNoValue);
    EXPECT_TRUE(Commands().empty());
}

// ---- values the main window sets ----------------------------------------------------------------------

TEST_F(HealthElementValueTest, ValueWithoutRecordChangesMemoryOnly) {
    EXPECT_EQ(resources_.SetElementValueNo(L"nope", 1, false, true), -1);
    EXPECT_EQ(resources_.SetElementValueNo(L"weight", 655, false, true), 0);
    const struHealthElementW weight = Element(L"weight");
    EXPECT_EQ(weight.valueNo, 655);
    EXPECT_EQ(weight.value, L"65.5");
    EXPECT_EQ(weight.valueGeneratedTime, kNow);
    EXPECT_EQ(Db(L"valueNo", L"weight"), L"-29999");
    EXPECT_EQ(HistoryRows(L"weight"), 0);
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"803E"}));

    EXPECT_EQ(resources_.SetElementValueNo(L"weight", 700, true, false), 0);
    EXPECT_EQ(Db(L"value", L"weight"), L"70.0");
    EXPECT_EQ(HistoryRows(L"weight"), 1);
    EXPECT_TRUE(Commands().empty());
}

TEST_F(HealthElementValueTest, ValuesTellThePanelsThatShowThem) {
    test::Recording recording;
    Change(L"height", [](struHealthElementW& e) { e.refreshFunc = L"RefreshHeight"; });
    resources_.SetElementValueNo(L"sex", 1, false, false);
    resources_.SetElementValueNo(L"age", 19800615, false, false);
    resources_.SetElementValueNo(L"height", 170, false, false);
    resources_.SetElementValueNo(L"realTemperature", 25, false, false);
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"8022", L"8022", L"8020", L"8023"}));

    {
        const FloatBarScope bar(dir_.Path());
        resources_.SetElementValueNo(L"realWeather", 1, false, false);
        EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"8023"}));
        EXPECT_EQ(bar.SurroundCommands(), (std::vector<WORD>{ID_CMD_FLOAT_REALWEATHER}));
    }
    EXPECT_EQ(g_UiThreads.GetCount(), 0);
}

// ---- the server's values --------------------------------------------------------------------------------

TEST_F(HealthElementValueTest, ServerValuesStopAtAnotherUsersRecord) {
    const int logged = CountLogLines(L"user[" + std::to_wstring(userNo_ + 1) + L"] error.");
    const std::wstring message = Message({{User(), L"height", L"181", L"18'1", L"3", kEarlier},
                                          {std::to_wstring(userNo_ + 1), L"weight", L"600", L"60.0", L"1", kNow},
                                          {User(), L"sex", L"1", L"男", L"1", kNow}});
    EXPECT_EQ(resources_.BussDataProc_HealthElementValue(message), 2);
    EXPECT_GT(CountLogLines(L"user[" + std::to_wstring(userNo_ + 1) + L"] error."), logged);
    EXPECT_EQ(Db(L"valueNo||'|'||value||'|'||sourceNo||'|'||valueGeneratedTime", L"height"),
              L"181|18'1|3|" + std::wstring(kEarlier));
    EXPECT_EQ(Db(L"valueNo", L"weight"), L"-29999");
    EXPECT_EQ(Db(L"valueNo", L"sex"), L"-29999");
    EXPECT_EQ(Element(L"height").value, L"18'1");
    EXPECT_EQ(Element(L"height").sourceNo, 3);
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"802F"}));

    EXPECT_EQ(resources_.BussDataProc_HealthElementValue(L""), 1);
    EXPECT_TRUE(Commands().empty());
}

TEST_F(HealthElementValueTest, ServerRecordsThatAreShortOrLongAreNotStored) {
    const std::wstring message = Message({{User(), L"height", L"181", L"181", L"1"},  // no time
                                          {User(), L"sex", L"one", L"男", L"1", kNow},
                                          {User(), L"weight", L"600", L"60.0", L"1", kNow},
                                          {User(), L"age", L"1", std::wstring(780, L'a'), L"1", kNow},
                                          {User(), L"sex", L"1", L"男", L"1", kNow}});
    EXPECT_EQ(resources_.BussDataProc_HealthElementValue(message), 4);
    EXPECT_EQ(Db(L"valueNo", L"weight"), L"600");
    EXPECT_EQ(Db(L"valueNo", L"height"), L"-29999");
    EXPECT_EQ(Db(L"valueNo", L"sex"), L"-29999");
    EXPECT_EQ(Db(L"valueNo", L"age"), L"-29999");
}

TEST_F(HealthElementValueTest, AServerWriteThatFailsChangesNoMemory) {
    Exec(L"drop table tHealthElement");
    const int logged = CountLogLines(L"ExecSQLSet fail[-1].");
    EXPECT_EQ(resources_.BussDataProc_HealthElementValue(Message({{User(), L"height", L"181", L"181", L"1", kNow}})),
              -1);
    EXPECT_GT(CountLogLines(L"ExecSQLSet fail[-1]."), logged);
    EXPECT_EQ(Element(L"height").valueNo, CHealthResources::kNoValue);
    EXPECT_TRUE(Commands().empty());
}

}  // namespace
