// The four message feeds against a real user database: what a reply stores, the numbers
// the keep-alive goes on from, and the public notice on the message window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BusyRetriesScope.h"
#include "CSqliteDB.h"
#include "Config.h"
#include "EngineTest.h"
#include "LogReader.h"
#include "MessageWin.h"
#include "RecordsFixture.h"
#include "ReplyFields.h"
#include "publicMess.h"
#include "userGroupMess.h"
#include "userMess.h"
#include "userTypeMess.h"

namespace {

// An owner-numbered feed's reply: owner, number, text, then the tail.
std::wstring OwnerReply(const std::wstring& owner, int no, const std::wstring& text = L"hello") {
    return JoinFields({owner, std::to_wstring(no), text, L"2026-01-02", L"2026-02-02", L"7", L"1", L"n", L"x"});
}
std::wstring PublicReply(int no, const std::wstring& text) {
    return JoinFields({std::to_wstring(no), text, L"2026-01-02", L"2026-02-02", L"7", L"1", L"n", L"x"});
}
std::wstring Marker(int no) { return JoinFields({L"-99999", L"", std::to_wstring(no)}); }

class MessFeedTest : public RecordsTest {
protected:
    ~MessFeedTest() override {
        EndWorkers();
        g_pMessageWin = nullptr;
    }
    const int no_ = 100000 + static_cast<int>(tick_ % 800000);  // names this test's log lines

    int Count(const wchar_t* table) { return std::stoi(FirstValue(std::wstring(L"select count(*) from ") + table)); }

    // The message window on the test thread; its queued messages reach its page when
    // the test hands it its posts.
    void StartMessageWin() {
        window_ = std::make_unique<CMessageWin>(frame_.m_cs.page);
        ASSERT_EQ(window_->Start(), 0);
        g_pMessageWin = window_.get();
    }
    // The page calls the message window made for the posts it had, as "Name JSON".
    std::vector<std::wstring> NoticesShown() {
        const uie::test::Recording recording;
        const std::uint64_t before = LastSeq();
        MSG msg;
        while (PeekMessageW(&msg, window_->GetHwnd(), WM_COMMAND, WM_COMMAND, PM_REMOVE)) DispatchMessageW(&msg);
        std::vector<std::wstring> out;
        for (const auto& call : uie::test::PageHost::Calls()) {
            if (call.seq <= before || call.hwnd != window_->GetHwnd() || call.name == "CloseWinAfterProc") continue;
            out.push_back(text::FromUtf8(call.name) + L" " + (call.args.empty() ? L"" : call.args.front().to_json()));
        }
        return out;
    }
    static std::uint64_t LastSeq() {
        const auto calls = uie::test::PageHost::Calls();
        return calls.empty() ? 0 : calls.back().seq;
    }

