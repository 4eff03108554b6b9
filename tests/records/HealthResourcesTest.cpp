// The health elements: loading, the texts of their values, the parsed texts of devices
// and the element lists that wait for the main page.
#include "HealthResources.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "EngineTest.h"
#include "HealthResourcesFixture.h"
#include "Hooks.h"
#include "LogReader.h"
#include "UserOperation.h"

namespace test = uie::test;
using uie::value;

namespace {

std::vector<std::wstring> Ids(const std::vector<struHealthElementW>& elements) {
    std::vector<std::wstring> ids;
    for (const auto& e : elements) ids.push_back(e.healthElementID);
    return ids;
}

std::vector<std::wstring> Keys(const value& object) {
    std::vector<std::wstring> keys;
    for (const auto& [key, v] : *object.map_ptr()) keys.push_back(key.get_string());
    return keys;
}

class HealthElementsTest : public HealthResourcesTest {
protected:
    void InsertElement(const wchar_t* id, int type, int dispNo, const wchar_t* status, int userNo = -1) {
        Exec(L"insert into tHealthElement (userNo, healthElementID, healthElementName, healthElementType, valueNo, "
             L"value, decLen, sourceNo, dispNo, syncFlag, status) values (" +
             std::to_wstring(userNo) + L", '" + id + L"', 'name of " + id + L"', " + std::to_wstring(type) +
             L", -29999, '', 0, 1, " + std::to_wstring(dispNo) + L", '0', '" + status + L"')");
    }
    static struHealthElementW Plain(int decLen, const wchar_t* transform = L"") {
        struHealthElementW e;
        e.healthElementID = L"probe";
        e.decLen = decLen;
        e.valueTransFunc = transform;
        return e;
    }
};

TEST_F(HealthElementsTest, LoadTakesActiveRowsInTypeThenDisplayOrderAndStampsTheUser) {
    Exec(L"update tHealthElement set userNo=-1 where healthElementID='sex'");
    InsertElement(L"aFirst", 10, 0, L"1", 5);
    InsertElement(L"hidden", 10, 0, L"0");
    ASSERT_EQ(resources_.ReadHealthElementFromDB(), kDefaultElements + 1);

    const std::vector<std::wstring> ids = Ids(resources_.ElementsInLoadOrder());
    ASSERT_EQ(ids.size(), static_cast<std::size_t>(kDefaultElements + 1));
    EXPECT_EQ(std::vector<std::wstring>(ids.begin(), ids.begin() + 5),
              (std::vector<std::wstring>{L"aFirst", L"sex", L"age", L"height", L"weight"}));
    EXPECT_EQ(ids.back(), L"devAirQuality");  // type 60, the last display place
    EXPECT_FALSE(resources_.FindElement(L"hidden").has_value());

    EXPECT_EQ(Element(L"aFirst").userNo, 5);  // a stored owner stays
    const struHealthElementW sex = Element(L"sex");
    EXPECT_EQ(sex.userNo, userNo_);
    EXPECT_EQ(sex.sourceLinkState, 1);
    EXPECT_EQ(sex.lastReadTick, static_cast<int>(tick_));
    EXPECT_EQ(sex.lastDispTick, static_cast<int>(tick_));
    EXPECT_EQ(sex.valueTransFunc, L"GetSexName");
    EXPECT_EQ(Element(L"weight").decLen, 1);
}

TEST_F(HealthElementsTest, ReloadNumbersAfreshAndARepeatedIdKeepsItsFirstRow) {
    ASSERT_EQ(resources_.ReadHealthElementFromDB(), kDefaultElements);
    EXPECT_EQ(resources_.ElementsInLoadOrder().size(), static_cast<std::size_t>(kDefaultElements));

    // The same table without its key, so an id can come twice.
    Exec(L"create table tCopy as select * from tHealthElement");
    Exec(L"drop table tHealthElement");
    Exec(L"alter table tCopy rename to tHealthElement");
    Exec(L"insert into tHealthElement (healthElementID, healthElementName, healthElementType, dispNo, status) values "
         L"('sex', 'second sex', 10, 9, '1')");
    EXPECT_EQ(resources_.ReadHealthElementFromDB(), kDefaultElements);
    const std::vector<std::wstring> ids = Ids(resources_.ElementsInLoadOrder());
    EXPECT_EQ(std::count(ids.begin(), ids.end(), L"sex"), 1);
    EXPECT_EQ(Element(L"sex").healthElementName, L"性别");
}

TEST_F(HealthElementsTest, ADatabaseErrorAnswersMinusOneAndLogsTheStatement) {
    const std::wstring line = L"CSqliteException[SQLITE_ERROR[1]: no such table: tHealthElement]:[1][select userNo,";
    const int before = CountLogLines(line);
    Exec(L"drop table tHealthElement");
    EXPECT_EQ(resources_.ReadHealthElementFromDB(), -1);
    EXPECT_GT(CountLogLines(line), before);
    EXPECT_TRUE(resources_.ElementsInLoadOrder().empty());
    // Unknown ids answer neutrally.
    EXPECT_EQ(resources_.GetElementSourceNo(L"sex"), -1);
    EXPECT_EQ(resources_.GetElementValue(L"sex"), L"");
    EXPECT_EQ(resources_.GetElementValueNo(L"sex"), CHealthResources::kNoValue);
    std::wstring text = L"old";
    resources_.GetElementValueByValueNo(text, L"sex", 1);
    EXPECT_EQ(text, L"");
    EXPECT_EQ(resources_.LoadFromDB(), 1);  // the start-up goes on all the same
}

TEST_F(HealthElementsTest, TextsOfValueNumbers) {
    EXPECT_EQ(resources_.ElementValueNoToValue(Plain(2), 3650), L"36.50");
    EXPECT_EQ(resources_.ElementValueNoToValue(Plain(3), -1), L"-0.001");
    EXPECT_EQ(resources_.ElementValueNoToValue(Plain(0), -5), L"-5");
    EXPECT_EQ(resources_.ElementValueNoToValue(Plain(0), CHealthResources::kNoValue), L"");

    Hooks().localTime = FixClock;
    Exec(L"insert into tDictWindDirection values (3, '东北风')");
    const auto text = [this](const wchar_t* transform, int valueNo) {
        return resources_.ElementValueNoToValue(Plain(0, transform), valueNo);
    };
    EXPECT_EQ(text(L"GetSexName", CHealthResources::kNoValue), L"");
    EXPECT_EQ(text(L"GetRealyAge", 19800615), L"44");
    EXPECT_EQ(text(L"GetRealyAge", 19800616), L"43");  // the birthday is tomorrow
    EXPECT_EQ(text(L"GetRealyAge", 19000000), L"");
    EXPECT_EQ(text(L"GetRealyAge", 21000000), L"");
    EXPECT_EQ(text(L"GetFormatTimeStr", 3725), L"1&nbsp;:&nbsp;2&nbsp;:&nbsp;5");
    EXPECT_EQ(text(L"GetSexName", 0), L"保密");
    EXPECT_EQ(text(L"GetSexName", 1), L"男");
    EXPECT_EQ(text(L"GetSexName", 2), L"女");
    EXPECT_EQ(text(L"GetWindDirectionName", 3), L"东北风");

    // Without the main window (or the database) the number itself shows.
    g_pMainFrame = nullptr;
    EXPECT_EQ(text(L"GetSexName", 1), L"1");
    g_pMainFrame = &frame_;
    g_pMyDatabase = nullptr;
    EXPECT_EQ(text(L"GetFormatTimeStr", 3725), L"3725");
    g_pMyDatabase = &db_;
}

TEST_F(HealthElementsTest, APageTransformIsCalledOnTheMainWindowsThreadOnly) {
    test::Recording recording;
    ASSERT_TRUE(test::PageHost::Register(frame_.GetHwnd(), "ShowGrade", [](const test::PageCall& call) {
        return value(L"grade " + std::to_wstring(call.args.at(0).get_int()));
    }));
    const struHealthElementW e = Plain(1, L"ShowGrade");
    const int logged = CountLogLines(L"callScript(ShowGrade)..");
    const std::uint64_t start = test::PageHost::LastSeq();
    EXPECT_EQ(resources_.ElementValueNoToValue(e, 7), L"grade 7");
    EXPECT_GT(CountLogLines(L"callScript(ShowGrade).."), logged);
    const auto call = test::PageHost::WaitForCall("ShowGrade", std::chrono::milliseconds(0), start);
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->args, (std::vector<value>{value(7)}));

