#include "Window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <latch>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "WaitFor.h"

using namespace std::chrono_literals;

namespace {

using Handler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;
constexpr wchar_t kClass[] = L"QuorvTestWindow";

// The creation parameter is the window's handler; without one the default applies.
LRESULT RoutingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* handler = reinterpret_cast<Handler*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return handler != nullptr && *handler ? (*handler)(hwnd, msg, wParam, lParam)
                                          : DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND Make(Handler* handler, const wchar_t* title = L"", HWND parent = nullptr) {
    static const ATOM registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = RoutingProc;
        wc.lpszClassName = kClass;
        return RegisterClassExW(&wc);
    }();
    EXPECT_NE(registered, 0);
    return CreateWindowExW(0, kClass, title, 0, 10, 20, 300, 200, parent, nullptr, nullptr, handler);
}

// Runs the calling thread's loop to WM_QUIT and returns its code; -1 when the limit passes.
// The limit is kept by another thread, not a timer, so broken timers cannot hang the loop.
int RunLoop(std::chrono::milliseconds limit = 2000ms) {
    std::promise<void> ended;
    std::thread watchdog([thread = GetCurrentThreadId(), ending = ended.get_future(), limit] {
        if (ending.wait_for(limit) == std::future_status::timeout) {
            PostThreadMessageW(thread, WM_QUIT, static_cast<WPARAM>(-1), 0);
        }
    });
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    ended.set_value();
    watchdog.join();
    return static_cast<int>(msg.wParam);
}

template <typename T>
bool Within(std::future<T>& f, std::chrono::milliseconds limit = kGenerousWait) {
    return f.wait_for(limit) == std::future_status::ready;
}

// A call on a thread of its own. One that never returns is left behind (the test has
// failed by then) so that a deadlock fails the test instead of hanging it.
class Call {
public:
    explicit Call(std::function<LRESULT()> f) {
        auto done = std::make_shared<std::promise<LRESULT>>();
        result_ = done->get_future();
        thread_ = std::thread([f = std::move(f), done] { done->set_value(f()); });
    }
    ~Call() {
        if (Finishes(0ms)) {
            thread_.join();
        } else {
            thread_.detach();
        }
    }
    bool Finishes(std::chrono::milliseconds limit = kGenerousWait) {
        return finished_ = finished_ || Within(result_, limit);
    }
    LRESULT Result() { return Finishes() ? result_.get() : -1; }

private:
    std::future<LRESULT> result_;
    std::thread thread_;
    bool finished_ = false;
};

// A thread that owns one window and runs its loop until the object goes.
class LoopThread {
public:
    explicit LoopThread(Handler handler) {
        auto made = std::make_shared<std::promise<HWND>>();
        loop_.emplace([made, h = std::make_shared<Handler>(std::move(handler))] {
            HWND own = Make(h.get());
            made->set_value(own);
            RunLoop(5000ms);
            DestroyWindow(own);
            return LRESULT{0};
        });
        hwnd_ = made->get_future().get();
    }
    ~LoopThread() {
        PostThreadMessageW(GetWindowThreadProcessId(hwnd_, nullptr), WM_QUIT, 0, 0);
        EXPECT_TRUE(loop_->Finishes()) << "message loop did not end";
    }
    HWND Hwnd() const { return hwnd_; }

private:
    std::optional<Call> loop_;
    HWND hwnd_ = nullptr;
};

class WindowTest : public ::testing::Test {
protected:
    // A window of this thread that does not outlive the test, even one that stopped early.
    HWND Create(Handler* handler, const wchar_t* title = L"", HWND parent = nullptr) {
        HWND hwnd = Make(handler, title, parent);
        made_.push_back(hwnd);
        return hwnd;
    }

    void TearDown() override {
        for (HWND hwnd : made_) {
            // The handler went with the test body.
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            DestroyWindow(hwnd);
        }
        MSG msg;
        for (int i = 0; i < 1000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        }
    }

private:
    std::vector<HWND> made_;
};

