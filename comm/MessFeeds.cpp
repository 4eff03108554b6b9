// The four message feeds as the keep-alive and the reply dispatcher both see them: the
// feed's object, the keep-alive field that announces its newest message, and its request.
#include <cstddef>
#include <iterator>

#include "Communication.h"

#include "publicMess.h"
#include "userGroupMess.h"
#include "userMess.h"
#include "userTypeMess.h"

namespace {

struct FeedRow {
    int command;
    CMessFeed* (*feed)();
    std::size_t announcedField;
    int (*quest)(CCommunication& comm, int announced, int held);
};

// In the order the keep-alive asks for them.
const FeedRow kFeeds[] = {
    {COMMAND_PUBLICMESS_QUEST, []() -> CMessFeed* { return g_pPublicMess; }, 7,
     [](CCommunication& c, int announced, int held) { return c.QuestPublicMess_asyn(-1, announced, held); }},
    {COMMAND_USERTYPEMESS_QUEST, []() -> CMessFeed* { return g_pUserTypeMess; }, 8,
     [](CCommunication& c, int announced, int held) { return c.QuestUserTypeMess_asyn(L'\0', announced, held); }},
    {COMMAND_USERMESS_QUEST, []() -> CMessFeed* { return g_pUserMess; }, 9,
     [](CCommunication& c, int announced, int held) { return c.QuestUserMess_asyn(-1, announced, held); }},
    {COMMAND_USERGROUPMESS_QUEST, []() -> CMessFeed* { return g_pUserGroupMess; }, 10,
     [](CCommunication& c, int announced, int held) { return c.QuestUserGroupMess_asyn(0, announced, held); }},
};

}  // namespace

void CCommunication::QuestNewMessages() {
    for (const FeedRow& row : kFeeds) {
        const CMessFeed* feed = row.feed();
        if (feed == nullptr) continue;
        const int announced = m_nPluseCheckNo[row.announcedField];
        const int held = feed->GetMaxMessNo();
        if (announced > 0 && announced > held) row.quest(*this, announced, held);
    }
}

std::optional<int> CCommunication::MessFeedReply(int feedCommand, const std::wstring& reply) {
    const FeedRow* row = std::begin(kFeeds);
    while (row != std::end(kFeeds) && row->command != feedCommand) ++row;
    CMessFeed* feed = row != std::end(kFeeds) ? row->feed() : nullptr;
    if (feed == nullptr) return std::nullopt;
    const int before = feed->GetMaxMessNo();
    const int result = feed->BussDataProc(reply);
    const int held = feed->GetMaxMessNo();
    const int announced = m_nPluseCheckNo[row->announcedField];
    // Only a reply that moved the feed on is followed, or a message the client cannot
    // store would be asked for again after every reply.
    if (result >= 0 && held > before && announced > held) row->quest(*this, announced, held);
    return result;
}
