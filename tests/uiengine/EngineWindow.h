// A page window built the way the program builds one: the engine sees every message
// first, and one object is both the window's event handler and its notification
// handler. Tests steer and observe it through its public fields.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EngineSdk.h"
#include "EngineTest.h"
#include "Text.h"
#include "Window.h"

inline std::wstring PagePath(const char* name) {
    return text::FromUtf8(std::string(UIENGINE_PAGES) + "/" + name);
}

inline LRESULT EngineWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    BOOL handled = FALSE;
    LRESULT r = SciterProcND(hwnd, msg, wParam, lParam, &handled);
    return handled ? r : DefWindowProcW(hwnd, msg, wParam, lParam);
}

struct EventSeen {
    HELEMENT he;
    HELEMENT target;
    UINT type;
};

class EngineWindow : public sciter::event_handler, public sciter::notification_handler<EngineWindow> {
public:
    EngineWindow() {
        static const ATOM cls = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = EngineWindowProc;
            wc.lpszClassName = L"UiEngineTestWindow";
            return RegisterClassExW(&wc);
        }();
        EXPECT_NE(cls, 0);
        hwnd = CreateWindowExW(0, L"UiEngineTestWindow", L"", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
        EXPECT_TRUE(setup_callback(hwnd));
        EXPECT_TRUE(SciterWindowAttachEventHandler(hwnd, this, HANDLE_ALL));
        EXPECT_TRUE(SciterSetupDebugOutput(hwnd, this, &EngineWindow::TakeOutput));
    }
    ~EngineWindow() override { DestroyWindow(hwnd); }
    EngineWindow(const EngineWindow&) = delete;
    EngineWindow& operator=(const EngineWindow&) = delete;

    bool Load(const char* page) { return SciterLoadFile(hwnd, PagePath(page).c_str()) != FALSE; }
    HELEMENT Find(const char* selector) const { return uie::test::Find(hwnd, selector); }
    HELEMENT Root() const {
        HELEMENT root = nullptr;
        SciterGetRootElement(hwnd, &root);
        return root;
    }

    UINT on_load_data(uie::LoadDataNotice* n) override {
        std::wstring uri = n->uri;
        for (const auto& [suffix, bytes] : serve) {
            if (uri.ends_with(suffix)) {
                SciterDataReady(n->hwnd, n->uri, reinterpret_cast<const BYTE*>(bytes.data()),
                                static_cast<UINT>(bytes.size()));
            }
        }
        return LOAD_DEFAULT;
    }
    UINT on_data_loaded(uie::DataLoadedNotice* n) override {
        statuses[n->uri] = n->status;
        return 0;
    }
    UINT on_attach_behavior(uie::AttachBehaviorNotice* n) override {
        behaviors.emplace_back(n->behaviorName);
        return notification_handler::on_attach_behavior(n);
    }
    bool on_event(HELEMENT he, HELEMENT target, UINT type, UINT_PTR) override {
        events.push_back({he, target, type});
        return answer && answer(type);
    }
    bool on_script_call(HELEMENT, const char* name, UINT argc, const sciter::value* argv,
                        sciter::value& result) override {
        if (std::string(name) != "debug") return false;
        std::wstring line;
        for (UINT i = 0; i < argc; ++i) line += argv[i].to_string() + L" ";
        result = sciter::value(line);
        return true;
    }

    // What the engine reported about the page's scripts, one line each.
    std::vector<std::wstring> Output() const {
        std::lock_guard lock(outputLock_);
        return output_;
    }

    HWND hwnd = nullptr;
    std::map<std::wstring, std::string> serve;  // URI suffix -> bytes the host hands over
    std::map<std::wstring, UINT> statuses;      // data-loaded status per URI
    std::vector<std::string> behaviors;         // names the loader asked for
    std::vector<EventSeen> events;              // what on_event saw
    std::function<bool(UINT type)> answer;      // on_event's answer

private:
    // On whichever thread ran the script.
    static void TakeOutput(void* param, UINT, UINT, const wchar_t* text, UINT length) {
        auto* self = static_cast<EngineWindow*>(param);
        std::lock_guard lock(self->outputLock_);
        self->output_.emplace_back(text, length);
    }

    mutable std::mutex outputLock_;
    std::vector<std::wstring> output_;
};

// An EngineWindow living on a thread of its own with a message loop, as the program's
// own-thread windows do. `before` runs on that thread before the page loads (natives its
// scripts use), `prepare` after it, both before the loop.
class ThreadWindow {
public:
    explicit ThreadWindow(const char* page, std::function<void(EngineWindow&)> prepare = {},
                          std::function<void(EngineWindow&)> before = {}) {
        std::promise<void> ready;
        auto started = ready.get_future();
        thread_ = std::thread([this, page, prepare, before, ready = std::move(ready)]() mutable {
            EngineWindow w;
            if (before) before(w);
            w.Load(page);
            if (prepare) prepare(w);
            hwnd = w.hwnd;
            window = &w;
            owner = GetCurrentThreadId();
            ready.set_value();
            MSG msg{};
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        });
        started.wait();
    }
    ~ThreadWindow() {
        PostThreadMessageW(owner, WM_QUIT, 0, 0);
        thread_.join();
    }
    ThreadWindow(const ThreadWindow&) = delete;
    ThreadWindow& operator=(const ThreadWindow&) = delete;

    HWND hwnd = nullptr;
    EngineWindow* window = nullptr;  // while the thread runs
    DWORD owner = 0;

private:
    std::thread thread_;
};