TEST_F(WindowTest, CreationRegistersAndSeesItsParameter) {
    CREATESTRUCTW seen{};
    Handler handler = [&](HWND, UINT msg, WPARAM, LPARAM l) -> LRESULT {
        if (msg == WM_CREATE) seen = *reinterpret_cast<CREATESTRUCTW*>(l);
        return 0;
    };
    HWND hwnd = Create(&handler, L"first");
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(seen.lpCreateParams, &handler);
    EXPECT_EQ(seen.cx, 300);
    EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr), GetCurrentThreadId());

    WNDCLASSEXW again{};
    again.lpfnWndProc = RoutingProc;
    again.lpszClassName = L"QUORVTESTWINDOW";
    EXPECT_EQ(RegisterClassExW(&again), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
    EXPECT_EQ(CreateWindowExW(0, L"NoSuchClass", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), nullptr);

    Handler refuse = [](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT { return msg == WM_CREATE ? -1 : 0; };
    EXPECT_EQ(Create(&refuse), nullptr);
    EXPECT_TRUE(DestroyWindow(hwnd));
    HWND next = Create(nullptr);
    EXPECT_NE(next, hwnd) << "handles are never reused";
}

TEST_F(WindowTest, DestroyWindowNotifiesOnceAndInvalidatesHandle) {
    std::vector<std::pair<std::string, UINT>> log;
    HWND parent = nullptr;
    Handler parentHandler = [&](HWND h, UINT msg, WPARAM, LPARAM) -> LRESULT {
        log.emplace_back("parent", msg);
        if (msg == WM_DESTROY) {
            EXPECT_FALSE(DestroyWindow(h)) << "re-entrant destroy";
        }
        return 0;
    };
    Handler childHandler = [&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        log.emplace_back("child", msg);
        return 0;
    };
    parent = Create(&parentHandler);
    HWND child = Create(&childHandler, L"", parent);
    log.clear();

    std::thread([parent] { EXPECT_FALSE(DestroyWindow(parent)) << "only the owner destroys"; }).join();
    ASSERT_TRUE(DestroyWindow(parent));
    std::vector<std::pair<std::string, UINT>> expected{
        {"parent", WM_DESTROY}, {"child", WM_DESTROY}, {"child", WM_NCDESTROY}, {"parent", WM_NCDESTROY}};
    EXPECT_EQ(log, expected);
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(DestroyWindow(parent));
    EXPECT_FALSE(PostMessageW(parent, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);

    HWND closing = Create(nullptr);
    SendMessageW(closing, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(closing)) << "the default answer to WM_CLOSE destroys";
}

TEST_F(WindowTest, PlainStateReadsBack) {
    HWND hwnd = Create(nullptr, L"Quorvix main");
    EXPECT_FALSE(ShowWindow(hwnd, SW_SHOW));
    EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE));

    wchar_t small[6];
    EXPECT_EQ(GetWindowTextW(hwnd, small, 6), 5);
    EXPECT_STREQ(small, L"Quorv");
    SetWindowTextW(hwnd, L"status");
    EXPECT_EQ(GetWindowTextLengthW(hwnd), 6);

    RECT r{};
    SetWindowPos(hwnd, nullptr, 50, 60, 1, 1, SWP_NOSIZE | SWP_SHOWWINDOW);
    GetWindowRect(hwnd, &r);
    EXPECT_EQ((std::vector<long>{r.left, r.top, r.right, r.bottom}), (std::vector<long>{50, 60, 350, 260}));
    EXPECT_TRUE(IsWindowVisible(hwnd));
    MoveWindow(hwnd, 0, 0, 640, 480, TRUE);
    SetWindowPos(hwnd, nullptr, 5, 5, 0, 0, SWP_NOMOVE | SWP_HIDEWINDOW | SWP_NOSIZE);
    GetClientRect(hwnd, &r);
    EXPECT_EQ((std::vector<long>{r.left, r.top, r.right, r.bottom}), (std::vector<long>{0, 0, 640, 480}));
    EXPECT_FALSE(IsWindowVisible(hwnd));

    EXPECT_FALSE(EnableWindow(hwnd, FALSE));
    EXPECT_FALSE(IsWindowEnabled(hwnd));
    EXPECT_TRUE(SetForegroundWindow(hwnd));
    EXPECT_EQ(GetForegroundWindow(), hwnd);

    SetScreenSize(800, 600);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
    SetScreenSize(1920, 1080);

    EXPECT_EQ(FindWindowW(L"quorvtestwindow", L"status"), hwnd);
    EXPECT_EQ(FindWindowW(kClass, L"other"), nullptr);
    DestroyWindow(hwnd);
    EXPECT_EQ(FindWindowW(kClass, L"status"), nullptr);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
}

TEST_F(WindowTest, MinimisedRegionAndClientPointsReadBack) {
    HWND hwnd = Create(nullptr);
    MoveWindow(hwnd, 100, 50, 640, 480, FALSE);
    ShowWindow(hwnd, SW_MINIMIZE);
    EXPECT_TRUE(IsIconic(hwnd));
    EXPECT_TRUE(IsWindowVisible(hwnd));
    ShowWindow(hwnd, SW_HIDE);
    EXPECT_TRUE(IsIconic(hwnd));  // hiding keeps it minimised
    ShowWindow(hwnd, SW_RESTORE);
    EXPECT_FALSE(IsIconic(hwnd));

    POINT pt{110, 70};
    EXPECT_TRUE(ScreenToClient(hwnd, &pt));
    EXPECT_EQ((std::vector<long>{pt.x, pt.y}), (std::vector<long>{10, 20}));

    HRGN__ region{};
    EXPECT_FALSE(GetWindowRegion(hwnd, &region));
    EXPECT_EQ(SetWindowRgn(hwnd, CreateRoundRectRgn(0, 0, 640, 480, 6, 6), TRUE), 1);
    ASSERT_TRUE(GetWindowRegion(hwnd, &region));
    EXPECT_EQ((std::vector<long>{region.box.right, region.box.bottom, region.ellipseWidth, region.ellipseHeight}),
              (std::vector<long>{640, 480, 6, 6}));
    SetWindowRgn(hwnd, nullptr, TRUE);
    EXPECT_FALSE(GetWindowRegion(hwnd, &region));
    // A dead window still takes the region over, so nothing leaks.
    DestroyWindow(hwnd);
    EXPECT_EQ(SetWindowRgn(hwnd, CreateRoundRectRgn(0, 0, 1, 1, 2, 2), TRUE), 0);
}

