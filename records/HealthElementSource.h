// Which data source feeds which health element.
#pragma once

#include "ScriptVM.h"

class CHealthElementSource {
public:
    CHealthElementSource();

    void LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CHealthElementSource* g_pHealthElementSource;
