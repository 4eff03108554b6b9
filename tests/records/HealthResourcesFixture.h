// The health elements on a fresh user database: the default rows, the type and source
// dictionaries loaded, a logged-in user, and the main frame's commands read back.
#pragma once

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "HealthElementSourceType.h"
#include "HealthElementType.h"
#include "HealthResources.h"
#include "RecordsFixture.h"

// The local clock of the health-element tests: 2024-06-15 09:00.
inline void FixClock(SYSTEMTIME& st) {
    st = SYSTEMTIME{};
    st.wYear = 2024;
    st.wMonth = 6;
    st.wDay = 15;
    st.wHour = 9;
}

class HealthResourcesTest : public RecordsTest {
protected:
    static constexpr int kDefaultElements = 24;  // the default database's

    HealthResourcesTest() : userNo_(10000 + static_cast<int>(tick_ % 900000)) {
        comm_->m_nUserNo = userNo_;
        g_pHealthElementType = &types_;
        g_pHealthElementSourceType = &sources_;
        g_pHealthResources = &resources_;
        // As the first login leaves them: the user's own rows.
        Exec(L"update tHealthElement set userNo=" + std::to_wstring(userNo_));
        types_.LoadFromDB();
        sources_.LoadFromDB();
        EXPECT_EQ(resources_.ReadHealthElementFromDB(), kDefaultElements);
        Commands();  // the frame's own first refresh
    }
    ~HealthResourcesTest() override {
        EndWorkers();  // no reply reaches the objects below any more
        Commands();
        g_pHealthResources = nullptr;
        g_pHealthElementSourceType = nullptr;
        g_pHealthElementType = nullptr;
    }

    // The commands posted to the main frame since the last call, "803E" and so on. Script
    // calls (8020) and element values (802E) are run, so the records they carry are freed.
    std::vector<std::wstring> Commands() {
        std::vector<std::wstring> out;
        MSG msg;
        while (PeekMessageW(&msg, frame_.GetHwnd(), WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
            const WORD id = LOWORD(msg.wParam);
            wchar_t hex[8];
            std::swprintf(hex, 8, L"%04X", id);
            if (id == ID_CMD_SCRIPT_CALL || id == ID_CMD_REFRESH_ELEMENT) DispatchMessageW(&msg);
            out.push_back(hex);
        }
        return out;
    }
    // Every element list waiting for the main page, oldest first, as JSON.
    std::vector<std::wstring> Lists() {
        std::vector<std::wstring> out;
        for (uie::value v = resources_.PopElementListMsg(); !v.is_undefined(); v = resources_.PopElementListMsg())
            out.push_back(v.to_json());
        return out;
    }
    std::wstring Db(const wchar_t* column, const std::wstring& id) {
        return Column(L"tHealthElement", column, L" where healthElementID='" + id + L"'");
    }
    int HistoryRows(const std::wstring& id) {
        return std::stoi(FirstValue(L"select count(*) from tHealthElementDataList where healthElementID='" + id + L"'"));
    }
    struHealthElementW Element(const std::wstring& id) {
        const auto e = resources_.FindElement(id);
        EXPECT_TRUE(e.has_value()) << text::ToUtf8(id);
        return e.value_or(struHealthElementW{});
    }
    // Changes an element in memory only.
    template <class F>
    void Change(const std::wstring& id, F&& f) {
        resources_.WithElements([&](HealthElementMap& elements) { f(elements.at(id)); });
    }

    const int userNo_;
    CHealthElementType types_;
    CHealthElementSourceType sources_;
    CHealthResources resources_;
};
