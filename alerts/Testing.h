// The user's test reminders and the thread that raises them.
#pragma once

#include "ScriptVM.h"

class CTesting {
public:
    CTesting();

    int StartWork();
    int RegisterScriptObject(HVM vm);
};

extern CTesting* g_pTesting;
