// The pages' "healthResources" object, called as a page calls it.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "EngineTest.h"
#include "HealthResourcesFixture.h"

namespace test = uie::test;
using uie::value;

namespace {

class HealthResourcesScriptTest : public HealthResourcesTest {
protected:
    HealthResourcesScriptTest() { resources_.RegisterScriptObject(vm_); }

    test::CallResult Call(std::string_view method, std::vector<value> args = {}) {
        return test::CallNative(vm_, "healthResources", method, std::move(args));
    }
    static value Items(std::vector<value> items) { return value::make_array(std::move(items)); }
    static std::vector<std::wstring> Keys(const value& object) {
        std::vector<std::wstring> keys;
        for (const auto& [key, v] : *object.map_ptr()) keys.push_back(key.get_string());
        return keys;
    }
};

TEST_F(HealthResourcesScriptTest, ReadHealthElementListsEachElementOnceInLoadOrderWithItsKeys) {
    ASSERT_EQ(resources_.ReadHealthElementFromDB(), kDefaultElements);  // a second load
    Change(L"sex", [](struHealthElementW& e) { e.sourceLinkState = 2; });
    const test::CallResult all = Call("ReadHealthElement", {value(L"")});
    ASSERT_TRUE(all.ok) << text::ToUtf8(all.error);
    ASSERT_EQ(all.result.length(), static_cast<std::size_t>(kDefaultElements));
    const value sex = all.result.nth(0);
    EXPECT_EQ(Keys(sex),
              (std::vector<std::wstring>{
                  L"healthElementID", L"healthElementName", L"healthElementType", L"valueNo", L"value",
                  L"defaultValueNo", L"minValue", L"maxValue", L"unitName", L"dataType", L"decLen", L"charSet",
                  L"ctrlType", L"ctrlShow", L"saveValue", L"basicFlag", L"defaultChangeCycle", L"changeCycle",
                  L"alertFlag", L"defaultReDispCycle", L"reDispCycle", L"sourceNo", L"sourceStatus", L"updateFlag",
                  L"valueTransFunc", L"elementManageFunc", L"refreshFunc", L"healthElementNote",
                  L"valueGeneratedTime", L"dispNo", L"nodeIconFileName", L"lastRecNo", L"lastOpCode", L"syncFlag",
                  L"syncNo", L"status", L"note"}));
    EXPECT_EQ(sex.get_item(value(L"healthElementID")), value(L"sex"));
    EXPECT_EQ(sex.get_item(value(L"sourceStatus")), value(2));
    EXPECT_EQ(all.result.nth(1).get_item(value(L"healthElementID")), value(L"age"));

    const test::CallResult one = Call("ReadHealthElement", {value(L"weight")});
    ASSERT_EQ(one.result.length(), 1u);
    EXPECT_EQ(one.result.nth(0).get_item(value(L"unitName")), value(L"kg"));
    EXPECT_EQ(Call("ReadHealthElement", {value(L"nope")}).result.length(), 0u);
}

TEST_F(HealthResourcesScriptTest, SetHealthElementValueStoresWithHistoryAndKeepsAMissingSource) {
    value height = records::MakeObject(
        {{L"healthElementID", value(L"height")}, {L"valueNo", value(175)}, {L"value", value(L"175")}});
    const test::CallResult set = Call("SetHealthElementValue", {Items({height})});
    ASSERT_TRUE(set.ok) << text::ToUtf8(set.error);
    EXPECT_EQ(set.result, value(0));
    EXPECT_EQ(Db(L"valueNo||'|'||sourceNo", L"height"), L"175|1");
    EXPECT_EQ(HistoryRows(L"height"), 1);
    EXPECT_EQ(Element(L"height").sourceNo, 1);
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"803E"}));
    EXPECT_TRUE(server_.WaitForRequests(1));  // height is synchronised

    const value batch = records::MakeObject({{L"recordDataList", Items({height})}});
    EXPECT_EQ(Call("SetHealthElementValue_Batch", {batch}).result, value(0));
    EXPECT_EQ(HistoryRows(L"height"), 2);

    // An item that is not stored is the answer; the items after it are still stored.
    const value unknownSource = records::MakeObject({{L"healthElementID", value(L"height")}, {L"sourceNo", value(77)}});
    EXPECT_EQ(Call("SetHealthElementValue", {Items({value(3), unknownSource, height})}).result, value(-1));
    EXPECT_EQ(Call("SetHealthElementValue", {Items({height, unknownSource})}).result, value(-3));
    EXPECT_EQ(HistoryRows(L"height"), 4);
}

