// The foreground program and the last input: through the hooks, and unknown by default
// where no X11 display is open.
#include "UserActivity.h"

#include <gtest/gtest.h>

#include <string>

#include "EnvScope.h"
#include "Hooks.h"

namespace {

TEST(UserActivityTest, WithoutAnX11DisplayBothAreUnknown) {
    for (const char* display : {static_cast<const char*>(nullptr), "", ":9999"}) {
        HookScope scope;
        {
            EnvScope env("DISPLAY", display);
            Hooks() = DefaultHooks();
        }
        DWORD tick = 12345;
        EXPECT_TRUE(Hooks().foregroundProgram().empty()) << (display ? display : "unset");
        EXPECT_FALSE(Hooks().lastInputTick(tick)) << (display ? display : "unset");
        LASTINPUTINFO info{sizeof(LASTINPUTINFO), 77};
        EXPECT_FALSE(GetLastInputInfo(&info));
        EXPECT_EQ(info.dwTime, 77u);
        wchar_t path[16] = L"untouched";
        EXPECT_EQ(GetForegroundModuleFileName(path, 16), 0u);
        EXPECT_STREQ(path, L"");
    }
}

TEST(UserActivityTest, HooksFeedTheCallsAndLongPathsAreCutToTheBuffer) {
    HookScope scope;
    const std::wstring longPath = L"/opt/" + std::wstring(300, L'x');
    Hooks().foregroundProgram = [&] { return longPath; };
    Hooks().lastInputTick = [](DWORD& tick) {
        tick = 0xFFFFFFF0u;
        return true;
    };
    wchar_t path[260];
    EXPECT_EQ(GetForegroundModuleFileName(path, 260), 259u);
    EXPECT_EQ(std::wstring(path), longPath.substr(0, 259));
    LASTINPUTINFO info{sizeof(LASTINPUTINFO), 0};
    EXPECT_TRUE(GetLastInputInfo(&info));
    EXPECT_EQ(info.dwTime, 0xFFFFFFF0u);
    EXPECT_FALSE(GetLastInputInfo(nullptr));
}

}  // namespace
