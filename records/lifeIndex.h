// Today's living indices of the user's area.
#pragma once

#include "ScriptVM.h"

class CLifeIndex {
public:
    CLifeIndex();

    int LoadFromDB(int areaCodeNo);
    int RegisterScriptObject(HVM vm);
};

extern CLifeIndex* g_pLifeIndex;
