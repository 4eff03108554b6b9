// The dictionary of data sources: manual entry and the USB measuring devices.
#pragma once

#include "ScriptVM.h"

class CHealthElementSourceType {
public:
    CHealthElementSourceType();

    void LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CHealthElementSourceType* g_pHealthElementSourceType;
