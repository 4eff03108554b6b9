// The user actions' drain against a real user database and a loopback server: what is
// loaded, what each acknowledgement writes, drops and sends next.
#include "userAction.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "LogReader.h"
#include "RecordsFixture.h"
#include "WaitFor.h"

namespace {

constexpr wchar_t kResultLine[] = L"CCommunication::UserAction_BussDataProc: ExecuteSQLCommandWithReturn:[";

class UserActionTest : public RecordsTest {
protected:
    UserActionTest() : userNo_(10000 + static_cast<int>(tick_ % 900000)), otherNo_(userNo_ + 1) {
        comm_->m_nUserNo = userNo_;
    }
    ~UserActionTest() override {
        EndWorkers();
        g_pUserAction = nullptr;
    }

    void Insert(int userNo, int recNo, const wchar_t* syncFlag, int syncNo = 0) {
        Exec(L"insert into tUserActionDataList (userNo, recNo, recDate, actionNo, responseType, sourceType, "
             L"lastOpCode, syncFlag, syncNo, status, note, modifyTime) values (" +
             std::to_wstring(userNo) + L", " + std::to_wstring(recNo) + L", 20260301, " +
             std::to_wstring(700 + recNo) + L", 'r" + std::to_wstring(recNo) + L"', 's', 'A', '" + syncFlag +
             L"', " + std::to_wstring(syncNo) + L", '1', 'it''s " + std::to_wstring(recNo) + L"', 'then')");
    }
    // syncFlag and syncNo of one row, "<none>" when it is gone.
    std::wstring Row(int userNo, int recNo) {
        const SqlRows rows = Rows(L"select syncFlag || '/' || syncNo from tUserActionDataList where userNo=" +
                                  std::to_wstring(userNo) + L" and recNo=" + std::to_wstring(recNo));
        return rows.empty() ? L"<none>" : rows.front().front();
    }
    std::wstring Ack(int recNo, const std::wstring& status, int syncNo, int userNo = -1) const {
        return JoinFields({L"0", L"ok", std::to_wstring(userNo == -1 ? userNo_ : userNo), std::to_wstring(recNo),
                           status, std::to_wstring(syncNo)});
    }
    // The recNo of each upload the server received, in arrival order.
    std::vector<std::string> SentRecNos() {
        std::vector<std::string> out;
        for (const PacketRequest& r : server_.Requests()) {
            EXPECT_EQ(r.commandId, COMMAND_USERACTION_UPLOAD);
            out.push_back(r.fields.size() > 1 ? r.fields[1] : "<short>");
        }
        return out;
    }
    // The uploads once nothing more arrives for a moment: what was not sent stays unsent.
    std::vector<std::string> SettledRecNos(std::size_t expected) {
        EXPECT_TRUE(server_.WaitForRequests(expected));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        return SentRecNos();
    }
    // Loads rows 1, 2, 3 and 5 of the user, pending.
    void LoadFour() {
        for (const int recNo : {5, 3, 1, 2}) Insert(userNo_, recNo, L"0");
        ASSERT_EQ(action_.LoadFromDB(), 1);
        ASSERT_EQ(action_.PendingRecNos(), (std::vector<int>{1, 2, 3, 5}));
    }

    const int userNo_;
    const int otherNo_;
    CUserAction action_;
};

TEST_F(UserActionTest, LoaderTakesOnlyTheLoggedInUsersUnsentRowsAndSendsNothing) {
    Insert(userNo_, 7, L"0");
    Insert(userNo_, 3, L"0", 4);
    Insert(userNo_, 5, L"1", 9);  // already acknowledged
    Insert(otherNo_, 2, L"0");    // another user's
    EXPECT_EQ(action_.LoadFromDB(), 1);
    EXPECT_EQ(action_.PendingRecNos(), (std::vector<int>{3, 7}));

    const auto a = action_.GetPending(3);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->userNo, userNo_);
    EXPECT_EQ(a->recNo, 3);
    EXPECT_EQ(a->recDate, 20260301);
    EXPECT_EQ(a->actionNo, 703);
    EXPECT_EQ(a->responseType, L"r3");
    EXPECT_EQ(a->sourceType, L"s");
    EXPECT_EQ(a->lastOpCode, L"A");
    EXPECT_EQ(a->syncFlag, L"0");
    EXPECT_EQ(a->syncNo, 4);
    EXPECT_EQ(a->status, L"1");
    EXPECT_EQ(a->note, L"it's 3");

