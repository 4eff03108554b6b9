// The blood-pressure window's object on a fresh user database: the health elements and
// sources, the device manager, a fixed local clock, the loopback server behind the
// communication object, and the window object (not a window until StartWindow).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../records/HealthResourcesFixture.h"
#include "DeviceWindowPage.h"
#include "Hooks.h"
#include "Vepcom.h"
#include "bloodPressureWin.h"
#include "deviceManager.h"

class BloodPressureTest : public HealthResourcesTest {
protected:
    static constexpr int kSource = CBloodPressureWin::kMonitorSource;

    BloodPressureTest() {
        Hooks().localTime = [this](SYSTEMTIME& st) { st = now_; };
        g_pDeviceManager = &devices_;
        devices_.LoadFromDB();
        bp_ = std::make_unique<CBloodPressureWin>();
        g_pBloodPressure = bp_.get();
    }
    ~BloodPressureTest() override {
        EndWorkers();  // no reply reaches the window object any more
        g_pBloodPressure = nullptr;
        bp_.reset();
        g_pDeviceManager = nullptr;
    }

    // Makes the window on the test thread, so its posted commands can be read back.
    void StartWindow() { StartBareWindow(*bp_, dir_ / "bp.htm"); }
    // The commands posted to the window since the last call, "8090:1" (id:lParam).
    std::vector<std::wstring> WindowCommands() { return TakeWindowCommands(bp_->GetHwnd()); }

    // A monitor record as the module hands it over; the texts are copied without their
    // NUL when they fill the field.
    static str_bp_retdata Record(const char* date, const char* time, int systolic, int diastolic, int pulse,
                                 int kind = 0) {
        str_bp_retdata r{};
        r.systolic = systolic;
        r.diastolic = diastolic;
        r.pulse = pulse;
        r.kind = kind;
        std::memcpy(r.date, date, std::min(std::strlen(date), sizeof r.date));
        std::memcpy(r.time, time, std::min(std::strlen(time), sizeof r.time));
        return r;
    }
    static std::vector<unsigned char> Bytes(const std::vector<str_bp_retdata>& records) {
        std::vector<unsigned char> bytes(records.size() * sizeof(str_bp_retdata));
        if (!records.empty()) std::memcpy(bytes.data(), records.data(), bytes.size());
        return bytes;
    }
    // A device read of source `sourceNo` that took these records, converted; with a
    // download time, the read began and ended then.
    int ReadRecords(const std::vector<str_bp_retdata>& records, int sourceNo = kSource,
                    const std::wstring& deviceID = L"BP-0001", const std::wstring& downloadTime = L"") {
        struBpDeviceReadState state;
        state.userNo = userNo_;
        state.sourceNo = sourceNo;
        state.deviceID = deviceID;
        state.origData = Bytes(records);
        state.recordCount = static_cast<int>(records.size());
        state.readTime = downloadTime.empty() ? L"2024-06-15 09:00:00" : downloadTime;
        state.beginTime = downloadTime;
        bp_->SetReadState(std::move(state));
        return bp_->OrigDataToBussData_1002();
    }
    struUploadState State() const { return bp_->m_uploadState.Get(); }
    int StoredRows(const std::wstring& where = L"") {
        return std::stoi(FirstValue(L"select count(*) from tDeviceDataList_1002" + where));
    }

    SYSTEMTIME now_{2024, 6, 6, 15, 9, 0, 0, 0};  // 2024-06-15 09:00, as the element tests' clock
    CDeviceManager devices_;
    std::unique_ptr<CBloodPressureWin> bp_;
};