    const std::uint64_t afterFirst = test::PageHost::LastSeq();
    std::wstring elsewhere;
    std::thread([&] { elsewhere = resources_.ElementValueNoToValue(e, 7); }).join();
    EXPECT_EQ(elsewhere, L"0.7");
    EXPECT_EQ(test::PageHost::LastSeq(), afterFirst);

    // A function the page lacks gives an empty text.
    EXPECT_EQ(resources_.ElementValueNoToValue(Plain(1, L"NoSuchFunction"), 7), L"");
}

TEST_F(HealthElementsTest, DeviceTextsAreParsedDigitByDigit) {
    struct Case {
        const wchar_t* text;
        int decLen;
        int expected;
    };
    const Case cases[] = {
        {L"1.15", 2, 115},         {L"0.57", 2, 57},          {L"36.57", 1, 365},       {L"36", 2, 3600},
        {L" -0.5", 1, -5},         {L".5", 1, 5},             {L"12.9", 0, 12},         {L"12", -1, 12},
        {L"7kg", 1, 70},           {L"", 1, -29999},          {L"abc", 0, -29999},      {L"-", 0, -29999},
        {L"1", 10, -29999},        {L"3000000000", 0, -29999}, {L"214748364.7", 1, 2147483647},
        {L"214748364.8", 1, -29999}, {L"-214748364.8", 1, INT_MIN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(resources_.ElementTextToValueNo(Plain(c.decLen), c.text), c.expected)
            << text::ToUtf8(c.text) << " decLen " << c.decLen;
    }
}

TEST_F(HealthElementsTest, ElementListsCarryTheSourceRecordsFieldsAndLeaveUnknownSourcesOut) {
    resources_.QueueElementRefreshById(L"weight");
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"803E"}));
    const value list = resources_.PopElementListMsg();
    ASSERT_EQ(list.length(), 1u);
    const value weight = list.nth(0);
    EXPECT_EQ(Keys(weight), (std::vector<std::wstring>{L"healthElementID", L"healthElementName", L"value", L"valueNo",
                                                       L"unitName", L"decLen", L"valueTransFunc", L"elementManageFunc",
                                                       L"changeCycle", L"sourceNo", L"sourceName", L"sourceStatus"}));
    EXPECT_EQ(weight.get_item(value(L"sourceName")), value(L"手工录入"));
    EXPECT_EQ(weight.get_item(value(L"sourceStatus")), value(sources_.GetSourceType(1)->linkState.load()));
    EXPECT_EQ(weight.get_item(value(L"decLen")), value(1));

    Change(L"weight", [](struHealthElementW& e) { e.sourceNo = 999; });
    EXPECT_EQ(resources_.QueueElementRefresh(Element(L"weight")), -1);
    EXPECT_EQ(resources_.QueueSourceElements(999), 0);
    EXPECT_TRUE(Commands().empty());

    EXPECT_EQ(resources_.QueueSourceElements(122), 0);
    EXPECT_EQ(resources_.QueueSourceElements(-1), 0);
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"803E", L"803E"}));
    const value pedometer = resources_.PopElementListMsg();
    std::vector<std::wstring> ids;
    for (std::size_t i = 0; i < pedometer.length(); ++i)
        ids.push_back(pedometer.nth(i).get_item(value(L"healthElementID")).get_string());
    EXPECT_EQ(ids, (std::vector<std::wstring>{L"pedoNumberOfSteps", L"pedoDistance", L"pedoCalorieExpenditure",
                                              L"pedoValidTime", L"pedoStepLength"}));
    EXPECT_EQ(resources_.PopElementListMsg().length(), static_cast<std::size_t>(kDefaultElements - 1));

    value unknown = value::make_array();
    unknown.append(records::MakeObject({{L"healthElementID", value(L"nope")}}));
    unknown.append(value(5));
    resources_.QueueElementsFromList(unknown);
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"803E"}));
    EXPECT_EQ(Lists(), (std::vector<std::wstring>{L"[]"}));
}