    std::unique_ptr<CMessageWin> window_;
};

TEST_F(MessFeedTest, TheMarkerSetsTheHeldNumberLowerOrNotAndStoresNothing) {
    CUserTypeMess types;
    CUserGroupMess groups;
    types.LoadFromDB();
    groups.LoadFromDB();
    EXPECT_EQ(types.GetMaxMessNo(), 0);  // empty tables
    EXPECT_EQ(types.BussDataProc(OwnerReply(L"vip", 50)), 1);
    EXPECT_EQ(groups.BussDataProc(OwnerReply(L"3", 40)), 1);
    EXPECT_EQ(types.GetMaxMessNo(), 50);
    EXPECT_EQ(groups.GetMaxMessNo(), 40);

    // Three fields are a whole marker reply.
    EXPECT_EQ(types.BussDataProc(Marker(10)), 0);
    EXPECT_EQ(groups.BussDataProc(Marker(12)), 0);
    EXPECT_EQ(types.GetMaxMessNo(), 10);
    EXPECT_EQ(groups.GetMaxMessNo(), 12);
    EXPECT_EQ(Count(L"tUserTypeMess"), 1);
    EXPECT_EQ(Count(L"tUserGroupMess"), 1);
    EXPECT_EQ(Column(L"tUserTypeMess", L"userType"), L"vip");

    // The user and public feeds know no marker: -99999 is an owner or a number there.
    CUserMess users;
    comm_->m_nUserNo = 8;
    users.LoadFromDB();
    EXPECT_EQ(users.BussDataProc(JoinFields({L"-99999", L"", L"10", L"", L"", L"", L"", L"", L""})), 0);
    EXPECT_EQ(users.GetMaxMessNo(), 0);
}

TEST_F(MessFeedTest, EachNumberIsStoredOnceAndNegativeNumbersNever) {
    CUserTypeMess feed;
    feed.LoadFromDB();
    EXPECT_EQ(feed.BussDataProc(OwnerReply(L"vip", 5)), 1);
    Exec(L"delete from tUserTypeMess");
    // The second delivery does not reach the table: the deleted row stays away.
    EXPECT_EQ(feed.BussDataProc(OwnerReply(L"vip", 5)), 0);
    EXPECT_EQ(Count(L"tUserTypeMess"), 0);

    EXPECT_EQ(feed.BussDataProc(OwnerReply(L"vip", -1)), 0);
    EXPECT_EQ(Count(L"tUserTypeMess"), 0);
    EXPECT_EQ(feed.BussDataProc(OwnerReply(L"vip", 0)), 1);
    EXPECT_EQ(FirstValue(L"select userTypeMessNo from tUserTypeMess"), L"0");
    EXPECT_EQ(feed.GetMaxMessNo(), 5);  // 0 does not lower it
    EXPECT_EQ(feed.GetStoredCount(), 2u);
}

TEST_F(MessFeedTest, AUserMessageForAnotherUserIsNotStoredButPassed) {
    CUserMess feed;
    comm_->m_nUserNo = 77;
    feed.LoadFromDB();
    EXPECT_EQ(feed.BussDataProc(OwnerReply(L"78", 3)), 0);
    EXPECT_EQ(Count(L"tUserMess"), 0);
    EXPECT_EQ(feed.GetMaxMessNo(), 3);  // never this user's: the feed goes on after it
    EXPECT_EQ(feed.BussDataProc(OwnerReply(L"77", 3)), 1);
    EXPECT_EQ(FirstValue(L"select userNo || ':' || userMessNo || ':' || userMess from tUserMess"), L"77:3:hello");
    EXPECT_EQ(feed.GetMaxMessNo(), 3);
}

// The keep-alive asks for what follows the held number: a message that can never be
// stored must not hold the feed, one that can later must.
TEST_F(MessFeedTest, AMessageThatWillNeverBeStoredMovesTheFeedOnAndABusyTableDoesNot) {
    CPublicMess feed;
    feed.LoadFromDB();
    Exec(L"insert into tPublicMess (publicMessNo, publicMess) values (9, 'old')");  // stored before, unknown to the run
    EXPECT_EQ(feed.BussDataProc(PublicReply(9, L"new")), 0);
    EXPECT_EQ(feed.GetMaxMessNo(), 9);
    EXPECT_EQ(feed.GetStoredCount(), 0u);
    EXPECT_EQ(Column(L"tPublicMess", L"publicMess"), L"old");

    {
        // Another program holds the database: the message is asked for again later.
        const BusyRetriesScope<CSqliteDB> shortWaits(2, 1);
        CSqliteDB other;
        other.open(g_Config.m_config.userDBName);
        other.execDML(L"begin exclusive");
        EXPECT_EQ(feed.BussDataProc(PublicReply(no_, L"later")), 0);
        other.execDML(L"rollback");
    }
    EXPECT_EQ(feed.GetMaxMessNo(), 9);

    // Doubled quotes make a long statement, stored whole.
    const std::wstring quotes(259, L'\'');
    EXPECT_EQ(feed.BussDataProc(JoinFields({std::to_wstring(no_), quotes, quotes, L"v", L"7", L"1", quotes, L"x"})), 1);
    EXPECT_EQ(FirstValue(L"select publicMess || note from tPublicMess where publicMessNo=" + std::to_wstring(no_)),
              quotes + quotes);
    EXPECT_EQ(feed.GetMaxMessNo(), no_);
}

TEST_F(MessFeedTest, AReplyCutShortIsRefusedWhole) {
    CUserGroupMess groups;
    CPublicMess pub;
    groups.LoadFromDB();
    pub.LoadFromDB();
    const std::wstring groupReply = OwnerReply(L"3", no_);
    const std::wstring cut = groupReply.substr(0, groupReply.rfind(L'\x02', groupReply.size() - 2) + 1);  // 8 fields
    EXPECT_EQ(groups.BussDataProc(cut), 0);
    EXPECT_EQ(pub.BussDataProc(JoinFields({std::to_wstring(no_), L"text", L"p", L"v", L"7", L"1", L"n"})), 0);
    EXPECT_EQ(Count(L"tUserGroupMess") + Count(L"tPublicMess"), 0);
    EXPECT_EQ(groups.GetMaxMessNo(), no_);  // moved past: the server would send it again
    const std::wstring no = std::to_wstring(no_);
    EXPECT_EQ(CountLogLines(L"reply 0x1113 cut short: 8 of 9 fields:[3\x02" + no + L"\x02"), 1);
    EXPECT_EQ(CountLogLines(L"reply 0x1110 cut short: 7 of 8 fields:[" + no + L"\x02"), 1);
}

TEST_F(MessFeedTest, AnAllEmptyReplyIsNoMessage) {
    CPublicMess pub;
    CUserTypeMess types;
    CUserGroupMess groups;
    const std::vector<std::wstring> empty(9, L"");
    EXPECT_EQ(pub.BussDataProc(JoinFields({empty.begin(), empty.end() - 1})), 0);
    EXPECT_EQ(types.BussDataProc(JoinFields(empty)), 0);
    EXPECT_EQ(groups.BussDataProc(JoinFields(empty)), 0);
    EXPECT_EQ(Count(L"tPublicMess") + Count(L"tUserTypeMess") + Count(L"tUserGroupMess"), 0);
}

TEST_F(MessFeedTest, APublicMessageIsStoredAsSentAndQueuedOnceWhenTheWindowExists) {
    CPublicMess feed;
    feed.LoadFromDB();
    EXPECT_EQ(feed.BussDataProc(PublicReply(3, L"it's 'quoted'")), 1);  // no window: stored all the same
    EXPECT_EQ(FirstValue(L"select publicMess from tPublicMess where publicMessNo=3"), L"it's 'quoted'");

    StartMessageWin();
    EXPECT_EQ(feed.BussDataProc(PublicReply(4, L"don't")), 1);
    EXPECT_EQ(feed.BussDataProc(PublicReply(4, L"don't")), 0);  // the repeat queues nothing
    EXPECT_EQ(NoticesShown(),
              (std::vector<std::wstring>{
                  L"BandCommonMessage [{\"funcName\":\"BandCommonMessage\",\"alertType\":\"3\",\"alertNo\":4,"
                  L"\"additionalMessage\":\"\",\"message\":\"don't\"}]"}));
    EXPECT_EQ(feed.GetMaxMessNo(), 4);
}

}  // namespace
