// The message feed of the user's type.
#pragma once

#include "ScriptVM.h"

class CUserTypeMess {
public:
    CUserTypeMess();

    void LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CUserTypeMess* g_pUserTypeMess;
