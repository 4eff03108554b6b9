// The health assessment against a real user database, a loopback server and a main
// frame on this thread: the advice, the ranks, the chart data and the after-assessment
// sequence (user score in memory, one upload, the pages told).
#include "assessInfo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "Hooks.h"
#include "MemberNames.h"
#include "RecordsFixture.h"
#include "parameter.h"
#include "userInfo.h"

namespace {

using uie::test::CallNative;
using uie::test::GetProperty;

class AssessInfoTest : public RecordsTest {
protected:
    AssessInfoTest() {
        g_pAssessInfo = &assess_;
        assess_.RegisterScriptObject(vm_);
        Posted();
    }
    ~AssessInfoTest() override {
        EndWorkers();
        g_pUserInfo = nullptr;
        g_pParameter = nullptr;
        g_pAssessInfo = nullptr;
    }

    // A stored report: score, rank, type n's point 10 + n and rank 20 + n.
    void Store(int date, int score, int rank = 50, int userNo = 1001) {
        std::wstring sql = L"insert into tUserAssessReport values (" + std::to_wstring(userNo) + L", " +
                           std::to_wstring(date) + L", " + std::to_wstring(score) + L", " + std::to_wstring(rank) +
                           L", 'note " + std::to_wstring(date) + L"'";
        for (int n = 0; n < 10; ++n) sql += L", " + std::to_wstring(10 + n) + L", " + std::to_wstring(20 + n);
        sql += L", 3, '1', 'it''s stored')";
        Exec(sql);
    }
    // Reports with these overall scores, oldest first, then the advice they give.
    std::wstring AdviceFor(const std::vector<int>& scoresOldestFirst) {
        Exec(L"delete from tUserAssessReport");
        int date = 20260101;
        for (const int s : scoresOldestFirst) Store(date++, s);
        EXPECT_EQ(assess_.GenAssessGraphData(), 1);
        const std::wstring note = CallNative(vm_, "assess", "GetLastAssessNote").result.get_string();
        EXPECT_EQ(GetProperty(vm_, "assess", "lastAssessNote").result.get_string(), note);
        return note;
    }
    int Order(const char* type, int score) {
        return CallNative(vm_, "assess", "GetAssessOrder", {uie::value(text::FromUtf8(type)), uie::value(score)})
            .result.get_int(-99);
    }
    void SetTable(const wchar_t* id, const std::wstring& value) {
        struParameterW p;
        p.parameterID = id;
        p.value = value;
        assess_.SetAssessPoint(p);
    }
    // The random hook gives these numbers, in order.
    void FixRandom(std::vector<int> numbers) {
        draws_.assign(numbers.begin(), numbers.end());
        Hooks().random = [this] {
            const int n = draws_.front();
            draws_.pop_front();
            return n;
        };
    }
    uie::value NewReport() {
        uie::value r = uie::value::make_map();
        r.set_item(uie::value(L"assessDate"), uie::value(20260301));
        r.set_item(uie::value(L"assessPoint_all"), uie::value(L"88"));  // pages may pass texts
        r.set_item(uie::value(L"assessRank_all"), uie::value(12));
        r.set_item(uie::value(L"assessNote_all"), uie::value(L"fine"));
        r.set_item(uie::value(L"assessPoint_type0"), uie::value(77));
        r.set_item(uie::value(L"status"), uie::value(L"1"));
        return r;
    }
    void StartUser() {
        Exec(L"update tUser set userNo=1001, userID='ann', assessPoint=40, assessRank=41");
        ASSERT_EQ(user_.ReadUserFromDB(), 1);
        user_.RegisterScriptObject(vm_);
        g_pUserInfo = &user_;
    }

