// The weather forecast of the user's area, by half-day.
#pragma once

#include <atomic>
#include <string>

#include "ScriptVM.h"

class CWeatherForecast {
public:
    CWeatherForecast();
    virtual ~CWeatherForecast() = default;

    int LoadFromDB(int areaCodeNo);
    int RegisterScriptObject(HVM vm);
    // The reply to a forecast query (0x1101), on the socket thread.
    virtual int BussDataProc(const std::wstring& reply);

    // The server's message number of the first held record; -1 when none is held.
    std::atomic<int> m_nForecastMessNo{-1};
};

extern CWeatherForecast* g_pWeatherForecast;
