// The computer-use monitor on the records fixture: a user database, the main frame and a
// loopback server, with the clock, the foreground program and the last input fed by the
// test through the hooks.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "../records/RecordsFixture.h"
#include "UserOperation.h"

class UserOpTest : public RecordsTest {
protected:
    static constexpr int kToday = 20260310;

    UserOpTest() {
        Hooks().localTime = [this](SYSTEMTIME& st) {
            std::lock_guard lock(hookLock_);
            st = now_;
        };
        Hooks().foregroundProgram = [this] {
            std::lock_guard lock(hookLock_);
            return foreground_;
        };
        Hooks().lastInputTick = [this](DWORD& tick) {
            std::lock_guard lock(hookLock_);
            tick = input_;
            return inputKnown_;
        };
        comm_->m_nUserNo = 7;
        monitor_ = std::make_unique<CUserOperation>();
        g_pUserOperation = monitor_.get();
        monitor_->ResetDayData();
    }
    ~UserOpTest() override {
        EndWorkers();  // a reply may still be on its way to the monitor
        monitor_.reset();
        g_pUserOperation = nullptr;
    }

    void SetForeground(const std::wstring& path) {
        std::lock_guard lock(hookLock_);
        foreground_ = path;
    }
    void SetInput(DWORD tick, bool known = true) {
        std::lock_guard lock(hookLock_);
        input_ = tick;
        inputKnown_ = known;
    }
    void SetDay(WORD day) {
        std::lock_guard lock(hookLock_);
        now_.wDay = day;
    }
    UserOpDayRecord Record() const { return monitor_->GetDayRecord(); }
    int RowCount(const std::wstring& table, const std::wstring& where = L"") {
        return std::stoi(FirstValue(L"select count(*) from " + table + L" " + where + L";"));
    }

    std::mutex hookLock_;
    SYSTEMTIME now_{2026, 3, 2, 10, 9, 0, 0, 0};
    std::wstring foreground_;
    DWORD input_ = 0;
    bool inputKnown_ = true;
    std::unique_ptr<CUserOperation> monitor_;
};
