// The current weather of the user's area.
#pragma once

#include <atomic>

#include "ScriptVM.h"

class CRealWeather {
public:
    CRealWeather();

    int LoadFromDB(int areaCodeNo);
    int RegisterScriptObject(HVM vm);

    // The server's message number of the held reading; -1 when none is held.
    std::atomic<int> m_nRealMessNo{-1};
};

extern CRealWeather* g_pRealWeather;