    // Loading again replaces a record in place and adds the new rows; none is sent.
    Exec(L"update tUserActionDataList set note='changed' where userNo=" + std::to_wstring(userNo_) +
         L" and recNo=3");
    Insert(userNo_, 1, L"0");
    EXPECT_EQ(action_.ReadNeedProcActionFromDB(), 1);
    EXPECT_EQ(action_.PendingRecNos(), (std::vector<int>{1, 3, 7}));
    EXPECT_EQ(action_.GetPending(3)->note, L"changed");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(server_.RequestCount(), 0u);

    // Without a communication object there is no logged-in user: nothing is loaded.
    CUserAction none;
    g_pCommunication = nullptr;
    EXPECT_EQ(none.LoadFromDB(), 1);
    EXPECT_TRUE(none.PendingRecNos().empty());
    g_pCommunication = comm_.get();
}

TEST_F(UserActionTest, LoadFailureIsLoggedAndReportsZero) {
    Exec(L"drop table tUserActionDataList");
    const std::wstring line = L"CSqliteException[ReadNeedProcActionFromDB]:[";
    const int before = CountLogLines(line);
    EXPECT_EQ(action_.LoadFromDB(), 0);
    EXPECT_EQ(CountLogLines(line), before + 1);
    EXPECT_TRUE(action_.PendingRecNos().empty());
}

TEST_F(UserActionTest, EachAcknowledgementDropsItsRecordAndSendsTheNextLowest) {
    LoadFour();
    Insert(otherNo_, 1, L"0");  // the same recNo for another user stays untouched

    // Status "0": exactly that row is marked with the server's syncNo.
    EXPECT_EQ(action_.BussDataProc(Ack(1, L"0", 99)), 1);
    EXPECT_EQ(Row(userNo_, 1), L"1/99");
    EXPECT_EQ(Row(otherNo_, 1), L"0/0");
    EXPECT_EQ(Row(userNo_, 2), L"0/0");
    EXPECT_EQ(action_.PendingRecNos(), (std::vector<int>{2, 3, 5}));
    ASSERT_TRUE(server_.WaitForRequests(1));
    const PacketRequest sent = server_.Requests().front();
    EXPECT_EQ(sent.commandId, COMMAND_USERACTION_UPLOAD);
    EXPECT_EQ(sent.fields, (std::vector<std::string>{std::to_string(userNo_), "2", "20260301", "702", "r2", "s", "A",
                                                     "0", "0", "1", "it's 2"}));

    // Any other status text changes no row but drops the record and sends the next.
    EXPECT_EQ(action_.BussDataProc(Ack(2, L"1", 98)), 1);
    EXPECT_EQ(Row(userNo_, 2), L"0/0");
    EXPECT_EQ(action_.PendingRecNos(), (std::vector<int>{3, 5}));
    ASSERT_TRUE(server_.WaitForRequests(2));

    // A recNo that is not pending (or not a number) still sends the first pending record.
    EXPECT_EQ(action_.BussDataProc(Ack(42, L"x", 0)), 1);
    EXPECT_EQ(action_.BussDataProc(JoinFields({L"0", L"ok", L"n/a", L"n/a", L"x", L"n/a"})), 1);
    EXPECT_EQ(action_.PendingRecNos(), (std::vector<int>{3, 5}));
    EXPECT_EQ(SettledRecNos(4), (std::vector<std::string>{"2", "3", "3", "3"}));

    // The last one leaves nothing to send.
    EXPECT_EQ(action_.BussDataProc(Ack(3, L"0", 97)), 1);
    EXPECT_EQ(action_.BussDataProc(Ack(5, L"0", 96)), 1);
    EXPECT_TRUE(action_.PendingRecNos().empty());
    EXPECT_EQ(Row(userNo_, 5), L"1/96");
    EXPECT_EQ(SettledRecNos(5), (std::vector<std::string>{"2", "3", "3", "3", "5"}));
}

TEST_F(UserActionTest, NegativeCodeOrFailedWriteKeepsTheRecordAndSendsNothing) {
    LoadFour();
    EXPECT_EQ(action_.BussDataProc(L"-3\x02" L"busy\x02"), -3);
    EXPECT_EQ(action_.BussDataProc(JoinFields({L"-1", L"no", std::to_wstring(userNo_), L"1", L"0", L"99"})), -1);
    EXPECT_EQ(Row(userNo_, 1), L"0/0");
    EXPECT_EQ(action_.PendingRecNos(), (std::vector<int>{1, 2, 3, 5}));

    // The update fails (here its table is gone): logged, the record waits for the next
    // acknowledgement, nothing more is sent.
    Exec(L"alter table tUserActionDataList rename to tUserActionGone");
    const std::wstring failed = std::wstring(kResultLine) + L"-1]";
    const int before = CountLogLines(failed);
    EXPECT_EQ(action_.BussDataProc(Ack(1, L"0", 99)), 0);
    EXPECT_EQ(CountLogLines(failed), before + 1);
    EXPECT_EQ(action_.PendingRecNos(), (std::vector<int>{1, 2, 3, 5}));
    Exec(L"alter table tUserActionGone rename to tUserActionDataList");

    // The next acknowledgement takes it.
    EXPECT_EQ(action_.BussDataProc(Ack(1, L"0", 99)), 1);
    EXPECT_EQ(Row(userNo_, 1), L"1/99");
    EXPECT_EQ(SettledRecNos(1), (std::vector<std::string>{"2"}));
}

