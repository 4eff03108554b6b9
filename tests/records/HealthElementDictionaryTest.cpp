#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "EngineTest.h"
#include "HealthElementSource.h"
#include "HealthElementSourceType.h"
#include "HealthElementType.h"
#include "HealthResources.h"
#include "LogReader.h"
#include "RecordsFixture.h"
#include "deviceManager.h"

namespace test = uie::test;
using uie::value;

namespace {

// A device manager that sees the devices a test plugs in.
class DeviceProbe : public CDeviceManager {
public:
    int IsUsbDevicePresent(int vendorID, int productID) override {
        if (unreadable) return -1;
        return present.count({vendorID, productID}) != 0 ? 1 : 0;
    }
    std::set<std::pair<int, int>> present;
    bool unreadable = false;
};

class HealthElementDictionaryTest : public RecordsTest {
protected:
    HealthElementDictionaryTest() {
        Exec(L"delete from tHealthElementType");
        Exec(L"delete from tHealthElementSourceType");
        Exec(L"delete from tHealthElementSource");
        g_pHealthElementType = &types_;
        g_pHealthElementSourceType = &sources_;
        g_pHealthElementSource = &links_;
        g_pDeviceManager = &devices_;
        g_pHealthResources = &resources_;
    }
    ~HealthElementDictionaryTest() override {
        g_pHealthElementType = nullptr;
        g_pHealthElementSourceType = nullptr;
        g_pHealthElementSource = nullptr;
        g_pDeviceManager = nullptr;
        g_pHealthResources = nullptr;
    }

    // A source row: its number, type, USB ids, display order and status.
    void Source(int sourceNo, const wchar_t* type, int vid, int pid, int dispNo = 1, const wchar_t* status = L"1") {
        Exec(L"insert into tHealthElementSourceType values(" + std::to_wstring(sourceNo) + L",'source " +
             std::to_wstring(sourceNo) + L"','" + type + L"','maker','model','module.dll'," + std::to_wstring(vid) +
             L"," + std::to_wstring(pid) + L",'note'," + std::to_wstring(dispNo) + L",'p.png','c.png',7,'0','" +
             status + L"','',datetime('now'))");
    }
    void Link(const wchar_t* elementID, int sourceNo, int dispNo = 1) {
        Exec(std::wstring(L"insert into tHealthElementSource values('") + elementID + L"'," +
             std::to_wstring(sourceNo) + L"," + std::to_wstring(dispNo) + L",-1,'0','1','',datetime('now'))");
    }
    void Type(int type, int dispNo, const wchar_t* status = L"1") {
        Exec(L"insert into tHealthElementType values(" + std::to_wstring(type) + L",'type " + std::to_wstring(type) +
             L"','',"+ std::to_wstring(dispNo) + L",'',-1,'0','" + status + L"','',datetime('now'))");
    }
    // A page's call of a dictionary's method on this thread's VM.
    test::CallResult Read(std::string_view object, std::string_view method, std::vector<value> args = {}) {
        types_.RegisterScriptObject(vm_);
        sources_.RegisterScriptObject(vm_);
        links_.RegisterScriptObject(vm_);
        return test::CallNative(vm_, object, method, std::move(args));
    }
    static std::vector<std::wstring> Keys(const value& object) {
        std::vector<std::wstring> keys;
        for (const auto& [key, v] : *object.map_ptr()) keys.push_back(key.get_string());
        return keys;
    }
    static std::vector<int> Numbers(const value& list, const wchar_t* key) {
        std::vector<int> numbers;
        for (std::size_t i = 0; i < list.length(); ++i) numbers.push_back(list.nth(i).get_item(value(key)).get_int());
        return numbers;
    }

