// The messages addressed to the user alone.
#pragma once

#include <string>

#include "ScriptVM.h"
#include "messFeed.h"

class CUserMess : public CMessFeed {
public:
    CUserMess();

    int RegisterScriptObject(HVM vm);
    // One message of the feed (0x1111), on the socket thread.
    int BussDataProc(const std::wstring& reply) override;
};

extern CUserMess* g_pUserMess;
