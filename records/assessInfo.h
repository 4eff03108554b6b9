// The user's health assessment reports.
#pragma once

#include "ScriptVM.h"

class CAssessInfo {
public:
    CAssessInfo();

    int LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CAssessInfo* g_pAssessInfo;
