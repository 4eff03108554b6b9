// The current weather of the user's area.
#pragma once

#include <atomic>
#include <string>

#include "ScriptVM.h"

class CRealWeather {
public:
    CRealWeather();
    virtual ~CRealWeather() = default;

    int LoadFromDB(int areaCodeNo);
    int RegisterScriptObject(HVM vm);
    // The reply to a live-weather query (0x1100), on the socket thread.
    virtual int BussDataProc(const std::wstring& reply);

    // The server's message number of the held reading; -1 when none is held.
    std::atomic<int> m_nRealMessNo{-1};
};

extern CRealWeather* g_pRealWeather;