    CHealthElementType types_;
    CHealthElementSourceType sources_;
    CHealthElementSource links_;
    DeviceProbe devices_;
    CHealthResources resources_;
};

TEST_F(HealthElementDictionaryTest, SourcesLoadOnceWithUsbDevicesRemovedUntilSeen) {
    Source(120, L"3", 0x0C45, 0x70C1);
    Source(1, L"1", -1, -1);
    Source(2, L"2", -1, -1, 1, L"0");  // not in use
    Exec(L"insert into tHealthElementSourceType (sourceNo, sourceType, vendorID, status) values (5, NULL, 'x', '1')");
    sources_.LoadFromDB();
    EXPECT_EQ(sources_.m_load.loaded, 1);
    EXPECT_EQ(sources_.m_load.lastNo, -1);
    const struHealthElementSourceTypeW* device = sources_.GetSourceType(120);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->linkState, 2);
    EXPECT_EQ(device->interfaceName, L"module.dll");
    EXPECT_EQ(sources_.GetSourceTypeByVidPid(0x0C45, 0x70C1), device);
    ASSERT_NE(sources_.GetSourceType(1), nullptr);
    EXPECT_EQ(sources_.GetSourceType(1)->linkState, 1);
    EXPECT_EQ(sources_.GetSourceType(2), nullptr);
    const struHealthElementSourceTypeW* sparse = sources_.GetSourceType(5);
    ASSERT_NE(sparse, nullptr);
    EXPECT_EQ(sparse->sourceName, L"");  // NULL reads as an empty text
    EXPECT_EQ(sparse->vendorID, 0);      // no number reads as 0

    // A second load changes nothing: the records handed out stay what they were.
    Exec(L"delete from tHealthElementSourceType");
    sources_.LoadFromDB();
    EXPECT_EQ(sources_.GetSourceType(120), device);
}

TEST_F(HealthElementDictionaryTest, PresentDevicesAreFoundOnlyInTheirFamilyAndWithBothIds) {
    Source(119, L"3", 1, 1);
    Source(124, L"3", -1, 5);
    Source(125, L"3", 2, 2);
    Source(130, L"3", 3, 3);
    Source(1099, L"3", 4, 4);
    Source(1100, L"3", 6, 6);
    sources_.LoadFromDB();

    devices_.present = {{1, 1}, {3, 3}, {-1, 5}, {6, 6}};
    EXPECT_EQ(sources_.FindPresentDevice(120), nullptr);   // 119 and 130 lie outside 120-129
    EXPECT_EQ(sources_.FindPresentDevice(1000), nullptr);  // 1100 lies outside 1000-1099
    devices_.present = {{2, 2}, {4, 4}};
    ASSERT_NE(sources_.FindPresentDevice(120), nullptr);
    EXPECT_EQ(sources_.FindPresentDevice(120)->sourceNo, 125);
    ASSERT_NE(sources_.FindPresentDevice(1000), nullptr);
    EXPECT_EQ(sources_.FindPresentDevice(1000)->sourceNo, 1099);

    devices_.unreadable = true;  // a list that cannot be read is no device
    EXPECT_EQ(sources_.FindPresentDevice(120), nullptr);
    devices_.unreadable = false;
    g_pDeviceManager = nullptr;
    EXPECT_EQ(sources_.FindPresentDevice(120), nullptr);
}

TEST_F(HealthElementDictionaryTest, LinkStateReachesEveryLinkAndElementOfTheSource) {
    Link(L"pedoDistance", 122);
    Link(L"pedoNumberOfSteps", 122);
    Link(L"pedoStepLength", 122);
    Link(L"sex", 1);
    links_.LoadFromDB();
    resources_.WithElements([](HealthElementMap& elements) {
        for (const auto& [id, source] : {std::pair<const wchar_t*, int>{L"pedoDistance", 122},
                                         {L"pedoNumberOfSteps", 122}, {L"sex", 1}}) {
            elements[id].healthElementID = id;
            elements[id].sourceNo = source;
            elements[id].sourceLinkState = 2;
        }
    });

    EXPECT_EQ(links_.SetSourceLinkState(122, 1), 3);
    std::vector<int> elementStates;
    resources_.WithElements([&](HealthElementMap& elements) {
        for (const auto& [id, element] : elements) elementStates.push_back(element.sourceLinkState);
    });
    EXPECT_EQ(elementStates, (std::vector<int>{1, 1, 2}));  // in ID order: the two pedometer elements, then sex
    const value list = links_.GetSourceList();
    EXPECT_EQ(Numbers(list, L"sourceStatus"), (std::vector<int>{1, 1, 1, -1}));
    EXPECT_EQ(links_.SetSourceLinkState(77, 2), 0);
}

