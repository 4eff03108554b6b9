// The four message feeds as the keep-alive and the reply dispatcher both see them: the
// feed's object, the keep-alive field that announces its newest message, and its request.
#include <cstddef>
#include <iterator>

#include "Communication.h"

#include "CxLog.h"
#include "Hooks.h"
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

static_assert(std::size(kFeeds) == CCommunication::kMessFeeds);

// How long a feed's reply may take before the same request is sent again: the time-out of
// an exchange with the server.
constexpr DWORD kFeedReplyWaitMs = 30000;

}  // namespace

void CCommunication::QuestNewMessages() {
    for (std::size_t i = 0; i < std::size(kFeeds); ++i) {
        const FeedRow& row = kFeeds[i];
        const CMessFeed* feed = row.feed();
        if (feed == nullptr) continue;
        const int announced = m_nPluseCheckNo[row.announcedField];
        const int held = feed->GetMaxMessNo();
        if (announced <= 0 || announced <= held) continue;
        // The main window's keep-alive comes right after the login's: the same request is
        // not sent again while its reply may still come.
        const FeedAsked& asked = m_feedAsked[i];
        if (asked.after == held && GetTickCount() - asked.tick < kFeedReplyWaitMs) continue;
        m_feedRequests[i] = 1;  // each keep-alive counts its feeds' requests anew
        AskFeed(i, announced, held);
    }
}

void CCommunication::AskFeed(std::size_t feed, int announced, int held) {
    m_feedAsked[feed].tick = GetTickCount();
    m_feedAsked[feed].after = held;
    kFeeds[feed].quest(*this, announced, held);
}

bool CCommunication::TakeFeedRequest(std::size_t feed) {
    const int sent = m_feedRequests[feed].fetch_add(1);
    if (sent < kFeedRequestsPerKeepAlive) return true;
    if (sent == kFeedRequestsPerKeepAlive) {
        LOGF(LOG_MESSAGE, L"CCommunication::MessFeedReply",
             L"feed %X: %d requests since the keep-alive, the rest waits for the next", kFeeds[feed].command, sent);
    }
    return false;
}

std::optional<int> CCommunication::MessFeedReply(int feedCommand, const std::wstring& reply) {
    const FeedRow* row = std::begin(kFeeds);
    while (row != std::end(kFeeds) && row->command != feedCommand) ++row;
    CMessFeed* feed = row != std::end(kFeeds) ? row->feed() : nullptr;
    if (feed == nullptr) return std::nullopt;
    const auto index = static_cast<std::size_t>(row - std::begin(kFeeds));
    m_feedAsked[index].after = -1;  // answered
    const int before = feed->GetMaxMessNo();
    const int result = feed->BussDataProc(reply);
    const int held = feed->GetMaxMessNo();
    const int announced = m_nPluseCheckNo[row->announcedField];
    // Only a reply that moved the feed on is followed, or a message the client cannot
    // store would be asked for again after every reply; and only so often after one
    // keep-alive, or a number announced far ahead would chain requests for ever.
    if (result >= 0 && held > before && announced > held && TakeFeedRequest(index)) AskFeed(index, announced, held);
    return result;
}
