// Today's living indices of the user's area.
#pragma once

#include <atomic>

#include "ScriptVM.h"

class CLifeIndex {
public:
    CLifeIndex();

    int LoadFromDB(int areaCodeNo);
    int RegisterScriptObject(HVM vm);

    // The server's message number of the first held record; -1 when none is held.
    std::atomic<int> m_nLiveIndexMessNo{-1};
};

extern CLifeIndex* g_pLifeIndex;