TEST_F(HealthElementDictionaryTest, PagesListInKeyOrderWithTheirOwnKeys) {
    Source(1002, L"3", -1, -1, 1);
    Source(122, L"3", 3141, 28865, 2);
    Source(1, L"2", -1, -1, 3);
    Type(30, 1);
    Type(10, 2);
    Type(20, 3, L"0");
    Link(L"b", 2, 1);
    Link(L"a", 1, 2);
    sources_.LoadFromDB();
    types_.LoadFromDB();
    links_.LoadFromDB();

    const test::CallResult all = Read("healthElementSourceType", "ReadHealthElementSourceType", {value(-1)});
    ASSERT_TRUE(all.ok) << text::ToUtf8(all.error);
    EXPECT_EQ(Numbers(all.result, L"sourceNo"), (std::vector<int>{1, 122, 1002}));
    const test::CallResult one = Read("healthElementSourceType", "ReadHealthElementSourceType", {value(122)});
    ASSERT_TRUE(one.result.is_map());
    EXPECT_EQ(Keys(one.result),
              (std::vector<std::wstring>{L"sourceNo", L"sourceName", L"sourceType", L"devCompanyName",
                                         L"devProductsModel", L"interface", L"vendorID", L"productID", L"sourceNote",
                                         L"productIconFileName", L"companyIconFileName", L"dispNo", L"lastRecNo",
                                         L"lastOpCode", L"status", L"note"}));
    EXPECT_EQ(one.result.get_item(value(L"interface")), value(L"module.dll"));
    EXPECT_EQ(one.result.get_item(value(L"productID")), value(28865));
    const test::CallResult none = Read("healthElementSourceType", "ReadHealthElementSourceType", {value(999)});
    EXPECT_TRUE(none.result.is_array());
    EXPECT_EQ(none.result.length(), 0u);

    const test::CallResult types = Read("healthElementType", "ReadHealthElementType", {value(-1)});
    EXPECT_EQ(Numbers(types.result, L"healthElementType"), (std::vector<int>{10, 30}));
    EXPECT_EQ(Keys(types.result.nth(0)),
              (std::vector<std::wstring>{L"healthElementType", L"healthElementTypeName", L"healthElementTypeNote",
                                         L"dispNo", L"nodeIconFileName", L"lastRecNo", L"lastOpCode", L"status",
                                         L"note"}));
    EXPECT_EQ(Read("healthElementType", "ReadHealthElementType", {value(30)}).result.length(), 1u);
    EXPECT_EQ(Read("healthElementType", "ReadHealthElementType", {value(20)}).result.length(), 0u);
    const test::CallResult wrong = Read("healthElementType", "ReadHealthElementType", {value(L"30")});
    EXPECT_FALSE(wrong.ok);
    EXPECT_TRUE(wrong.result.is_undefined());

    const test::CallResult links = Read("healthElementSource", "ReadHealthElementSource");
    ASSERT_EQ(links.result.length(), 2u);
    EXPECT_EQ(links.result.nth(0).get_item(value(L"healthElementID")), value(L"a"));
    EXPECT_EQ(Keys(links.result.nth(0)),
              (std::vector<std::wstring>{L"healthElementID", L"sourceNo", L"sourceStatus", L"dispNo", L"lastRecNo",
                                         L"lastOpCode", L"status", L"note"}));
}

TEST_F(HealthElementDictionaryTest, ABrokenTableKeepsWhatWasReadAndSaysMinusOne) {
    Type(10, 1);
    Source(122, L"3", 1, 2);
    Link(L"a", 122);
    EXPECT_EQ(types_.ReadHealthElementTypeFromDB(), 1);
    EXPECT_EQ(sources_.ReadHealthElementSourceTypeFromDB(), 1);
    EXPECT_EQ(links_.ReadHealthElementSourceFromDB(), 1);
    const int logged = CountLogLines(L"CSqliteException[ReadHealthElementTypeFromDB]");
    Exec(L"drop table tHealthElementType");
    Exec(L"drop table tHealthElementSourceType");
    EXPECT_EQ(types_.ReadHealthElementTypeFromDB(), -1);
    EXPECT_EQ(sources_.ReadHealthElementSourceTypeFromDB(), -1);
    EXPECT_NE(types_.GetHealthElementType(10), nullptr);
    EXPECT_NE(sources_.GetSourceType(122), nullptr);
    EXPECT_GT(CountLogLines(L"CSqliteException[ReadHealthElementTypeFromDB]"), logged);
}

}  // namespace
