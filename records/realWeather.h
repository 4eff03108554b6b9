// The current weather of the user's area.
#pragma once

#include "ScriptVM.h"

class CRealWeather {
public:
    CRealWeather();

    int LoadFromDB(int areaCodeNo);
    int RegisterScriptObject(HVM vm);
};

extern CRealWeather* g_pRealWeather;
