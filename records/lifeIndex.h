// Today's living indices of the user's area.
#pragma once

#include <atomic>
#include <string>

#include "ScriptVM.h"

class CLifeIndex {
public:
    CLifeIndex();
    virtual ~CLifeIndex() = default;

    int LoadFromDB(int areaCodeNo);
    int RegisterScriptObject(HVM vm);
    // The reply to a life-index query (0x1102), on the socket thread.
    virtual int BussDataProc(const std::wstring& reply);

    // The server's message number of the first held record; -1 when none is held.
    std::atomic<int> m_nLiveIndexMessNo{-1};
};

extern CLifeIndex* g_pLifeIndex;
