// A simulated pedometer in the transport hook, a fixed clock (Sunday 20 January 2013,
// 14:37:05.123, tick 3000000000 and on by the link's simulated time) and long sleeps
// recorded instead of waited, each moving that time on.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "Hooks.h"
#include "SimPedometer.h"
#include "SimPedometerTransport.h"
#include "TempDir.h"

class SimPedometerFixture : public ::testing::Test {
protected:
    static constexpr SYSTEMTIME kClock{2013, 1, 0, 20, 14, 37, 5, 123};
    static constexpr DWORD kTick = 3000000000u;  // above 2^31: must not print negative

    SimPedometerFixture() {
        Hooks().localTime = [](SYSTEMTIME& st) { st = kClock; };
        Hooks().tickCount = [this] { return kTick + link_->Elapsed(); };
        Hooks().longSleep = [this](DWORD ms) {
            link_->Advance(ms);
            std::lock_guard guard(sleepLock_);
            longSleeps_.push_back(ms);
        };
        Hooks().hidTransport = link_;
    }

    std::vector<DWORD> LongSleeps() {
        std::lock_guard guard(sleepLock_);
        return longSleeps_;
    }

    TempDir dir_;
    HookScope hooks_;
    std::shared_ptr<SimPedometer> device_ = std::make_shared<SimPedometer>();
    std::shared_ptr<SimPedometerTransport> link_ = std::make_shared<SimPedometerTransport>(device_);

private:
    std::mutex sleepLock_;
    std::vector<DWORD> longSleeps_;
};
