// The current weather of the user's area: the one tRealWeather row, the script object
// "realWeather", and the server's readings, which also feed five health elements.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "ScriptVM.h"

class CHealthResources;

// One reading, laid out as the tRealWeather row.
struct struRealWeatherW {
    static constexpr int kNoTemperature = -29999;

    int areaCodeNo = -1;
    int solarCalendar = -1;  // yyyymmdd
    std::wstring lunarCalendar;
    int solarTermsNo = -1;
    std::wstring solarTermsName;
    std::wstring pubTime;
    int realMessNo = -1;
    std::wstring gatherTime;
    int realWeatherNo = -1;
    std::wstring realWeatherName;
    int realTemperature = kNoTemperature;
    int realMinTemperature = kNoTemperature;
    int realMaxTemperature = kNoTemperature;
    int realHumidity = -1;
    int realMinHumidity = -1;
    int realMaxHumidity = -1;
    int realWindDirectionNo = -1;
    std::wstring realWindDirectionName;
    int realWindLevel = -1;
    int realMinWindLevel = -1;
    int realMaxWindLevel = -1;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
};

class CRealWeather {
public:
    static constexpr int kReplyFields = 23;

    CRealWeather();
    virtual ~CRealWeather() = default;

    // Clear, then today's row of the area; 0.
    int LoadFromDB(int areaCodeNo);
    // 1 after a read without exception, else 0. A row of another day leaves the
    // reading cleared.
    int ReadRealWeatherFromDB(int areaCodeNo);
    // Every value back to "no value".
    void Clear();
    int RegisterScriptObject(HVM vm);
    static std::shared_ptr<const uie::NativeObjectDef> ScriptObjectDef();
    // The reply to a live-weather query (0x1100), on the socket thread: the rows the
    // update changed, 0 when the reading is ignored or nothing was changed, -1 on failure.
    virtual int BussDataProc(const std::wstring& reply);

    // A copy of the held reading (the alert engine reads it from its own thread).
    struRealWeatherW GetRecord() const;
    template <class T>
    T GetField(T struRealWeatherW::*field) const {
        std::lock_guard lock(m_lock);
        return m_record.*field;
    }
    // The five element rows a reading sets, in their fixed order.
    static uie::value ElementRows(const struRealWeatherW& w, const CHealthResources& resources);

    // The server's message number of the held reading; -1 when none is held.
    std::atomic<int> m_nRealMessNo{-1};

private:
    static struRealWeatherW ParseReply(const std::wstring& reply);
    void SetRecord(const struRealWeatherW& w, bool keepModifyTime);
    static void Publish(const struRealWeatherW& w);

    std::atomic<int> m_nValid{1};
    mutable std::mutex m_lock;  // the record; never held across a call out
    struRealWeatherW m_record;
};

extern CRealWeather* g_pRealWeather;
