// The weather forecast of the user's area, by half-day.
#pragma once

#include <atomic>

#include "ScriptVM.h"

class CWeatherForecast {
public:
    CWeatherForecast();

    int LoadFromDB(int areaCodeNo);
    int RegisterScriptObject(HVM vm);

    // The server's message number of the first held record; -1 when none is held.
    std::atomic<int> m_nForecastMessNo{-1};
};

extern CWeatherForecast* g_pWeatherForecast;
