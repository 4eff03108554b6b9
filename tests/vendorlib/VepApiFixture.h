// The library's exports against the simulated monitor on each of its links: the
// fixtures of the links, a model file naming the three simulated models, and the
// library ended (its job joined, its work files gone) when the test ends.
#pragma once

#include <string>
#include <vector>

#include "SerialFixture.h"
#include "SimMonitorStorage.h"
#include "VepRun.h"
#include "WaitFor.h"

inline std::vector<SimReading> ApiReadings() {
    return {{2013, 3, 4, 21, 30, 5, 131, 85, 66}, {2013, 3, 4, 7, 15, 0, 125, 82, 70}};
}

class VepApiFixture : public SerialFixture {
protected:
    VepApiFixture() {
        SetMonitor([](SimMonitorState& s) { s.readings = ApiReadings(); });
        storage_.WriteReadings();
    }

    // The three simulated models in this order ("usb", "serial", "storage").
    void WriteSearchModels(const std::vector<std::string>& order = {"usb", "serial", "storage"}) {
        std::string xml;
        for (const std::string& link : order) {
            if (link == "usb") xml += ModelXml("SIMBP3", SimModel());
            if (link == "serial") xml += ModelXml("SIMSER", SimSerialModel(), "SERIAL");
            if (link == "storage") xml += ModelXml("SIMUMS", SimStorageModel(), "USB-STORAGE");
        }
        WriteModels(xml);
    }
    // Only this link's monitor is there: "usb", "serial", "storage" or "none".
    void OnlyPresent(const std::string& link) {
        SetMonitor([&](SimMonitorState& s) { s.name = link == "usb" ? "SIMBP3" : "SIMSER"; });
        monitor_->SetPlugged(link == "usb");
        Hooks().serialPorts[kMonitorPort - 1] = link == "serial" ? line_.SlavePath() : "";
        if (link == "storage") storage_.Point(Hooks());
        if (link != "storage") absent_.Point(Hooks());
    }
    // The readings as the monitor holds them, the oldest first as the library gives them.
    static void ExpectSimReadings(const std::vector<str_bp_retdata>& readings) {
        const auto sim = ApiReadings();
        ASSERT_EQ(readings.size(), sim.size());
        for (std::size_t i = 0; i < sim.size(); ++i) {
            const SimReading& r = sim[sim.size() - 1 - i];
            EXPECT_EQ(readings[i].systolic, r.systolic);
            EXPECT_EQ(readings[i].diastolic, r.diastolic);
            EXPECT_EQ(readings[i].pulse, r.pulse);
            char date[11];
            std::snprintf(date, sizeof(date), "%4d/%02d/%02d", r.year, r.month, r.day);
            EXPECT_STREQ(readings[i].date, date);
        }
    }

    TempDir absentDir_;
    SimMonitorStorage storage_{dir_.Path(), monitor_};
    SimMonitorStorage absent_{absentDir_.Path(), monitor_, "vol", "SIMUMS", false};
};
