// What the data-class tests share: a real user database made from the default schema,
// the database object on it, a loopback server behind the communication object, and a
// main frame made on the test thread, whose posted commands the test reads back.
#pragma once

#include <gtest/gtest.h>

#include <cwchar>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../comm/CommFixture.h"
#include "Config.h"
#include "DefaultDatabase.h"
#include "EngineTest.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "ReplyFields.h"
#include "TempDir.h"
#include "Text.h"
#include "Window.h"

class RecordsTest : public CommTest {
protected:
    RecordsTest() {
        MakeDefaultDatabase(dir_ / "user.db");
        g_Config.m_config.userDBName = text::FromUtf8((dir_ / "user.db").string());
        db_.SetLockTiming(150, 1);
        db_.Init();
        g_pMyDatabase = &db_;

        std::ofstream(dir_ / "main.htm") << "<html><body></body></html>";
        frame_.m_cs.ownThread = false;
        frame_.m_cs.page = text::FromUtf8((dir_ / "main.htm").string());
        frame_.Start();
        vm_ = SciterGetVM(frame_.GetHwnd());
        g_pMainFrame = &frame_;
    }
    ~RecordsTest() override {
        EndWorkers();
        Posted();  // a refresh map left queued would never be freed
        g_pMainFrame = nullptr;
        g_pMyDatabase = nullptr;
        g_Config.m_config.userDBName.clear();
    }

    SqlRows Rows(const std::wstring& sql) {
        SqlRows rows;
        EXPECT_EQ(db_.SelectTableWithReturn(sql, rows), 0) << text::ToUtf8(sql);
        return rows;
    }
    // The first column of the first row; "<none>" without a row.
    std::wstring FirstValue(const std::wstring& sql) {
        const SqlRows rows = Rows(sql);
        return rows.empty() ? L"<none>" : rows.front().front();
    }
    std::wstring Column(const wchar_t* table, const wchar_t* column, const std::wstring& where = L"") {
        return FirstValue(std::wstring(L"select ") + column + L" from " + table + where);
    }
    void Exec(const std::wstring& sql) { EXPECT_GE(db_.ExecSQL(sql), 0) << text::ToUtf8(sql); }

    // The commands posted to the main frame since the last call, in order: "802E:sex=1"
    // for an element refresh (its map read, then handed to the frame, which frees it),
    // else the id in hex, "8040".
    std::vector<std::wstring> Posted() {
        std::vector<std::wstring> out;
        MSG msg;
        while (PeekMessageW(&msg, frame_.GetHwnd(), WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
            const int id = LOWORD(msg.wParam);
            wchar_t hex[8];
            std::swprintf(hex, 8, L"%04X", id);
            std::wstring entry = hex;
            if (id == ID_CMD_REFRESH_ELEMENT) {
                const auto* map = reinterpret_cast<const uie::value*>(msg.lParam);
                entry += L":" + map->get_item(uie::value(L"elementID")).get_string() + L"=" +
                         std::to_wstring(map->get_item(uie::value(L"valueNo")).get_int(-99)) +
                         (map->get_item(uie::value(L"bRecordData")).get_bool() ? L",r" : L"") +
                         (map->get_item(uie::value(L"bRefashDisp")).get_bool() ? L",d" : L"");
                DispatchMessageW(&msg);  // the frame's handler owns the map
            }
            out.push_back(entry);
        }
        return out;
    }

    TempDir dir_;
    CMyDatabase db_;
    CMainFrame frame_;
    HVM vm_ = nullptr;
};
