// The weather forecast of the user's area from today on, by half-day: up to 14 records
// of tWeatherForecast, handed to pages by "getWeatherForecast".
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "ScriptVM.h"

// One half-day, laid out as the tWeatherForecast row; the reply's fields come in the
// same order, without modifyTime.
struct struWeatherForecastW {
    int areaCodeNo = -1;
    int solarCalendar = -1;  // yyyymmdd
    std::wstring dayNight;
    std::wstring lunarCalendar;
    int solarTermsNo = -1;
    std::wstring solarTermsName;
    std::wstring pubTime;
    int forecastMessNo = -1;
    std::wstring gatherTime;
    int weatherNo = -1;
    std::wstring weatherName;
    int minTemperature = -29999;
    int maxTemperature = -29999;
    int minHumidity = -1;
    int maxHumidity = -1;
    int windDirectionNo = -1;
    std::wstring windDirectionName;
    int minWindLevel = -1;
    int maxWindLevel = -1;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
};

class CWeatherForecast {
public:
    static constexpr int kMaxRecords = 14;
    static constexpr int kRowFields = 21;

    CWeatherForecast();
    virtual ~CWeatherForecast() = default;

    // Clear, then the area's records from today on; 0.
    int LoadFromDB(int areaCodeNo);
    // 1 after a read without exception, else 0 (what was read before stays).
    int ReadWeatherForecastFromDB(int areaCodeNo);
    // Every slot back to "no value"; the count stays.
    void Clear();
    int RegisterScriptObject(HVM vm);
    static std::shared_ptr<const uie::NativeObjectDef> ScriptObjectDef();
    // The reply to a forecast query (0x1101), on the socket thread: the rows handled,
    // which become the count.
    virtual int BussDataProc(const std::wstring& reply);

    // One map per held record, 21 keys each (no "modifyTime").
    uie::value GetForecastValue() const;
    int GetCount() const;

    // The server's message number of the first held record; -1 when none is held.
    std::atomic<int> m_nForecastMessNo{-1};

private:
    // The row's statement (update when stored, else insert) run; true when one row changed.
    static bool WriteRow(const struWeatherForecastW& f);
    int HeldMessNo(int slot) const;
    // A reply's record keeps the slot's modifyTime; a loaded one brings its own.
    void SetSlot(int slot, const struWeatherForecastW& f, bool keepModifyTime);

    std::atomic<int> m_nValid{1};
    mutable std::mutex m_lock;  // the slots and the count; never held across a call out
    std::array<struWeatherForecastW, kMaxRecords> m_records{};
    int m_nCount = 0;
};

extern CWeatherForecast* g_pWeatherForecast;
