// The user's registered measuring devices.
#pragma once

#include "ScriptVM.h"

class CDeviceManager {
public:
    CDeviceManager();

    int LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CDeviceManager* g_pDeviceManager;
