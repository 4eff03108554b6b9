#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "Hooks.h"
#include "WaitFor.h"
#include "Window.h"

namespace {

using Handler = std::function<LRESULT(UINT, LPARAM)>;

LRESULT HandlerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE)
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* handler = reinterpret_cast<Handler*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return handler != nullptr ? (*handler)(msg, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::vector<long> Rect(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    return {r.left, r.top, r.right, r.bottom};
}

class WindowPlacementTest : public ::testing::Test {
protected:
    HWND Make(Handler* handler = nullptr, DWORD exStyle = 0) {
        static const ATOM registered = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = HandlerProc;
            wc.lpszClassName = L"QuorvPlacementWindow";
            return RegisterClassExW(&wc);
        }();
        EXPECT_NE(registered, 0);
        made_.push_back(CreateWindowExW(exStyle, L"QuorvPlacementWindow", L"", 0, 10, 20, 300, 200, nullptr, nullptr,
                                        nullptr, handler));
        return made_.back();
    }
    void TearDown() override {
        for (HWND hwnd : made_) {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            DestroyWindow(hwnd);
        }
        SystemParametersInfoW(SPI_SETWORKAREA, 0, nullptr, 0);
    }

    HookScope hooks_;
    std::vector<HWND> made_;
};

TEST_F(WindowPlacementTest, ThePositionHandlerRunsOnTheOwnerThreadAndWhatItLeavesIsApplied) {
    std::vector<WINDOWPOS> seen;
    std::atomic<DWORD> handlerThread{0};
    Handler keepRight = [&](UINT msg, LPARAM lParam) -> LRESULT {
        if (msg != WM_WINDOWPOSCHANGING) return 0;
        handlerThread = GetCurrentThreadId();
        auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        seen.push_back(*pos);
        if (pos->x < 0) pos->x = 0;
        if (pos->cy > 500) pos->flags |= SWP_NOSIZE;
        return 0;
    };
    HWND hwnd = Make(&keepRight);
    MoveWindow(hwnd, -40, 30, 100, 50, TRUE);
    EXPECT_EQ(Rect(hwnd), (std::vector<long>{0, 30, 100, 80}));
    SetWindowPos(hwnd, nullptr, 0, 0, 120, 900, SWP_NOMOVE | SWP_NOZORDER);  // the handler keeps the size
    EXPECT_EQ(Rect(hwnd), (std::vector<long>{0, 30, 100, 80}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ((std::vector<int>{seen[1].x, seen[1].y}), (std::vector<int>{0, 30})) << "left out: the current place";
    SetWindowPos(hwnd, nullptr, -9, 7, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOSENDCHANGING);
    EXPECT_EQ(seen.size(), 2u);

    std::atomic<bool> moved{false};
    std::thread mover([&] {
        MoveWindow(hwnd, -5, 1, 10, 10, FALSE);
        moved = true;
    });
    EXPECT_TRUE(WaitFor([&] {
        MSG msg{};
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // serves the send
        return moved.load();
    }));
    mover.join();
    EXPECT_EQ(handlerThread, GetCurrentThreadId());
    EXPECT_EQ(Rect(hwnd)[0], 0);
}

TEST_F(WindowPlacementTest, ZOrderKeepsTheTopmostBandAboveAndMovesWindowsAsAsked) {
    HWND plain = Make();
    HWND topmost = Make(nullptr, WS_EX_TOPMOST);
    HWND newer = Make();
    EXPECT_EQ(GetWindow(topmost, GW_HWNDNEXT), newer);
    EXPECT_EQ(GetWindow(newer, GW_HWNDNEXT), plain);

    SetWindowPos(topmost, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(GetWindowLongPtrW(topmost, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    EXPECT_EQ(GetWindow(plain, GW_HWNDLAST), topmost);
    SetWindowPos(plain, HWND_TOPMOST, 5, 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER);  // no order change asked
    EXPECT_EQ(GetWindowLongPtrW(plain, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    SetWindowPos(plain, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(GetWindow(newer, GW_HWNDFIRST), newer) << "the topmost band is its own";
    EXPECT_EQ(GetWindow(plain, GW_HWNDFIRST), plain);
    SetWindowPos(topmost, plain, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);  // just below it, in its band
    EXPECT_EQ(GetWindow(plain, GW_HWNDNEXT), topmost);
    EXPECT_NE(GetWindowLongPtrW(topmost, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
}

TEST_F(WindowPlacementTest, TheWorkAreaIsTheScreenUntilSetAndTheCursorComesFromItsHook) {
    RECT area{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
    EXPECT_EQ(area.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(area.bottom, GetSystemMetrics(SM_CYSCREEN));
    RECT set{0, 30, 1280, 770};
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &set, 0));
    RECT empty{10, 10, 10, 50};
    EXPECT_FALSE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &empty, 0));
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_EQ((std::vector<long>{area.left, area.top, area.right, area.bottom}), (std::vector<long>{0, 30, 1280, 770}));

    POINT at{5, 5};
    ASSERT_TRUE(GetCursorPos(&at));  // nobody moves a pointer: it rests in the corner
    EXPECT_EQ((std::vector<long>{at.x, at.y}), (std::vector<long>{0, 0}));
    Hooks().cursorPos = [](POINT& p) { p = POINT{-3, 700}; };
    GetCursorPos(&at);
    EXPECT_EQ((std::vector<long>{at.x, at.y}), (std::vector<long>{-3, 700}));
    EXPECT_TRUE(PtInRect(&set, POINT{0, 30}));
    EXPECT_FALSE(PtInRect(&set, POINT{1280, 40}));
}

TEST_F(WindowPlacementTest, MouseTrackingIsArmedQueriedAndEndedByItsNotices) {
    HWND hwnd = Make();
    auto armed = [hwnd] {
        TRACKMOUSEEVENT q{sizeof q, TME_QUERY, hwnd, 0};
        EXPECT_TRUE(TrackMouseEvent(&q));
        return std::vector<DWORD>{q.dwFlags, q.dwHoverTime};
    };
    TRACKMOUSEEVENT track{sizeof track, TME_HOVER | TME_LEAVE, hwnd, 1000};
    ASSERT_TRUE(TrackMouseEvent(&track));
    EXPECT_EQ(armed(), (std::vector<DWORD>{TME_HOVER | TME_LEAVE, 1000}));
    SendMessageW(hwnd, WM_MOUSEHOVER, 0, 0);  // hover is one-shot, leave stays armed
    EXPECT_EQ(armed()[0], TME_LEAVE);
    track = TRACKMOUSEEVENT{sizeof track, TME_HOVER, hwnd, HOVER_DEFAULT};
    TrackMouseEvent(&track);
    EXPECT_EQ(armed(), (std::vector<DWORD>{TME_HOVER | TME_LEAVE, 400}));
    SendMessageW(hwnd, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(armed()[0], 0u);

    track.cbSize = sizeof track - 1;
    EXPECT_FALSE(TrackMouseEvent(&track));
    DestroyWindow(hwnd);
    track = TRACKMOUSEEVENT{sizeof track, TME_HOVER, hwnd, 10};
    EXPECT_FALSE(TrackMouseEvent(&track));
}

}  // namespace
