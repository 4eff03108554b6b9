// The dictionary of health-element kinds.
#pragma once

#include "ScriptVM.h"

class CHealthElementType {
public:
    CHealthElementType();

    void LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CHealthElementType* g_pHealthElementType;
