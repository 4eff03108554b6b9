// The computer-use monitor.
#pragma once

#include "ScriptVM.h"

class CUserOperation {
public:
    CUserOperation();

    int StartWork();
    int RegisterScriptObject(HVM vm);
};

extern CUserOperation* g_pUserOperation;