TEST_F(HealthElementsTest, AListWhosePostFailedIsTakenOutAgain) {
    g_pMainFrame = nullptr;
    resources_.QueueElementRefreshById(L"sex");
    g_pMainFrame = &frame_;
    EXPECT_TRUE(resources_.PopElementListMsg().is_undefined());

    resources_.QueueElementRefreshById(L"age");
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"803E"}));
    const value list = resources_.PopElementListMsg();
    EXPECT_EQ(list.nth(0).get_item(value(L"healthElementID")), value(L"age"));
    EXPECT_TRUE(resources_.PopPageMsg().is_undefined());
}

TEST_F(HealthElementsTest, AgeTextFollowsTheBirthDateItHolds) {
    Hooks().localTime = FixClock;
    Change(L"age", [](struHealthElementW& e) {
        e.valueNo = 19800615;
        e.value = L"40";
    });
    resources_.RefreshAgeElement();
    EXPECT_EQ(Element(L"age").value, L"44");
    EXPECT_EQ(Element(L"age").valueNo, 19800615);
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"803E"}));
    Lists();

    resources_.RefreshAgeElement();  // unchanged: nothing to show
    Change(L"age", [](struHealthElementW& e) { e.valueNo = CHealthResources::kNoValue; });
    resources_.RefreshAgeElement();  // no birth date
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(Element(L"age").value, L"44");
}