TEST_F(WindowTest, PostsFromWorkerArriveInOrderOnOwnerThread) {
    const auto owner = std::this_thread::get_id();
    WPARAM expected = 0;
    Handler handler = [&](HWND, UINT msg, WPARAM w, LPARAM) -> LRESULT {
        if (msg != WM_COMMAND) return 0;
        EXPECT_EQ(std::this_thread::get_id(), owner);
        EXPECT_EQ(w, expected);
        if (++expected == 100) PostQuitMessage(0);
        return 0;
    };
    HWND hwnd = Create(&handler);
    std::thread worker([hwnd] {
        for (WPARAM i = 0; i < 100; ++i) EXPECT_TRUE(PostMessageW(hwnd, WM_COMMAND, i, 0));
    });
    EXPECT_EQ(RunLoop(), 0);
    worker.join();
    EXPECT_EQ(expected, 100u);
}

TEST_F(WindowTest, SendRunsOnOwnerThreadAndReturnsResult) {
    std::thread::id ranOn;
    Handler handler = [&](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg == WM_APP) PostQuitMessage(0);
        if (msg != WM_USER) return 0;
        ranOn = std::this_thread::get_id();
        return static_cast<LRESULT>(w) + l;
    };
    HWND hwnd = Create(&handler);
    EXPECT_EQ(SendMessageW(hwnd, WM_USER, 1, 2), 3) << "same thread calls directly";

    LRESULT result = 0;
    std::thread worker([&] {
        result = SendMessageW(hwnd, WM_USER, 20, 22);
        PostMessageW(hwnd, WM_APP, 0, 0);
    });
    EXPECT_EQ(RunLoop(), 0);
    worker.join();
    EXPECT_EQ(result, 42);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(WindowTest, SentMessagesAreServedBeforePostedAndNeverReturned) {
    std::vector<UINT> handled;
    Handler handler = [&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        handled.push_back(msg);
        return 0;
    };
    HWND hwnd = Create(&handler);
    handled.clear();
    std::atomic<bool> sendDone{false};
    std::thread worker([&] {
        PostMessageW(hwnd, WM_USER + 1, 0, 0);
        SendMessageW(hwnd, WM_USER + 2, 0, 0);
        sendDone = true;
    });
    MSG msg{};
    const auto deadline = std::chrono::steady_clock::now() + kGenerousWait;
    while (!sendDone && std::chrono::steady_clock::now() < deadline) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            EXPECT_EQ(msg.message, WM_USER + 1);
        }
        std::this_thread::yield();
    }
    worker.join();
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageW(&msg);
    EXPECT_EQ(handled, (std::vector<UINT>{WM_USER + 2, WM_USER + 1}));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WindowTest, MutualSendsDoNotDeadlock) {
    struct Shared {
        std::atomic<HWND> a{nullptr}, b{nullptr};
        std::latch bothSending{2};
        std::promise<LRESULT> fromA, fromB;
    };
    auto shared = std::make_shared<Shared>();
    auto handlerFor = [shared](bool isA) {
        return [shared, isA](HWND, UINT msg, WPARAM w, LPARAM) -> LRESULT {
            HWND peer = isA ? shared->b.load() : shared->a.load();
            if (msg == WM_USER) return w < 4 ? SendMessageW(peer, WM_USER, w + 1, 0) + 1 : 100;
            if (msg != WM_APP) return 0;
            shared->bothSending.arrive_and_wait();
            (isA ? shared->fromA : shared->fromB).set_value(SendMessageW(peer, WM_USER, 0, 0));
            return 0;
        };
    };
    LoopThread a(handlerFor(true)), b(handlerFor(false));
    shared->a = a.Hwnd();
    shared->b = b.Hwnd();

    Call chain([shared] { return SendMessageW(shared->a.load(), WM_USER, 0, 0); });
    ASSERT_TRUE(chain.Finishes()) << "a send bouncing between the threads deadlocked";
    EXPECT_EQ(chain.Result(), 104);

    auto fromA = shared->fromA.get_future(), fromB = shared->fromB.get_future();
    PostMessageW(a.Hwnd(), WM_APP, 0, 0);
    PostMessageW(b.Hwnd(), WM_APP, 0, 0);
    ASSERT_TRUE(Within(fromA) && Within(fromB)) << "simultaneous sends deadlocked";
    EXPECT_EQ(fromA.get(), 104);
    EXPECT_EQ(fromB.get(), 104);
}

