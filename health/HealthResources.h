// The user's health elements and their values.
#pragma once

#include "ScriptVM.h"

class CHealthResources {
public:
    CHealthResources();

    int LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CHealthResources* g_pHealthResources;
