#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Alert.h"
#include "HealthElementSource.h"
#include "HealthElementSourceType.h"
#include "HealthElementType.h"
#include "HealthResources.h"
#include "ScriptVM.h"
#include "Testing.h"
#include "UserOperation.h"
#include "Window.h"
#include "article.h"
#include "assessInfo.h"
#include "deviceManager.h"
#include "focusArticle.h"
#include "funcOp.h"
#include "healthNote.h"
#include "lifeIndex.h"
#include "parameter.h"
#include "publicMess.h"
#include "realWeather.h"
#include "userAction.h"
#include "userEnvironment.h"
#include "userExInfo.h"
#include "userGroupMess.h"
#include "userInfo.h"
#include "userMess.h"
#include "userTypeMess.h"
#include "weatherForecast.h"

namespace {

template <typename T>
std::function<int(HVM)> Registers() {
    return [](HVM vm) { return T().RegisterScriptObject(vm); };
}

// The names the pages know the objects by.
TEST(SingletonsTest, EachScriptObjectAppearsUnderItsOwnName) {
    const std::vector<std::pair<std::string, std::function<int(HVM)>>> objects = {
        {"user", Registers<CUserInfo>()},
        {"userExp", Registers<CUserExInfo>()},
        {"userOp", Registers<CUserOperation>()},
        {"weatherForecast", Registers<CWeatherForecast>()},
        {"realWeather", Registers<CRealWeather>()},
        {"lifeIndex", Registers<CLifeIndex>()},
        {"publicMess", Registers<CPublicMess>()},
        {"userTypeMess", Registers<CUserTypeMess>()},
        {"userGroupMess", Registers<CUserGroupMess>()},
        {"userMess", Registers<CUserMess>()},
        {"userEnv", Registers<CUserEnvironment>()},
        {"assess", Registers<CAssessInfo>()},
        {"focusArticle", Registers<CFocusArticle>()},
        {"article", Registers<CArticle>()},
        {"alert", Registers<CAlert>()},
        {"testing", Registers<CTesting>()},
        {"healthElementSourceType", Registers<CHealthElementSourceType>()},
        {"healthElementSource", Registers<CHealthElementSource>()},
        {"healthElementType", Registers<CHealthElementType>()},
        {"healthResources", Registers<CHealthResources>()},
        {"deviceManager", Registers<CDeviceManager>()},
    };

    // A thread of its own: its VM starts empty, whatever earlier tests defined on theirs.
    std::thread([&objects] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.lpszClassName = L"SingletonsTestWindow";
        RegisterClassExW(&wc);
        HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        HVM vm = SciterGetVM(hwnd);
        ASSERT_NE(vm, nullptr);
        for (const auto& [name, registerOn] : objects) ASSERT_FALSE(uie::HasNative(vm, name)) << name;

        // Each registration adds its own name and none of those still to come.
        for (std::size_t i = 0; i < objects.size(); ++i) {
            EXPECT_EQ(objects[i].second(vm), 1) << objects[i].first;
            EXPECT_TRUE(uie::HasNative(vm, objects[i].first)) << objects[i].first;
            for (std::size_t later = i + 1; later < objects.size(); ++later) {
                EXPECT_FALSE(uie::HasNative(vm, objects[later].first))
                    << objects[i].first << " defined " << objects[later].first;
            }
        }
        DestroyWindow(hwnd);
    }).join();
}

// Every load step that can stop the start-up sequence lets it go on, and those whose
// result is not looked at return what their callers expect.
TEST(SingletonsTest, LoadOperationsLetTheLoadingSequenceGoOn) {
    struct Step {
        const char* name;
        int result;
        int expected;
    };
    const Step steps[] = {
        {"CUserInfo::ReadUserFromDB without a user database", CUserInfo().ReadUserFromDB(), 0},
        {"CUserExInfo::ReadUserExFromDB", CUserExInfo().ReadUserExFromDB(), 1},
        {"CHealthResources::LoadFromDB", CHealthResources().LoadFromDB(), 1},
        {"CUserOperation::StartWork", CUserOperation().StartWork(), 0},
        {"CWeatherForecast::LoadFromDB", CWeatherForecast().LoadFromDB(101010100), 0},
        {"CRealWeather::LoadFromDB", CRealWeather().LoadFromDB(101010100), 0},
        {"CLifeIndex::LoadFromDB", CLifeIndex().LoadFromDB(101010100), 0},
        {"CAlert::StartWork", CAlert().StartWork(), 1},
        {"CTesting::StartWork", CTesting().StartWork(), 1},
        {"CUserEnvironment::LoadFromDB", CUserEnvironment().LoadFromDB(), 0},
        {"CAssessInfo::LoadFromDB without a user database", CAssessInfo().LoadFromDB(), 0},
        {"CParameter::ReadParameterFromDB without a user database", CParameter().ReadParameterFromDB(), 0},
        {"CFuncOp::ReadFuncOpFromDB without a user database", CFuncOp().ReadFuncOpFromDB() ? 1 : 0, 0},
        {"CUserAction::LoadFromDB without a user database", CUserAction().LoadFromDB(), 0},
        {"CDeviceManager::LoadFromDB", CDeviceManager().LoadFromDB(), 0},
        {"CHealthNote::LoadFromDB without a user database", CHealthNote().LoadFromDB(), 0},
    };
    for (const Step& step : steps) EXPECT_EQ(step.result, step.expected) << step.name;
}

}  // namespace
