// The user's extended profile: contact details and personal measures.
#pragma once

#include "ScriptVM.h"

class CUserExInfo {
public:
    CUserExInfo();

    int ReadUserExFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CUserExInfo* g_pUserExInfo;
