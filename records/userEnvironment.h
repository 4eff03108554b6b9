// The indoor readings of the user's environment sensor and the averages of a measuring
// period, shown to the pages as the script object "userEnv". No device reports yet, so
// the readings keep their "no value" marks.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "ScriptVM.h"

// One measuring period, laid out as a tUserEnvironment row.
struct struUserEnvironmentW {
    static constexpr int kNoTemperature = -29999;  // a temperature that was never measured

    int userNo = -1;
    int recNo = -1;
    int recDate = -1;  // yyyymmdd
    std::wstring lastTime;
    std::wstring thisTime;
    int duration = -1;  // seconds from lastTime to thisTime
    int averageTemperature = kNoTemperature;
    int averageHumidity = -1;
    int averageAirQuality = -1;
    int averageAirQualityLevel = -1;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
};

class CUserEnvironment {
public:
    CUserEnvironment();

    // The loading step: nothing is stored yet; 0 lets the loading go on.
    int LoadFromDB();
    // The main frame's periodic record: nothing to record yet; 0.
    int RecordUserEnvironment();
    // Defines "userEnv" on one page's VM.
    int RegisterScriptObject(HVM vm);
    // The definition every page's VM shares (built once for the process).
    static std::shared_ptr<const uie::NativeObjectDef> ScriptObjectDef();

    // The level, 1 (good) to 5, of the current air-quality reading.
    int GetAirQualityLevel() const;
    static int AirQualityLevel(int reading);

    int GetDevTemperature() const;
    int GetDevHumidity() const;
    // One field of the period record, for the getters.
    template <class T>
    T GetField(T struUserEnvironmentW::*field) const {
        std::lock_guard lock(m_lock);
        return m_record.*field;
    }

private:
    mutable std::mutex m_lock;  // the readings and the record; pages read them on their own threads
    int m_devTemperature = struUserEnvironmentW::kNoTemperature;
    int m_devHumidity = -1;
    int m_devAirQuality = -1;
    struUserEnvironmentW m_record;
};

extern CUserEnvironment* g_pUserEnvironment;
