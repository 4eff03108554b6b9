// The messages addressed to the user alone.
#pragma once

#include "ScriptVM.h"

class CUserMess {
public:
    CUserMess();

    void LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CUserMess* g_pUserMess;
