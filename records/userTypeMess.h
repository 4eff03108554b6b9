// The message feed of the user's type.
#pragma once

#include <string>

#include "ScriptVM.h"
#include "messFeed.h"

struct struUserTypeMessW : struMessW {
    std::wstring userType;
    int userTypeMessNo = -1;
    std::wstring userTypeMess;
};

class CUserTypeMess : public CMessFeed {
public:
    static constexpr int kReplyFields = 9;

    CUserTypeMess();

    int RegisterScriptObject(HVM vm);
    // One message of the feed (0x1112), on the socket thread.
    int BussDataProc(const std::wstring& reply) override;
};

extern CUserTypeMess* g_pUserTypeMess;