TEST_F(WindowTest, SendToGoneWindowOrThreadGivesUp) {
    HWND orphan = nullptr;
    std::thread([&] { orphan = Make(nullptr); }).join();
    Call toEnded([orphan] { return SendMessageW(orphan, WM_USER, 0, 0); });
    EXPECT_EQ(toEnded.Result(), 0);
    EXPECT_FALSE(IsWindow(orphan));

    // The owner never pumps: the waiting sender is released by the destroy or the thread's end.
    for (bool destroyFirst : {true, false}) {
        std::promise<HWND> made;
        std::promise<void> release;
        std::atomic<bool> sending{false};
        std::thread owner([&] {
            HWND hwnd = Make(nullptr);
            made.set_value(hwnd);
            while (!sending) std::this_thread::yield();
            std::this_thread::sleep_for(5ms);
            if (destroyFirst) DestroyWindow(hwnd);
            release.get_future().wait();
        });
        HWND hwnd = made.get_future().get();
        Call waiting([&sending, hwnd] {
            sending = true;
            return SendMessageW(hwnd, WM_USER, 0, 0);
        });
        if (!destroyFirst) {
            release.set_value();
            owner.join();
        }
        EXPECT_TRUE(waiting.Finishes()) << (destroyFirst ? "destroyed" : "ended");
        if (destroyFirst) {
            release.set_value();
            owner.join();
        }
        EXPECT_EQ(waiting.Result(), 0);
    }
}

TEST_F(WindowTest, TimerRepeatsUntilKilled) {
    std::vector<std::chrono::steady_clock::time_point> fired;
    int afterKill = 0;
    Handler handler = [&](HWND h, UINT msg, WPARAM id, LPARAM) -> LRESULT {
        if (msg != WM_TIMER) return 0;
        if (id == 3) {
            ADD_FAILURE() << "a timer replaced by a slower one fired";
        } else if (id == 2) {
            PostQuitMessage(0);
        } else if (fired.size() == 3) {
            ++afterKill;
        } else {
            fired.push_back(std::chrono::steady_clock::now());
            if (fired.size() == 3) {
                EXPECT_TRUE(KillTimer(h, 1));
                SetTimer(h, 2, 40, nullptr);
            }
        }
        return 0;
    };
    HWND hwnd = Create(&handler);
    SetTimer(hwnd, 1, 60000, nullptr);
    SetTimer(hwnd, 3, 10, nullptr);
    SetTimer(hwnd, 3, 60000, nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SetTimer(hwnd, 1, 10, nullptr), 1u) << "a repeated SetTimer replaces the timer";
    EXPECT_EQ(GetTimerPeriod(hwnd, 3), 60000u);
    EXPECT_EQ(GetTimerPeriod(hwnd, 1), 10u);
    EXPECT_EQ(RunLoop(), 0);
    EXPECT_EQ(GetTimerPeriod(hwnd, 1), 0u);
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(afterKill, 0);
    EXPECT_GE(fired[2] - start, 29ms);
    EXPECT_FALSE(KillTimer(hwnd, 1));
}

TEST_F(WindowTest, DueTimerPendsOnceAfterPostedMessages) {
    static std::atomic<int> procCalls{0};
    procCalls = 0;
    UINT_PTR id = SetTimer(nullptr, 0, 30, [](HWND, UINT, UINT_PTR, DWORD) { ++procCalls; });
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(75ms);
    PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0);
    MSG msg{};
    std::vector<UINT> seen;
    while (seen.size() < 5 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        seen.push_back(msg.message);
        DispatchMessageW(&msg);
    }
    EXPECT_EQ(seen, (std::vector<UINT>{WM_USER, WM_TIMER}));
    EXPECT_EQ(procCalls, 1) << "the timer procedure replaces the window procedure";
    EXPECT_TRUE(KillTimer(nullptr, id));
}

TEST_F(WindowTest, QuitEndsLoopWithExitCode) {
    EXPECT_FALSE(PostThreadMessageW(0xFFFFFF, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    MSG msg{};
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // gives this thread its queue
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0));
    PostQuitMessage(7);
    EXPECT_GT(GetMessageW(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, WM_USER);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.wParam, 7u);
    PostQuitMessage(3);
    EXPECT_EQ(RunLoop(), 3);
}

}  // namespace
