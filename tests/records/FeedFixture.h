// What the feed tests share: the data-class fixture, a floating bar with its pop-ups on a
// plain page (whose environment pop-up's commands the test reads), and the dates SQLite
// computes for the readers.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Config.h"
#include "FloatBarScope.h"
#include "RecordsFixture.h"

class FeedTest : public RecordsTest {
protected:
    FeedTest() { Posted(); }  // the frame's own opening refresh
    ~FeedTest() override {
        EndWorkers();
        Posted();
        StopBar();
    }

    // The bar on the test thread, as the main frame's thread serves it in the program.
    void StartBar() {
        bar_.emplace(dir_.Path());
        PopupCommands();  // the bar's own opening posts
    }

    // The commands posted to the environment pop-up since the last call, "8066" and so on.
    std::vector<std::wstring> PopupCommands() {
        std::vector<std::wstring> ids;
        if (!bar_) return ids;
        for (const WORD id : bar_->SurroundCommands()) {
            wchar_t hex[8];
            std::swprintf(hex, 8, L"%04X", id);
            ids.push_back(hex);
        }
        return ids;
    }

    // yyyymmdd of SQLite's local clock, days away from today.
    int SqliteDate(int days) {
        return std::stoi(FirstValue(L"select strftime('%Y%m%d','now','localtime','" + std::to_wstring(days) +
                                    L" day')"));
    }

private:
    void StopBar() { bar_.reset(); }

    std::optional<FloatBarScope> bar_;
};