TEST_F(UserActionTest, AcknowledgementForARowThatIsGoneIsLoggedAndTheDrainGoesOn) {
    LoadFour();
    // Deleted locally after it was loaded, or acknowledged for another user number.
    Exec(L"delete from tUserActionDataList where userNo=" + std::to_wstring(userNo_) + L" and recNo=1");
    const int before = CountLogLines(std::wstring(kResultLine) + L"0]");
    EXPECT_EQ(action_.BussDataProc(Ack(1, L"0", 99)), 1);
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(action_.BussDataProc(Ack(2, L"0", 98, otherNo_)), 1);
    EXPECT_EQ(CountLogLines(std::wstring(kResultLine) + L"0]"), before + 2);
    // The statement names the row, so this test's lines are its own.
    EXPECT_EQ(CountLogLines(L"counted as done:[update tUserActionDataList set syncNo = 99, syncFlag = '1', "
                            L"modifyTime = datetime('now','localtime'), modifyTime = datetime('now','localtime') "
                            L"where userNo = " +
                            std::to_wstring(userNo_) + L" and recNo = 1 ;]"),
              1);
    EXPECT_EQ(CountLogLines(L"where userNo = " + std::to_wstring(otherNo_) + L" and recNo = 2 ;]"), 1);

    EXPECT_EQ(Row(userNo_, 2), L"0/0");  // the other user's number changed nothing here
    EXPECT_EQ(action_.PendingRecNos(), (std::vector<int>{3, 5}));
    EXPECT_EQ(SettledRecNos(2), (std::vector<std::string>{"2", "3"}));
}

TEST_F(UserActionTest, ShortRepliesAreRefused) {
    LoadFour();
    const std::wstring two = L"0\x02" + std::to_wstring(userNo_) + L"-short\x02";
    const std::wstring five = JoinFields({L"0", L"ok", std::to_wstring(userNo_), L"1", L"0"});
    EXPECT_EQ(action_.BussDataProc(two), 0);
    EXPECT_EQ(action_.BussDataProc(five), 0);
    EXPECT_LT(action_.BussDataProc(L""), 0);  // no result code: a failure
    EXPECT_EQ(CountLogLines(L"reply 0x1142 cut short: 2 of 6 fields:[" + two + L"]"), 1);
    EXPECT_EQ(CountLogLines(L"reply 0x1142 cut short: 5 of 6 fields:[" + five + L"]"), 1);
    EXPECT_EQ(Row(userNo_, 1), L"0/0");
    EXPECT_EQ(action_.PendingRecNos(), (std::vector<int>{1, 2, 3, 5}));

    // A sixth field without its end still counts.
    EXPECT_EQ(action_.BussDataProc(five + L"77"), 1);
    EXPECT_EQ(Row(userNo_, 1), L"1/77");
    EXPECT_EQ(SettledRecNos(1), (std::vector<std::string>{"2"}));
}

TEST_F(UserActionTest, ServerAcknowledgementsDrainEveryPendingRowThroughTheDispatcher) {
    LoadFour();
    server_.OnCommand(COMMAND_USERACTION_UPLOAD, [](const PacketRequest& r) {
        return PacketReply::Fields({"0", "ok", r.fields.at(0), r.fields.at(1), "0", "1" + r.fields.at(1)});
    });
    g_pUserAction = &action_;
    // The first acknowledgement after start-up starts the drain; here the test sends the first.
    EXPECT_TRUE(action_.UploadFirst());
    ASSERT_TRUE(WaitFor([&] { return action_.PendingRecNos().empty(); }));
    EXPECT_EQ(SettledRecNos(4), (std::vector<std::string>{"1", "2", "3", "5"}));
    for (const int recNo : {1, 2, 3, 5}) EXPECT_EQ(Row(userNo_, recNo), L"1/1" + std::to_wstring(recNo));
}

}  // namespace
