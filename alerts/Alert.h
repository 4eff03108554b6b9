// The user's alerts and the thread that delivers them.
#pragma once

#include "ScriptVM.h"

class CAlert {
public:
    CAlert();

    int StartWork();
    int RegisterScriptObject(HVM vm);
};

extern CAlert* g_pAlert;
