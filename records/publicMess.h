// The public message feed, for every user.
#pragma once

#include <string>

#include "ScriptVM.h"
#include "messFeed.h"

class CPublicMess : public CMessFeed {
public:
    CPublicMess();

    int RegisterScriptObject(HVM vm);
    // One message of the feed (0x1110), on the socket thread.
    int BussDataProc(const std::wstring& reply) override;
};

extern CPublicMess* g_pPublicMess;
