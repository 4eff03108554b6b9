// The message feed of the user's group.
#pragma once

#include "ScriptVM.h"

class CUserGroupMess {
public:
    CUserGroupMess();

    void LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CUserGroupMess* g_pUserGroupMess;
