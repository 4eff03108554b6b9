#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <tuple>

#include "HealthDevicesFixture.h"
#include "LogReader.h"

namespace {

using ModuleBindingTest = HealthDevicesTest;

TEST_F(ModuleBindingTest, FullModuleBindsOnceAndAdjustsCycles) {
    struHealthElementSourceTypeW& source = UseModule(122, "full");
    for (const wchar_t* id : {L"pedoDistance", L"pedoStepLength", L"pedoNumberOfSteps"})
        Change(id, [](struHealthElementW& e) { e.reDispCycle = 5, e.changeCycle = 7, e.sourceLinkState = 1; });
    source.linkState = 2;

    EXPECT_EQ(resources_.InitModuleInterface(&source), 0);
    const struModuleInterface* module = source.moduleInterface.load();
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->path, ModulePath("full"));
    EXPECT_NE(module->GetModuleDataProcStatus, nullptr);
    EXPECT_NE(module->CloseModule, nullptr);
    EXPECT_EQ(module->reserved, nullptr);
    // Negative answers switch the cycles off; a failing call leaves the element alone.
    EXPECT_EQ(Element(L"pedoDistance").reDispCycle, -1);
    EXPECT_EQ(Element(L"pedoDistance").changeCycle, -1);
    EXPECT_EQ(Element(L"pedoStepLength").reDispCycle, 5);
    EXPECT_EQ(Element(L"pedoStepLength").changeCycle, 7);
    EXPECT_EQ(Element(L"pedoNumberOfSteps").reDispCycle, 5);
    // An element the module does not link gives its source's link state to the elements.
    EXPECT_EQ(Element(L"pedoNumberOfSteps").sourceLinkState, 2);

    EXPECT_EQ(resources_.InitModuleInterface(&source), 0);
    EXPECT_EQ(source.moduleInterface.load(), module);
    EXPECT_EQ(Count(source, "TestInitCount"), 1);
}

TEST_F(ModuleBindingTest, MissingExportUnloadsAndLeavesTheSlotEmpty) {
    for (const auto& [variant, code] : {std::pair{"nostate", -105}, std::pair{"noclose", -200}}) {
        struHealthElementSourceTypeW& source = UseModule(122, variant);
        EXPECT_EQ(resources_.InitModuleInterface(&source), -1) << variant;
        EXPECT_EQ(source.moduleInterface.load(), nullptr);
        EXPECT_FALSE(Loaded(ModulePath(variant)));
        EXPECT_EQ(CountLogLines(L"加载func[" + ModulePath(variant) + L"]:[" + std::to_wstring(code) + L"]失败"), 1);
    }
    struHealthElementSourceTypeW& source = UseModule(122, "nooptional");
    EXPECT_EQ(resources_.InitModuleInterface(&source), 0);
    ASSERT_NE(source.moduleInterface.load(), nullptr);
    EXPECT_EQ(source.moduleInterface.load()->SetModuleDataProcStatusCallBackFunc, nullptr);
}

TEST_F(ModuleBindingTest, InitModuleResultDecidesAndAFailureIsTriedAgain) {
    struHealthElementSourceTypeW& source = UseModule(122, "initfail");
    EXPECT_EQ(resources_.InitModuleInterface(&source), -1);
    EXPECT_EQ(source.moduleInterface.load(), nullptr);
    EXPECT_FALSE(Loaded(ModulePath("initfail")));
    EXPECT_EQ(CountLogLines(L"初始化模块[" + ModulePath("initfail") + L"]失败[-5]!"), 1);

    UseModule(122, "initthree");
    EXPECT_EQ(resources_.InitModuleInterface(&source), 3);
    EXPECT_NE(source.moduleInterface.load(), nullptr);
}

TEST_F(ModuleBindingTest, MissingFileOrAPathInTheNameLoadsNothing) {
    struHealthElementSourceTypeW& source = *sources_.GetSourceType(1002);
    source.interfaceName = L"nothere.dll";
    EXPECT_EQ(resources_.InitModuleInterface(&source), -1);
    const std::wstring missing = text::FromUtf8((dir_ / "interface" / "nothere.dll").string());
    EXPECT_EQ(CountLogLines(L"加载dll[" + missing + L"]失败"), 1);

    // A module that exists one folder up is still out of reach.
    UseModule(1002, "full");
    std::filesystem::copy_file(dir_ / "interface" / "testmod_full.so", dir_ / "testmod_full.so");
    source.interfaceName = L"../testmod_full.dll";
    EXPECT_EQ(resources_.InitModuleInterface(&source), -1);
    EXPECT_EQ(source.moduleInterface.load(), nullptr);
    EXPECT_FALSE(Loaded(text::FromUtf8((dir_ / "testmod_full.dll").string())));
}

TEST_F(ModuleBindingTest, PageCallsReachOnlyABoundModule) {
    UseModule(122, "full");
    EXPECT_EQ(resources_.GetModuleValue(L"pedoNumberOfSteps"), L"");
    EXPECT_EQ(resources_.CallModuleWork(L"pedoNumberOfSteps", true), -1);
    EXPECT_FALSE(Loaded(ModulePath("full")));  // asking did not bind it

    ASSERT_EQ(resources_.InitModuleInterface(sources_.GetSourceType(122)), 0);
    EXPECT_EQ(resources_.GetModuleValue(L"pedoNumberOfSteps"), L"21");
    EXPECT_EQ(resources_.GetModuleValue(L"pedoValidTime"), L"");  // the module wrote nothing
    EXPECT_EQ(resources_.GetModuleValue(L"pedoStepLength"), std::wstring(30, L'A'));  // its NUL missing
    EXPECT_EQ(resources_.CallModuleWork(L"pedoNumberOfSteps", true), 11);
    EXPECT_EQ(resources_.CallModuleWork(L"pedoNumberOfSteps", false), 12);
    EXPECT_EQ(resources_.CallModuleWork(L"noSuchElement", true), -1);
    EXPECT_EQ(resources_.GetModuleValue(L"sex"), L"");  // a source without a module

    // While a device read holds the module, the page's calls answer at once.
    std::promise<void> release;
    std::promise<void> holding;
    std::thread download([&] {
        std::lock_guard read(sources_.GetSourceType(122)->moduleInterface.load()->callLock);
        holding.set_value();
        release.get_future().wait();
    });
    holding.get_future().wait();
    auto answers = std::async(std::launch::async, [this] {
        return std::tuple{resources_.GetModuleValue(L"pedoNumberOfSteps"),
                          resources_.CallModuleWork(L"pedoNumberOfSteps", true),
                          resources_.CallModuleWork(L"pedoNumberOfSteps", false)};
    });
    const bool answered = answers.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
    release.set_value();
    download.join();
    ASSERT_TRUE(answered);
    EXPECT_EQ(answers.get(), (std::tuple{std::wstring(), -1, -1}));
}

}  // namespace
