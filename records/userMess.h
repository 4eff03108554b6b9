// The messages addressed to the user alone.
#pragma once

#include <string>

#include "ScriptVM.h"
#include "messFeed.h"

class CUserMess : public CMessFeed {
public:
    CUserMess();

    int RegisterScriptObject(HVM vm);
    // One message of the feed (0x1111), on the socket thread. A message for another
    // user number than the logged-in one is not stored.
    int BussDataProc(const std::wstring& reply) override;
};

extern CUserMess* g_pUserMess;