TEST_F(HealthElementsTest, ComputerUseSecondsComeFromTheActivityMonitor) {
    struct Monitor : CUserOperation {
        bool GetUseSecondValue(const std::wstring& id, int* seconds) override {
            asked.push_back(id);
            *seconds = 3725;
            return true;
        }
        std::vector<std::wstring> asked;
    };
    CUserOperation* const saved = g_pUserOperation;
    Monitor monitor;
    g_pUserOperation = &monitor;
    int seconds = 0;
    EXPECT_TRUE(resources_.GetUserEnvSeconds(Element(L"computerUseSecond"), &seconds));
    EXPECT_EQ(seconds, 3725);
    EXPECT_TRUE(resources_.GetUserEnvSeconds(Element(L"surfingInternetSecond"), &seconds));
    EXPECT_FALSE(resources_.GetUserEnvSeconds(Element(L"mskbOpRate"), &seconds));
    EXPECT_EQ(monitor.asked, (std::vector<std::wstring>{L"computerUseSecond", L"surfingInternetSecond"}));

    // A monitor that has measured nothing yet answers with today's 0 seconds.
    CUserOperation measuresNothing;
    g_pUserOperation = &measuresNothing;
    seconds = -1;
    EXPECT_TRUE(resources_.GetUserEnvSeconds(Element(L"mskbUseSecond"), &seconds));
    EXPECT_EQ(seconds, 0);
    g_pUserOperation = nullptr;
    EXPECT_FALSE(resources_.GetUserEnvSeconds(Element(L"mskbUseSecond"), &seconds));
    g_pUserOperation = saved;
}

}  // namespace
