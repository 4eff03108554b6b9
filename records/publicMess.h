// The public message feed, for every user.
#pragma once

#include "ScriptVM.h"

class CPublicMess {
public:
    CPublicMess();

    void LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CPublicMess* g_pPublicMess;
