#include "ThreadWait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Window.h"

using namespace std::chrono_literals;

namespace {

std::atomic<int> g_refused{0};
void CountRefused(const std::wstring&) { ++g_refused; }

LRESULT CountingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_USER) return 7;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// Under a page call, a wait for another thread serves what that thread sends meanwhile and
// is not refused; a plain wait is refused (reported) and still made.
TEST(ThreadWaitTest, UnderAPageCallOnlyTheWaitThatServesTheThreadsWindowsGoesUnreported) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = CountingProc;
    wc.lpszClassName = L"QuorvThreadWaitTest";
    RegisterClassExW(&wc);
    const HWND hwnd = CreateWindowExW(0, L"QuorvThreadWaitTest", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    const threadwait::RefusedReport before = threadwait::SetRefusedReport(CountRefused);
    {
        const ScriptCallLock lock(GetCurrentThreadId());
        ASSERT_TRUE(lock.held());
        std::atomic<LRESULT> answer{0};
        std::thread sender([&] { answer = SendMessageW(hwnd, WM_USER, 0, 0); });
        EXPECT_TRUE(threadwait::WaitForOtherThread([&] { return answer.load() == 7; }, 60s));
        EXPECT_TRUE(ScriptCallLock::HeldHere());  // taken again after the wait
        threadwait::Join(sender);  // over already, but a plain wait all the same
    }
    threadwait::SetRefusedReport(before);
    EXPECT_EQ(g_refused, 1);
    DestroyWindow(hwnd);
}

// The program's own folders wait for other threads only through ThreadWait.h, where a wait
// made under a page call is either served or refused: none blocks past it unseen.
TEST(ThreadWaitTest, TheProgramWaitsForOtherThreadsOnlyThroughTheOneHelper) {
    const char* const raw[] = {".join()", ".wait(", ".wait_for(", ".wait_until(", "sleep_for(", "sleep_until(",
                               "std::future", "std::async"};
    std::vector<std::string> found;
    for (const char* folder : {"core", "comm", "records", "health", "alerts", "ui"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(QUORV_SOURCE_DIR) / folder)) {
            std::ifstream in(entry.path());
            std::string line;
            for (int n = 1; std::getline(in, line); ++n) {
                const auto has = [&line](const char* text) { return line.find(text) != std::string::npos; };
                if (std::any_of(std::begin(raw), std::end(raw), has)) found.push_back(entry.path().string() + ":" + std::to_string(n) + ": " + line);
            }
        }
    }
    EXPECT_TRUE(found.empty()) << found.front();
}

}  // namespace