    CAssessInfo assess_;
    CUserInfo user_;
    std::deque<int> draws_;
};

TEST_F(AssessInfoTest, AdviceFollowsTheTrendOfTheRecentScores) {
    EXPECT_EQ(AdviceFor({50, 50, 50}), L"最近您的健康评估得分持续低分，希望您能积极改善。");
    EXPECT_EQ(AdviceFor({70, 75, 80}), L"最近您的健康评估得分稳步提升，请继续保持。");
    EXPECT_EQ(AdviceFor({80, 75, 70}), L"最近您的健康评估得分持续下降，希望您能积极改善。");
    EXPECT_EQ(AdviceFor({70, 80, 80}), L"最近您的健康评估得分正在下降，希望您能积极改善。");
    EXPECT_EQ(AdviceFor({60, 60, 60}), L"最近您的健康评估得分正在下降，希望您能积极改善。");
    EXPECT_EQ(AdviceFor({61, 61, 61}), L"最近您的健康评估得分比较稳定，请继续保持。");
    EXPECT_EQ(AdviceFor({80, 60, 70}), L"最近您的健康评估得分正在提升，请继续保持。");
    // Only the newest three count.
    EXPECT_EQ(AdviceFor({90, 90, 50, 60, 70}), L"最近您的健康评估得分稳步提升，请继续保持。");

    EXPECT_EQ(AdviceFor({59}), L"您最近的健康评估得分不理想，希望您能积极改善哦。");
    EXPECT_EQ(AdviceFor({60}), L"您上次的健康评估得分良好，希望您继续保持。");
    EXPECT_EQ(AdviceFor({80}), L"您上次的健康评估得分良好，希望您继续保持。");
    EXPECT_EQ(AdviceFor({81}), L"您上次的健康评估得分非常好，希望您继续保持。");

    EXPECT_EQ(AdviceFor({60, 70}), L"您最近的健康评估得分上升，希望您继续保持。");
    EXPECT_EQ(AdviceFor({70, 60}), L"您最近的健康评估得分下降，希望您能积极改善。");
    EXPECT_EQ(AdviceFor({70, 70}), L"您最近的健康评估得分下降，希望您能积极改善。");

    EXPECT_EQ(AdviceFor({}), L"您还没有做过健康评估，建议您立即进行健康评估的体验。");
}

TEST_F(AssessInfoTest, AdviceStartsAsSteadyRise) {
    EXPECT_EQ(CAssessInfo().GetAdvice(), L"最近您的健康评估得分稳步提升，请继续保持。");
}

TEST_F(AssessInfoTest, OnlyTheFirstTwentyParametersFillRankTables) {
    CParameter parameter;
    g_pParameter = &parameter;
    Exec(L"delete from tParameter");
    for (int no = 1; no <= 19; ++no)
        Exec(L"insert into tParameter values (" + std::to_wstring(no) + L", 'p', '', 0, '1', '', '')");
    Exec(L"insert into tParameter values (20, 'assessPoint_type5', '20', 0, '1', '', '')");
    Exec(L"insert into tParameter values (21, 'assessPoint_type6', '21', 0, '1', '', '')");
    ASSERT_EQ(parameter.ReadParameterFromDB(), 1);
    EXPECT_EQ((*assess_.GetRankTable(L"assessPoint_type5"))[0], 20);
    EXPECT_EQ((*assess_.GetRankTable(L"assessPoint_type6"))[0], 0);  // the 21st row
}

TEST_F(AssessInfoTest, RankTablesStartZeroedAndShortValuesZeroFill) {
    for (const wchar_t* id : {L"assessPoint_all", L"assessPoint_type0", L"assessPoint_type9"})
        EXPECT_EQ(assess_.GetRankTable(id), CAssessInfo::RankTable{});
    EXPECT_FALSE(assess_.GetRankTable(L"assessPoint_type10").has_value());

    std::wstring fifty;
    for (int i = 0; i < 50; ++i) fifty += std::to_wstring(i + 1) + L",";
    SetTable(L"assessPoint_type4", fifty);
    const auto table = *assess_.GetRankTable(L"assessPoint_type4");
    for (int i = 0; i < 50; ++i) EXPECT_EQ(table[static_cast<std::size_t>(i)], i + 1);
    for (int i = 50; i <= 100; ++i) EXPECT_EQ(table[static_cast<std::size_t>(i)], 0) << i;

    // A name of no table changes nothing.
    SetTable(L"assessPoint_other", L"5");
    SetTable(L"assessPoint_type", L"5");
    EXPECT_EQ(assess_.GetRankTable(L"assessPoint_all"), CAssessInfo::RankTable{});
}

TEST_F(AssessInfoTest, AssessOrderBoundsTypeTwoAndJitter) {
    std::wstring value;
    for (int i = 0; i <= 100; ++i) value += std::to_wstring(i == 0 ? 1 : i == 100 ? 98 : i) + L",";
    SetTable(L"assessPoint_all", value);
    SetTable(L"assessPoint_type2", value);
    SetTable(L"assessPoint_type7", value);

    EXPECT_EQ(Order("assessPoint_all", 101), -1);
    EXPECT_EQ(Order("assessPoint_all", -1), -1);
    EXPECT_EQ(Order("assessPoint_unknown", 50), -1);
    EXPECT_TRUE(CallNative(vm_, "assess", "GetAssessOrder", {uie::value(L"assessPoint_all")}).result.is_undefined());

    for (int round = 0; round < 200; ++round) {
        const int score = round % 101;
        const int entry = (*assess_.GetRankTable(L"assessPoint_all"))[static_cast<std::size_t>(score)];
        EXPECT_EQ(Order("assessPoint_type2", score), entry);
        const int rank = Order("assessPoint_all", score);
        bool near = false;
        for (int jitter = -4; jitter <= 4; ++jitter) near = near || rank == (entry + jitter) % 100;
        EXPECT_TRUE(near) << score << " " << rank;
    }

    HookScope hooks;
    FixRandom({2, 3});  // even: down, by 3
    EXPECT_EQ(Order("assessPoint_all", 50), 47);
    FixRandom({7, 9});  // odd: up, by 9 % 5
    EXPECT_EQ(Order("assessPoint_type7", 50), 54);
    FixRandom({1, 4});
    EXPECT_EQ(Order("assessPoint_all", 100), 2);  // (98 + 4) % 100
    FixRandom({0, 4});
    EXPECT_EQ(Order("assessPoint_all", 0), -3);  // a signed remainder
    FixRandom({1, 4});
    EXPECT_EQ(Order("assessPoint_type2", 100), 98);  // the draws change nothing there
}

TEST_F(AssessInfoTest, EmptyTableLeavesNumbersUnsetAndTheNoAssessmentAdvice) {
    frame_.CreateHomePageAssessGraph();
    EXPECT_EQ(assess_.LoadFromDB(), 1);
    const struAssessReportW r = assess_.GetLastReport();
    EXPECT_EQ(r.userNo, -1);
    EXPECT_EQ(r.assessDate, -1);
    EXPECT_EQ(r.assessPoint_all, -1);
    EXPECT_EQ(r.types[9].rank, -1);
    EXPECT_EQ(r.syncNo, -1);
    EXPECT_EQ(GetProperty(vm_, "assess", "assessRank_type9").result.get_int(), -1);
    EXPECT_EQ(assess_.GenAssessGraphData(), 1);
    EXPECT_EQ(assess_.GetAdvice(), L"您还没有做过健康评估，建议您立即进行健康评估的体验。");
    EXPECT_EQ(CallNative(vm_, "assess", "GetLastAssessGraphData").result.get_string(L"x"), L"");
}

TEST_F(AssessInfoTest, LoadWithoutTheDatabaseFails) {
    Store(20260101, 70);
    ASSERT_EQ(assess_.LoadFromDB(), 1);
    g_Config.m_config.userDBName = text::FromUtf8((dir_ / "missing.db").string());
    EXPECT_EQ(assess_.LoadFromDB(), 0);
    const struAssessReportW r = assess_.GetLastReport();
    EXPECT_EQ(r.userNo, -1);
    EXPECT_EQ(r.assessDate, -1);
    EXPECT_EQ(r.syncNo, -1);
    EXPECT_EQ(r.assessPoint_all, 70);  // the rest stays
}

TEST_F(AssessInfoTest, NewestReportLoadsIntoTheScriptObjectInFieldOrder) {
    Store(20260101, 70, 30, 1001);
    Store(20260203, 75, 35, 1001);
    ASSERT_EQ(assess_.LoadFromDB(), 1);

    const auto& def = *CAssessInfo::ScriptObjectDef();
    const std::vector<std::string> names = MemberNames(def.properties);
    std::vector<std::string> expected = {"lastAssessNote", "userNo", "assessDate", "assessPoint_all",
                                         "assessRank_all", "assessNote_all"};
    for (int n = 0; n < 10; ++n) {
        expected.push_back("assessPoint_type" + std::to_string(n));
        expected.push_back("assessRank_type" + std::to_string(n));
    }
    expected.push_back("status");
    expected.push_back("note");
    EXPECT_EQ(names, expected);
    ASSERT_EQ(def.methods.size(), 4u);
    EXPECT_EQ(def.methods[0].name, "GetAssessOrder");
    EXPECT_EQ(def.methods[1].name, "AssessAfterProc");
    EXPECT_EQ(def.methods[2].name, "GetLastAssessNote");
    EXPECT_EQ(def.methods[3].name, "GetLastAssessGraphData");

    const auto prop = [&](const char* name) { return GetProperty(vm_, "assess", name).result; };
    EXPECT_EQ(prop("userNo").get_int(), 1001);
    EXPECT_EQ(prop("assessDate").get_int(), 20260203);
    EXPECT_EQ(prop("assessPoint_all").get_int(), 75);
    EXPECT_EQ(prop("assessRank_all").get_int(), 35);
    EXPECT_EQ(prop("assessNote_all").get_string(), L"note 20260203");
    EXPECT_EQ(prop("assessPoint_type0").get_int(), 10);
    EXPECT_EQ(prop("assessRank_type0").get_int(), 20);
    EXPECT_EQ(prop("assessPoint_type9").get_int(), 19);
    EXPECT_EQ(prop("assessRank_type9").get_int(), 29);
    EXPECT_EQ(prop("status").get_string(), L"1");
    EXPECT_EQ(prop("note").get_string(), L"it's stored");
    EXPECT_EQ(assess_.GetLastReport().syncNo, 3);
}

TEST_F(AssessInfoTest, ChartDataComesFromTheMainFramesChartWithTwoReportsOrMore) {
    HookScope hooks;
    Hooks().flashInstalled = true;
    Store(20260101, 70, 30);
    // Without the chart object: advice only, nothing posted.
    ASSERT_EQ(assess_.GenAssessGraphData(), 1);
    EXPECT_TRUE(Posted().empty());

    ASSERT_NE(frame_.CreateHomePageAssessGraph(), nullptr);
    EXPECT_EQ(frame_.CreateHomePageAssessGraph(), frame_.GetHomePageAssessGraph());
    ASSERT_EQ(assess_.GenAssessGraphData(), 1);  // one report: no chart yet
    EXPECT_EQ(assess_.GetGraphData(), L"");
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"807A"}));

    Store(20260102, 85, 12);
    ASSERT_EQ(assess_.GenAssessGraphData(), 1);
    const std::wstring expected =
        L"<chart caption=\"近期健康评估趋势\" animation=\"1\" showValues=\"0\" bgColor=\"0\" bgAlpha=\"0\" "
        L"showBorder=\"0\" numDivLines=\"0\" showCanvasBg=\"0\" showCanvasBase=\"0\" canvasBaseDepth=\"0\" "
        L"chartLeftMargin=\"4\" chartRightMargin=\"4\" chartTopMargin=\"4\" chartBottomMargin=\"4\" "
        L"formatNumberScale=\"0\" canvaspadding=\"0\" lineThickness=\"1\" canvasBgAlpha=\"0\" "
        L"canvasBorderAlpha=\"0\" showYAxisValues=\"0\" showLegend=\"1\" yAxisMinValue=\"12\" "
        L"yAxisMaxValue=\"85\">\n"
        L"    <categories>\n"
        L"        <category label=\"\" />\n"
        L"        <category label=\"\" />\n"
        L"    </categories>\n"
        L"    <dataset seriesName=\"评估得分\">\n"
        L"        <set label=\"20260101\" value=\"70\" tooltext=\"评估时间: 20260101{br}评估得分: 70\" />\n"
        L"        <set label=\"20260102\" value=\"85\" tooltext=\"评估时间: 20260102{br}评估得分: 85\" />\n"
        L"    </dataset>\n"
        L"    <dataset seriesName=\"评估领先率\">\n"
        L"        <set label=\"20260101\" value=\"30\" tooltext=\"评估时间: 20260101{br}评估领先率: 30％\" />\n"
        L"        <set label=\"20260102\" value=\"12\" tooltext=\"评估时间: 20260102{br}评估领先率: 12％\" />\n"
        L"    </dataset>\n"
        L"</chart>\n";
    EXPECT_EQ(assess_.GetGraphData(), expected);
    EXPECT_EQ(CallNative(vm_, "assess", "GetLastAssessGraphData").result.get_string(), expected);
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"807A"}));

    // Without the player installed the trend reload is not asked for.
    Hooks().flashInstalled = false;
    ASSERT_EQ(assess_.GenAssessGraphData(), 1);
    EXPECT_TRUE(Posted().empty());
}

