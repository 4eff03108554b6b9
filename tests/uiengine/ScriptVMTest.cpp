#include "ScriptVM.h"

#include <gtest/gtest.h>

#include "EngineTest.h"
#include "EngineWindow.h"

using uie::value;
namespace test = uie::test;

namespace {

// The program's role: a native object with a checked method, a read-only property and
// a constant, and a class whose instances own native data.
std::shared_ptr<const uie::NativeObjectDef> ShareObject() {
    auto def = std::make_shared<uie::NativeObjectDef>();
    def->methods.push_back({"GetDate", [](HVM, const uie::NativeArgs& args) {
                                int offset = uie::ArgInt(args, 0);
                                std::wstring sep = uie::ArgStringOr(args, 1, L"-");
                                return value(L"2024" + sep + std::to_wstring(offset));
                            }});
    def->properties.push_back({"login_State", [](HVM, const uie::NativeArgs&) { return value(2); }, {}});
    def->constants.push_back({"VERSION", value(10)});
    return def;
}

struct Counter {
    int* finalized;
};

std::shared_ptr<uie::NativeClassDef> CounterClass(int* finalized) {
    auto def = std::make_shared<uie::NativeClassDef>();
    def->name = "Counter";
    def->constructor = [finalized](HVM, const uie::NativeArgs& args) {
        if (args.size() == 0) throw uie::ScriptError(L"Counter needs a start");
        uie::SetInstanceData(args.self, new Counter{finalized});
        return value();
    };
    def->methods.push_back({"name", [](HVM, const uie::NativeArgs& args) {
                                return value(uie::InstanceData(args.self) != nullptr ? L"counted" : L"empty");
                            }});
    def->finalizer = [](void* data) {
        std::unique_ptr<Counter> c(static_cast<Counter*>(data));
        if (c) ++*c->finalized;
    };
    return def;
}

class ScriptVMTest : public ::testing::Test {
protected:
    void SetUp() override {
        vm = SciterGetVM(window.hwnd);
        ASSERT_NE(vm, nullptr);
        ASSERT_TRUE(uie::DefineNativeObject(vm, "share", ShareObject()));
    }

    EngineWindow window;
    HVM vm = nullptr;
};

TEST_F(ScriptVMTest, NativeMethodChecksItsArguments) {
    auto ok = test::CallNative(vm, "share", "GetDate", {value(3), value(L"/")});
    EXPECT_TRUE(ok.ok);
    EXPECT_EQ(ok.result, value(L"2024/3"));

    auto bad = test::CallNative(vm, "share", "GetDate", {value(L"3")});
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.error, L"parameter 1, expecting integer");
    EXPECT_EQ(uie::LastScriptError(vm), L"parameter 1, expecting integer");

    EXPECT_EQ(test::CallNative(vm, "share", "GetDate", {value(3), value(4)}).error, L"parameter 2, expecting string");
    EXPECT_EQ(test::CallNative(vm, "share", "GetDate").error, L"parameter 1, expecting integer");
    EXPECT_FALSE(test::CallNative(vm, "share", "NoSuchMethod").ok);
}

TEST_F(ScriptVMTest, PropertiesAreReadOnlyAndConstantsReadable) {
    EXPECT_EQ(test::GetProperty(vm, "share", "login_State").result, value(2));
    EXPECT_EQ(test::GetProperty(vm, "share", "VERSION").result, value(10));
    EXPECT_TRUE(test::GetProperty(vm, "share", "other").result.is_undefined());
    auto write = test::SetProperty(vm, "share", "login_State", value(0));
    EXPECT_FALSE(write.ok);
    EXPECT_FALSE(write.error.empty());
    EXPECT_EQ(test::GetProperty(vm, "share", "login_State").result, value(2));
}

TEST_F(ScriptVMTest, InstancesAreReferencesFinalizedAtTheLastRelease) {
    int finalized = 0;
    ASSERT_TRUE(uie::DefineNativeClass(vm, CounterClass(&finalized)));
    {
        auto made = test::Construct(vm, "Counter", {value(1)});
        ASSERT_TRUE(made.ok);
        value inArray = value::make_array({made.result});
        value copy = inArray;  // a deep copy of the array still shares the instance
        made = {};
        inArray = value();
        EXPECT_EQ(finalized, 0);
        EXPECT_EQ(test::CallMethod(vm, copy.nth(0), "name").result, value(L"counted"));
        EXPECT_EQ(uie::ClassName(copy.nth(0)), "Counter");
    }
    EXPECT_EQ(finalized, 1);

    // A refusing constructor yields null; an instance made without it holds no data.
    auto refused = test::Construct(vm, "Counter");
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.result.is_null());
    EXPECT_EQ(refused.error, L"Counter needs a start");
    value bare = uie::NewInstance(vm, "Counter");
    EXPECT_EQ(test::CallMethod(vm, bare, "name").result, value(L"empty"));
}

TEST_F(ScriptVMTest, OneVMPerThreadSharedByItsWindows) {
    EngineWindow second;
    EXPECT_EQ(SciterGetVM(second.hwnd), vm);
    EXPECT_TRUE(uie::HasNative(SciterGetVM(second.hwnd), "share"));

    // Another thread's VM, looked at while its window is there: the VM goes with it.
    bool made = false;
    bool shared = true;
    bool hasShare = true;
    std::thread([&] {
        EngineWindow elsewhere;
        const HVM other = SciterGetVM(elsewhere.hwnd);
        made = other != nullptr;
        shared = other == vm;
        hasShare = uie::HasNative(other, "share");
    }).join();
    EXPECT_TRUE(made);
    EXPECT_FALSE(shared);
    EXPECT_FALSE(hasShare);
    EXPECT_EQ(SciterGetVM(nullptr), nullptr);
}

}  // namespace
