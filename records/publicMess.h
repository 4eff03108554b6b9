// The public message feed, for every user.
#pragma once

#include <string>

#include "ScriptVM.h"
#include "messFeed.h"

struct struPublicMessW : struMessW {
    int publicMessNo = -1;
    std::wstring publicMess;
};

class CPublicMess : public CMessFeed {
public:
    static constexpr int kReplyFields = 8;

    CPublicMess();

    int RegisterScriptObject(HVM vm);
    // One message of the feed (0x1110), on the socket thread. A stored message is also
    // queued on the message window, when there is one.
    int BussDataProc(const std::wstring& reply) override;

private:
    static void QueueNotice(int publicMessNo, const std::wstring& publicMess);
};

extern CPublicMess* g_pPublicMess;
