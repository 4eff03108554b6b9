// The message feed of the user's group.
#pragma once

#include <string>

#include "ScriptVM.h"
#include "messFeed.h"

class CUserGroupMess : public CMessFeed {
public:
    CUserGroupMess();

    int RegisterScriptObject(HVM vm);
    // One message of the feed (0x1113), on the socket thread.
    int BussDataProc(const std::wstring& reply) override;
};

extern CUserGroupMess* g_pUserGroupMess;
