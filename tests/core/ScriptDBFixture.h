// What the tests of the pages' database objects share: a page VM of their own and a
// database file in a fresh folder, with the classes DB and Recordset defined.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "DB.h"
#include "EngineTest.h"
#include "Recordset.h"
#include "TempDir.h"
#include "Text.h"
#include "Window.h"

// A VM no test has defined anything on yet. A thread's VM keeps its definitions for
// the life of the process, so each call takes the VM of a thread made for it.
inline HVM FreshVM() {
    static const ATOM cls = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.lpszClassName = L"FreshVMWindow";
        return RegisterClassExW(&wc);
    }();
    EXPECT_NE(cls, 0);
    HVM vm = nullptr;
    std::thread([&vm] {
        const HWND hwnd = CreateWindowExW(0, L"FreshVMWindow", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        vm = SciterGetVM(hwnd);
        DestroyWindow(hwnd);
    }).join();
    EXPECT_NE(vm, nullptr);
    return vm;
}

class ScriptDBTest : public ::testing::Test {
protected:
    ScriptDBTest() : vm_(FreshVM()), path_(text::FromUtf8((dir_ / "page.db").string())) {
        EXPECT_TRUE(DB::Define(vm_));
        EXPECT_TRUE(Recordset::Define(vm_));
        db_ = Open(path_);
    }

    uie::value Open(const std::wstring& path) {
        return uie::test::CallNative(vm_, "DB", "open", {uie::value(path)}).result;
    }
    // db.exec(sql, params...) as a page calls it.
    uie::test::CallResult Exec(const std::wstring& sql, std::vector<uie::value> params = {}) {
        params.insert(params.begin(), uie::value(sql));
        return uie::test::CallMethod(vm_, db_, "exec", std::move(params));
    }
    uie::test::CallResult Call(const uie::value& object, const char* method, std::vector<uie::value> args = {}) {
        return uie::test::CallMethod(vm_, object, method, std::move(args));
    }
    uie::value Item(const uie::value& recordset, uie::value key) {
        return uie::test::GetItem(vm_, recordset, std::move(key)).result;
    }

    TempDir dir_;
    HVM vm_;
    std::wstring path_;
    uie::value db_;
};
