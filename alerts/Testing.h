// The user's test reminders and the thread that raises them.
#pragma once

#include <string>

#include "ScriptVM.h"

// The result of a finished test, as a page reports it.
struct struTestingResultW {
    std::wstring testingItemID;
    std::wstring lastTestingTime;
    std::wstring lastTestingNote;
    int lastTestingPoint = -1;
};

class CTesting {
public:
    CTesting();

    int StartWork();
    int RegisterScriptObject(HVM vm);
};

extern CTesting* g_pTesting;
