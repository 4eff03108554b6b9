// The weather forecast of the user's area, by half-day.
#pragma once

#include "ScriptVM.h"

class CWeatherForecast {
public:
    CWeatherForecast();

    int LoadFromDB(int areaCodeNo);
    int RegisterScriptObject(HVM vm);
};

extern CWeatherForecast* g_pWeatherForecast;
