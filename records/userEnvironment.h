// The indoor readings of the user's environment sensor.
#pragma once

#include "ScriptVM.h"

class CUserEnvironment {
public:
    CUserEnvironment();

    int LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CUserEnvironment* g_pUserEnvironment;