TEST_F(HealthResourcesScriptTest, DisplayValuesAndSourcesChangeMemoryButNotTheDatabase) {
    const value items = Items({records::MakeObject({{L"healthElementID", value(L"height")},
                                                    {L"valueNo", value(181)},
                                                    {L"value", value(L"181")}}),
                               records::MakeObject({{L"healthElementID", value(L"weight")}, {L"value", value(L"x")}})});
    EXPECT_EQ(Call("UpdateElementValue", {items}).result, value(0));
    EXPECT_EQ(Element(L"height").valueNo, 181);
    EXPECT_EQ(Element(L"weight").valueNo, -1);
    EXPECT_EQ(Element(L"weight").value, L"x");
    EXPECT_EQ(Db(L"valueNo", L"height"), L"-29999");

    const value sources = Items({records::MakeObject({{L"healthElementID", value(L"height")}, {L"sourceNo", value(3)}}),
                                 records::MakeObject({{L"healthElementID", value(L"weight")}})});
    EXPECT_EQ(Call("UpdateElementSourceNo", {sources}).result, value(0));
    EXPECT_EQ(Element(L"height").sourceNo, 3);
    EXPECT_EQ(Element(L"weight").sourceNo, 1);  // no source given: unchanged
    EXPECT_EQ(Db(L"sourceNo", L"height"), L"1");
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"803E", L"803E"}));
    resources_.PopElementListMsg();  // the display values' list
    const value refreshed = resources_.PopElementListMsg();
    ASSERT_EQ(refreshed.length(), 2u);
    EXPECT_EQ(refreshed.nth(0).get_item(value(L"sourceName")), value(L"天气服务"));
}

TEST_F(HealthResourcesScriptTest, WrongArgumentsAreScriptErrors) {
    struct Case {
        const char* method;
        std::vector<value> args;
        value answer;
    };
    const std::vector<Case> cases = {
        {"ReadHealthElement", {value(5)}, value()},
        {"UpdateElementSourceNo", {}, value(-1)},
        {"GetHealthElementValueNo", {value::make_array()}, value(-1)},
        {"SetHealthElementValue", {value::make_map()}, value(-1)},
        {"GetElementValueByValueNo", {value(L"weight"), value(L"655")}, value()},
        {"SetHealthElementValue_Batch", {value(L"rows")}, value(-1)},
        {"GenHealthElementGraphData", {value::make_map()}, value()},
        {"startWork", {value(7)}, value(-1)},
    };
    for (const Case& c : cases) {
        const test::CallResult r = Call(c.method, c.args);
        EXPECT_FALSE(r.ok) << c.method;
        EXPECT_NE(r.error.find(L"parameter"), std::wstring::npos) << c.method << ": " << text::ToUtf8(r.error);
        EXPECT_EQ(r.result, c.answer) << c.method;
    }
    EXPECT_EQ(FirstValue(L"select count(*) from tHealthElementDataList"), L"0");
}

TEST_F(HealthResourcesScriptTest, UnknownIdsChartsAndDeviceModulesAnswerNeutrally) {
    EXPECT_EQ(Call("GetHealthElementValueNo", {value(L"nope")}).result, value(CHealthResources::kNoValue));
    EXPECT_EQ(Call("GetHealthElementValue", {value(L"nope")}).result, value(L""));
    EXPECT_EQ(Call("GetElementValueByValueNo", {value(L"weight"), value(655)}).result, value(L"65.5"));

    const value options = Items({records::MakeObject({{L"caption", value(L"体重")}})});
    const value rows = Items({records::MakeObject({{L"recDate", value(20240615)}, {L"valueNo", value(655)}})});
    EXPECT_EQ(frame_.GetHealthElementDataGraph(), nullptr);  // no chart player
    for (const auto& [method, args] : {std::pair<const char*, std::vector<value>>{"GenHealthElementGraphData",
                                                                                  {options, rows}},
                                       {"GenBmiGraphData", {rows}},
                                       {"getValue", {value(L"pedoNumberOfSteps")}}}) {
        const test::CallResult r = Call(method, args);
        EXPECT_TRUE(r.ok) << method;
        EXPECT_EQ(r.result, value(L"")) << method;
    }
    EXPECT_EQ(Call("startWork", {value(L"pedoNumberOfSteps")}).result, value(-1));
    EXPECT_EQ(Call("stopWork", {value(L"nope")}).result, value(-1));

    g_pMainFrame = nullptr;
    EXPECT_EQ(Call("GenBmiGraphData", {rows}).result, value(L""));
    g_pMainFrame = &frame_;
}

}  // namespace