TEST_F(AssessInfoTest, ChartOfNoRowsHasOnlyTheFrameAndTheDefaultAxis) {
    CHomePageAssessGraph graph("a.swf", "a.xml");
    std::string xml;
    graph.GenGraphXml({}, xml);
    const std::wstring text = text::FromAnsi(xml);
    EXPECT_NE(text.find(L"yAxisMinValue=\"100\" yAxisMaxValue=\"0\">"), std::wstring::npos);
    EXPECT_NE(text.find(L"    <categories />\n    <dataset seriesName=\"评估得分\" />\n"), std::wstring::npos);
}

TEST_F(AssessInfoTest, AfterAnAssessmentTheUserScoreChangesInMemoryOneUploadGoesAndThePagesAreTold) {
    StartUser();
    frame_.CreateHomePageAssessGraph();
    Store(20260101, 70, 30);
    Store(20260301, 88, 12);  // what the page stored before calling

    const auto result = CallNative(vm_, "assess", "AssessAfterProc", {NewReport()});
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.result.get_int(-99), 0);

    EXPECT_EQ(GetProperty(vm_, "user", "assessPoint").result.get_int(), 88);
    EXPECT_EQ(GetProperty(vm_, "user", "assessRank").result.get_int(), 12);
    EXPECT_EQ(Column(L"tUser", L"assessPoint"), L"40");
    EXPECT_EQ(Column(L"tUser", L"assessRank"), L"41");

    // The stored row replaced what the page passed.
    const struAssessReportW r = assess_.GetLastReport();
    EXPECT_EQ(r.userNo, 1001);
    EXPECT_EQ(r.assessDate, 20260301);
    EXPECT_EQ(r.types[0].point, 10);
    EXPECT_EQ(r.note, L"it's stored");
    EXPECT_EQ(assess_.GetAdvice(), L"您最近的健康评估得分上升，希望您继续保持。");
    EXPECT_NE(assess_.GetGraphData().find(L"value=\"88\""), std::wstring::npos);

    ASSERT_TRUE(server_.WaitForRequests(1));
    ASSERT_FALSE(server_.WaitForRequests(2, std::chrono::milliseconds(100)));
    const PacketRequest upload = server_.Requests().front();
    EXPECT_EQ(upload.commandId, COMMAND_USERASSESSREPORT_DATA);
    ASSERT_EQ(upload.fields.size(), 28u);
    EXPECT_EQ(upload.fields[0], "1001");
    EXPECT_EQ(upload.fields[1], "20260301");
    EXPECT_EQ(upload.fields[2], "88");
    EXPECT_EQ(upload.fields[3], "12");
    EXPECT_EQ(upload.fields[25], "3");

    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"802B", L"8034", L"8021"}));
}

TEST_F(AssessInfoTest, AfterAnAssessmentWithNoStoredReportNothingIsUploaded) {
    StartUser();
    EXPECT_EQ(assess_.AssessAfterProc(NewReport()), 0);
    EXPECT_EQ(user_.GetUser().assessPoint, 88);
    EXPECT_EQ(assess_.GetLastReport().userNo, -1);
    EXPECT_EQ(assess_.GetAdvice(), L"您还没有做过健康评估，建议您立即进行健康评估的体验。");
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"802B", L"8034", L"8021"}));

    // A request queued after it is the only one that arrives.
    ASSERT_EQ(comm_->QuestPedoRank_asyn(5), 0);
    ASSERT_TRUE(server_.WaitForRequests(1));
    ASSERT_FALSE(server_.WaitForRequests(2, std::chrono::milliseconds(100)));
    EXPECT_NE(server_.Requests().front().commandId, COMMAND_USERASSESSREPORT_DATA);
}

}  // namespace
